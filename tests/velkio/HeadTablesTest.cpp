// Tables made from real measurements (the KEMAR set) and from the spherical head model: their
// grids, and physics a localiser relies on. A source on the left reaches the left ear (channel 0)
// first and louder, so for a source at +30 degrees the phase of channel 1 minus channel 0 is
// negative at low frequencies and the level of channel 1 minus channel 0 is negative at high ones.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "velk_binaural/HRTF.h"
#include "velkio/HeadModel.h"
#include "velkio/SofaImport.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
const std::string kKemar = VELK_KEMAR_SOFA;

double mean(const std::vector<double>& v, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t k = from; k <= to; ++k) sum += v.at(k);
  return sum / double(to - from + 1);
}

// Checks a 16 kHz / 512-point table on the front half at 5 degrees.
void expectFrontHalfGridAndPhysics(velkio::VELK file) {
  auto t = NSVelkBinaural::HRTFToIIPDS(file, 0, 1);
  EXPECT_EQ(t->ndir, 37);
  EXPECT_EQ(t->dirtick, 5);
  EXPECT_EQ(t->begindeg, -90);
  ASSERT_EQ(t->ipd.size(), 37u);
  ASSERT_EQ(t->ipd[0].size(), 257u);
  const std::size_t left30 = (30 + 90) / 5, right30 = (-30 + 90) / 5;
  // Bins 14..18 span 437..563 Hz; bins 64..256 span 2..8 kHz.
  EXPECT_LT(mean(t->ipd[left30].values, 14, 18), -0.5);
  EXPECT_LT(mean(t->iid[left30].values, 64, 256), -3.0);
  EXPECT_GT(mean(t->ipd[right30].values, 14, 18), 0.5);
  EXPECT_GT(mean(t->iid[right30].values, 64, 256), 3.0);
}

class KemarImport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKemar)) GTEST_SKIP() << kKemar << " is not installed";
  }
};

TEST_F(KemarImport, FrontHalfAtDefaults) {
  std::vector<std::string> notes;
  velkio::VELK file = velkio::importSofa(kKemar, {}, &notes);
  EXPECT_TRUE(notes.empty());
  auto fmt = file.findFirst<velkio::FMT>();
  ASSERT_TRUE(fmt);
  EXPECT_EQ(fmt->getFormatId(), velkio::FMT::MEASURED);
  EXPECT_EQ(fmt->getNFS(), 16000);
  EXPECT_EQ(fmt->getNFFT(), 512);
  // 512 samples at 44.1 kHz resample to about 186 at 16 kHz.
  EXPECT_NEAR(fmt->getNIR(), 186, 2);
  auto m2pg = file.findFirst<velkio::M2PG>();
  EXPECT_NEAR(m2pg->getSrc()[0][0].y, -1.4f, 1e-5);  // -90 degrees, 1.4 m away
  expectFrontHalfGridAndPhysics(file);
  // The file survives writing and reading unchanged.
  const auto bytes = file.toBytes();
  velkio::VELK back;
  back.readBuffer(bytes.data(), bytes.size(), "kemar");
  EXPECT_EQ(*back.findFirst<velkio::M2PG>()->getTF(), *m2pg->getTF());
}

TEST_F(KemarImport, FullCircleStartsAtMinus180) {
  velkio::SofaImportOptions options;
  options.range = velkio::DirectionRange::FULL;
  options.step = 10;
  velkio::VELK file = velkio::importSofa(kKemar, options);
  auto t = NSVelkBinaural::HRTFToIIPDS(file, 0, 1);
  EXPECT_EQ(t->ndir, 36);
  EXPECT_EQ(t->begindeg, -180);
  EXPECT_EQ(t->dirtick, 10);
}

TEST_F(KemarImport, UnavailableDirectionsAndBadOptions) {
  velkio::SofaImportOptions options;
  options.step = 4;  // the set is measured every 5 degrees
  try {
    velkio::importSofa(kKemar, options);
    FAIL();
  } catch (const velkio::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("no measurement at azimuth -86 degrees"), std::string::npos) << e.what();
  }
  options = {};
  options.nfft = 128;  // shorter than the resampled responses: kept, with a note
  std::vector<std::string> notes;
  velkio::importSofa(kKemar, options, &notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("keeps the first 128"), std::string::npos);
}

TEST(HeadModel, SphereResponseLimits) {
  using velkio::sphereResponse;
  EXPECT_EQ(sphereResponse(0.09, 1.0, 0.5, 0.0), std::complex<double>(1.0));
  // Low frequencies from afar pass the head unchanged in level. Near the head they do not: the
  // static field around a rigid sphere gives 1 - 1.5 a/r + ... (0.878) behind it at 1 m.
  EXPECT_NEAR(std::abs(sphereResponse(0.09, 50.0, kPi, 30.0)), 1.0, 0.01);
  EXPECT_NEAR(std::abs(sphereResponse(0.09, 1.0, kPi, 1.0)), 0.878, 0.002);
  // A far source facing the ear doubles the pressure at high frequencies (+6 dB).
  EXPECT_NEAR(20 * std::log10(std::abs(sphereResponse(0.09, 50.0, 0.0, 16000.0))), 6.0, 0.5);
  // Low-frequency interaural delay of a far source at 30 degrees: 3 a / c sin(30 degrees).
  const double f = 100.0, a = 0.09, c = 340.0;
  const double theta = 30.0 * kPi / 180;
  const double ipd = std::arg(sphereResponse(a, 50.0, kPi / 2 + theta, f)) -
                     std::arg(sphereResponse(a, 50.0, kPi / 2 - theta, f));
  EXPECT_NEAR(-ipd / (2 * kPi * f), 3 * a / c * std::sin(theta), 0.05 * 3 * a / c * std::sin(theta));
  EXPECT_THROW(sphereResponse(0.09, 0.09, 0.0, 1000.0), std::invalid_argument);
}

TEST(HeadModel, DefaultTableGridPhysicsAndSymmetry) {
  velkio::VELK file = velkio::makeHeadModel({});
  auto fmt = file.findFirst<velkio::FMT>();
  EXPECT_EQ(fmt->getFormatId(), velkio::FMT::GEOMETRIC);
  auto gtf = file.findFirst<velkio::GTF>();
  ASSERT_EQ(gtf->getNSrc(), 37u);
  const auto& tf = *gtf->getTF();
  // Mirror image: the left ear at +30 degrees hears what the right ear hears at -30 degrees.
  for (std::size_t k = 0; k < 257; k += 32) EXPECT_LT(std::abs(tf[24][0][k] - tf[12][1][k]), 1e-6);
  // Straight ahead both ears hear the same.
  EXPECT_LT(std::abs(tf[18][0][200] - tf[18][1][200]), 1e-6);
  expectFrontHalfGridAndPhysics(file);
}

TEST(HeadModel, DirectionCountsMustGiveWholeDegrees) {
  velkio::HeadModelOptions options;
  options.directions = 8;
  EXPECT_THROW(velkio::makeHeadModel(options), std::invalid_argument);
  options.directions = 1;
  EXPECT_EQ(velkio::makeHeadModel(options).findFirst<velkio::GTF>()->getTF()->size(), 1u);
}

// The committed example tables, which later tests and the demo read.
TEST(ExampleTables, ReadWithTheirGrids) {
  for (const char* name : {"kemar_front_16k_512.velk", "sphere_front_16k_512.velk"}) {
    const std::string path = std::string(VELK_EXAMPLES_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " not made yet";
    velkio::VELK file;
    file.readFile(path);
    expectFrontHalfGridAndPhysics(file);
  }
}

}  // namespace
