// Fitting the spherical head model to a table: spheres of known size rendered as tables are
// fitted back to that size, and tables the fit cannot use are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "velkio/HeadFit.h"
#include "velkio/HeadModel.h"
#include "velkio/SofaImport.h"

namespace {

// Every 5 degrees (37 directions), or every 30 (7) where the fit is slow.
velkio::VELK sphereTable(double radius, double distance, int directions = 37) {
  velkio::HeadModelOptions o;
  o.radius = radius;
  o.distance = distance;
  o.directions = directions;
  return velkio::makeHeadModel(o);
}

// The same responses as a measured table whose positions lie at `distance`.
velkio::VELK asMeasured(const velkio::VELK& geometric, double distance) {
  auto gtf = geometric.findFirst<velkio::GTF>();
  velkio::PositionList positions;
  for (unsigned d = 0; d < gtf->getNSrc(); ++d)
    positions.push_back({velkio::horizontalPosition(-90 + static_cast<int>(d) * 5, distance)});
  auto fmt = geometric.findFirst<velkio::FMT>();
  velkio::VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, fmt->getNFS(), fmt->getNFFT(), fmt->getNIR()));
  file.addChunk(std::make_shared<velkio::M2PG>(positions, gtf->getTF()));
  return file;
}

TEST(HeadFitTest, ASphereIsFittedBackToItsRadius) {
  velkio::HeadFitOptions options;
  options.distance = 1.4;
  const velkio::HeadFit fit = velkio::fitSphereHead(sphereTable(0.0875, 1.4), options);
  EXPECT_NEAR(fit.radius, 0.0875, 2e-4);
  EXPECT_EQ(fit.distance, 1.4);
  EXPECT_EQ(fit.directions, 37u);
  EXPECT_EQ(fit.bins, 37u * 42u);  // 218.75 .. 1500 Hz at 31.25 Hz
  EXPECT_LT(fit.rmsPhaseErrorRad, 1e-3);

  // Another size, from a measured table that carries its own distance.
  const velkio::HeadFit measured = velkio::fitSphereHead(asMeasured(sphereTable(0.11, 1.2), 1.2), {});
  EXPECT_NEAR(measured.radius, 0.11, 2e-4);
  EXPECT_NEAR(measured.distance, 1.2, 1e-6);
  // A wrong sphere leaves a clear residual, and a later ear on the far side.
  const velkio::HeadFit wrong = velkio::sphereResidual(sphereTable(0.0875, 1.4), 0.07, 1.4, options);
  EXPECT_GT(wrong.rmsPhaseErrorRad, 20 * fit.rmsPhaseErrorRad);
  EXPECT_GT(wrong.rmsDelayErrorUs, 30.0);
}

TEST(HeadFitTest, ANearSourceIsFittedBackToItsRadiusAndDistance) {
  velkio::HeadFitOptions options;
  options.fitDistance = true;
  const velkio::HeadFit fit = velkio::fitSphereHead(sphereTable(0.09, 0.4, 7), options);
  EXPECT_NEAR(fit.radius, 0.09, 1e-3);
  EXPECT_NEAR(fit.distance, 0.4, 0.05);
}

TEST(HeadFitTest, InterauralDelaysFollowTheSideAndTheModel) {
  velkio::HeadFitOptions options;
  options.distance = 1.4;
  const auto delays = velkio::interauralDelays(sphereTable(0.0875, 1.4), 0.0875, 1.4, options);
  ASSERT_EQ(delays.size(), 37u);
  EXPECT_NEAR(delays.front().azimuthDeg, -90.0, 1e-9);
  EXPECT_NEAR(delays[18].measuredUs, 0.0, 1.0);  // straight ahead
  // On the left the left ear hears first; at the side by about (a / c)(pi/2 + 1) for a far source.
  EXPECT_GT(delays.back().measuredUs, 600.0);
  EXPECT_LT(delays.front().measuredUs, -600.0);
  for (const auto& d : delays) EXPECT_NEAR(d.measuredUs, d.modelUs, 1.0) << d.azimuthDeg;
}

TEST(HeadFitTest, UnusableTablesAndOptionsAreRefused) {
  const velkio::VELK sphere = sphereTable(0.09, 1.0);
  EXPECT_THROW(velkio::fitSphereHead(sphere, {}), std::invalid_argument) << "a geometric table has no distances";
  velkio::HeadFitOptions options;
  options.distance = 1.0;
  options.minFrequencyHz = 10.0;
  options.maxFrequencyHz = 20.0;  // between two bins
  EXPECT_THROW(velkio::fitSphereHead(sphere, options), std::invalid_argument);
  options.minFrequencyHz = 300.0;
  options.maxFrequencyHz = 200.0;
  EXPECT_THROW(velkio::fitSphereHead(sphere, options), std::invalid_argument);
  EXPECT_THROW(velkio::fitSphereHead(velkio::VELK(), {}), std::invalid_argument);
}

}  // namespace
