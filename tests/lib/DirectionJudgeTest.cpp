#include "velk_binaural/DirectionJudge.h"

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/HRTF.h"
#include "velkio/VELK.h"

using namespace NSVelkBinaural;
using Angle = NSDimensionPromise::AngleBase<double>;
using Length = NSDimensionPromise::LengthBase<double>;
using Prob = ProbabilityBase<double>;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kFs = 16000;
constexpr int kNfft = 512;

// Restores the process-wide direction grid after a test that changes it.
struct GridGuard {
  DirectionConverter saved = gDirConv;
  GridGuard(int step, int origin) { gDirConv = DirectionConverter(step, origin); }
  ~GridGuard() { gDirConv = saved; }
};

// Bins 0 .. N/2 of X[k] = sum x[n] e^{-j 2 pi k n / N}.
std::vector<std::complex<float>> Dft(const std::vector<double>& x) {
  const size_t n = x.size();
  std::vector<std::complex<float>> spectrum(n / 2 + 1);
  for (size_t k = 0; k < spectrum.size(); ++k) {
    std::complex<double> sum;
    for (size_t i = 0; i < n; ++i) sum += x[i] * std::polar(1.0, -2.0 * kPi * double(k * i % n) / double(n));
    spectrum[k] = std::complex<float>(sum);
  }
  return spectrum;
}

// A sum of harmonics of f0 (on exact bins), delayed by `delay` seconds and scaled by `gain`.
std::vector<double> Harmonic(double f0, int count, double delay, double gain) {
  std::vector<double> x(kNfft);
  for (int n = 0; n < kNfft; ++n)
    for (int h = 1; h <= count; ++h) x[n] += gain * std::cos(2 * kPi * h * f0 * (double(n) / kFs - delay) + 0.7 * h);
  return x;
}

ComplexPairPtr Pair(const std::vector<std::complex<float>>& left, const std::vector<std::complex<float>>& right) {
  ComplexSignalPtr l(new ComplexSignal(left.size(), left.data()));
  ComplexSignalPtr r(new ComplexSignal(right.size(), right.data()));
  return ComplexPairPtr(new ComplexPair(l, r));
}

// The sound's harmonics split at 1500 Hz, as the localiser does.
HarmonicLists Split(const BandInformation& info, double f0, int count) {
  std::vector<BandAndHarmonicRatio> bands;
  for (int h = 1; h <= count; ++h) bands.push_back({info.CreateBand(int(h * f0 * kNfft / kFs)), h});
  return BandUtils::DivideBands(bands, info.CreateBand(NSDimensionPromise::FrequencyBase<double>(1500.0)));
}

int TopDegree(const JudgeResult& result) { return gDirConv.ToDegree(result->front().first); }

// Interaural time difference of a far source on a rigid sphere (path around the head), a model
// independent of the one the judge uses.
double SphereDelay(double degrees, double radius) {
  const double theta = degrees * kPi / 180.0;
  return radius * (std::fabs(theta) + std::sin(std::fabs(theta))) / 343.0;
}

}  // namespace

// ---- Path-difference model and phase calibration ----------------------------------------------

TEST(EpipolarTest, DifferenceIsOddContinuousAndShorterOnTheSourceSide) {
  Epipolar model(Length(1.0), Length(0.09));
  EXPECT_DOUBLE_EQ(model.LRDifferenceRevised(Angle(0.0)).Value(), 0.0);
  for (double deg : {10.0, 40.0, 90.0, 135.0, 300.0})
    EXPECT_DOUBLE_EQ(model.LRDifferenceRevised(Angle(deg * kPi / 180)).Value(),
                     -model.LRDifferenceRevised(Angle(-deg * kPi / 180)).Value());
  // A source on the left is nearer the left microphone, by about what a sphere gives.
  EXPECT_NEAR(model.LRDifferenceRevised(Angle(40 * kPi / 180)).Value(), -343.0 * SphereDelay(40, 0.09), 0.005);
  const double alpha = std::acos(0.09);
  for (double edge : {kPi / 2 - alpha, kPi / 2, kPi / 2 + alpha, 3 * kPi / 2 - alpha, 3 * kPi / 2})
    EXPECT_NEAR(model.LRDifferenceRevised(Angle(edge - 1e-9)).Value(), model.LRDifferenceRevised(Angle(edge)).Value(),
                1e-7);
  EXPECT_THROW(Epipolar(Length(0.05), Length(0.09)), std::invalid_argument);
}

TEST(CalibrateDirectionTest, BringsTheInputWithinPiOfTheModel) {
  EXPECT_DOUBLE_EQ(CalibrateDirection(Angle(4), Angle(0)).Value(), 4 - 2 * kPi);
  EXPECT_DOUBLE_EQ(CalibrateDirection(Angle(kPi), Angle(0)).Value(), kPi);
  EXPECT_DOUBLE_EQ(CalibrateDirection(Angle(-4), Angle(0)).Value(), -4 + 2 * kPi);
  EXPECT_NEAR(CalibrateDirection(Angle(-3.0), Angle(-20.0)).Value(), -3.0 - 6 * kPi, 1e-12);
}

// ---- Probabilities and their combination -------------------------------------------------------

TEST(CalculateProbabilityTest, EqualOrSingleDistancesAreEvenAndNearerIsLikelier) {
  for (const std::vector<double>& same : {std::vector<double>{3, 3, 3, 3}, std::vector<double>{7.5}})
    for (const Prob& p : DirectionProbability::CalculateProbability(same)) EXPECT_DOUBLE_EQ(p.Value(), 0.5);
  std::vector<Prob> p = DirectionProbability::CalculateProbability({0.1, 1.0, 2.0});
  EXPECT_GT(p[0].Value(), 0.5);
  EXPECT_GT(p[1].Value(), p[2].Value());
}

TEST(CombineTest, MethodFlagSelectsTheCuesAndNaNNeverLeads) {
  std::vector<Prob> pipd = {Prob(0.2), Prob(0.6)};
  std::vector<Prob> piid = {Prob(0.5), Prob(0.25)};
  EXPECT_DOUBLE_EQ(DirectionProbability::Combine(pipd, piid, MethodFlag::BOTH, false)->at(1).second.Value(), 0.7);
  EXPECT_DOUBLE_EQ(DirectionProbability::Combine({}, piid, MethodFlag::BOTH, false)->at(1).second.Value(), 0.25);
  EXPECT_TRUE(DirectionProbability::Combine({}, piid, MethodFlag::IPD_ONLY, false)->empty());

  std::vector<Prob> p = {Prob(kNaN), Prob(0.3), Prob(0.9), Prob(kNaN), Prob(0.1), Prob(0.9)};
  std::vector<unsigned int> order;
  JudgeResult sorted = DirectionProbability::Combine(p, {}, MethodFlag::IPD_ONLY, true);
  for (const auto& pair : *sorted) order.push_back(pair.first);
  EXPECT_EQ(order, (std::vector<unsigned int>{2, 5, 1, 4, 0, 3}));
}

// ---- Epipolar judge ----------------------------------------------------------------------------

TEST(JudgeEpipolarTest, ModelAndIntensityPreferenceFollowTheGrid) {
  JudgeEpipolar judge(Length(1.0), Length(0.09), gDirConv);
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), kNfft);
  HarmonicList high(new std::vector<BandAndHarmonicRatio>{{info.CreateBand(0), 1}});
  for (Channel::Kind kind : {Channel::LEFT, Channel::RIGHT}) {
    IIDPtr leftLouder(new InterauralIntensityDifference(Pair({{2, 0}}, {{1, 0}}), kind));
    JudgeResult r = judge.Judge(HarmonicLists(HarmonicList(new std::vector<BandAndHarmonicRatio>), high), IPDPtr(),
                                leftLouder, MethodFlag::BOTH, false);
    ASSERT_EQ(r->size(), 37u);
    // +90 .. +30 favoured, -30 .. -90 disfavoured, whichever channel is the reference.
    EXPECT_DOUBLE_EQ((*r)[12].second.Value(), 0.65);
    EXPECT_DOUBLE_EQ((*r)[24].second.Value(), 0.35);
  }
  ASSERT_EQ(judge.dl.size(), 37u);
  EXPECT_DOUBLE_EQ(judge.dl[18], 0.0);
  for (size_t i = 0; i < 18; ++i) EXPECT_DOUBLE_EQ(judge.dl[36 - i], -judge.dl[i]);
  {
    // A grid that runs from right to left keeps the preference on the louder side.
    GridGuard reversed(5, -90);
    IIDPtr leftLouder(new InterauralIntensityDifference(Pair({{2, 0}}, {{1, 0}}), Channel::RIGHT));
    std::vector<Prob> p = judge.CalcProbabilityFromIID(high, leftLouder);
    EXPECT_DOUBLE_EQ(p[36].Value(), 0.65);
    EXPECT_DOUBLE_EQ(p[0].Value(), 0.35);
  }
  GridGuard noStep(0, 90);
  EXPECT_THROW(judge.Judge(HarmonicLists(), IPDPtr(), IIDPtr(), MethodFlag::BOTH, true), std::logic_error);
}

TEST(JudgeEpipolarTest, BandsOutsideTheDifferencesAreRejected) {
  JudgeEpipolar judge(Length(1.0), Length(0.09), gDirConv);
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), kNfft);
  ComplexPairPtr pair = Pair({{1, 0}, {1, 0}}, {{1, 0}, {1, 0}});
  IPDPtr ipd(new InterauralPhaseDifference(pair, Channel::RIGHT));
  IIDPtr iid(new InterauralIntensityDifference(pair, Channel::RIGHT));
  HarmonicList beyond(new std::vector<BandAndHarmonicRatio>{{info.CreateBand(2), 1}});
  HarmonicList none(new std::vector<BandAndHarmonicRatio>);
  EXPECT_THROW(judge.Judge(HarmonicLists(beyond, none), ipd, iid, MethodFlag::BOTH, true), std::out_of_range);
  EXPECT_THROW(judge.Judge(HarmonicLists(none, beyond), ipd, iid, MethodFlag::BOTH, true), std::out_of_range);
  EXPECT_TRUE(judge.Judge(HarmonicLists(HarmonicList(), none), ipd, iid, MethodFlag::IPD_ONLY, true)->empty());
}

// A harmonic sound whose left channel leads by a source's delay (and, above 1500 Hz, is louder)
// must be placed on the left, near the true direction; the mirrored sound on the right. Both
// reference channels of the phase difference give the same answer.
TEST(JudgeEpipolarTest, PlacesARealDelayedSoundOnItsSide) {
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), kNfft);
  struct Case {
    double f0;
    int count;
    double louder;
  } cases[] = {{250.0, 5, 1.0}, {500.0, 6, 2.0}};
  for (const Case& c : cases) {
    for (double degrees : {40.0, -40.0}) {
      const double delay = SphereDelay(degrees, 0.09);
      const bool left = degrees > 0;
      ComplexPairPtr spectra = Pair(Dft(Harmonic(c.f0, c.count, left ? 0.0 : delay, left ? c.louder : 1.0)),
                                    Dft(Harmonic(c.f0, c.count, left ? delay : 0.0, left ? 1.0 : c.louder)));
      for (Channel::Kind kind : {Channel::RIGHT, Channel::LEFT}) {
        JudgeEpipolar judge(Length(1.0), Length(0.09), gDirConv);
        JudgeResult result = judge.Judge(Split(info, c.f0, c.count), IPDPtr(new InterauralPhaseDifference(spectra, kind)),
                                         IIDPtr(new InterauralIntensityDifference(spectra, kind)), MethodFlag::BOTH, true);
        ASSERT_EQ(result->size(), 37u);
        EXPECT_NEAR(TopDegree(result), degrees, 5.0) << "f0 " << c.f0 << ", reference " << kind;
      }
    }
  }
}

// The localiser keeps one judge for the whole run, while the direction grid is process-wide: a
// judge that cached its model for one grid must not reuse it for the mirrored grid of the same
// size, or every direction would be read from the wrong side.
TEST(JudgeEpipolarTest, AJudgeKeptAcrossFramesFollowsAMirroredGrid) {
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), kNfft);
  const double delay = SphereDelay(40.0, 0.09);
  ComplexPairPtr spectra = Pair(Dft(Harmonic(250.0, 5, 0.0, 1.0)), Dft(Harmonic(250.0, 5, delay, 1.0)));
  IPDPtr ipd(new InterauralPhaseDifference(spectra, Channel::RIGHT));
  IIDPtr iid(new InterauralIntensityDifference(spectra, Channel::RIGHT));
  JudgeEpipolar judge(Length(1.0), Length(0.09), gDirConv);
  EXPECT_NEAR(TopDegree(judge.Judge(Split(info, 250.0, 5), ipd, iid, MethodFlag::IPD_ONLY, true)), 40.0, 5.0);
  GridGuard mirrored(5, -90);  // also 37 directions, from -90 up to +90
  EXPECT_NEAR(TopDegree(judge.Judge(Split(info, 250.0, 5), ipd, iid, MethodFlag::IPD_ONLY, true)), 40.0, 5.0);
}

// ---- Measured-table judge ----------------------------------------------------------------------

namespace {

// Three directions whose phase tables rise with the direction and whose intensity tables differ.
boost::shared_ptr<IIPDS> SmallTable() {
  boost::shared_ptr<IIPDS> t(new IIPDS);
  t->ndir = 3;
  t->dirtick = 30;
  t->begindeg = -30;
  for (int d = 0; d < 3; ++d) {
    t->ipd.push_back(IIPD{std::vector<double>(8, 0.4 * (d - 1))});
    t->iid.push_back(IIPD{std::vector<double>(8, 3.0 * (d - 1))});
  }
  return t;
}

}  // namespace

TEST(JudgeHRTFMeasuredTest, NearestTableEntryWinsAndBandsStayInsideTheData) {
  boost::shared_ptr<IIPDS> table = SmallTable();
  JudgeHRTFMeasured judge(table);
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), 14);
  // Right minus left: phase 0.4 (observed through the wrap-around) and +3 dB: direction 2.
  ComplexPairPtr spectra = Pair(std::vector<std::complex<float>>(8, {1, 0}),
                                std::vector<std::complex<float>>(8, std::polar(std::sqrt(2.0f), 0.4f - 2 * float(kPi))));
  IPDPtr ipd(new InterauralPhaseDifference(spectra, Channel::RIGHT));
  IIDPtr iid(new InterauralIntensityDifference(spectra, Channel::RIGHT));
  HarmonicList low(new std::vector<BandAndHarmonicRatio>{{info.CreateBand(2), 1}, {info.CreateBand(4), 2}});
  HarmonicList high(new std::vector<BandAndHarmonicRatio>{{info.CreateBand(6), 3}});
  HarmonicList none(new std::vector<BandAndHarmonicRatio>);
  for (MethodFlag::Kind mflag : {MethodFlag::BOTH, MethodFlag::IPD_ONLY, MethodFlag::IID_ONLY})
    EXPECT_EQ(judge.Judge(HarmonicLists(low, high), ipd, iid, mflag, true)->front().first, 2u) << mflag;

  // A band beyond the observed differences or beyond a table is reported on either path.
  HarmonicList beyond(new std::vector<BandAndHarmonicRatio>{{info.CreateBand(7), 1}});
  ComplexPairPtr shorter = Pair(std::vector<std::complex<float>>(7, {1, 0}), std::vector<std::complex<float>>(7, {1, 0}));
  IIDPtr shortIid(new InterauralIntensityDifference(shorter, Channel::RIGHT));
  EXPECT_THROW(judge.Judge(HarmonicLists(none, beyond), ipd, shortIid, MethodFlag::BOTH, true), std::out_of_range);
  table->iid[1].values.resize(5);
  EXPECT_THROW(judge.Judge(HarmonicLists(none, high), ipd, iid, MethodFlag::BOTH, true), std::out_of_range);
  table->ipd.pop_back();  // fewer table entries than directions
  EXPECT_THROW(judge.Judge(HarmonicLists(low, none), ipd, iid, MethodFlag::BOTH, true), std::out_of_range);
}

// A harmonic sound rendered through the KEMAR head's measured responses at +40 and -40 degrees
// must come out within one table step of its direction.
TEST(JudgeHRTFMeasuredTest, PlacesASoundRenderedThroughTheMeasuredHead) {
  const std::string path = std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk";
  velkio::VELK file;
  file.readFile(path);
  boost::shared_ptr<IIPDS> table = HRTFToIIPDS(file, 0, 1);
  ASSERT_GT(table->dirtick, 0);
  velkio::TFPtr responses;
  if (auto m2pg = file.findFirst<velkio::M2PG>()) responses = m2pg->getTF();
  if (auto gtf = file.findFirst<velkio::GTF>()) responses = gtf->getTF();
  ASSERT_TRUE(responses);
  GridGuard grid(table->dirtick, table->begindeg);
  BandInformation info(NSDimensionPromise::FrequencyBase<double>(kFs), kNfft);

  for (int degrees : {40, -40}) {
    const int d = (degrees - table->begindeg) / table->dirtick;
    ASSERT_EQ(table->begindeg + d * table->dirtick, degrees);
    const velkio::ChannelResponses& h = responses->at(size_t(d));
    std::vector<std::complex<float>> source = Dft(Harmonic(250.0, 12, 0.0, 1.0));
    std::vector<std::complex<float>> left(source.size()), right(source.size());
    for (size_t k = 0; k < source.size(); ++k) {
      left[k] = source[k] * h.at(0).at(k);
      right[k] = source[k] * h.at(1).at(k);
    }
    ComplexPairPtr spectra = Pair(left, right);
    JudgeHRTFMeasured judge(table);
    JudgeResult result = judge.Judge(Split(info, 250.0, 12), IPDPtr(new InterauralPhaseDifference(spectra, Channel::RIGHT)),
                                     IIDPtr(new InterauralIntensityDifference(spectra, Channel::RIGHT)), MethodFlag::BOTH,
                                     true);
    ASSERT_FALSE(result->empty());
    EXPECT_NEAR(TopDegree(result), degrees, table->dirtick);
  }
}
