// Band clustering: groups the peak bands of one channel into runs of neighbouring bands and
// picks one representative band (the proxy) per group.
//
// The grouping is agglomerative: every peak starts as its own cluster and the cheapest pair of
// adjacent clusters is merged while its cost stays below a threshold.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/Cluster.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Peak.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

// The cheapest pair of adjacent clusters: its cost and the positions of its two members
// (second == first + 1). The empty pair has the largest finite double as cost and -1, -1.
struct VELK_API ClusterPair {
  static ClusterPair Empty();
  bool IsEmpty() const { return first < 0; }

  double cost;
  int first;
  int second;
};

namespace Clustering {

// One representative band per cluster, in cluster order.
using ProxyList = boost::shared_ptr<std::vector<Band>>;

// One cluster per peak, in peak order; null (after a WARNING) for a null peak list.
VELK_API ClusterList MakeInitClusters(const PeakList& peaks);

// The cheapest adjacent pair; the lowest positions win ties. The empty pair for a null list
// (after a WARNING), an empty list or a single cluster. A pair with a null member is reported
// and skipped.
VELK_API ClusterPair GetClosestDst(const ClusterList& clusters);

// Clusters the peaks: merges the cheapest adjacent pair while its cost is below `threshold`.
// Always returns a list; a null peak list gives an empty one.
VELK_API ClusterList Execute(const PeakList& peaks, double threshold);

// The proxy of every cluster: the band whose power stands highest above `bgnoise` (the lowest
// such band on ties). A null or empty cluster gives the invalid band at its position (after a
// SEVERE). Null (after a WARNING) when either argument is null. A band beyond the noise signal
// throws std::out_of_range.
VELK_API ProxyList GetProxy(const ClusterList& clusters, const FloatSignalPtr& bgnoise);

}  // namespace Clustering
}  // namespace NSVelkBinaural
