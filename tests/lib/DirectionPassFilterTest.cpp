// Pass bands: the folded band of directions, the head-model and measured-table rules with their
// merges and limits, and the extraction of passing bins.
#include "velk_binaural/DirectionPassFilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "velk_binaural/Angles.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/InterauralDifference.h"
#include "LogCapture.h"

namespace {

using namespace NSVelkBinaural;
using Angle = NSDimensionPromise::AngleBase<double>;
using Length = NSDimensionPromise::LengthBase<double>;
using Bins = std::vector<int>;
using PerBin = std::function<double(size_t)>;

Angle Deg(double d) { return Angle(DegToRad(d)); }

// Spectra whose right-minus-left phase and level (dB) in bin i are phase(i) and level(i).
ComplexPairPtr Frame(size_t n, const PerBin& phase, const PerBin& level) {
  ComplexSignalPtr left(new ComplexSignal(n, std::complex<float>(1.0f, 0.0f)));
  ComplexSignalPtr right(new ComplexSignal(n, std::complex<float>()));
  for (size_t i = 0; i < n; ++i) right->data[i] = std::polar<float>(std::pow(10.0, level(i) / 20), phase(i));
  return ComplexPairPtr(new ComplexPair(left, right));
}

boost::shared_ptr<PassBand> BandOf(size_t n, PassBandFlag::Kind start) {
  boost::shared_ptr<PassBand> band(new PassBand(n));
  SetPassBandFlags(band, start);
  return band;
}

// The passing bins of `band`, and the bins first .. last without `except`.
Bins Passing(const PassBand& band) {
  Bins bins;
  for (size_t i = 0; i < band.flags.size(); ++i)
    if (band.flags[i].Value() == PassBandFlag::PASS) bins.push_back(static_cast<int>(i));
  return bins;
}
Bins Range(int first, int last, Bins except = {}) {
  Bins v;
  for (int i = first; i <= last; ++i)
    if (std::find(except.begin(), except.end(), i) == except.end()) v.push_back(i);
  return v;
}

TEST(DirectionBand, HalfWidthGrowsFromAheadAndBandsFoldIntoTheFront) {
  for (auto [direction, expected] : {std::pair{0.0, 10.0}, {45, 20}, {-90, 30}, {135, 40}})
    EXPECT_NEAR(RadToDeg(getPermissibleDirectionRange(Deg(direction), Deg(10), Deg(30)).Value()), expected, 1e-9);
  const double cases[][4] = {{30, 10, 20, 40},     {80, 20, 60, 90},  {100, 20, 60, 90},     {-80, 20, -90, -60},
                             {-100, 20, -90, -60}, {0, 100, -90, 90}, {-150, 20, -170, -130}};
  for (const auto& c : cases) {
    MaxMin<Angle> band;
    CalculateMaxMin(Deg(c[0]), Deg(c[1]), band);
    EXPECT_NEAR(RadToDeg(band.min.Value()), c[2], 1e-9) << c[0] << " +- " << c[1];
    EXPECT_NEAR(RadToDeg(band.max.Value()), c[3], 1e-9) << c[0] << " +- " << c[1];
  }
}

// nfft 512 at 16 kHz: the 1500 Hz bin is 48. The frame has the head model's phase for a talker at
// `talker` degrees, except -1 rad in the `misfit` bins.
Bins HeadModelRule(double talker, PassBandSetMode::Kind mode, PassBandFlag::Kind start, Bins misfit = {}) {
  const double dl = Epipolar(Length(1.0), Length(0.09)).LRDifferenceRevised(Deg(talker)).Value();
  PerBin phase = [&](size_t i) {
    bool bad = std::find(misfit.begin(), misfit.end(), static_cast<int>(i)) != misfit.end();
    return bad ? -1.0 : 2 * Angles::AnglePi * (i * 16000.0 / 512) * dl / 340;
  };
  boost::shared_ptr<PassBand> band = BandOf(257, start);
  IPDPtr ipd(new InterauralPhaseDifference(Frame(257, phase, [](size_t) { return 0.0; }), Channel::RIGHT));
  band->SetPassBandEpipolar(mode, boost::shared_ptr<SeparationSetting>(new SeparationSetting(512, 16000.0)), Deg(10),
                            Deg(5), ipd, Length(1.0), Length(0.09));
  return Passing(*band);
}

TEST(EpipolarRule, PassesFittingBinsFromOneToBelowFifteenHundredHertzMergedByMode) {
  EXPECT_EQ(HeadModelRule(10, PassBandSetMode::OR, PassBandFlag::CUTOFF), Range(1, 47));
  EXPECT_TRUE(HeadModelRule(-10, PassBandSetMode::OR, PassBandFlag::CUTOFF).empty()) << "mirror direction";
  const Bins misfit = Range(20, 29);
  EXPECT_EQ(HeadModelRule(10, PassBandSetMode::OR, PassBandFlag::CUTOFF, misfit), Range(1, 47, misfit));
  EXPECT_EQ(HeadModelRule(10, PassBandSetMode::AND, PassBandFlag::PASS, misfit), Range(1, 47, misfit));
  EXPECT_EQ(HeadModelRule(10, PassBandSetMode::OVERWRITE, PassBandFlag::PASS, misfit), Range(1, 47, misfit));
}

// With FINE on the rule and the extraction log every bin; the flags and the copied bins must be
// those they give with FINE off.
TEST(EpipolarRule, GivesTheSameFlagsWhetherOrNotEveryBinIsLogged) {
  const Bins misfit = Range(20, 29);
  const Bins quiet = HeadModelRule(10, PassBandSetMode::AND, PassBandFlag::PASS, misfit);
  ComplexPairPtr spectra = Frame(
      257, [](size_t i) { return 0.5 * i; }, [](size_t i) { return 0.1 * i; });
  boost::shared_ptr<PassBand> band = BandOf(257, PassBandFlag::CUTOFF);
  for (int i : quiet) band->flags[i] = PassBandFlag(PassBandFlag::PASS);
  ComplexPairPtr copied = BandExtractor(spectra).Extract(band);
  testsupport::LogCapture log(LogLevel::FINE);
  EXPECT_EQ(HeadModelRule(10, PassBandSetMode::AND, PassBandFlag::PASS, misfit), quiet);
  EXPECT_EQ(log.count("FINE:  *** PASS *** copying Spectrum"), 0);
  ComplexPairPtr logged = BandExtractor(spectra).Extract(band);
  EXPECT_EQ(log.count("FINE:  *** PASS *** copying Spectrum"), static_cast<int>(quiet.size()));
  for (size_t i = 0; i < 257; ++i) {
    ASSERT_EQ(logged->left->At(i), copied->left->At(i)) << "bin " << i;
    ASSERT_EQ(logged->right->At(i), copied->right->At(i)) << "bin " << i;
  }
}

// 17 bins (nfft 32 at 16 kHz: the 1500 Hz bin is 3). At table direction a (degrees) and bin k the
// phase difference is 0.1 k a / 30 and the level difference a / 10 dB. The frame fits +30:
// phase 0.1 k, level 3 dB, both ears 20 dB over a 0 dB noise floor.
class MeasuredRule : public ::testing::Test {
 protected:
  static IIPDS Table(int begin, int tick, int count, size_t bins = 17) {
    IIPDS t;
    t.begindeg = begin, t.dirtick = tick, t.ndir = count;
    for (int a = begin; t.ipd.size() < static_cast<size_t>(count); a += tick) {
      t.ipd.push_back({std::vector<double>(bins)});
      t.iid.push_back({std::vector<double>(bins, a / 10.0)});
      for (size_t k = 0; k < bins; ++k) t.ipd.back().values[k] = 0.1 * k * a / 30.0;
    }
    return t;
  }
  Bins Run(double direction, const IIPDS& table, PassBandFlag::Kind start = PassBandFlag::CUTOFF) {
    ComplexPairPtr frame = Frame(17, phase, level);
    band = BandOf(17, start);
    band->SetPassBandHRTF(PassBandSetMode::OR, boost::shared_ptr<SeparationSetting>(new SeparationSetting(32, 16000.0)),
                          Deg(direction), Deg(20), IPDPtr(new InterauralPhaseDifference(frame, Channel::RIGHT)),
                          IIDPtr(new InterauralIntensityDifference(frame, Channel::RIGHT)), levels, noise, table,
                          10.0f);
    return Passing(*band);
  }
  PerBin phase = [](size_t k) { return 0.1 * k; };
  PerBin level = [](size_t) { return 3.0; };
  FloatPairPtr levels = LRSignalFactory<float>::Create(17), noise = LRSignalFactory<float>::Create(17);
  boost::shared_ptr<PassBand> band;
  void SetUp() override {
    std::fill_n(levels->left->data, 17, 20.0f);
    std::fill_n(levels->right->data, 17, 20.0f);
  }
};

TEST_F(MeasuredRule, PassesBinsInsideTheSpanOfTheBandsDirections) {
  const IIPDS table = Table(-90, 30, 7);
  EXPECT_EQ(Run(30, table), Range(1, 16)) << "bin 0 has a span of width 0";
  EXPECT_TRUE(Run(-30, table).empty()) << "mirror direction";
  // Directions lie where the table says: the same grid listed downwards, or from behind the head.
  EXPECT_EQ(Run(30, Table(90, -30, 7)), Range(1, 16));
  EXPECT_EQ(Run(30, Table(-180, 30, 12)), Range(1, 16));
  // The 1500 Hz bin (3) is judged by phase only, the next one by level only.
  level = [](size_t k) { return k == 3 || k == 4 ? 40.0 : 3.0; };
  phase = [](size_t k) { return k == 4 ? -1.0 : 0.1 * k; };
  EXPECT_EQ(Run(30, table), Range(1, 16, {4}));
  // Both ears must hear a bin more than 10 dB over their noise.
  noise->left->data[5] = 10.0f, noise->right->data[7] = 15.0f;
  EXPECT_EQ(Run(30, table), Range(1, 16, {4, 5, 7}));
}

TEST_F(MeasuredRule, ComparesPhasesOnTheBranchOfTheBandsCentre) {
  // At bin 1 the directions -30, 0, +30 hold 2.9, 3.1 and 3.383, the last stored as 3.383 - 2 pi.
  IIPDS table = Table(-30, 30, 3);
  table.ipd[0].values[1] = 2.9, table.ipd[1].values[1] = 3.1, table.ipd[2].values[1] = 3.383 - 2 * Angles::AnglePi;
  level = [](size_t) { return 0.0; };
  phase = [](size_t) { return 0.0; };
  EXPECT_EQ(Run(0, table), Range(2, 16)) << "at bin 1 the span is [2.9, 3.383], not the whole circle";
  phase = [](size_t k) { return k == 1 ? -3.0 : 0.0; };
  EXPECT_EQ(Run(0, table), Range(1, 16)) << "-3.0 is 3.283 on the span's branch";
}

TEST_F(MeasuredRule, RefusesBandsOutsideTheTableAndShortTablesWithoutTouchingFlags) {
  const IIPDS table = Table(-90, 5, 37);
  {
    testsupport::LogCapture log(LogLevel::SEVERE);
    EXPECT_THROW(Run(-150, table, PassBandFlag::PASS), std::logic_error);  // unfolded [-170, -130]
    EXPECT_TRUE(
        log.contains("SEVERE: mmi is invalid, mm.min=-170.000000deg, mm.max=-130.000000deg, mmi=-16,-8, "
                     "iipds.ndir=37"));
  }
  EXPECT_EQ(Passing(*band), Range(0, 16));
  EXPECT_NO_THROW(Run(80, table)) << "a band reaching +90 needs index 36";
  testsupport::LogCapture quiet(LogLevel::OFF);
  EXPECT_THROW(Run(80, Table(-90, 5, 36)), std::logic_error);
  EXPECT_THROW(Run(30, Table(-90, 30, 7, 9), PassBandFlag::PASS), std::length_error);
  EXPECT_EQ(Passing(*band), Range(0, 16));
}

// ---- measured rule against a bin-by-bin reference, with and without a span cache ---------------

// A 37-direction table (-90 to 90 degrees in 5 degree steps) of 33 bins (nfft 64 at 16 kHz, the
// 1500 Hz bin is 6): phases that grow with the direction and the bin, with noise and random whole
// turns (the tables are unwrapped), levels that grow with the direction; one cell is NaN.
IIPDS RandomTable(std::mt19937& random) {
  std::uniform_real_distribution<double> noise(-0.3, 0.3);
  std::bernoulli_distribution turn(0.3);
  IIPDS t;
  t.begindeg = -90, t.dirtick = 5, t.ndir = 37, t.fs = 16000, t.nfft = 64;
  for (int d = 0; d < t.ndir; ++d) {
    const double a = -90 + 5 * d;
    IIPD phase, level;
    for (int k = 0; k < 33; ++k) {
      phase.values.push_back(0.02 * k * a / 10 + noise(random) + (turn(random) ? 2 * Angles::AnglePi : 0.0));
      level.values.push_back(a / 10 + 3 * noise(random));
    }
    t.ipd.push_back(phase);
    t.iid.push_back(level);
  }
  t.ipd[18].values[3] = std::nan("");
  return t;
}

// The rule written out plainly: per bin, the span over the band's directions (phases moved onto
// the branch of the phase at the direction nearest the band's centre), the frame's value inside
// it, both ears more than 10 dB over their noise.
std::vector<PassBandFlag::Kind> ReferenceVerdicts(const IIPDS& t, double direction, double range,
                                                  const InterauralPhaseDifference& ipd,
                                                  const InterauralIntensityDifference& iid, const FloatPair& levels,
                                                  const FloatPair& noise) {
  MaxMin<Angle> band;
  CalculateMaxMin(Deg(direction), Deg(range), band);
  auto index = [&](double degrees) { return static_cast<int>(std::floor((degrees - t.begindeg) / t.dirtick + 0.5)); };
  const int lo = index(RadToDeg(band.min.Value())), hi = index(RadToDeg(band.max.Value()));
  const int centre = std::clamp(index(0.5 * (RadToDeg(band.min.Value()) + RadToDeg(band.max.Value()))), lo, hi);
  std::vector<PassBandFlag::Kind> verdicts;
  for (size_t i = 0; i < 33; ++i) {
    const bool byPhase = i <= 6;
    const std::vector<double>& reference = t.ipd[centre].values;
    auto onBranch = [&](double x) { return CalibrateDirection(Angle(x), Angle(reference[i])).Value(); };
    double spanLo = INFINITY, spanHi = -INFINITY;
    for (int d = lo; d <= hi; ++d) {
      const double x = byPhase ? onBranch(t.ipd[d].values[i]) : t.iid[d].values[i];
      spanLo = std::isnan(x) || std::isnan(spanLo) ? NAN : std::min(spanLo, x);
      spanHi = std::isnan(x) || std::isnan(spanHi) ? NAN : std::max(spanHi, x);
    }
    const double v = byPhase ? onBranch(ipd.At(i)) : iid.At(i);
    const bool pass = spanLo < v && v < spanHi && levels.left->At(i) > 10.0 + noise.left->At(i) &&
                      levels.right->At(i) > 10.0 + noise.right->At(i);
    verdicts.push_back(pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  }
  return verdicts;
}

class MeasuredRuleAtRandom : public ::testing::Test {
 protected:
  // A random frame: phases over the whole circle, levels -12..12 dB, each ear at 10..50 dB over a
  // noise of 0..20 dB.
  void NewFrame() {
    std::uniform_real_distribution<double> phase(-Angles::AnglePi, Angles::AnglePi), level(-12, 12), db(10, 50),
        floor(0, 20);
    std::vector<double> phases(33), iids(33);
    for (size_t i = 0; i < 33; ++i) phases[i] = phase(random), iids[i] = level(random);
    ComplexPairPtr frame = Frame(33, [&](size_t i) { return phases[i]; }, [&](size_t i) { return iids[i]; });
    ipd.reset(new InterauralPhaseDifference(frame, Channel::RIGHT));
    iid.reset(new InterauralIntensityDifference(frame, Channel::RIGHT));
    levels = LRSignalFactory<float>::Create(33), noise = LRSignalFactory<float>::Create(33);
    for (size_t i = 0; i < 33; ++i) {
      levels->left->data[i] = static_cast<float>(db(random)), levels->right->data[i] = static_cast<float>(db(random));
      noise->left->data[i] = static_cast<float>(floor(random)), noise->right->data[i] = static_cast<float>(floor(random));
    }
  }
  // The flags of a band that starts all CUTOFF after the rule with mode OR.
  std::vector<PassBandFlag::Kind> Run(const IIPDS& table, double direction, double range, TableSpanCache* cache) {
    band = BandOf(33, PassBandFlag::CUTOFF);
    band->SetPassBandHRTF(PassBandSetMode::OR, setting, Deg(direction), Deg(range), ipd, iid, levels, noise, table,
                          10.0f, cache);
    return Kinds();
  }
  std::vector<PassBandFlag::Kind> Kinds() const {
    std::vector<PassBandFlag::Kind> kinds;
    for (const PassBandFlag& f : band->flags) kinds.push_back(f.Value());
    return kinds;
  }
  std::vector<PassBandFlag::Kind> Reference(const IIPDS& table, double direction, double range) {
    return ReferenceVerdicts(table, direction, range, *ipd, *iid, *levels, *noise);
  }

  std::mt19937 random{20240601};
  boost::shared_ptr<SeparationSetting> setting{new SeparationSetting(64, 16000.0)};
  IPDPtr ipd;
  IIDPtr iid;
  FloatPairPtr levels, noise;
  boost::shared_ptr<PassBand> band;
};

// Random tables, frames and bands: the rule gives the reference's flags, with and without a
// cache of spans kept across calls, and the flags are not all alike.
TEST_F(MeasuredRuleAtRandom, MatchesTheReferenceWithAndWithoutCachedSpans) {
  const IIPDS table = RandomTable(random);
  TableSpanCache cache;
  std::uniform_real_distribution<double> direction(-80, 80), range(2, 30);
  size_t passed = 0, judged = 0;
  for (int trial = 0; trial < 300; ++trial) {
    NewFrame();
    // Few distinct bands, so that most calls find their spans in the cache.
    const double a = std::round(direction(random) / 20) * 20, r = trial % 2 ? 10 : range(random);
    const std::vector<PassBandFlag::Kind> expected = Reference(table, a, r);
    ASSERT_EQ(Run(table, a, r, nullptr), expected) << "trial " << trial << ": " << a << " +- " << r;
    ASSERT_EQ(Run(table, a, r, &cache), expected) << "trial " << trial << " with the cache: " << a << " +- " << r;
    for (PassBandFlag::Kind k : expected) passed += k == PassBandFlag::PASS, ++judged;
  }
  EXPECT_GT(passed, judged / 20);
  EXPECT_LT(passed, judged / 2);
  EXPECT_LE(cache.size(), 300u);
}

// A cache handed another table forgets the spans of the first; Clear() forgets everything; many
// bands never make it grow past its bound.
TEST_F(MeasuredRuleAtRandom, CachedSpansFollowTheTableAndStayBounded) {
  const IIPDS first = RandomTable(random);
  IIPDS second = first;  // the mirror image: what the first holds at +a it holds at -a
  std::reverse(second.ipd.begin(), second.ipd.end());
  std::reverse(second.iid.begin(), second.iid.end());
  TableSpanCache cache;
  NewFrame();
  ASSERT_NE(Reference(first, 30, 15), Reference(second, 30, 15));
  EXPECT_EQ(Run(first, 30, 15, &cache), Reference(first, 30, 15));
  EXPECT_EQ(Run(second, 30, 15, &cache), Reference(second, 30, 15));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(Run(first, 30, 15, &cache), Reference(first, 30, 15));
  cache.Clear();
  EXPECT_EQ(cache.size(), 0u);
  for (int a = -80; a <= 80; a += 5)
    for (int r = 1; r <= 10; ++r) ASSERT_EQ(Run(first, a, r, &cache), Reference(first, a, r)) << a << " +- " << r;
  EXPECT_LE(cache.size(), TableSpanCache::kMaxBands);
  EXPECT_GT(cache.size(), 0u);
}

// A level signal shorter than the spectrum: the bins before its end are judged, then the rule
// fails on the first bin whose difference fits and so needs the missing level.
TEST_F(MeasuredRuleAtRandom, AShortLevelSignalFailsAfterJudgingTheBinsBeforeIt) {
  const IIPDS table = RandomTable(random);
  NewFrame();
  std::fill_n(levels->left->data, 33, 40.0f);
  std::fill_n(levels->right->data, 33, 40.0f);
  const std::vector<PassBandFlag::Kind> expected = Reference(table, 20, 20);
  ASSERT_NE(std::find(expected.begin() + 10, expected.end(), PassBandFlag::PASS), expected.end())
      << "some bin from 10 on must fit for the missing level to be read";
  levels->left.reset(new FloatSignal(10, 40.0f));
  EXPECT_THROW(Run(table, 20, 20, nullptr), std::out_of_range);
  const std::vector<PassBandFlag::Kind> flags = Kinds();
  EXPECT_EQ(std::vector<PassBandFlag::Kind>(flags.begin(), flags.begin() + 10),
            std::vector<PassBandFlag::Kind>(expected.begin(), expected.begin() + 10));
  EXPECT_EQ(std::count(flags.begin() + 10, flags.end(), PassBandFlag::PASS), 0);
}

TEST(BandExtractor, CopiesPassingBinsZeroesTheRestAndRefusesMismatches) {
  ComplexPairPtr spectra = Frame(
      257, [](size_t i) { return 0.5 * i; }, [](size_t i) { return 0.1 * i; });
  boost::shared_ptr<PassBand> band = BandOf(257, PassBandFlag::CUTOFF);
  band->flags[2] = PassBandFlag(PassBandFlag::PASS);
  ComplexPairPtr out;
  {
    testsupport::LogCapture log(LogLevel::INFO);
    out = BandExtractor(spectra).Extract(band);
    EXPECT_EQ(log.text(), "") << "no per-bin message is made with FINE off";
  }
  ASSERT_TRUE(out) << "cut-off bins are zeros, not a missing result";
  for (size_t i = 0; i < 257; ++i) {
    EXPECT_EQ(out->left->At(i), i == 2 ? spectra->left->At(i) : std::complex<float>());
    EXPECT_EQ(out->right->At(i), i == 2 ? spectra->right->At(i) : std::complex<float>());
  }
  EXPECT_FALSE(BandExtractor(spectra).Extract(BandOf(256, PassBandFlag::PASS))) << "one flag short";
  ComplexPairPtr none = Frame(
      0, [](size_t) { return 0.0; }, [](size_t) { return 0.0; });
  EXPECT_TRUE(BandExtractor(none).Extract(BandOf(0, PassBandFlag::PASS))) << "empty spectra and band are valid";
}

}  // namespace
