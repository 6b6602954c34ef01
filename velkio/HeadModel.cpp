#include "velkio/HeadModel.h"

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

namespace velkio {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxTerms = 4000;
constexpr double kRelativeTolerance = 1e-12;

void checkOptions(const HeadModelOptions& o) {
  if (!(o.radius > 0.0) || !(o.distance > o.radius))
    throw std::invalid_argument("the source distance must exceed the head radius, and both be positive");
  if (!(o.speedOfSound > 0.0)) throw std::invalid_argument("the speed of sound must be positive");
  if (o.fs <= 0) throw std::invalid_argument("the sampling rate must be positive");
  if (o.nfft < 2 || o.nfft % 2 != 0)
    throw std::invalid_argument("the transform length must be even and at least 2");
  // Readers place direction i at -90 + i * (180 / (N - 1)) in whole degrees; other counts
  // would put the responses at directions other than those their tables claim.
  if (o.directions < 1 || (o.directions > 1 && 180 % (o.directions - 1) != 0))
    throw std::invalid_argument(
        "the direction count must be 1 or one more than a divisor of 180 (for example 7, 19, 37 "
        "or 181)");
}

}  // namespace

// Rigid sphere of radius a, point source at distance r from the centre, wavenumber k = w / c,
// mu = k a, rho = r / a, observation point on the surface at angle g from the source direction.
// With time dependence e^(jwt) the outgoing spherical Hankel functions are h_m = j_m - i y_m, and
// the surface pressure relative to the free-field pressure at the centre is
//   H = -(rho / mu) e^(i mu rho) sum_m (2m + 1) P_m(cos g) h_m(mu rho) / h_m'(mu).
// The Hankel functions overflow at high order and low mu, so the sum runs on ratios:
// q_m(x) = h_m(x) / h_(m-1)(x) follows q_(m+1) = (2m + 1) / x - 1 / q_m, and with
// R_m = h_m(mu rho) / h_m(mu) = R_(m-1) q_m(mu rho) / q_m(mu) and h_m' = h_(m-1) - (m+1)/x h_m,
//   h_m(mu rho) / h_m'(mu) = R_m / (1 / q_m(mu) - (m + 1) / mu),  and for m = 0: -R_0 / q_1(mu).
std::complex<double> sphereResponse(double radius, double distance, double incidence,
                                    double frequency, double speedOfSound) {
  if (!(radius > 0.0) || !(distance > radius))
    throw std::invalid_argument("the source distance must exceed the sphere radius, and both be positive");
  if (frequency == 0.0) return 1.0;  // the sphere does not disturb a static pressure
  const std::complex<double> i(0.0, 1.0);
  const double mu = 2.0 * kPi * std::fabs(frequency) * radius / speedOfSound;
  const double rho = distance / radius;
  const double x = std::cos(incidence);
  const double far = mu * rho;

  // Starting values h_0 and h_1 at mu and at mu rho.
  auto h0 = [&](double z) { return i * std::exp(-i * z) / z; };
  auto h1 = [&](double z) { return std::exp(-i * z) * (i / (z * z) - 1.0 / z); };
  std::complex<double> qNear = h1(mu) / h0(mu);    // q_1(mu)
  std::complex<double> qFar = h1(far) / h0(far);   // q_1(mu rho)
  std::complex<double> ratio = h0(far) / h0(mu);   // R_0

  double pPrev = 1.0, p = x;  // P_0, P_1
  std::complex<double> sum = -ratio / qNear;      // m = 0
  int small = 0;
  for (int m = 1; m < kMaxTerms; ++m) {
    ratio *= qFar / qNear;  // R_m
    const std::complex<double> term =
        (2.0 * m + 1.0) * p * ratio / (1.0 / qNear - (m + 1.0) / mu);
    sum += term;
    // Stop after a few consecutive negligible terms (P_m can vanish at isolated orders).
    small = std::abs(term) <= kRelativeTolerance * std::abs(sum) ? small + 1 : 0;
    if (small >= 3 && m > mu) {
      std::complex<double> h = -(rho / mu) * std::exp(i * far) * sum;
      return frequency < 0.0 ? std::conj(h) : h;
    }
    qNear = (2.0 * m + 1.0) / mu - 1.0 / qNear;  // q_(m+1)
    qFar = (2.0 * m + 1.0) / far - 1.0 / qFar;
    const double pNext = ((2.0 * m + 1.0) * x * p - m * pPrev) / (m + 1.0);
    pPrev = p;
    p = pNext;
  }
  throw std::runtime_error("the head-model series does not converge; place the source farther from the head");
}

VELK makeHeadModel(const HeadModelOptions& o) {
  checkOptions(o);
  const int n = o.directions;
  const int tick = n > 1 ? 180 / (n - 1) : 0;
  auto tf = std::make_shared<TransferFunctions>();
  for (int d = 0; d < n; ++d) {
    const double azimuth = (n > 1 ? -90.0 + d * tick : 0.0) * kPi / 180.0;
    // The left ear sits at +90 degrees, the right ear at -90 degrees.
    const double toLeft = std::acos(std::sin(azimuth));
    const double toRight = std::acos(-std::sin(azimuth));
    ChannelResponses ears(2, Bins(o.nfft / 2 + 1));
    for (std::size_t k = 0; k < ears[0].size(); ++k) {
      const double f = static_cast<double>(k) * o.fs / o.nfft;
      const auto left = sphereResponse(o.radius, o.distance, toLeft, f, o.speedOfSound);
      const auto right = sphereResponse(o.radius, o.distance, toRight, f, o.speedOfSound);
      ears[0][k] = {static_cast<float>(left.real()), static_cast<float>(left.imag())};
      ears[1][k] = {static_cast<float>(right.real()), static_cast<float>(right.imag())};
    }
    tf->push_back(std::move(ears));
  }
  VELK file;
  file.addChunk(std::make_shared<FMT>(FMT::GEOMETRIC, o.fs, o.nfft, o.nfft));
  file.addChunk(std::make_shared<GTF>(static_cast<unsigned>(n), std::move(tf)));
  return file;
}

}  // namespace velkio
