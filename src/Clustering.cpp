#include "velk_binaural/Clustering.h"

#include <limits>

#include <boost/make_shared.hpp>

#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

namespace {

void Log(int level, const char* message, const char* function) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(level)) logger->Log(level, message, "Clustering", function);
}

void ReportNullCluster(size_t position) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::WARNING))
    logger->Log(LogLevel::WARNING, boost::format("clusters_[%d] is null") % position, "Clustering", "GetClosestDst");
}

// The band of the cluster that stands highest above the noise; the earliest one on ties.
Band ProxyOf(const Cluster& cluster, const FloatSignal& bgnoise) {
  Logger* logger = Logger::Global();
  const std::vector<BandAndPower>& bands = cluster.bandPowers;
  const BandAndPower* best = &bands.front();
  double max = static_cast<double>(static_cast<long double>(best->power) -
                                   bgnoise.At(static_cast<size_t>(best->band.index)));
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("initialize max : %f") % max, "Clustering", "GetProxy");
  for (size_t k = 1; k < bands.size(); ++k) {
    const BandAndPower& bp = bands[k];
    const float noise = bgnoise.At(static_cast<size_t>(bp.band.index));
    const double d = static_cast<double>(static_cast<long double>(bp.power) - noise);
    if (!(d > max)) continue;
    if (logger->IsLoggable(LogLevel::FINEST))
      logger->Log(LogLevel::FINEST,
                  boost::format("bp->power = %f, bgnoise_.At(%d) = %f") % bp.power % bp.band.index % noise,
                  "Clustering", "GetProxy");
    max = d;
    best = &bp;
  }
  return best->band;
}

}  // namespace

ClusterPair ClusterPair::Empty() { return ClusterPair{std::numeric_limits<double>::max(), -1, -1}; }

namespace Clustering {

ClusterList MakeInitClusters(const PeakList& peaks) {
  if (!peaks) {
    Log(LogLevel::WARNING, "peak is null", "MakeInitClusters");
    return ClusterList();
  }
  Logger* logger = Logger::Global();
  ClusterList clusters = boost::make_shared<std::vector<ClusterPtr>>();
  clusters->reserve(peaks->size());
  for (size_t k = 0; k < peaks->size(); ++k) {
    const BandAndPower& peak = (*peaks)[k];
    if (logger->IsLoggable(LogLevel::FINEST))
      logger->Log(LogLevel::FINEST, boost::format("adding a cluster, No %d, band %d") % k % peak.band.index,
                  "Clustering", "MakeInitClusters");
    clusters->push_back(boost::make_shared<Cluster>(peak.band, peak.power));
  }
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("made %d clusters") % clusters->size(), "Clustering",
                "MakeInitClusters");
  return clusters;
}

ClusterPair GetClosestDst(const ClusterList& clusters) {
  ClusterPair pair = ClusterPair::Empty();
  if (!clusters) {
    Log(LogLevel::WARNING, "clusters is null", "GetClosestDst");
    return pair;
  }
  if (clusters->empty()) return pair;
  Log(LogLevel::FINE, "calculating cost and index", "GetClosestDst");
  const std::vector<ClusterPtr>& list = *clusters;
  for (size_t i = 0; i + 1 < list.size(); ++i) {
    // Each null member is reported once: as the right member of its pair, or as the very first.
    if (!list[i + 1]) {
      ReportNullCluster(i + 1);
      continue;
    }
    if (!list[i]) {
      if (i == 0) ReportNullCluster(0);
      continue;
    }
    const double cost = list[i]->CostF(*list[i + 1]);
    if (cost < pair.cost) pair = ClusterPair{cost, static_cast<int>(i), static_cast<int>(i + 1)};
  }
  return pair;
}

namespace {
void ReportInitialCost(const PeakList& peaks) {
  const ClusterPair pair = GetClosestDst(MakeInitClusters(peaks));
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE,
                boost::format("updating clusters and calculating closest dst: init cost = %f") % pair.cost,
                "Clustering", "Execute");
}
}  // namespace

ClusterList Execute(const PeakList& peaks, double threshold) {
  // The clusters of single peaks and their cheapest pair are made only to be reported.
  if (!peaks || Logger::Global()->IsLoggable(LogLevel::FINE)) ReportInitialCost(peaks);
  ClusterList result = boost::make_shared<std::vector<ClusterPtr>>();
  if (!peaks) return result;

  // Merging the cheapest neighbouring pair again and again until no pair costs less than the
  // threshold ends in the maximal runs of neighbouring peaks whose pairwise cost is below it: a
  // pair's cost depends only on the last band of the first cluster and the first band of the
  // second, and a merge keeps both. So one pass from the lowest band builds the same clusters, in
  // the same order, without making a cluster per peak and rescanning the list after every merge.
  result->reserve(peaks->size());
  for (const BandAndPower& peak : *peaks) {
    if (!result->empty() &&
        static_cast<double>(Cluster::Cost(result->back()->bandPowers.back().band.index, peak.band.index)) < threshold)
      result->back()->MergePeak(peak);
    else
      result->push_back(boost::make_shared<Cluster>(peak.band, peak.power));
  }
  return result;
}

ProxyList GetProxy(const ClusterList& clusters, const FloatSignalPtr& bgnoise) {
  if (!clusters || !bgnoise) {
    Log(LogLevel::WARNING, "clusters or bgnoise is null", "GetProxy");
    return ProxyList();
  }
  ProxyList proxies = boost::make_shared<std::vector<Band>>();
  proxies->reserve(clusters->size());
  for (const ClusterPtr& cluster : *clusters) {
    if (!cluster) {
      Log(LogLevel::SEVERE, "cluster in cluster vector is null", "GetProxy");
      proxies->push_back(Band());
    } else if (cluster->bandPowers.empty()) {
      Log(LogLevel::SEVERE, "band & power list size is zero", "GetProxy");
      proxies->push_back(Band());
    } else {
      proxies->push_back(ProxyOf(*cluster, *bgnoise));
    }
  }
  return proxies;
}

}  // namespace Clustering
}  // namespace NSVelkBinaural
