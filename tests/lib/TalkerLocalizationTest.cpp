// The adaptive noise floor, the broadband direction finder and the talker tracker together, on
// recordings that begin as real ones do: with speech, with digital silence, nearly noiseless.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "BinauralScene.h"
#include "velk_binaural/AdaptiveNoiseFloor.h"
#include "velk_binaural/BroadbandDirectionFinder.h"
#include "velk_binaural/TalkerTracker.h"

using namespace NSVelkBinaural;
using namespace testscene;

namespace {

constexpr double kNoiseRms = 1e-3;

struct Heard {
  double firstSec = -1.0;  // first frame the id was reported on
  double lastSec = -1.0;
  std::vector<double> azimuths;
  double medianDeg() const {
    std::vector<double> a = azimuths;
    std::nth_element(a.begin(), a.begin() + static_cast<long>(a.size() / 2), a.end());
    return a[a.size() / 2];
  }
};

// Per id, when and where it was reported.
std::map<int, Heard> Track(const Stereo& scene) {
  const Spectra spectra(scene);
  AdaptiveNoiseFloor floor;
  BroadbandDirectionFinder finder(BroadbandDirectionConfig(), HeadModelTable());
  TalkerTracker tracker;
  std::map<int, Heard> heard;
  for (std::size_t f = 0; f < spectra.frames(); ++f) {
    floor.process(spectra.frame(f));
    const auto& reports = finder.process(spectra.frame(f), floor.ready() ? floor.power(0) : nullptr,
                                         floor.ready() ? floor.power(1) : nullptr);
    for (const TalkerTrack& t : tracker.process(spectra.timeSec(f), reports)) {
      Heard& h = heard[t.id];
      if (h.firstSec < 0.0) h.firstSec = spectra.timeSec(f);
      h.lastSec = spectra.timeSec(f);
      h.azimuths.push_back(t.azimuthDeg);
    }
  }
  return heard;
}

Stereo Silence(double seconds) { return Stereo{std::vector<float>(Samples(seconds)), std::vector<float>(Samples(seconds))}; }

}  // namespace

TEST(TalkerLocalizationTest, ARecordingThatStartsWithSpeechFindsTheTalkerAtOnce) {
  Stereo scene = IncoherentNoise(Samples(4.0), kNoiseRms, 1);
  Add(scene, FromDirection(Voice(4.0, 130.0, 2), -40.0));
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_LT(heard.begin()->second.firstSec, 0.3);
  EXPECT_NEAR(heard.begin()->second.medianDeg(), -40.0, 2.0);
}

TEST(TalkerLocalizationTest, ARecordingThatStartsWithDigitalSilenceFindsTheTalkerWhenItSpeaks) {
  Stereo scene = Silence(4.0);
  Stereo sound = IncoherentNoise(Samples(3.0), kNoiseRms, 3);
  Add(sound, FromDirection(Voice(3.0, 170.0, 4), 25.0));
  Add(scene, sound, Samples(1.0));
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_GT(heard.begin()->second.firstSec, 1.0);
  EXPECT_LT(heard.begin()->second.firstSec, 1.3);
  EXPECT_NEAR(heard.begin()->second.medianDeg(), 25.0, 2.0);
}

// Noise 80 dB below the voice: the floor is the faint noise, and every bin of the voice stands
// above it.
TEST(TalkerLocalizationTest, ACleanRecordingFindsTheTalker) {
  Stereo scene = IncoherentNoise(Samples(4.0), kNoiseRms * 1e-4, 5);
  Add(scene, FromDirection(Voice(4.0, 110.0, 6), 60.0));
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_NEAR(heard.begin()->second.medianDeg(), 60.0, 2.0);
}

TEST(TalkerLocalizationTest, ANaNInTheFirstFiftyMillisecondsLosesNothingAfterIt) {
  Stereo scene = IncoherentNoise(Samples(3.0), kNoiseRms, 7);
  Add(scene, FromDirection(Voice(3.0, 150.0, 8), -70.0));
  scene.right[300] = std::numeric_limits<float>::quiet_NaN();
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_LT(heard.begin()->second.firstSec, 0.4);
  EXPECT_NEAR(heard.begin()->second.medianDeg(), -70.0, 3.0);
}

TEST(TalkerLocalizationTest, ATalkerWhoPausesOneAndAHalfSecondsKeepsItsId) {
  Stereo scene = IncoherentNoise(Samples(6.0), kNoiseRms, 9);
  const std::vector<float> voice = Voice(kPhraseSec, 140.0, 10);
  Add(scene, FromDirection(voice, 10.0), Samples(0.5));
  Add(scene, FromDirection(voice, 10.0), Samples(0.5 + kPhraseSec + 1.5));
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_GT(heard.begin()->second.lastSec, 0.5 + kPhraseSec + 1.5 + 0.5);
}

TEST(TalkerLocalizationTest, TwoTalkersThirtyDegreesApartKeepTwoIds) {
  Stereo scene = IncoherentNoise(Samples(5.0), kNoiseRms, 11);
  Add(scene, FromDirection(Voice(5.0, 115.0, 12), -10.0));
  Add(scene, FromDirection(Voice(4.6, 205.0, 13), 20.0), Samples(0.4));
  const auto heard = Track(scene);
  ASSERT_EQ(heard.size(), 2u);
  std::vector<double> medians;
  for (const auto& [id, h] : heard) medians.push_back(h.medianDeg());
  std::sort(medians.begin(), medians.end());
  EXPECT_NEAR(medians[0], -10.0, 2.0);
  EXPECT_NEAR(medians[1], 20.0, 2.0);
}

TEST(TalkerLocalizationTest, NoTrackWhereNobodySpeaks) {
  Stereo scene = IncoherentNoise(Samples(8.0), kNoiseRms, 14);
  Add(scene, IncoherentNoise(Samples(1.0), 30 * kNoiseRms, 15), Samples(3.0));  // a diffuse burst
  Add(scene, IncoherentNoise(Samples(0.2), 100 * kNoiseRms, 16), Samples(6.0));
  EXPECT_TRUE(Track(scene).empty());
}
