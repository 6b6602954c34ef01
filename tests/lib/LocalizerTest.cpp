// The localiser pipeline on its own: synthetic frames of a flat noise floor and of a voice-like
// harmonic spectrum with the interaural phase of the head model at a chosen azimuth.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "LogCapture.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/Localizer.h"

namespace {

using NSVelkBinaural::Localizer;
using NSVelkBinaural::LocalizerConfig;
using NSVelkBinaural::SourceReport;

constexpr int kBins = 257;                // a 512-point transform
constexpr float kNoise = 512.0f * 1e-3f;  // bin magnitude of the floor before the 1/nfft scaling
constexpr int kNoiseFrames = 10;

// Both ears' spectra of one frame, rows one after the other.
struct Frame {
  std::vector<std::complex<float>> left, right;
  NSVelkBinaural::StereoSpectrumView View() const { return {left.data(), right.data(), left.size()}; }
};

Frame Noise(int bins = kBins) {
  return Frame{std::vector<std::complex<float>>(bins, kNoise), std::vector<std::complex<float>>(bins, kNoise)};
}

// Harmonics of band 5 (156 Hz) up to band 40, 40 dB over the floor, with the head model's
// right-minus-left phase for `azimuthDeg`.
Frame Voice(double azimuthDeg) {
  Frame f = Noise();
  const NSVelkBinaural::Epipolar model(NSDimensionPromise::LengthBase<double>(1.0),
                                       NSDimensionPromise::LengthBase<double>(0.09));
  const double dl = model.LRDifferenceRevised(NSDimensionPromise::AngleBase<double>(azimuthDeg * M_PI / 180.0)).Value();
  for (int band = 5; band <= 40; band += 5) {
    const double hz = band * 16000.0 / 512.0;
    f.left[band] = 100.0f * kNoise;
    f.right[band] = std::polar(100.0f * kNoise, static_cast<float>(2.0 * M_PI * hz * dl / 340.0));
  }
  return f;
}

TEST(Localizer, FindsAVoiceAtItsDirectionAndReportsWhatATrackerNeeds) {
  LocalizerConfig config;
  config.peakThresholdDb = 10.0f;
  config.eventRatioThreshold = 0.0;
  Localizer localizer(config);
  for (int k = 0; k <= kNoiseFrames; ++k) EXPECT_TRUE(localizer.Process(Noise().View(), config.FrameTime(k)).empty());
  const Frame voice = Voice(-40.0);
  EXPECT_TRUE(localizer.Process(voice.View(), config.FrameTime(11)).empty()) << "a new event shows from its second frame";
  const std::vector<SourceReport>& reports = localizer.Process(voice.View(), config.FrameTime(12));
  ASSERT_EQ(reports.size(), 1u);
  const SourceReport& r = reports[0];
  EXPECT_EQ(r.sourceId, 1);
  EXPECT_NEAR(r.azimuthDeg, -40.0, 1e-9);
  EXPECT_NEAR(r.azimuthRad, -40.0 * M_PI / 180.0, 1e-9);
  EXPECT_DOUBLE_EQ(r.timeSec, 0.12);
  EXPECT_FALSE(r.paused);
  EXPECT_GT(r.strength, 0.5);
  EXPECT_LE(r.strength, 1.0);
  EXPECT_DOUBLE_EQ(r.fundamentalHz, 5 * 16000.0 / 512.0);
  EXPECT_EQ(r.framesHeard, 2u);
  EXPECT_NEAR(r.startSec, 0.11, 1e-6);
  EXPECT_EQ(localizer.Nfft(), 512);

  // A frame without any voice leaves the history as it was: the source is reported again, without
  // a probability for this frame.
  const std::vector<SourceReport>& quiet = localizer.Process(Noise().View(), config.FrameTime(13));
  ASSERT_EQ(quiet.size(), 1u);
  EXPECT_EQ(quiet[0].sourceId, 1);
  EXPECT_TRUE(std::isnan(quiet[0].strength));
  // Another voice elsewhere: the first source pauses and keeps its id.
  const std::vector<SourceReport>& other = localizer.Process(Voice(60.0).View(), config.FrameTime(14));
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(other[0].sourceId, 1);
  EXPECT_TRUE(other[0].paused);
}

TEST(Localizer, ExternalNoiseIsTakenWithEachFrame) {
  LocalizerConfig config;
  config.noise = LocalizerConfig::Noise::External;
  config.peakThresholdDb = 10.0f;
  Localizer localizer(config);
  const std::vector<float> floor(kBins, static_cast<float>(20.0 * std::log10(kNoise / 512.0f)));
  const NSVelkBinaural::StereoLevelsView noise{floor.data(), floor.data(), floor.size()};
  const Frame voice = Voice(30.0);
  EXPECT_TRUE(localizer.Process(voice.View(), 0.0, &noise).empty());
  EXPECT_TRUE(localizer.Process(voice.View(), 0.01).empty()) << "a frame without noise reports nothing";
  EXPECT_EQ(localizer.History().events.size(), 1u) << "and leaves the history alone";
  ASSERT_EQ(localizer.Process(voice.View(), 0.02, &noise).size(), 1u);
}

TEST(Localizer, RefusesFramesItCannotWorkWith) {
  Localizer localizer{LocalizerConfig()};
  EXPECT_THROW(localizer.Process(NSVelkBinaural::StereoSpectrumView{}, 0.0), std::invalid_argument);
  localizer.Process(Noise().View(), 0.0);
  EXPECT_THROW(localizer.Process(Noise(129).View(), 0.01), std::invalid_argument) << "bins change";
  LocalizerConfig measured;
  measured.method = LocalizerConfig::Method::MeasuredTables;
  EXPECT_THROW(Localizer{measured}, std::invalid_argument) << "measured tables needed";
}

TEST(Localizer, APeakWindowWithinOneBinAbandonsTheFrame) {
  LocalizerConfig config;
  config.peakFmaxHz = 110.0;  // 100 and 110 Hz are both bin 3
  Localizer localizer(config);
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::SEVERE);
  for (int k = 0; k < kNoiseFrames; ++k) localizer.Process(Noise().View(), config.FrameTime(k));
  EXPECT_THROW(localizer.Process(Noise().View(), config.FrameTime(kNoiseFrames)), Localizer::FrameError);
  EXPECT_TRUE(log.contains("SEVERE: peak detection rejected the frame")) << log.text();
}

TEST(HarmonicSoundToString, ShowsEveryHarmonicNumberAndMissingOnesAsZero) {
  const NSVelkBinaural::DirectionConverter grid(-5, 90);
  const NSVelkBinaural::BandInformation info(NSDimensionPromise::FrequencyBase<double>(16000.0), 512);
  NSVelkBinaural::HarmonicSound sound;
  sound.id = 3;
  EXPECT_EQ(NSVelkBinaural::HarmonicSoundToString(sound, grid), "ID 3");
  *sound.harmonics = {{info.CreateBand(5), 1}, {info.CreateBand(10), 2}, {info.CreateBand(20), 4}};
  EXPECT_EQ(NSVelkBinaural::HarmonicSoundToString(sound, grid), "ID 3") << "no direction yet";
  sound.directions->push_back({2u, NSVelkBinaural::ProbabilityBase<double>(0.675)});
  EXPECT_EQ(NSVelkBinaural::HarmonicSoundToString(sound, grid), "ID 3  156 Hz hnum 3 dir  80 prob 68 [   5  10   0  20]");
}

}  // namespace
