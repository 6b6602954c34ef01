// Building interaural phase and level tables from transfer-function files.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "velk_binaural/HRTF.h"
#include "LogCapture.h"

namespace {

using NSVelkBinaural::HRTFToIIPDS;
using velkio::VELK;

constexpr double kPi = 3.14159265358979323846;

velkio::Position at(double degrees, double r = 1.0) {
  return {float(r * std::cos(degrees * kPi / 180)), float(r * std::sin(degrees * kPi / 180)), 0.0f};
}

// Responses of every direction: channel 0 = 1, channel 1 = 0.5 e^(-j pi/2), 3 bins.
std::shared_ptr<velkio::TransferFunctions> flatResponses(std::size_t dirs, std::size_t channels = 2) {
  velkio::ChannelResponses ch(channels, velkio::Bins(3, {1.0f, 0.0f}));
  if (channels > 1) ch[1] = velkio::Bins(3, {0.0f, -0.5f});
  return std::make_shared<velkio::TransferFunctions>(dirs, ch);
}

VELK measured(const velkio::PositionList& src, velkio::TFPtr tf, velkio::Version version = {1, 0}) {
  VELK file;
  auto fmt = std::make_shared<velkio::FMT>(1, 16000, 4, 7);
  fmt->setVersion(version);
  file.addChunk(fmt);
  file.addChunk(std::make_shared<velkio::M2PG>(src, tf));
  return file;
}
velkio::PositionList around(const std::vector<double>& degrees) {
  velkio::PositionList src;
  for (double d : degrees) src.push_back({at(d)});
  return src;
}
VELK measured(const std::vector<double>& degrees) {
  return measured(around(degrees), flatResponses(degrees.size()));
}
VELK geometric(unsigned nsrc, velkio::TFPtr tf) {
  VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(2, 16000, 4, 7));
  file.addChunk(std::make_shared<velkio::GTF>(nsrc, tf));
  return file;
}

boost::shared_ptr<NSVelkBinaural::IIPDS> tables(VELK file) { return HRTFToIIPDS(file, 0, 1); }

template <class E>
void expectThrowWith(VELK file, const std::string& message, unsigned chA = 0, unsigned chB = 1) {
  try {
    HRTFToIIPDS(file, chA, chB);
    FAIL() << "expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST(InterauralTables, MissingChunksAndResponses) {
  expectThrowWith<std::invalid_argument>(VELK(), "Invalid velk file. There is no FMT chunk");
  VELK noM2pg, noGtf;
  noM2pg.addChunk(std::make_shared<velkio::FMT>(1, 16000, 4, 7));
  noGtf.addChunk(std::make_shared<velkio::FMT>(2, 16000, 4, 7));
  expectThrowWith<std::invalid_argument>(noM2pg, "Invalid velk file. There is no M2PG chunk");
  expectThrowWith<std::invalid_argument>(noGtf, "Invalid velk file. There is no GTF chunk");
  expectThrowWith<std::invalid_argument>(measured({{at(0)}}, nullptr), "Invalid velk file. There is no TF");
  expectThrowWith<std::invalid_argument>(geometric(3, nullptr), "Invalid velk file. There is no TF");
}

TEST(InterauralTables, VersionCheckRecordsWhatItFound) {
  auto& record = velkio::Error::getInstance();
  const velkio::PositionList one{{at(0)}};
  expectThrowWith<std::invalid_argument>(measured(one, flatResponses(1), {2, 0}),
                                         "Invalid velk file. There is no version 1.0 FMT chunk");
  EXPECT_EQ(record.what(), "Major Version Mismatch: Version:2.0");
  EXPECT_EQ(tables(measured(one, flatResponses(1), {1, 4}))->ndir, 1);
  EXPECT_EQ(record.what(), "Major Version Safe Match");
}

TEST(InterauralTables, UnknownFormatGivesEmptyTables) {
  VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(5, 44100, 1024, 300));
  auto t = tables(file);
  EXPECT_EQ(t->fs, 44100);
  EXPECT_EQ(t->nfft, 1024);
  EXPECT_EQ(t->nfreq, 300);
  EXPECT_EQ(t->ndir + t->dirtick + t->begindeg, 0);
  EXPECT_TRUE(t->ipd.empty() && t->iid.empty());
}

TEST(InterauralTables, SourcesMustLieOnOneHorizontalCircle) {
  const std::string notCircle = "Invalid source position. (not a circle)";
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::FINE);
  expectThrowWith<std::invalid_argument>(measured(velkio::PositionList{}, flatResponses(1)), notCircle);
  EXPECT_EQ(log.count("FINE: there is no source"), 1);
  expectThrowWith<std::invalid_argument>(measured({{at(0), at(0)}}, flatResponses(1)), notCircle);
  expectThrowWith<std::invalid_argument>(measured({{at(0)}, {at(5), at(5)}}, flatResponses(2)), notCircle);
  EXPECT_EQ(log.count("FINE: pos is not one layer"), 1);
  EXPECT_EQ(tables(measured({{{1.00f, 0, 0}}, {{0, 1.01f, 0}}}, flatResponses(2)))->dirtick, 90);
  expectThrowWith<std::invalid_argument>(measured({{{1.00f, 0, 0}}, {{0, 1.0101f, 0}}}, flatResponses(2)), notCircle);
  EXPECT_EQ(log.count("FINE: radiuses are not constant"), 1);
  auto one = tables(measured({{at(33.6, 1.4)}}, flatResponses(1)));
  EXPECT_EQ(one->ndir, 1);
  EXPECT_EQ(one->dirtick, 0);
  EXPECT_EQ(one->begindeg, 34);
  EXPECT_EQ(log.count("FINE: there is one horizon kind"), 2);
}

TEST(InterauralTables, FullCircleGrid) {
  std::vector<double> degrees;
  for (int d = -180; d < 180; d += 5) degrees.push_back(d);
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::FINEST);
  velkio::PositionList src = around(degrees);
  src[0][0] = {-1.0f, -0.0f, 0.0f};  // -0 makes atan2 give -180 rather than +180
  auto t = tables(measured(src, flatResponses(72)));
  EXPECT_EQ(t->begindeg, -180);
  EXPECT_EQ(t->dirtick, 5);
  EXPECT_EQ(t->ndir, 72);
  EXPECT_EQ(log.count("FINEST: dirs["), 72);
}

TEST(InterauralTables, DirectionsMustRoundOntoTheGrid) {
  const std::string notGrid = "Invalid source position. (not fixed and integer tick)";
  EXPECT_EQ(tables(measured({0, 10, 20.4, 30}))->dirtick, 10);
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::FINE);
  expectThrowWith<std::invalid_argument>(measured({0, 10, 12.4}), notGrid);
  EXPECT_EQ(log.count("FINE: expected:20, actual:12"), 1);
  // Coinciding directions describe no grid.
  expectThrowWith<std::invalid_argument>(measured({10, 10, 10}), notGrid);
  // Descending grids are grids too.
  auto down = tables(measured({90, 85, 80}));
  EXPECT_EQ(down->dirtick, -5);
  EXPECT_EQ(down->begindeg, 90);
}

TEST(InterauralTables, FirstStepAcrossTheSeam) {
  // A full circle listed from +180: the grid starts at -180 (the same direction) every 5 degrees.
  std::vector<double> degrees{180};
  for (int d = -175; d < 180; d += 5) degrees.push_back(d);
  velkio::PositionList src = around(degrees);
  src[0][0] = {-1.0f, 0.0f, 0.0f};
  auto t = tables(measured(src, flatResponses(72)));
  EXPECT_EQ(t->dirtick, 5);
  EXPECT_EQ(t->begindeg, -180);
  EXPECT_EQ(t->ndir, 72);
  // With only two directions no third gives the tick: rejected, nothing read past the list.
  VELK two = measured({{{-1.0f, 0.0f, 0.0f}}, {at(-175)}}, flatResponses(2));
  expectThrowWith<std::invalid_argument>(two, "Invalid source position. (not fixed and integer tick)");
}

TEST(InterauralTables, GeometricGridRunsFromMinus90) {
  auto seven = tables(geometric(7, flatResponses(7)));
  EXPECT_EQ(seven->dirtick, 30);
  EXPECT_EQ(seven->begindeg, -90);
  EXPECT_EQ(seven->ndir, 7);
  auto one = tables(geometric(1, flatResponses(1)));
  EXPECT_EQ(one->dirtick, 0);
  EXPECT_EQ(one->begindeg, 0);
  expectThrowWith<std::invalid_argument>(geometric(0, flatResponses(1)), "The number of directions is invalid");
}

TEST(InterauralTables, PhaseAndLevelDifferences) {
  auto tf = flatResponses(2, 3);
  (*tf)[1][0] = {{0.0f, 0.0f}, std::polar(1.0f, 3.0f), {2.0f, 0.0f}};
  (*tf)[1][1] = {{0.0f, 1.0f}, std::polar(1.0f, -3.0f), {1.0f, 0.0f}};
  VELK file = geometric(2, tf);
  auto t = HRTFToIIPDS(file, 0, 1);
  ASSERT_EQ(t->ipd.size(), 2u);
  ASSERT_EQ(t->ipd[0].size(), 3u);
  EXPECT_NEAR(t->ipd[0].at(0), -kPi / 2, 1e-6);
  EXPECT_NEAR(t->iid[0].at(0), -6.0206, 1e-3);
  // Zero response in channel A: level difference undefined, phase still computed.
  EXPECT_TRUE(std::isnan(t->iid[1].at(0)));
  EXPECT_NEAR(t->ipd[1].at(0), kPi / 2, 1e-6);
  // Not wrapped into (-pi, pi].
  EXPECT_NEAR(t->ipd[1].at(1), -6.0, 1e-5);
  EXPECT_NEAR(t->iid[1].at(2), -6.0206, 1e-3);
  // Channel order decides the sign.
  EXPECT_NEAR(HRTFToIIPDS(file, 1, 0)->ipd[1].at(1), 6.0, 1e-5);
}

TEST(InterauralTables, ChannelIndicesAndShapesAreChecked) {
  expectThrowWith<std::range_error>(geometric(2, flatResponses(2)), "channel number is out of range", 0, 2);
  expectThrowWith<std::range_error>(geometric(2, flatResponses(2)), "channel number is out of range", 2, 0);
  auto shortDirection = flatResponses(2);
  (*shortDirection)[1].pop_back();
  expectThrowWith<std::range_error>(geometric(2, shortDirection), "channel number is out of range");
  auto unequal = flatResponses(2);
  (*unequal)[1][1].pop_back();
  expectThrowWith<std::length_error>(geometric(2, unequal), "tf[0].size != tf[1].size");
}

}  // namespace
