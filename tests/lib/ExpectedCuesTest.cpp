// Expected cues from transfer-function files and from the spherical head: the covariance of a
// table direction, mixing between directions, folding to the front, and refused files.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "velk_binaural/ExpectedCues.h"
#include "velkio/HeadModel.h"
#include "velkio/VELK.h"

namespace {

using namespace NSVelkBinaural;
using velkio::Bins;

constexpr int kNfft = 32;
constexpr int kBins = kNfft / 2 + 1;
constexpr double kPi = 3.14159265358979323846;

// Responses of a direction: the right ear `level` times the left one, delayed by `delay` samples.
velkio::ChannelResponses Ears(float level, double delay) {
  velkio::ChannelResponses ears(2, Bins(kBins));
  for (int k = 0; k < kBins; ++k) {
    ears[0][k] = {1.0f, 0.0f};
    ears[1][k] = std::polar(level, static_cast<float>(-2.0 * kPi * k * delay / kNfft));
  }
  return ears;
}

velkio::Position At(double azimuthDeg, double elevationDeg = 0.0) {
  const double az = azimuthDeg * kPi / 180.0, el = elevationDeg * kPi / 180.0;
  return {static_cast<float>(std::cos(az) * std::cos(el)), static_cast<float>(std::sin(az) * std::cos(el)),
          static_cast<float>(std::sin(el))};
}

// A measured file of the front half: -90 (right ear louder), 0 and +90 (left ear louder), listed
// out of order, plus an elevated direction at 0 that must not replace the horizontal one.
velkio::VELK ThreeDirections() {
  auto tf = std::make_shared<velkio::TransferFunctions>();
  velkio::PositionList positions;
  const struct {
    double az, el;
    float level;
    double delay;
  } dirs[] = {{90, 0, 0.25f, 2.0}, {0, 40, 3.0f, -1.0}, {-90, 0, 4.0f, -2.0}, {0, 0, 1.0f, 0.0}};
  for (const auto& d : dirs) {
    positions.push_back({At(d.az, d.el)});
    tf->push_back(Ears(d.level, d.delay));
  }
  velkio::VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, 16000, kNfft, kNfft));
  file.addChunk(std::make_shared<velkio::M2PG>(positions, tf));
  return file;
}

void ExpectCovariance(const std::vector<CueCovariance>& got, float level, double delay, const std::string& what) {
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kBins)) << what;
  for (int k = 0; k < kBins; ++k) {
    const CueCovariance want =
        NormalisedCovariance({1.0f, 0.0f}, std::polar(level, static_cast<float>(-2.0 * kPi * k * delay / kNfft)));
    EXPECT_NEAR(got[k].a, want.a, 1e-6) << what << " bin " << k;
    EXPECT_NEAR(std::abs(got[k].b - want.b), 0.0, 1e-6) << what << " bin " << k;
  }
}

TEST(ExpectedCues, NormalisedCovarianceCarriesLevelAndPhaseDifferences) {
  // Left twice the right and 90 degrees ahead of it.
  const CueCovariance c = NormalisedCovariance({0.0f, 2.0f}, {1.0f, 0.0f});
  EXPECT_NEAR(c.a, 0.8, 1e-6);
  EXPECT_NEAR(c.b.real(), 0.0, 1e-6);
  EXPECT_NEAR(c.b.imag(), 0.4, 1e-6);
  const CueCovariance silent = NormalisedCovariance({}, {});
  EXPECT_EQ(silent.a, 0.5f);
  EXPECT_EQ(silent.b, std::complex<float>());
  // Responses far beyond single precision's square still normalise.
  EXPECT_NEAR(NormalisedCovariance({3e30f, 0.0f}, {0.0f, 4e30f}).a, 0.36, 1e-6);
}

TEST(ExpectedCues, TableDirectionsMixBetweenAndFoldToTheFront) {
  const ExpectedCues cues = ExpectedCues::fromFile(ThreeDirections());
  EXPECT_EQ(cues.bins(), static_cast<std::size_t>(kBins));
  EXPECT_EQ(cues.sampleRate(), 16000);
  ExpectCovariance(cues.covariance(90.0), 0.25f, 2.0, "+90");
  ExpectCovariance(cues.covariance(0.0), 1.0f, 0.0, "0 (the horizontal entry)");
  ExpectCovariance(cues.covariance(-90.0), 4.0f, -2.0, "-90");
  ExpectCovariance(cues.covariance(-450.0), 4.0f, -2.0, "-450 is -90");
  // Halfway between 0 and +90: the mean of both covariances.
  const std::vector<CueCovariance> half = cues.covariance(45.0);
  const std::vector<CueCovariance> ahead = cues.covariance(0.0), left = cues.covariance(90.0);
  for (int k = 0; k < kBins; ++k) {
    EXPECT_NEAR(half[k].a, 0.5f * (ahead[k].a + left[k].a), 1e-6);
    EXPECT_NEAR(std::abs(half[k].b - 0.5f * (ahead[k].b + left[k].b)), 0.0, 1e-6);
  }
  // 135 degrees (behind, to the left) has the lateral angle of 45.
  const std::vector<CueCovariance> behind = cues.covariance(135.0);
  for (int k = 0; k < kBins; ++k) {
    EXPECT_NEAR(behind[k].a, half[k].a, 1e-6);
    EXPECT_NEAR(std::abs(behind[k].b - half[k].b), 0.0, 1e-6);
  }
  EXPECT_THROW(cues.covariance(std::nan("")), std::invalid_argument);
}

// A file whose ears are channels 1 (left) and 0 (right): read the other way round, its +90 is
// the -90 of the usual order. A pair that is not two channels of every direction is refused.
TEST(ExpectedCues, TheChannelPairNamesTheEars) {
  const ExpectedCues swapped = ExpectedCues::fromFile(ThreeDirections(), 1, 0);
  ExpectCovariance(swapped.covariance(90.0), 4.0f, -2.0, "+90 read right-left");
  ExpectCovariance(swapped.covariance(-90.0), 0.25f, 2.0, "-90 read right-left");
  for (auto [left, right] : {std::pair{0, 0}, std::pair{-1, 1}, std::pair{0, 2}}) {
    try {
      ExpectedCues::fromFile(ThreeDirections(), left, right);
      ADD_FAILURE() << "channels " << left << ", " << right << " were accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("channel"), std::string::npos) << e.what();
    }
  }
}

TEST(ExpectedCues, GeometricFilesSpreadTheirDirectionsOverTheFront) {
  auto tf = std::make_shared<velkio::TransferFunctions>();
  tf->push_back(Ears(4.0f, -2.0));  // -90
  tf->push_back(Ears(1.0f, 0.0));   // 0
  tf->push_back(Ears(0.25f, 2.0));  // +90
  velkio::VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::GEOMETRIC, 16000, kNfft, kNfft));
  file.addChunk(std::make_shared<velkio::GTF>(3u, tf));
  const ExpectedCues cues = ExpectedCues::fromFile(file);
  ExpectCovariance(cues.covariance(-90.0), 4.0f, -2.0, "-90");
  ExpectCovariance(cues.covariance(90.0), 0.25f, 2.0, "+90");
}

TEST(ExpectedCues, SphereMatchesTheHeadModelAndIsSymmetric) {
  const SphereHead head{0.0875, 1.2, 343.0};
  const ExpectedCues cues = ExpectedCues::sphere(head, 16000, 512);
  const std::vector<CueCovariance> left = cues.covariance(60.0), right = cues.covariance(-60.0);
  const std::vector<CueCovariance> ahead = cues.covariance(0.0);
  for (std::size_t k = 0; k < cues.bins(); k += 16) {
    const double f = k * 16000.0 / 512;
    const double azimuth = 60.0 * kPi / 180.0;
    const auto l = velkio::sphereResponse(head.radiusM, head.distanceM, std::acos(std::sin(azimuth)), f, 343.0);
    const auto r = velkio::sphereResponse(head.radiusM, head.distanceM, std::acos(-std::sin(azimuth)), f, 343.0);
    const CueCovariance want = NormalisedCovariance(std::complex<float>(l), std::complex<float>(r));
    EXPECT_NEAR(left[k].a, want.a, 1e-5) << "bin " << k;
    EXPECT_NEAR(std::abs(left[k].b - want.b), 0.0, 1e-5) << "bin " << k;
    // Mirrored: the ears swap, so the shares swap and the cross term is conjugated.
    EXPECT_NEAR(right[k].a, 1.0f - left[k].a, 1e-5) << "bin " << k;
    EXPECT_NEAR(std::abs(right[k].b - std::conj(left[k].b)), 0.0, 1e-5) << "bin " << k;
    EXPECT_NEAR(ahead[k].a, 0.5f, 1e-5) << "bin " << k;
  }
  // The left ear is nearer: louder at high frequency, and ahead in phase (conj(right) left turns
  // positive) at low frequency.
  EXPECT_GT(left[200].a, 0.6f);
  EXPECT_GT(std::arg(left[4].b), 0.0f);
  // Whole degrees are computed; between them the covariances mix.
  const std::vector<CueCovariance> between = cues.covariance(60.5), next = cues.covariance(61.0);
  EXPECT_NEAR(between[100].a, 0.5f * (left[100].a + next[100].a), 1e-6);
  const std::vector<CueCovariance> back = cues.covariance(120.0);
  EXPECT_NEAR(back[100].a, left[100].a, 1e-6);
}

TEST(ExpectedCues, RefusesFilesAndHeadsItCannotUse) {
  velkio::VELK empty;
  EXPECT_THROW(ExpectedCues::fromFile(empty), std::invalid_argument);
  velkio::VELK noResponses;
  noResponses.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, 16000, kNfft, kNfft));
  EXPECT_THROW(ExpectedCues::fromFile(noResponses), std::invalid_argument);

  auto oneEar = std::make_shared<velkio::TransferFunctions>();
  oneEar->push_back(velkio::ChannelResponses(1, Bins(kBins)));
  velkio::VELK mono;
  mono.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, 16000, kNfft, kNfft));
  mono.addChunk(std::make_shared<velkio::M2PG>(velkio::PositionList{{At(0)}}, oneEar));
  EXPECT_THROW(ExpectedCues::fromFile(mono), std::invalid_argument);

  auto shortBins = std::make_shared<velkio::TransferFunctions>();
  shortBins->push_back(velkio::ChannelResponses(2, Bins(kBins - 1)));
  velkio::VELK wrongLength;
  wrongLength.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, 16000, kNfft, kNfft));
  wrongLength.addChunk(std::make_shared<velkio::M2PG>(velkio::PositionList{{At(0)}}, shortBins));
  try {
    ExpectedCues::fromFile(wrongLength);
    ADD_FAILURE() << "a table of the wrong length was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("16 bins"), std::string::npos) << e.what();
  }

  EXPECT_THROW(ExpectedCues::sphere(SphereHead{0.1, 0.05, 340.0}, 16000, 512), std::invalid_argument);
  EXPECT_THROW(ExpectedCues::sphere(SphereHead{0.0, 1.0, 340.0}, 16000, 512), std::invalid_argument);
  EXPECT_THROW(ExpectedCues::sphere(SphereHead{}, 16000, 511), std::invalid_argument);
  EXPECT_THROW(ExpectedCues::sphere(SphereHead{}, 0, 512), std::invalid_argument);
}

}  // namespace
