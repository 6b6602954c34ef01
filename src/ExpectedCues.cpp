#include "velk_binaural/ExpectedCues.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "velkio/HeadModel.h"

namespace NSVelkBinaural {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Azimuths computed from stored positions are off by rounding; +-90 may come out as 90.000001.
constexpr double kGridToleranceDeg = 1e-3;

double degrees(double radians) { return radians * 180.0 / kPi; }

// Azimuth in (-180, 180].
double wrapDeg(double azimuthDeg) {
  double a = std::fmod(azimuthDeg, 360.0);
  if (a <= -180.0) a += 360.0;
  if (a > 180.0) a -= 360.0;
  return a;
}

// The front direction with the same lateral angle: 100 -> 80, -170 -> -10.
double foldToFront(double azimuthDeg) {
  if (azimuthDeg > 90.0) return 180.0 - azimuthDeg;
  if (azimuthDeg < -90.0) return -180.0 - azimuthDeg;
  return azimuthDeg;
}

struct Direction {
  double azimuthDeg;
  double elevationDeg;
  const velkio::ChannelResponses* responses;
};

// The directions of the file with their responses, in the order the file lists them.
std::vector<Direction> directionsOf(const velkio::VELK& file, const velkio::TransferFunctions*& tf) {
  std::vector<Direction> dirs;
  if (const auto m2pg = file.findFirst<velkio::M2PG>()) {
    if (!m2pg->getTF()) throw std::invalid_argument("the measured chunk holds no responses");
    tf = m2pg->getTF().get();
    const velkio::PositionList& positions = m2pg->getSrc();
    if (positions.size() != tf->size())
      throw std::invalid_argument("the measured chunk lists " + std::to_string(positions.size()) +
                                  " directions but holds responses for " + std::to_string(tf->size()));
    for (std::size_t d = 0; d < positions.size(); ++d) {
      if (positions[d].empty())
        throw std::invalid_argument("measured direction " + std::to_string(d) + " has no position");
      const velkio::Position& p = positions[d][0];
      const double horizontal = std::hypot(p.x, p.y);
      dirs.push_back({degrees(std::atan2(p.y, p.x)), degrees(std::atan2(p.z, horizontal)), &(*tf)[d]});
    }
  } else if (const auto gtf = file.findFirst<velkio::GTF>()) {
    if (!gtf->getTF()) throw std::invalid_argument("the geometric chunk holds no responses");
    tf = gtf->getTF().get();
    const std::size_t n = tf->size();
    for (std::size_t d = 0; d < n; ++d) {
      const double azimuth = n > 1 ? -90.0 + 180.0 * static_cast<double>(d) / static_cast<double>(n - 1) : 0.0;
      dirs.push_back({azimuth, 0.0, &(*tf)[d]});
    }
  } else {
    throw std::invalid_argument("the file holds neither measured nor geometric responses");
  }
  if (dirs.empty()) throw std::invalid_argument("the file holds no directions");
  return dirs;
}

// Mixes two bins' covariances: (1 - t) x + t y.
CueCovariance mix(const CueCovariance& x, const CueCovariance& y, float t) {
  CueCovariance c;
  c.a = (1.0f - t) * x.a + t * y.a;
  c.b = (1.0f - t) * x.b + t * y.b;
  return c;
}

}  // namespace

CueCovariance NormalisedCovariance(std::complex<float> left, std::complex<float> right) {
  // Double precision: responses of any scale square without underflow or overflow.
  const std::complex<double> l(left), r(right);
  const double power = std::norm(l) + std::norm(r);
  CueCovariance c;
  if (!(power > 0.0) || !std::isfinite(power)) return c;
  c.a = static_cast<float>(std::norm(l) / power);
  const std::complex<double> cross = l * std::conj(r) / power;
  c.b = std::complex<float>(static_cast<float>(cross.real()), static_cast<float>(cross.imag()));
  return c;
}

ExpectedCues ExpectedCues::fromFile(const velkio::VELK& file, int leftChannel, int rightChannel) {
  if (leftChannel < 0 || rightChannel < 0 || leftChannel == rightChannel)
    throw std::invalid_argument("channels " + std::to_string(leftChannel) + " and " + std::to_string(rightChannel) +
                                ": expected two different channel indices of 0 or more");
  const std::size_t left = static_cast<std::size_t>(leftChannel), right = static_cast<std::size_t>(rightChannel);
  const auto fmt = file.findFirst<velkio::FMT>();
  if (!fmt) throw std::invalid_argument("the file has no format chunk");
  const int nfft = fmt->getNFFT();
  if (fmt->getNFS() <= 0 || nfft < 2 || nfft % 2 != 0)
    throw std::invalid_argument("the format chunk gives a sampling rate of " + std::to_string(fmt->getNFS()) +
                                " Hz and a transform length of " + std::to_string(nfft) +
                                "; expected a positive rate and an even length of at least 2");
  const velkio::TransferFunctions* tf = nullptr;
  std::vector<Direction> dirs = directionsOf(file, tf);
  const std::size_t bins = static_cast<std::size_t>(nfft / 2 + 1);
  for (std::size_t d = 0; d < dirs.size(); ++d) {
    const velkio::ChannelResponses& ears = *dirs[d].responses;
    if (ears.size() <= std::max(left, right))
      throw std::invalid_argument("direction " + std::to_string(d) + " has " + std::to_string(ears.size()) +
                                  " channel(s); the ears are channels " + std::to_string(left) + " and " +
                                  std::to_string(right));
    if (ears[left].size() != bins || ears[right].size() != bins)
      throw std::invalid_argument("direction " + std::to_string(d) + " holds " +
                                  std::to_string(std::min(ears[left].size(), ears[right].size())) +
                                  " bins but a " + std::to_string(nfft) + "-point transform has " +
                                  std::to_string(bins));
  }
  // Ascending azimuth; of directions sharing an azimuth (other elevations) the one nearest the
  // horizontal plane is kept.
  std::stable_sort(dirs.begin(), dirs.end(), [](const Direction& x, const Direction& y) {
    if (x.azimuthDeg != y.azimuthDeg) return x.azimuthDeg < y.azimuthDeg;
    return std::fabs(x.elevationDeg) < std::fabs(y.elevationDeg);
  });
  auto table = std::make_shared<Table>();
  for (const Direction& d : dirs) {
    if (!table->azimuthsDeg.empty() && std::fabs(table->azimuthsDeg.back() - d.azimuthDeg) < 1e-6) continue;
    std::vector<CueCovariance> perBin(bins);
    const velkio::ChannelResponses& ears = *d.responses;
    for (std::size_t k = 0; k < bins; ++k) perBin[k] = NormalisedCovariance(ears[left][k], ears[right][k]);
    table->azimuthsDeg.push_back(d.azimuthDeg);
    table->perDirection.push_back(std::move(perBin));
  }
  ExpectedCues cues(fmt->getNFS(), nfft);
  cues.table_ = std::move(table);
  return cues;
}

ExpectedCues ExpectedCues::sphere(const SphereHead& head, int sampleRate, int nfft) {
  if (!(head.radiusM > 0.0) || !(head.distanceM > head.radiusM) || !(head.speedOfSoundMs > 0.0))
    throw std::invalid_argument("the spherical head needs a positive radius (" + std::to_string(head.radiusM) +
                                " m), a talker distance beyond it (" + std::to_string(head.distanceM) +
                                " m) and a positive speed of sound (" + std::to_string(head.speedOfSoundMs) + " m/s)");
  if (sampleRate <= 0 || nfft < 2 || nfft % 2 != 0)
    throw std::invalid_argument("a sampling rate of " + std::to_string(sampleRate) + " Hz and a transform length of " +
                                std::to_string(nfft) + "; expected a positive rate and an even length of at least 2");
  ExpectedCues cues(sampleRate, nfft);
  cues.head_ = head;
  cues.sphereCache_ = std::make_shared<SphereCache>();
  return cues;
}

std::vector<CueCovariance> ExpectedCues::covariance(double azimuthDeg) const {
  if (!std::isfinite(azimuthDeg))
    throw std::invalid_argument("the azimuth " + std::to_string(azimuthDeg) + " is not a finite number of degrees");
  return table_ ? tableCovariance(wrapDeg(azimuthDeg)) : sphereCovariance(wrapDeg(azimuthDeg));
}

std::vector<CueCovariance> ExpectedCues::tableCovariance(double azimuthDeg) const {
  const std::vector<double>& az = table_->azimuthsDeg;
  const bool frontOnly = az.front() >= -90.0 - kGridToleranceDeg && az.back() <= 90.0 + kGridToleranceDeg;
  double a = frontOnly ? foldToFront(azimuthDeg) : azimuthDeg;
  if (a <= az.front()) return table_->perDirection.front();
  if (a >= az.back()) return table_->perDirection.back();
  const std::size_t hi = static_cast<std::size_t>(std::upper_bound(az.begin(), az.end(), a) - az.begin());
  const std::size_t lo = hi - 1;
  const float t = static_cast<float>((a - az[lo]) / (az[hi] - az[lo]));
  std::vector<CueCovariance> out(bins());
  for (std::size_t k = 0; k < out.size(); ++k)
    out[k] = mix(table_->perDirection[lo][k], table_->perDirection[hi][k], t);
  return out;
}

std::vector<CueCovariance> ExpectedCues::sphereCovariance(double azimuthDeg) const {
  // The sphere is front-back symmetric: only the lateral angle matters.
  const double a = foldToFront(azimuthDeg);
  const int lo = static_cast<int>(std::floor(a));
  const float t = static_cast<float>(a - lo);
  const std::vector<CueCovariance>& below = sphereAt(lo);
  if (t == 0.0f) return below;
  const std::vector<CueCovariance>& above = sphereAt(lo + 1);
  std::vector<CueCovariance> out(bins());
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = mix(below[k], above[k], t);
  return out;
}

const std::vector<CueCovariance>& ExpectedCues::sphereAt(int wholeDegree) const {
  std::lock_guard<std::mutex> guard(sphereCache_->lock);
  auto found = sphereCache_->byDegree.find(wholeDegree);
  if (found != sphereCache_->byDegree.end()) return found->second;
  const double azimuth = wholeDegree * kPi / 180.0;
  // The left ear sits at +90 degrees, the right ear at -90 degrees.
  const double toLeft = std::acos(std::sin(azimuth));
  const double toRight = std::acos(-std::sin(azimuth));
  std::vector<CueCovariance> perBin(bins());
  for (std::size_t k = 0; k < perBin.size(); ++k) {
    const double f = static_cast<double>(k) * sampleRate_ / nfft_;
    const std::complex<double> left =
        velkio::sphereResponse(head_.radiusM, head_.distanceM, toLeft, f, head_.speedOfSoundMs);
    const std::complex<double> right =
        velkio::sphereResponse(head_.radiusM, head_.distanceM, toRight, f, head_.speedOfSoundMs);
    perBin[k] = NormalisedCovariance(std::complex<float>(left), std::complex<float>(right));
  }
  return sphereCache_->byDegree.emplace(wholeDegree, std::move(perBin)).first->second;
}

}  // namespace NSVelkBinaural
