// `velk-binaural localize` on every binaural scene, with both direction methods and the default
// settings, checked against the scenes' ground truth:
//   one talker:  one dominant id over the talker's active frames, its median direction within the
//                method's tolerance, and at most 5% of the active frames reporting a source
//                more than 10 degrees (or that tolerance) away;
//   more:        every talker found within 10 degrees by an id heard on at least 10 frames;
//   both:        at most 1.5 ids heard on 10 frames or more per talker.
// Each case prints one row of the scene table (found ids, median error, spurious share).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "E2ESupport.h"

namespace {

using e2e::Frame;
using e2e::Scene;

// Largest median error of a single talker, degrees. The measured tables are the head itself; the
// head model is a sphere, whose path differences fit the head's above 1.5 kHz, where the
// broadband directions mostly come from.
double maxErrorDeg(const std::string& method) { return method == "measured" ? 5.0 : 10.0; }
const double kMaxSpuriousShare = 0.05;
const double kMaxIdsPerTalker = 1.5;
const double kFoundDeg = 10.0;    // a talker of a multi-talker scene counts as found within this
const long kMinTrackFrames = 10;  // ... by an id reported on at least this many of its frames

std::vector<Frame> localize(const Scene& scene, const std::string& method, e2e::TempDir& dir) {
  const std::string json = dir.file("sources.jsonl");
  const e2e::RunResult run = e2e::runTool({"localize", scene.mixPath, "--method", method, "--json", json, "--quiet"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return e2e::readJsonLines(json);
}

// Ids reported on at least kMinTrackFrames frames.
size_t lastingIds(const std::vector<Frame>& frames) {
  std::map<int, long> count;
  for (const Frame& f : frames)
    for (const auto& s : f.sources) ++count[s.first];
  return static_cast<size_t>(std::count_if(count.begin(), count.end(), [](const auto& c) { return c.second >= kMinTrackFrames; }));
}

std::string foundIds(const std::vector<Frame>& frames) {
  std::set<int> ids;
  for (const Frame& f : frames)
    for (const auto& s : f.sources) ids.insert(s.first);
  std::string text;
  for (int id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text.empty() ? "-" : text;
}

void printRow(const Scene& scene, const std::string& method, const std::vector<Frame>& frames, size_t talker,
              const e2e::TalkerScore& score) {
  std::printf("[ scene    ] %-26s %-8s talker %+4.0f deg: id %d median %+6.1f error %4.1f coverage %3.0f%% "
              "spurious %4.1f%%  ids %s\n",
              scene.id.c_str(), method.c_str(), scene.talkers[talker].azimuthDeg, score.dominantId,
              score.medianAzimuthDeg, score.errorDeg(), 100.0 * score.coverage, 100.0 * score.spuriousShare,
              foundIds(frames).c_str());
}

class ScenesTest : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(ScenesTest, FindsEveryTalker) {
  const Scene scene = e2e::readScene(std::get<0>(GetParam()));
  const std::string method = std::get<1>(GetParam());
  e2e::TempDir dir;
  const std::vector<Frame> frames = localize(scene, method, dir);
  ASSERT_FALSE(frames.empty());
  EXPECT_LE(static_cast<double>(lastingIds(frames)), kMaxIdsPerTalker * static_cast<double>(scene.talkers.size()))
      << "ids " << foundIds(frames);

  if (scene.talkers.size() == 1) {
    const double tolerance = maxErrorDeg(method);
    // A report within 10 degrees (or the tolerance, if wider) is the talker itself, not a false source.
    const e2e::TalkerScore score = e2e::scoreTalker(frames, scene, 0, std::max(kFoundDeg, tolerance));
    printRow(scene, method, frames, 0, score);
    ASSERT_GE(score.dominantId, 0) << "no source reported while the talker speaks";
    EXPECT_LE(score.errorDeg(), tolerance + 1e-3) << "dominant id " << score.dominantId;
    EXPECT_LE(score.spuriousShare, kMaxSpuriousShare);
    return;
  }
  for (size_t t = 0; t < scene.talkers.size(); ++t) {
    const e2e::TalkerScore score = e2e::nearestTrack(frames, scene, t, kMinTrackFrames);
    const e2e::TalkerScore spurious = e2e::scoreTalker(frames, scene, t, kFoundDeg);
    e2e::TalkerScore row = score;
    row.spuriousShare = spurious.spuriousShare;
    printRow(scene, method, frames, t, row);
    ASSERT_GE(score.dominantId, 0) << "talker at " << scene.talkers[t].azimuthDeg << " deg not found";
    EXPECT_LE(score.errorDeg(), kFoundDeg + 1e-3) << "talker at " << scene.talkers[t].azimuthDeg << " deg";
  }
}

std::vector<std::tuple<std::string, std::string>> sceneCases() {
  std::vector<std::tuple<std::string, std::string>> cases;
  for (const std::string& id : e2e::sceneIds())
    for (const char* method : {"epipolar", "measured"}) cases.emplace_back(id, method);
  return cases;
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<std::string, std::string>>& info) {
  return std::get<0>(info.param) + "_" + std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(Scenes, ScenesTest, ::testing::ValuesIn(sceneCases()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ScenesTest);

TEST(ScenesPresent, SceneFolderHoldsScenes) {
  if (e2e::sceneIds().empty())
    GTEST_SKIP() << "no binaural scenes under " << VELK_SCENES_DIR
                 << "; set -DVELK_SCENES_DIR=... to run the end-to-end localisation checks";
  SUCCEED();
}

}  // namespace
