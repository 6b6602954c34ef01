// `velk-binaural evaluate localize` with the command's defaults on a few scenes of each measuring
// set (the lateral, noisy, close and crowded ones), scored by the evaluation's rules, against the
// targets the localiser meets on the whole sets (README, "Evaluate on scenes with ground truth"):
//   anechoic:     every talker found; single talkers within 5 degrees with the measured tables
//                 and within 10 with the head model, talkers of mixtures within 10; at most 1.5
//                 ids per talker; at most 5% spurious reports; at least 85% of a kind's frames hit;
//   reverberant:  every talker within 10 degrees; at most 2 ids per talker;
// and the same for the recordings cut to start with speech (--trim-lead). Skipped when the sets
// are absent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "E2ESupport.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct MeasuringSet {
  const char* name;
  const char* dir;
  std::vector<std::string> scenes;
  bool anechoic;
};

const std::vector<MeasuringSet>& sets() {
  static const std::vector<MeasuringSet> all = {
      {"wide", VELK_SCENES_WIDE_DIR,
       {"single_p85_snr10", "single_m55_snr10", "pair_sep30_m35_m5_snr10", "triple_m70_m5_p55_clean"},
       true},
      {"rooms", VELK_SCENES_ROOMS_DIR,
       {"office_single_p40_snr10", "office_pair_sep30_m50_m20_snr20", "office_triple_p80_p20_m40_snr20"},
       false},
  };
  return all;
}

// The targets a row (one talker) and a kind (its scenes together) must meet.
struct Targets {
  double singleErrDeg, mixtureErrDeg, maxIdsPerTalker;
  double maxSpurious = 1.0, minHit = 0.0;  // per kind
};

Targets targetsFor(const MeasuringSet& set, const std::string& method) {
  if (!set.anechoic) return {10.0, 10.0, 2.0};
  return {method == "measured" ? 5.0 : 10.0, 10.0, 1.5, 0.05, 0.85};
}

using Case = std::tuple<std::string, std::string, bool>;  // set, method, trimmed

class MeasuringScenes : public testing::TestWithParam<Case> {};

TEST_P(MeasuringScenes, MeetTheTargets) {
  const auto& [setName, method, trimmed] = GetParam();
  const MeasuringSet* set = nullptr;
  for (const MeasuringSet& s : sets())
    if (s.name == setName) set = &s;
  ASSERT_NE(set, nullptr);
  e2e::TempDir dir;
  // The chosen scenes, linked into a folder of their own.
  for (const std::string& scene : set->scenes) {
    const fs::path from = fs::path(set->dir) / scene;
    if (!fs::exists(from / "truth.json")) GTEST_SKIP() << "no scene " << from;
    fs::create_directory_symlink(from, fs::path(dir.path()) / scene);
  }
  const std::string report = dir.file("report.json");
  std::vector<std::string> args = {"evaluate", "localize", "--scenes", dir.path(), "--method", method,
                                   "--quiet",  "--json",   report};
  if (trimmed) args.push_back("--trim-lead");
  const e2e::RunResult run = e2e::runTool(args);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::printf("%s", run.out.c_str());

  const Targets targets = targetsFor(*set, method);
  const json r = json::parse(std::ifstream(report));
  for (const json& row : r.at("rows")) {
    ASSERT_FALSE(row.at("err").is_null()) << "missed: " << row.dump();
    const double limit = row.at("kind") == "single" ? targets.singleErrDeg : targets.mixtureErrDeg;
    EXPECT_LE(row.at("err").get<double>(), limit) << row.dump();
    EXPECT_LE(row.at("ids10_per_talker").get<double>(), targets.maxIdsPerTalker) << row.dump();
  }
  for (const json& kind : r.at("kinds")) {
    EXPECT_LE(kind.at("spur_tol").get<double>(), targets.maxSpurious) << kind.dump();
    EXPECT_GE(kind.at("hit").get<double>(), targets.minHit) << kind.dump();
  }
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
  return std::get<0>(info.param) + "_" + std::get<1>(info.param) + (std::get<2>(info.param) ? "_trimmed" : "");
}

INSTANTIATE_TEST_SUITE_P(Sets, MeasuringScenes,
                         testing::Values(Case{"wide", "measured", false}, Case{"wide", "epipolar", false},
                                         Case{"wide", "measured", true}, Case{"rooms", "measured", false},
                                         Case{"rooms", "epipolar", false}, Case{"rooms", "measured", true}),
                         caseName);

}  // namespace
