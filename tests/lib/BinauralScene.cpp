#include "BinauralScene.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/Stft.h"
#include "velkdsp/RealFFT.h"

namespace testscene {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSpeedOfSound = 340.0;

double PathDifference(double azimuthDeg) {
  static const NSVelkBinaural::Epipolar head(NSVelkBinaural::Epipolar::Length(1.0),
                                             NSVelkBinaural::Epipolar::Length(0.09));
  return head.LRDifferenceRevised(NSVelkBinaural::Epipolar::Angle(azimuthDeg * kPi / 180.0)).Value();
}

// The signal delayed by `delay` samples (fractional, circular over the whole signal: the tests
// leave silence at the end).
std::vector<float> Delayed(const std::vector<float>& x, double delay) {
  const int n = static_cast<int>(x.size());
  std::vector<float> out(x.size());
  std::vector<std::complex<float>> spectrum(x.size() / 2 + 1);
  velkdsp::RealFFT fft(n);
  fft.forward(x.data(), spectrum.data());
  for (std::size_t k = 0; k < spectrum.size(); ++k) {
    const double phase = -2.0 * kPi * static_cast<double>(k) * delay / n;
    spectrum[k] *= std::complex<float>(static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase)));
  }
  if (n % 2 == 0) spectrum.back() = std::complex<float>(spectrum.back().real(), 0.0f);
  fft.inverse(spectrum.data(), out.data());  // scaled by 1/n
  return out;
}

// Linear convolution, cut to the length of x.
std::vector<float> Convolved(const std::vector<float>& x, const std::vector<float>& h) {
  std::size_t n = 1;
  while (n < x.size() + h.size()) n *= 2;
  std::vector<float> a(n, 0.0f), b(n, 0.0f);
  std::copy(x.begin(), x.end(), a.begin());
  std::copy(h.begin(), h.end(), b.begin());
  std::vector<std::complex<float>> fa(n / 2 + 1), fb(n / 2 + 1);
  velkdsp::RealFFT fft(static_cast<int>(n));
  fft.forward(a.data(), fa.data());
  fft.forward(b.data(), fb.data());
  for (std::size_t k = 0; k < fa.size(); ++k) fa[k] *= fb[k];
  fft.inverse(fa.data(), a.data());  // scaled by 1/n
  a.resize(x.size());
  return a;
}

double Rms(const std::vector<float>& x) {
  double sum = 0.0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(x.size(), 1)));
}

}  // namespace

std::size_t Samples(double seconds) { return static_cast<std::size_t>(std::lround(seconds * kRate)); }

std::vector<float> Voice(double seconds, double f0Hz, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> turn(0.0, 2.0 * kPi);
  const int harmonics = static_cast<int>(5000.0 / (f0Hz * 1.1));
  std::vector<double> phase(static_cast<std::size_t>(harmonics));
  for (double& p : phase) p = turn(random);
  std::vector<float> x(Samples(seconds));
  const std::size_t phrase = Samples(kPhraseSec), phrasePeriod = Samples(kPhraseSec + kPauseSec);
  const std::size_t period = Samples(0.25), on = Samples(0.2), ramp = Samples(0.01);
  double cycles = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double f0 = f0Hz * (1.0 + 0.08 * std::sin(2.0 * kPi * 0.7 * t));  // a slow glide
    cycles += f0 / kRate;
    const std::size_t inSyllable = i % phrasePeriod % period;
    if (i % phrasePeriod >= phrase || inSyllable >= on) continue;
    const double edge = static_cast<double>(std::min(inSyllable, on - 1 - inSyllable));
    const double envelope = edge < ramp ? 0.5 - 0.5 * std::cos(kPi * edge / ramp) : 1.0;
    double v = 0.0;
    for (int h = 1; h <= harmonics; ++h) v += std::sin(2.0 * kPi * h * cycles + phase[h - 1]) / h;
    x[i] = static_cast<float>(0.1 * envelope * v);
  }
  return x;
}

std::vector<float> WhiteNoise(std::size_t samples, double rms, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal(0.0f, static_cast<float>(rms));
  std::vector<float> x(samples);
  for (float& v : x) v = normal(random);
  return x;
}

Stereo FromDirection(const std::vector<float>& source, double azimuthDeg) {
  // The path difference is left minus right: the left ear hears half of it earlier.
  const double delay = PathDifference(azimuthDeg) / kSpeedOfSound * kRate / 2.0;
  return Stereo{Delayed(source, delay), Delayed(source, -delay)};
}

Stereo IncoherentNoise(std::size_t samples, double rms, unsigned seed) {
  return Stereo{WhiteNoise(samples, rms, seed), WhiteNoise(samples, rms, seed + 1000)};
}

Stereo Reverberation(const std::vector<float>& source, double rt60Sec, double rms, unsigned seed) {
  Stereo tail;
  for (int ear = 0; ear < 2; ++ear) {
    std::vector<float> h = WhiteNoise(Samples(rt60Sec), 1.0, seed + static_cast<unsigned>(ear));
    // 60 dB down over rt60Sec; the first 5 ms are left to the direct sound.
    for (std::size_t i = 0; i < h.size(); ++i)
      h[i] *= i < Samples(0.005) ? 0.0f : static_cast<float>(std::pow(10.0, -3.0 * static_cast<double>(i) / h.size()));
    std::vector<float> y = Convolved(source, h);
    const float scale = static_cast<float>(rms / Rms(y));
    for (float& v : y) v *= scale;
    (ear == 0 ? tail.left : tail.right) = std::move(y);
  }
  return tail;
}

void Add(Stereo& to, const Stereo& what, std::size_t offset) {
  for (std::size_t i = 0; i < what.size() && offset + i < to.size(); ++i) {
    to.left[offset + i] += what.left[i];
    to.right[offset + i] += what.right[i];
  }
}

// The library's STFT, which frames and transforms exactly as the localise network does.
Spectra::Spectra(const Stereo& signal) {
  std::vector<float> interleaved(2 * signal.size());
  for (std::size_t i = 0; i < signal.size(); ++i) {
    interleaved[2 * i] = signal.left[i];
    interleaved[2 * i + 1] = signal.right[i];
  }
  NSVelkBinaural::Stft stft(NSVelkBinaural::StftConfig{kFrame, kHop, 2, velkdsp::WindowShape::Hann});
  stft.Push(interleaved.data(), signal.size());
  stft.Finish();
  NSVelkBinaural::StftFrame frame;
  while (stft.Next(frame)) {
    left_.emplace_back(frame.Channel(0), frame.Channel(0) + kBins);
    right_.emplace_back(frame.Channel(1), frame.Channel(1) + kBins);
  }
}

NSVelkBinaural::StereoSpectrumView Spectra::frame(std::size_t i) const {
  return NSVelkBinaural::StereoSpectrumView{left_.at(i).data(), right_.at(i).data(), kBins};
}

std::shared_ptr<const NSVelkBinaural::InterauralPhaseTable> HeadModelTable() {
  std::vector<double> azimuths, paths;
  for (int a = -90; a <= 90; a += 5) {
    azimuths.push_back(a);
    paths.push_back(PathDifference(a));
  }
  return std::make_shared<const NSVelkBinaural::InterauralPhaseTable>(
      NSVelkBinaural::InterauralPhaseTable::FromPathDifferences(azimuths, paths, kRate, kBins));
}

}  // namespace testscene
