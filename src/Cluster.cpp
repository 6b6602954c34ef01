#include "velk_binaural/Cluster.h"

#include <stdexcept>

#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

Cluster::Cluster(const Band& band, double power) : bandPowers{BandAndPower{band, power}} {}

void Cluster::Merge(const Cluster& other) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "merging cluster", "Cluster", "Merge");
  // Indexed, with the count taken first, so that merging a cluster with itself stays defined.
  const size_t count = other.bandPowers.size();
  bandPowers.reserve(bandPowers.size() + count);
  for (size_t i = 0; i < count; ++i) AppendBand(other.bandPowers[i]);
}

void Cluster::MergePeak(const BandAndPower& peak) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "merging cluster", "Cluster", "Merge");
  AppendBand(peak);
}

void Cluster::AppendBand(BandAndPower bp) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, boost::format("merging band %d") % bp.band.index, "Cluster", "Merge");
  bandPowers.push_back(bp);
}

float Cluster::CostF(const Cluster& next) const {
  if (bandPowers.empty() || next.bandPowers.empty())
    throw std::invalid_argument("cannot compute the cost of an empty cluster");
  const int back = bandPowers.back().band.index;
  const int front = next.bandPowers.front().band.index;
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("this back band is %d, next front band is %d") % back % front, "Cluster",
                "CostF");
  return Cost(back, front);
}

float Cluster::Cost(int lastBand, int firstBand) {
  // Widened so that extreme indices cannot overflow the subtraction.
  return static_cast<long long>(firstBand) - lastBand == 1 ? 0.0f : 100.0f;
}

}  // namespace NSVelkBinaural
