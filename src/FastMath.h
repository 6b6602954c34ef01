#ifndef VELK_BINAURAL_FAST_MATH_H
#define VELK_BINAURAL_FAST_MATH_H

// Arctangent and logarithm for the per-bin loops of every frame.
//
// The interaural differences take a phase and a level of all bins of both ears on every frame;
// the C library's atan2f and log10 are exact to the last bit but are out-of-line calls the
// compiler cannot vectorise, and they took over a third of a localiser frame. These versions are
// branch-free (selects only), so loops over bins vectorise, and are accurate to a few units in
// the last place of a float: well below anything a phase or a level in dB is compared with.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>

namespace NSVelkBinaural {
namespace FastMath {

constexpr float kPi = 3.14159265358979323846f;
constexpr float kHalfPi = 1.57079632679489661923f;
constexpr float kQuarterPi = 0.78539816339744830962f;
constexpr float kTanEighthPi = 0.41421356237309504880f;
constexpr float kSqrtTwo = 1.41421356237309504880f;
constexpr float kLn2 = 0.69314718055994530942f;
constexpr float kLog10OfE = 0.43429448190325182765f;

// atan(t) for |t| <= tan(pi/8) by its odd series up to t^15; the first omitted term is below 2e-8.
inline float AtanSmall(float t) {
  const float z = t * t;
  float p = -1.0f / 15;
  p = p * z + 1.0f / 13;
  p = p * z - 1.0f / 11;
  p = p * z + 1.0f / 9;
  p = p * z - 1.0f / 7;
  p = p * z + 1.0f / 5;
  p = p * z - 1.0f / 3;
  return t + t * z * p;
}

// The angle of (x, y) in [-pi, pi] with the sign conventions of std::atan2 for finite input,
// including atan2(+-0, x < 0) = +-pi and atan2(0, 0) = 0, and NaN for NaN input.
inline float Atan2(float y, float x) {
  const float ax = std::fabs(x), ay = std::fabs(y);
  const float big = ax > ay ? ax : ay;
  const float small = ax > ay ? ay : ax;
  const float t = small / (big > 0.0f ? big : 1.0f);  // in [0, 1]
  // atan(t) = pi/4 + atan((t - 1) / (t + 1)) brings t above tan(pi/8) into the series' range.
  // Both sides of each choice are computed, so the choice is a select and the loop vectorises.
  const bool reduce = t > kTanEighthPi;
  const float reduced = (t - 1.0f) / (t + 1.0f);
  const float u = reduce ? reduced : t;
  float r = (reduce ? kQuarterPi : 0.0f) + AtanSmall(u);
  r = ay > ax ? kHalfPi - r : r;
  r = std::signbit(x) ? kPi - r : r;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  return ax + ay == ax + ay ? std::copysign(r, y) : nan;  // NaN in, NaN out
}

// The phase of a * conj(b): the phase of a minus the phase of b, already within [-pi, pi].
inline float PhaseDifference(std::complex<float> a, std::complex<float> b) {
  const float re = a.real() * b.real() + a.imag() * b.imag();
  const float im = a.imag() * b.real() - a.real() * b.imag();
  return Atan2(im, re);
}

// log10(x) for x > 0 (subnormals included), +inf for +inf, NaN for 0, negatives and NaN.
inline float Log10(float x) {
  // Subnormals are scaled into the normal range first, so the exponent field tells the octave.
  const bool subnormal = x < FLT_MIN;
  const float lifted = x * 16777216.0f;  // 2^24
  const float scaled = subnormal ? lifted : x;
  std::uint32_t bits;
  std::memcpy(&bits, &scaled, sizeof bits);
  int exponent = static_cast<int>((bits >> 23) & 0xffu) - 127 - (subnormal ? 24 : 0);
  const std::uint32_t mantissaBits = (bits & 0x007fffffu) | 0x3f800000u;  // m in [1, 2)
  float m;
  std::memcpy(&m, &mantissaBits, sizeof m);
  // m in [sqrt(1/2), sqrt(2)), so s = (m - 1) / (m + 1) stays within 0.1716.
  const bool high = m > kSqrtTwo;
  const float half = 0.5f * m;
  m = high ? half : m;
  exponent += high ? 1 : 0;
  const float s = (m - 1.0f) / (m + 1.0f);
  const float z = s * s;
  // ln m = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + s^7/7 + s^9/9 + ...), first omitted term < 1e-9.
  const float series = 2.0f * (s + s * z * (1.0f / 3 + z * (1.0f / 5 + z * (1.0f / 7 + z * (1.0f / 9)))));
  const float result = (static_cast<float>(exponent) * kLn2 + series) * kLog10OfE;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  return x > 0.0f ? (x < inf ? result : inf) : nan;
}

// 10 log10 |x|^2 in dB; NaN for a bin that is exactly zero. Very small and very large bins are
// scaled by a power of two first, so squaring them neither underflows to silence nor overflows.
inline float LevelDb(std::complex<float> x) {
  const float ar = std::fabs(x.real()), ai = std::fabs(x.imag());
  const float big = ar > ai ? ar : ai;
  const bool tiny = big < 0x1p-60f, huge = big > 0x1p60f;
  const float scale = tiny ? 0x1p64f : (huge ? 0x1p-64f : 1.0f);  // a select: no branch
  const float re = x.real() * scale, im = x.imag() * scale;
  constexpr float kScaleDb = 20.0f * 64.0f * 0.30102999566398119521f;  // 10 log10 (2^64)^2
  return 10.0f * Log10(re * re + im * im) + (tiny ? -kScaleDb : (huge ? kScaleDb : 0.0f));
}

// Whole-spectrum versions; the output must not overlap the inputs. They are built for the widest
// vector unit the processor offers, chosen when the library is loaded.
// out[i] = LevelDb(in[i]).
void LevelsDb(const std::complex<float>* in, float* out, size_t n);
// out[i] = LevelDb(a[i]) - LevelDb(b[i]).
void LevelDifferencesDb(const std::complex<float>* a, const std::complex<float>* b, float* out, size_t n);
// out[i] = PhaseDifference(a[i], b[i]).
void PhaseDifferences(const std::complex<float>* a, const std::complex<float>* b, float* out, size_t n);

}  // namespace FastMath
}  // namespace NSVelkBinaural

#endif
