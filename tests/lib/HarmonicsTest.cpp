#include "velk_binaural/Harmonics.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace NSVelkBinaural;
using NSDimensionPromise::FrequencyBase;
using testsupport::LogCapture;

namespace {

// 7.8125 Hz per band: band 38 lies below 300 Hz, band 39 above.
const BandInformation kInfo(FrequencyBase<double>(8000.0), 1024);
using Structure = std::vector<std::pair<int, int>>;  // (band, ratio)

Harmonics::ProxyList Proxies(const std::vector<int>& bands) {
  Harmonics::ProxyList proxies(new std::vector<Band>);
  for (int b : bands) proxies->push_back(b < 0 ? Band() : kInfo.CreateBand(b));
  return proxies;
}

Structure StructureOf(const HarmonicSoundPtr& sound) {
  Structure out;
  for (const BandAndHarmonicRatio& e : *sound->harmonics) out.emplace_back(e.band.index, e.ratio);
  return out;
}

HarmonicSoundPtr Sound(const Structure& structure) {
  HarmonicSoundPtr sound(new HarmonicSound);
  for (const auto& e : structure)
    sound->harmonics->push_back(BandAndHarmonicRatio{kInfo.CreateBand(e.first), e.second});
  return sound;
}

HarmonicSoundPtr OnFundamental(int f, const std::vector<int>& ratios) {
  Structure s;
  for (int r : ratios) s.emplace_back(f * r, r);
  return Sound(s);
}

int Score(const HarmonicSoundPtr& sound) { return Harmonics::CheckHarmonics(sound, kInfo); }
int NthHarmonic(const std::vector<int>& bands, int fundamental, int n) {
  return Harmonics::GetNHarmonic(Proxies(bands), fundamental, n).index;
}

}  // namespace

TEST(HarmonicsTest, NearestProxyWithinTheToleranceOfTheFundamental) {
  EXPECT_EQ(NthHarmonic({5, 24, 26}, 0, 5), 24);  // target 25: the lower one on a tie
  EXPECT_EQ(NthHarmonic({5, 23, 26}, 0, 5), 26);
  EXPECT_EQ(NthHarmonic({5, 23, 27}, 0, 5), -1);  // two bands off
  EXPECT_EQ(NthHarmonic({3, 6, 10}, 0, 3), -1);   // f = 3 takes exact multiples only
  EXPECT_EQ(NthHarmonic({1, 2, 3}, 0, 2), -1);    // f = 1 never has a harmonic
  EXPECT_EQ(NthHarmonic({10, 20, 30}, 0, 1), -1);
  EXPECT_EQ(NthHarmonic({10, 20, 30}, 3, 2), -1);
  EXPECT_EQ(NthHarmonic({10, 20, 30}, -1, 2), -1);
  // The last proxy may be the multiple itself, but never the fundamental.
  EXPECT_EQ(NthHarmonic({10, 20}, 0, 2), 20);
  EXPECT_EQ(NthHarmonic({10, 19}, 0, 2), 19);
  EXPECT_EQ(NthHarmonic({4}, 0, 2), -1);
}

TEST(HarmonicsTest, StructuresOfTheWorkedExamples) {
  // Up to N = 40 / 10 + 0.5 = 4; 31 is the third harmonic (d = -1), 40 the fourth.
  HarmonicSoundPtr sound = Harmonics::GetHarmonics(Proxies({10, 20, 31, 40}), 0);
  ASSERT_TRUE(sound);
  EXPECT_EQ(StructureOf(sound), (Structure{{10, 1}, {20, 2}, {31, 3}, {40, 4}}));
  EXPECT_EQ(sound->id, -1);
  EXPECT_TRUE(sound->directions && sound->directions->empty());
  EXPECT_EQ(StructureOf(Harmonics::GetHarmonics(Proxies({3, 6, 10}), 0)), (Structure{{3, 1}, {6, 2}}));
  EXPECT_FALSE(Harmonics::GetHarmonics(Proxies({1, 2, 3, 4}), 0));
  // The search reaches the rounded ratio of the last proxy: 39 / 10 + 0.5 gives 4.
  EXPECT_EQ(StructureOf(Harmonics::GetHarmonics(Proxies({10, 20, 39}), 0)), (Structure{{10, 1}, {20, 2}, {39, 4}}));
  // A missing harmonic is skipped and the search goes on.
  EXPECT_EQ(StructureOf(Harmonics::GetHarmonics(Proxies({10, 20, 40, 50, 70}), 0)),
            (Structure{{10, 1}, {20, 2}, {40, 4}, {50, 5}, {70, 7}}));

  LogCapture log(LogLevel::FINE);
  HarmonicSoundList sounds = Harmonics::ExtractAllHarmonics(Proxies({10, 20, 30, 40}));
  ASSERT_EQ(sounds->size(), 2u);
  EXPECT_EQ(StructureOf((*sounds)[1]), (Structure{{20, 1}, {40, 2}}));
  EXPECT_TRUE(Harmonics::ExtractAllHarmonics(Proxies({}))->empty());
  EXPECT_EQ(log.count("FINE: 2 harmonic structures were found"), 1);
  EXPECT_EQ(log.count("FINE: 0 harmonic structures were found"), 1);
}

TEST(HarmonicsTest, ScoresOfTheRules) {
  EXPECT_EQ(Score(OnFundamental(10, {1, 2, 3, 4, 5})), 2);
  EXPECT_EQ(Score(OnFundamental(10, {1, 2, 3, 4, 5, 6, 7})), 4);
  EXPECT_EQ(Score(OnFundamental(5, {1, 2, 6})), -4);
  EXPECT_EQ(Score(OnFundamental(5, {1, 2, 4, 6, 8, 9, 10})), -4);  // no third, fifth or seventh
  EXPECT_EQ(Score(OnFundamental(10, {1})), 1);
  EXPECT_EQ(Score(OnFundamental(40, {1, 2, 3})), 0);  // 312.5 Hz
  EXPECT_EQ(Score(OnFundamental(38, {1, 2, 3})), 2);  // 296.9 Hz
  EXPECT_EQ(Score(Sound({{0, 1}, {0, 2}, {0, 3}})), 2);
  EXPECT_EQ(Score(Sound({{0, 1}, {0, 2}})), -2);
  EXPECT_EQ(Score(Sound({{0, 1}, {0, 3}})), -3);
}

TEST(HarmonicsTest, HumanSoundsByScoreWithFundamentalsNotYetClaimed) {
  HarmonicSoundList list(new std::vector<HarmonicSoundPtr>{
      OnFundamental(10, {1, 2, 3}),           // 2: accepted, claims 10, 20, 30
      OnFundamental(5, {1, 2, 6}),            // -4
      OnFundamental(20, {1, 2}),              // 2, but band 20 is claimed
      OnFundamental(11, {1, 2, 3, 4, 5, 6}),  // 4: accepted
      OnFundamental(40, {1, 2})});            // 0
  HarmonicSoundList human = Harmonics::GetHumanHarmonics(list, 513, kInfo, 1);
  ASSERT_EQ(human->size(), 2u);
  EXPECT_EQ((*human)[0], (*list)[0]);
  EXPECT_EQ((*human)[1], (*list)[3]);
  EXPECT_EQ(Harmonics::GetHumanHarmonics(list, 513, kInfo, 0)->size(), 3u);
  EXPECT_EQ(Harmonics::GetHumanHarmonics(list, 67, kInfo, 1)->size(), 2u);
  EXPECT_THROW(Harmonics::GetHumanHarmonics(list, 66, kInfo, 1), std::out_of_range);  // band 66 of sound 4
}

TEST(HarmonicsTest, BadInputThrows) {
  LogCapture log(LogLevel::INFO);
  auto expectInvalid = [&](auto call, const std::string& message) {
    try {
      call();
      ADD_FAILURE() << message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_GE(log.count("WARNING: " + message), 1) << message;
  };
  expectInvalid([] { Harmonics::GetNHarmonic(Harmonics::ProxyList(), 0, 2); }, "proxyBands is null");
  expectInvalid([] { Harmonics::ExtractAllHarmonics(Harmonics::ProxyList()); }, "proxyBands is null");
  expectInvalid([] { Harmonics::ExtractAllHarmonics(Proxies({-1, 10, 20})); }, "given invalid band");
  expectInvalid([] { Score(HarmonicSoundPtr()); }, "sound is null");
  expectInvalid([] { Harmonics::GetHumanHarmonics(HarmonicSoundList(), 513, kInfo, 1); }, "harmonicsList is null");
  EXPECT_TRUE(log.contains("Harmonics ExtractAllHarmonics\nWARNING: proxyBands is null"));

  EXPECT_THROW(Score(Sound({})), std::out_of_range);
  EXPECT_THROW(Score(Sound({{10, 1}, {20, 0}, {30, 3}})), std::out_of_range);
  EXPECT_THROW(Score(Sound({{10, 1}, {20, -4}})), std::out_of_range);
  EXPECT_THROW(Score(Sound({{10, 1}, {30, 3}, {20, 2}})), std::out_of_range);
}
