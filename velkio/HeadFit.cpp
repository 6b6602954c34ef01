#include "velkio/HeadFit.h"

#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkio/HeadModel.h"

namespace velkio {
namespace {

constexpr double kPi = 3.14159265358979323846;
// The distances searched with HeadFitOptions::fitDistance, metres (log-spaced grid, then refined).
constexpr double kMinDistance = 0.2, kMaxDistance = 5.0;
constexpr int kDistanceSteps = 13;
// Radius grid step before the refinement, metres (a 4 mm change moves the phase at 1500 Hz by
// about 0.3 rad at the sides, so no minimum falls between grid points), and the refinements'
// tolerances: radius in metres, distance as its logarithm.
constexpr double kRadiusStep = 0.004;
constexpr double kRadiusTolerance = 1e-5;
constexpr double kLogDistanceTolerance = 1e-3;

// One bin of one direction: its frequency and the measured interaural phase (left minus right).
struct BinPhase {
  double frequencyHz;
  double phase;
};

struct Direction {
  double azimuthRad;
  double distance;  // the table's, metres; 0 when it has none
  std::vector<BinPhase> bins;
};

double wrapped(double phase) { return std::atan2(std::sin(phase), std::cos(phase)); }

void checkOptions(const HeadFitOptions& o) {
  if (!(o.minFrequencyHz > 0.0) || !(o.maxFrequencyHz > o.minFrequencyHz))
    throw std::invalid_argument("the band compared must have 0 < lowest < highest frequency");
  if (!(o.minRadius > 0.0) || !(o.maxRadius > o.minRadius))
    throw std::invalid_argument("the radii searched must have 0 < smallest < largest");
  if (!(o.distance >= 0.0) || !std::isfinite(o.distance))
    throw std::invalid_argument("the source distance must be positive (or 0 for the table's own)");
  if (!(o.speedOfSound > 0.0)) throw std::invalid_argument("the speed of sound must be positive");
}

// The directions of the table with the measured interaural phase of every bin in the band.
std::vector<Direction> directionsOf(const VELK& table, const HeadFitOptions& options) {
  auto fmt = table.findFirst<FMT>();
  if (!fmt || fmt->getNFS() <= 0 || fmt->getNFFT() <= 0)
    throw std::invalid_argument("the table has no format chunk with a sampling rate and a transform length");
  std::vector<Direction> directions;
  TFPtr tf;
  if (auto m2pg = table.findFirst<M2PG>()) {
    tf = m2pg->getTF();
    const PositionList& src = m2pg->getSrc();
    if (!tf || src.size() != tf->size()) throw std::invalid_argument("the table's positions and responses do not match");
    for (const auto& positions : src) {
      if (positions.empty()) throw std::invalid_argument("a direction of the table has no position");
      const Position& p = positions.front();
      directions.push_back({std::atan2(static_cast<double>(p.y), static_cast<double>(p.x)),
                            std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z), {}});
    }
  } else if (auto gtf = table.findFirst<GTF>()) {
    tf = gtf->getTF();
    const unsigned n = gtf->getNSrc();
    if (!tf || tf->size() != n) throw std::invalid_argument("the table's direction count and responses do not match");
    for (unsigned d = 0; d < n; ++d)
      directions.push_back({(n > 1 ? -90.0 + d * 180.0 / (n - 1) : 0.0) * kPi / 180.0, 0.0, {}});
  } else {
    throw std::invalid_argument("the table holds no responses");
  }
  const double binHz = static_cast<double>(fmt->getNFS()) / fmt->getNFFT();
  for (size_t d = 0; d < directions.size(); ++d) {
    const ChannelResponses& ears = (*tf)[d];
    if (ears.size() < 2) throw std::invalid_argument("the table needs two channels (left and right ear)");
    for (size_t k = 0; k < ears[0].size() && k < ears[1].size(); ++k) {
      const double f = static_cast<double>(k) * binHz;
      if (f < options.minFrequencyHz || f > options.maxFrequencyHz) continue;
      const std::complex<double> left(ears[0][k]), right(ears[1][k]);
      directions[d].bins.push_back({f, std::arg(left * std::conj(right))});
    }
    if (directions[d].bins.empty()) throw std::invalid_argument("the table has no bin in the band compared");
  }
  return directions;
}

// A model distance of 0 stands for each direction's own, which a geometric table does not have.
void requireDistances(const std::vector<Direction>& directions, double distance) {
  if (distance > 0.0) return;
  for (const Direction& d : directions)
    if (!(d.distance > 0.0)) throw std::invalid_argument("the table holds no source distances; give the distance to fit at");
}

// The sphere's interaural phase (left minus right) for a direction at one frequency.
double modelPhase(double radius, double distance, double azimuthRad, double frequencyHz, double speedOfSound) {
  // The left ear sits at +90 degrees, the right ear at -90 degrees.
  const double toLeft = std::acos(std::sin(azimuthRad)), toRight = std::acos(-std::sin(azimuthRad));
  const auto left = sphereResponse(radius, distance, toLeft, frequencyHz, speedOfSound);
  const auto right = sphereResponse(radius, distance, toRight, frequencyHz, speedOfSound);
  return std::arg(left * std::conj(right));
}

double distanceFor(const Direction& d, double distance) { return distance > 0.0 ? distance : d.distance; }

// Sum of 1 - cos(phase error) over every bin; what the fit minimises.
double cost(const std::vector<Direction>& directions, double radius, double distance, const HeadFitOptions& o) {
  double sum = 0.0;
  for (const Direction& d : directions) {
    const double r = distanceFor(d, distance);
    if (!(r > radius)) return std::numeric_limits<double>::infinity();
    for (const BinPhase& b : d.bins)
      sum += 1.0 - std::cos(b.phase - modelPhase(radius, r, d.azimuthRad, b.frequencyHz, o.speedOfSound));
  }
  return sum;
}

// Golden-section search for the minimum of f on [lo, hi], to within `tolerance`.
template <class F>
double goldenMinimum(F f, double lo, double hi, double tolerance) {
  const double g = (std::sqrt(5.0) - 1.0) / 2.0;
  double a = lo, b = hi, c = b - g * (b - a), d = a + g * (b - a);
  double fc = f(c), fd = f(d);
  while (b - a > tolerance) {
    if (fc < fd) {
      b = d, d = c, fd = fc;
      c = b - g * (b - a), fc = f(c);
    } else {
      a = c, c = d, fc = fd;
      d = a + g * (b - a), fd = f(d);
    }
  }
  return (a + b) / 2.0;
}

// The best radius at one distance: a grid over the radii searched, then refined around the best
// grid point (the cost can have several minima once the phase wraps).
std::pair<double, double> bestRadius(const std::vector<Direction>& directions, double distance, const HeadFitOptions& o) {
  double best = o.minRadius, bestCost = std::numeric_limits<double>::infinity();
  for (double r = o.minRadius; r <= o.maxRadius + 1e-12; r += kRadiusStep) {
    const double c = cost(directions, r, distance, o);
    if (c < bestCost) best = r, bestCost = c;
  }
  const double lo = std::max(o.minRadius, best - kRadiusStep), hi = std::min(o.maxRadius, best + kRadiusStep);
  const double refined =
      goldenMinimum([&](double r) { return cost(directions, r, distance, o); }, lo, hi, kRadiusTolerance);
  const double refinedCost = cost(directions, refined, distance, o);
  return refinedCost < bestCost ? std::make_pair(refined, refinedCost) : std::make_pair(best, bestCost);
}

HeadFit residualOf(const std::vector<Direction>& directions, double radius, double distance, const HeadFitOptions& o) {
  HeadFit fit;
  fit.radius = radius;
  double squares = 0.0, delaySquares = 0.0, distances = 0.0;
  for (const Direction& d : directions) {
    const double r = distanceFor(d, distance);
    distances += r;
    for (const BinPhase& b : d.bins) {
      const double e = wrapped(b.phase - modelPhase(radius, r, d.azimuthRad, b.frequencyHz, o.speedOfSound));
      squares += e * e;
      const double us = 1e6 * e / (2.0 * kPi * b.frequencyHz);
      delaySquares += us * us;
      ++fit.bins;
    }
  }
  fit.directions = directions.size();
  fit.distance = distance > 0.0 ? distance : distances / static_cast<double>(directions.size());
  fit.rmsPhaseErrorRad = std::sqrt(squares / static_cast<double>(fit.bins));
  fit.rmsDelayErrorUs = std::sqrt(delaySquares / static_cast<double>(fit.bins));
  return fit;
}

// Least-squares slope through 0 Hz of the phase unwrapped along frequency, as a time in µs.
double delayOf(const std::vector<BinPhase>& bins) {
  double previous = 0.0, offset = 0.0, num = 0.0, den = 0.0;
  for (size_t i = 0; i < bins.size(); ++i) {
    // The first bin lies low enough for its phase to be below half a turn.
    if (i > 0) offset += wrapped(bins[i].phase - previous) - (bins[i].phase - previous);
    previous = bins[i].phase;
    const double unwrapped = bins[i].phase + offset;
    num += unwrapped * bins[i].frequencyHz;
    den += bins[i].frequencyHz * bins[i].frequencyHz;
  }
  return den > 0.0 ? 1e6 * num / (2.0 * kPi * den) : 0.0;
}

}  // namespace

HeadFit fitSphereHead(const VELK& table, const HeadFitOptions& options) {
  checkOptions(options);
  const std::vector<Direction> directions = directionsOf(table, options);
  if (!options.fitDistance) {
    requireDistances(directions, options.distance);
    const double radius = bestRadius(directions, options.distance, options).first;
    return residualOf(directions, radius, options.distance, options);
  }
  // Distance on a log grid, then refined between the grid neighbours of the best, each distance
  // with its own best radius.
  auto costAt = [&](double distance) { return bestRadius(directions, distance, options).second; };
  const double ratio = std::pow(kMaxDistance / kMinDistance, 1.0 / (kDistanceSteps - 1));
  int best = 0;
  double bestCost = std::numeric_limits<double>::infinity();
  for (int i = 0; i < kDistanceSteps; ++i) {
    const double c = costAt(kMinDistance * std::pow(ratio, i));
    if (c < bestCost) best = i, bestCost = c;
  }
  const double lo = kMinDistance * std::pow(ratio, std::max(0, best - 1));
  const double hi = kMinDistance * std::pow(ratio, std::min(kDistanceSteps - 1, best + 1));
  const double distance = goldenMinimum([&](double logD) { return costAt(std::exp(logD)); }, std::log(lo),
                                        std::log(hi), kLogDistanceTolerance);
  const double radius = bestRadius(directions, std::exp(distance), options).first;
  return residualOf(directions, radius, std::exp(distance), options);
}

HeadFit sphereResidual(const VELK& table, double radius, double distance, const HeadFitOptions& options) {
  checkOptions(options);
  if (!(radius > 0.0)) throw std::invalid_argument("the sphere radius must be positive");
  const std::vector<Direction> directions = directionsOf(table, options);
  requireDistances(directions, distance);
  return residualOf(directions, radius, distance, options);
}

std::vector<InterauralDelay> interauralDelays(const VELK& table, double radius, double distance,
                                              const HeadFitOptions& options) {
  checkOptions(options);
  const std::vector<Direction> directions = directionsOf(table, options);
  requireDistances(directions, distance);
  std::vector<InterauralDelay> result;
  for (const Direction& d : directions) {
    std::vector<BinPhase> model;
    for (const BinPhase& b : d.bins)
      model.push_back({b.frequencyHz, modelPhase(radius, distanceFor(d, distance), d.azimuthRad, b.frequencyHz,
                                                 options.speedOfSound)});
    result.push_back({d.azimuthRad * 180.0 / kPi, delayOf(d.bins), delayOf(model)});
  }
  return result;
}

}  // namespace velkio
