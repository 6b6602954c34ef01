#include "velk_binaural/Clustering.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace NSVelkBinaural;
using NSDimensionPromise::FrequencyBase;
using testsupport::LogCapture;

namespace {

const BandInformation kInfo(FrequencyBase<double>(16000.0), 512);
using Groups = std::vector<std::vector<int>>;

PeakList Peaks(const std::vector<int>& bands, const std::vector<double>& powers = {}) {
  PeakList peaks(new std::vector<BandAndPower>);
  for (size_t i = 0; i < bands.size(); ++i)
    peaks->push_back(BandAndPower{kInfo.CreateBand(bands[i]), powers.empty() ? 50.0 : powers[i]});
  return peaks;
}

ClusterPtr ClusterOf(const std::vector<int>& bands) {
  ClusterPtr c(new Cluster);
  for (int b : bands) c->bandPowers.push_back(BandAndPower{kInfo.CreateBand(b), 0.0});
  return c;
}

Groups BandsOf(const ClusterList& clusters) {
  Groups out;
  for (const ClusterPtr& c : *clusters) {
    out.emplace_back();
    for (const BandAndPower& bp : c->bandPowers) out.back().push_back(bp.band.index);
  }
  return out;
}

// The bands named by the "merging band %d" messages, in log order.
std::vector<int> MergedBands(const std::string& log) {
  std::vector<int> out;
  const std::string key = "FINEST: merging band ";
  for (size_t pos = log.find(key); pos != std::string::npos; pos = log.find(key, pos + 1))
    out.push_back(std::stoi(log.substr(pos + key.size())));
  return out;
}

}  // namespace

TEST(ClusteringTest, RunsOfConsecutiveBandsMergeLowestFirst) {
  const std::vector<int> bands = {10, 11, 12, 20, 21, 30};
  {
    LogCapture log(LogLevel::FINEST);
    EXPECT_EQ(BandsOf(Clustering::Execute(Peaks(bands), 50.0)), (Groups{{10, 11, 12}, {20, 21}, {30}}));
    EXPECT_EQ(MergedBands(log.text()), std::vector<int>({11, 12, 21}));  // 10+11, (10,11)+12, 20+21
    EXPECT_EQ(log.count("FINE: updating clusters and calculating closest dst: init cost = 0.000000"), 1);
  }
  // The threshold is a strict bound on costs of 0 and 100.
  EXPECT_EQ(BandsOf(Clustering::Execute(Peaks(bands), 100.0)), (Groups{{10, 11, 12}, {20, 21}, {30}}));
  EXPECT_EQ(BandsOf(Clustering::Execute(Peaks(bands), 100.5)), (Groups{bands}));
  EXPECT_EQ(Clustering::Execute(Peaks(bands), 0.0)->size(), 6u);
}

TEST(ClusteringTest, EmptySingleAndNullPeakLists) {
  LogCapture log(LogLevel::FINE);
  ClusterList clusters = Clustering::Execute(Peaks({}), 50.0);
  ASSERT_TRUE(clusters);
  EXPECT_TRUE(clusters->empty());
  EXPECT_TRUE(log.contains("init cost = 179769313486231570"));
  EXPECT_EQ(BandsOf(Clustering::Execute(Peaks({7}), 500.0)), (Groups{{7}}));
  EXPECT_FALSE(log.contains("merging"));

  clusters = Clustering::Execute(PeakList(), 50.0);
  ASSERT_TRUE(clusters);
  EXPECT_TRUE(clusters->empty());
  EXPECT_TRUE(log.contains("Clustering MakeInitClusters\nWARNING: peak is null"));
  EXPECT_TRUE(log.contains("Clustering GetClosestDst\nWARNING: clusters is null"));
}

TEST(ClusteringTest, ClosestPairSkipsNullMembersAndReportsEachOnce) {
  LogCapture log(LogLevel::INFO);
  ClusterList clusters(new std::vector<ClusterPtr>{ClusterPtr(), ClusterOf({4}), ClusterPtr(), ClusterOf({6}),
                                                   ClusterOf({8}), ClusterOf({9}), ClusterOf({10})});
  ClusterPair pair = Clustering::GetClosestDst(clusters);
  EXPECT_EQ(pair.cost, 0.0);
  EXPECT_EQ(pair.first, 4);  // the lowest of the two adjacent pairs
  EXPECT_EQ(pair.second, 5);
  EXPECT_EQ(log.count("WARNING: clusters_[0] is null"), 1);
  EXPECT_EQ(log.count("WARNING: clusters_[2] is null"), 1);
  EXPECT_EQ(log.count("WARNING: clusters_["), 2);

  for (const ClusterList& list : {ClusterList(), ClusterList(new std::vector<ClusterPtr>{ClusterOf({3})})}) {
    pair = Clustering::GetClosestDst(list);
    EXPECT_EQ(pair.cost, std::numeric_limits<double>::max());
    EXPECT_EQ(pair.first, -1);
  }
  EXPECT_THROW(ClusterOf({1})->CostF(Cluster()), std::invalid_argument);
}

TEST(ClusteringTest, ProxyIsTheBandHighestAboveTheNoise) {
  FloatSignalPtr noise(new FloatSignal(40, 0.0f));
  const int bands[] = {10, 11, 12, 20, 21};
  const float levels[] = {10, 25, 12, 5, 15};
  for (int i = 0; i < 5; ++i) noise->At(bands[i]) = levels[i];
  ClusterList clusters = Clustering::Execute(Peaks({10, 11, 12, 20, 21, 30}, {30, 40, 35, 25, 35, 1}), 50.0);
  // Differences 20, 15, 23 pick band 12; 20 and 20 keep the earlier band 20.
  Clustering::ProxyList proxies = Clustering::GetProxy(clusters, noise);
  ASSERT_TRUE(proxies);
  ASSERT_EQ(proxies->size(), 3u);
  EXPECT_EQ((*proxies)[0].index, 12);
  EXPECT_EQ((*proxies)[1].index, 20);
  EXPECT_EQ((*proxies)[2].index, 30);
}

TEST(ClusteringTest, ProxyOfBadClustersAndArguments) {
  LogCapture log(LogLevel::INFO);
  FloatSignalPtr noise(new FloatSignal(10, 0.0f));
  ClusterList clusters(
      new std::vector<ClusterPtr>{ClusterOf({2}), ClusterPtr(new Cluster), ClusterPtr(), ClusterOf({9})});
  Clustering::ProxyList proxies = Clustering::GetProxy(clusters, noise);
  ASSERT_EQ(proxies->size(), 4u);
  EXPECT_EQ((*proxies)[0].index, 2);
  EXPECT_EQ((*proxies)[1].index, -1);
  EXPECT_EQ((*proxies)[1].info, nullptr);
  EXPECT_EQ((*proxies)[2].index, -1);
  EXPECT_EQ((*proxies)[3].index, 9);
  EXPECT_EQ(log.count("SEVERE: band & power list size is zero"), 1);
  EXPECT_EQ(log.count("SEVERE: cluster in cluster vector is null"), 1);

  EXPECT_FALSE(Clustering::GetProxy(ClusterList(), noise));
  EXPECT_FALSE(Clustering::GetProxy(clusters, FloatSignalPtr()));
  EXPECT_EQ(log.count("WARNING: clusters or bgnoise is null"), 2);
  EXPECT_THROW(Clustering::GetProxy(Clustering::Execute(Peaks({3, 10}), 50.0), noise), std::out_of_range);
}
