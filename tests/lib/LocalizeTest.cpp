#include "velk_binaural/Localize.h"

#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace NSVelkBinaural;

namespace {

// Records the band lists it is given and judges nothing.
class RecordingJudge : public DirectionJudge {
 public:
  JudgeResult Judge(const HarmonicLists& harmonics, const IPDPtr&, const IIDPtr&, MethodFlag::Kind, bool) override {
    std::vector<int> low, high;
    for (const BandAndHarmonicRatio& h : *harmonics.first) low.push_back(h.band.index);
    for (const BandAndHarmonicRatio& h : *harmonics.second) high.push_back(h.band.index);
    seen.emplace_back(low, high);
    return JudgeResult(new DirectionCandidates);
  }
  std::vector<std::pair<std::vector<int>, std::vector<int>>> seen;
};

const BandInformation& Info() {
  static const BandInformation info(NSDimensionPromise::FrequencyBase<double>(16000.0), 512);
  return info;
}

HarmonicSoundPtr Sound(std::vector<int> bands) {
  HarmonicSoundPtr sound(new HarmonicSound);
  int ratio = 1;
  for (int b : bands) sound->harmonics->push_back({Info().CreateBand(b), ratio++});
  return sound;
}

}  // namespace

TEST(LocalizeTest, SplitsHarmonicsAtTheBandOf1500Hz) {
  RecordingJudge judge;
  Localize::GetDirection(Sound({16, 32, 48, 49, 64}), Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true);
  Localize::GetDirection(Sound({10, 20, 30}), Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true);
  Localize::GetDirection(Sound({60, 120}), Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true);
  ASSERT_EQ(judge.seen.size(), 3u);
  EXPECT_EQ(judge.seen[0].first, (std::vector<int>{16, 32, 48}));
  EXPECT_EQ(judge.seen[0].second, (std::vector<int>{49, 64}));
  EXPECT_TRUE(judge.seen[1].second.empty()) << "all low harmonics: phase only";
  EXPECT_TRUE(judge.seen[2].first.empty()) << "all high harmonics: intensity only";
}

TEST(LocalizeTest, OneListPerSoundInOrderAndMissingSoundsReported) {
  RecordingJudge judge;
  HarmonicSoundList sounds(new std::vector<HarmonicSoundPtr>{Sound({16}), Sound({20})});
  Localize::DirectionLists lists =
      Localize::GetDirections(sounds, Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true);
  ASSERT_EQ(lists->size(), 2u) << "an empty judgment still has its entry";
  EXPECT_EQ(judge.seen[1].first, std::vector<int>{20});

  testsupport::LogCapture capture(LogLevel::INFO);
  EXPECT_THROW(Localize::GetDirections(HarmonicSoundList(), Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true),
               std::invalid_argument);
  EXPECT_EQ(capture.count("SEVERE: sounds is null"), 1);
  HarmonicSoundList withNull(new std::vector<HarmonicSoundPtr>{HarmonicSoundPtr()});
  EXPECT_THROW(Localize::GetDirections(withNull, Info(), judge, IPDPtr(), IIDPtr(), MethodFlag::BOTH, true),
               std::invalid_argument);
}
