// Separators aimed at one of two talkers, at +40 and -40 degrees: each must keep most of the
// energy of the talker it is aimed at and little of the other's.
#include "velk_binaural/Separation.h"

#include <cmath>
#include <complex>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "velk_binaural/Angles.h"
#include "velk_binaural/HRTF.h"
#include "velkio/VELK.h"

namespace {

using namespace NSVelkBinaural;
using Angle = NSDimensionPromise::AngleBase<double>;
using Spectrum = std::vector<std::complex<double>>;
struct Ears {
  Spectrum left, right;
};

constexpr int kNfft = 512;
constexpr double kFs = 16000.0;
constexpr double kPi = Angles::AnglePi;

// A Hann-windowed frame of every `step`-th harmonic of f0 below fmax (amplitudes 1/sqrt(h)), heard
// `advance` seconds early, through X[k] = sum x[n] e^(-j 2 pi k n / N) for k = 0 .. N/2.
Spectrum Talker(double f0, int step, double fmax, double advance) {
  std::vector<double> x(kNfft, 0.0);
  for (int h = 1; h * f0 < fmax; h += step)
    for (int n = 0; n < kNfft; ++n)
      x[n] += std::cos(2 * kPi * h * f0 * (n / kFs + advance) + 0.7 * h * h) / std::sqrt(h);
  Spectrum X(kNfft / 2 + 1);
  for (size_t k = 0; k < X.size(); ++k)
    for (int n = 0; n < kNfft; ++n)
      X[k] += x[n] * (0.5 - 0.5 * std::cos(2 * kPi * n / kNfft)) *
              std::polar(1.0, -2 * kPi * double(k * n % kNfft) / kNfft);
  return X;
}

ComplexPairPtr Mix(const Ears& a, const Ears& b) {
  ComplexSignalPtr l(new ComplexSignal(a.left.size(), std::complex<float>()));
  ComplexSignalPtr r(new ComplexSignal(a.left.size(), std::complex<float>()));
  for (size_t i = 0; i < a.left.size(); ++i) {
    l->data[i] = std::complex<float>(a.left[i] + b.left[i]);
    r->data[i] = std::complex<float>(a.right[i] + b.right[i]);
  }
  return ComplexPairPtr(new ComplexPair(l, r));
}

// Fraction of a talker's energy in the bins the separator kept (non-zero in its output).
double Kept(const ComplexSignal& out, const Spectrum& talker) {
  double kept = 0.0, all = 0.0;
  for (size_t i = 0; i < talker.size(); ++i) {
    all += std::norm(talker[i]);
    if (out.At(i) != std::complex<float>()) kept += std::norm(talker[i]);
  }
  return kept / all;
}

// Aims at `degrees` (half-width 20 degrees ahead, 30 at the side) and checks, on the ear of that
// side, that most of `there` is kept and little of `other`.
void ExpectSeparates(Separation& separator, const char* method, double degrees, const Ears& there, const Ears& other,
                     double minKept) {
  const Angle direction(DegToRad(degrees));
  ComplexPairPtr out =
      separator.separate(direction, getPermissibleDirectionRange(direction, Angle(DegToRad(20)), Angle(DegToRad(30))));
  ASSERT_TRUE(out);
  const bool left = degrees > 0;
  const double target = Kept(left ? *out->left : *out->right, left ? there.left : there.right);
  const double leak = Kept(left ? *out->left : *out->right, left ? other.left : other.right);
  std::cout << "[ kept     ] " << method << " aimed at " << degrees << " deg: " << target << " of the talker there, "
            << leak << " of the other" << std::endl;
  EXPECT_GT(target, minKept);
  EXPECT_LT(leak, 0.1);
}

TEST(EpipolarSeparation, KeepsTheTalkerItIsAimedAtAndDropsTheOther) {
  // Far-field delays on a 0.09 m head, r (theta + sin theta) / c; the near ear hears it early.
  auto delayed = [](double f0, double degrees) {
    const double theta = DegToRad(degrees), delay = 0.09 * (theta + std::sin(theta)) / 343.0;
    return Ears{Talker(f0, 1, 1500.0, delay / 2), Talker(f0, 1, 1500.0, -delay / 2)};
  };
  const Ears plus = delayed(250.0, 40.0), minus = delayed(343.75, -40.0);
  EpipolarSeparation separator(Mix(plus, minus),
                               boost::shared_ptr<SeparationSetting>(new SeparationSetting(kNfft, kFs)));
  ExpectSeparates(separator, "head model", 40.0, plus, minus, 0.8);
  ExpectSeparates(separator, "head model", -40.0, minus, plus, 0.8);
}

TEST(HRTFSeparation, KeepsTheTalkerItIsAimedAtAndDropsTheOther) {
  velkio::VELK file;
  file.readFile(std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk");
  const boost::shared_ptr<IIPDS> table = HRTFToIIPDS(file, 0, 1);
  const velkio::TransferFunctions& tf = *file.findFirst<velkio::M2PG>()->getTF();
  // Harmonics up to 4 kHz, so that the level rule takes part, through the measured head's transfer
  // functions (channel 0 left ear). The talkers share no bin (16, 32, ... and 8, 24, 40, ...):
  // where both are loud the mixture's differences fit neither.
  auto rendered = [&](double f0, int step, int degrees) {
    const size_t d = static_cast<size_t>((degrees - table->begindeg) / table->dirtick);
    Ears ears{Talker(f0, step, 4000.0, 0.0), Talker(f0, step, 4000.0, 0.0)};
    for (size_t k = 0; k < ears.left.size(); ++k) {
      ears.left[k] *= std::complex<double>(tf.at(d).at(0).at(k));
      ears.right[k] *= std::complex<double>(tf.at(d).at(1).at(k));
    }
    return ears;
  };
  const Ears plus = rendered(500.0, 1, 40), minus = rendered(250.0, 2, -40);
  FloatSignalPtr floorL(new FloatSignal(kNfft / 2 + 1, 0.0f)), floorR(new FloatSignal(kNfft / 2 + 1, 0.0f));
  HRTFSeparation separator(Mix(plus, minus), boost::shared_ptr<SeparationSetting>(new SeparationSetting(kNfft, kFs)),
                           FloatPairPtr(new FloatPair(floorL, floorR)), *table, 10.0f);
  ExpectSeparates(separator, "measured", 40.0, plus, minus, 0.9);
  ExpectSeparates(separator, "measured", -40.0, minus, plus, 0.9);
}

}  // namespace
