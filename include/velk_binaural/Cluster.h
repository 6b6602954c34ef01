// A cluster: a group of neighbouring peak bands of one channel, in ascending band order.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class VELK_API Cluster {
 public:
  Cluster() = default;
  // A cluster of the single peak (band, power).
  Cluster(const Band& band, double power);

  // Appends the other cluster's bands, in their order, after this cluster's own.
  void Merge(const Cluster& other);
  // Merges the cluster of the single peak `peak` without making it first.
  void MergePeak(const BandAndPower& peak);
  // Merging cost of this cluster with the next one: 0 when next starts at the band right after
  // this cluster's last band, 100 otherwise. Throws std::invalid_argument if either is empty.
  float CostF(const Cluster& next) const;
  // The same cost from the last band of one cluster and the first band of the next.
  static float Cost(int lastBand, int firstBand);

  std::vector<BandAndPower> bandPowers;

 private:
  void AppendBand(BandAndPower bp);
};

using ClusterPtr = boost::shared_ptr<Cluster>;
using ClusterList = boost::shared_ptr<std::vector<ClusterPtr>>;

}  // namespace NSVelkBinaural
