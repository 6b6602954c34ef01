// `velk-binaural evaluate` as a user runs it: on the test scenes (WAV) and on a FLAC copy of one,
// its table, its JSON report, a scene that cannot be run, and usage errors. The scoring rules
// themselves are pinned in tests/eval against the reference scorer.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "E2ESupport.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

json readJson(const std::string& path) {
  std::ifstream in(path);
  return json::parse(in);
}

// Talkers in the test scenes, and of the scenes with two or more talkers.
size_t talkersIn(const std::vector<std::string>& ids, size_t minTalkers = 1) {
  size_t n = 0;
  for (const std::string& id : ids) {
    const size_t talkers = e2e::readScene(id).talkers.size();
    if (talkers >= minTalkers) n += talkers;
  }
  return n;
}

// Copies a sound file as 16-bit FLAC (lossless for 16-bit sources).
void copyAsFlac(const std::string& from, const std::string& to) {
  SF_INFO in{};
  SNDFILE* source = sf_open(from.c_str(), SFM_READ, &in);
  ASSERT_NE(source, nullptr) << from;
  std::vector<short> samples(static_cast<size_t>(in.frames * in.channels));
  sf_readf_short(source, samples.data(), in.frames);
  sf_close(source);
  SF_INFO out{};
  out.samplerate = in.samplerate;
  out.channels = in.channels;
  out.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* target = sf_open(to.c_str(), SFM_WRITE, &out);
  ASSERT_NE(target, nullptr) << sf_strerror(nullptr);
  sf_writef_short(target, samples.data(), in.frames);
  sf_close(target);
}

class EvaluateCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    ids = e2e::sceneIds();
    if (ids.empty()) GTEST_SKIP() << "no scenes in " << VELK_SCENES_DIR;
  }
  std::vector<std::string> ids;
  e2e::TempDir dir;
};

TEST_F(EvaluateCommandTest, LocalisationGivesARowPerTalkerKindLinesAndASummary) {
  const std::string report = dir.file("report.json");
  e2e::RunResult run =
      e2e::runTool({"evaluate", "localize", "--scenes", VELK_SCENES_DIR, "--method", "measured", "--json", report});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line : {"KIND single: talkers=", "KIND pair: talkers=", "KIND triple: talkers=",
                           "SUMMARY localize measured: sources="})
    EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
  EXPECT_TRUE(contains(run.err, "evaluate: 1/" + std::to_string(ids.size()))) << "progress: " << run.err;

  const json r = readJson(report);
  ASSERT_EQ(r.at("rows").size(), talkersIn(ids));
  for (const json& row : r.at("rows")) {
    for (const char* key : {"scene", "kind", "truth", "err", "hit", "spur", "spur_tol", "ids", "ids10_per_talker"})
      EXPECT_TRUE(row.contains(key)) << key;
    if (row.at("kind") == "single") {
      // The measured tables find the test scenes' single talkers.
      ASSERT_FALSE(row.at("err").is_null()) << row.dump();
      EXPECT_LE(row.at("err").get<double>(), 10.0) << row.dump();
    }
  }
  EXPECT_EQ(r.at("summary").at("sources").get<size_t>(), talkersIn(ids));
  EXPECT_EQ(r.at("summary").at("failed").get<size_t>(), 0u);

  // One kind only, the recordings cut to start with speech. Their frame times are shifted back
  // into the scenes' time, or no talker could be hit.
  run = e2e::runTool({"evaluate", "localize", "--scenes", VELK_SCENES_DIR, "--method", "measured", "--kind", "single",
                      "--trim-lead", "--quiet", "--json", report});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_FALSE(contains(run.out, "KIND pair"));
  const json trimmed = readJson(report);
  EXPECT_TRUE(trimmed.at("trim_lead").get<bool>());
  size_t singles = 0;
  for (const std::string& id : ids) singles += e2e::readScene(id).talkers.size() == 1;
  ASSERT_EQ(trimmed.at("rows").size(), singles);
  double bestHit = 0.0;
  for (const json& row : trimmed.at("rows")) bestHit = std::max(bestHit, row.at("hit").get<double>());
  EXPECT_GT(bestHit, 0.5) << trimmed.dump();
}

TEST_F(EvaluateCommandTest, SeparationScoresEveryTalkerOfTheMixturesAndReadsFlacScenesAlike) {
  const std::string report = dir.file("report.json");
  e2e::RunResult run = e2e::runTool(
      {"evaluate", "separate", "--scenes", VELK_SCENES_DIR, "--method", "measured", "--quiet", "--json", report});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "SUMMARY separate measured: outputs=")) << run.out;
  const json wav = readJson(report);
  ASSERT_EQ(wav.at("rows").size(), talkersIn(ids, 2));
  for (const json& row : wav.at("rows")) {
    EXPECT_EQ(row.at("ear").get<int>(), row.at("truth").get<double>() > 0 ? 0 : 1);
    EXPECT_TRUE(std::isfinite(row.at("si_sdr_i").get<double>()));
  }

  // The two-talker scene again, as FLAC files.
  const std::string pair = "pair_sep60_m20_p40_snr20";
  const fs::path source = fs::path(VELK_SCENES_DIR) / pair, copy = fs::path(dir.path()) / "flac" / pair;
  fs::create_directories(copy);
  json truth = readJson((source / "truth.json").string());
  copyAsFlac((source / "mix.wav").string(), (copy / "mix.flac").string());
  truth["mixture_file"] = "mix.flac";
  for (json& s : truth.at("sources")) {
    const std::string image = s.at("image_file").get<std::string>();
    const std::string flac = image.substr(0, image.find('.')) + ".flac";
    copyAsFlac((source / image).string(), (copy / flac).string());
    s["image_file"] = flac;
  }
  std::ofstream(copy / "truth.json") << truth.dump();
  run = e2e::runTool({"evaluate", "separate", "--scenes", (fs::path(dir.path()) / "flac").string(), "--method",
                      "measured", "--quiet", "--json", report});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json flac = readJson(report);
  ASSERT_EQ(flac.at("rows").size(), 2u);
  size_t matched = 0;
  for (const json& w : wav.at("rows"))
    if (w.at("scene") == pair) {
      EXPECT_EQ(w.at("si_sdr_i"), flac.at("rows")[matched].at("si_sdr_i"));
      ++matched;
    }
  EXPECT_EQ(matched, 2u);
}

TEST_F(EvaluateCommandTest, ASceneThatCannotBeRunIsReportedAndTheOthersStillScored) {
  const fs::path root = fs::path(dir.path()) / "scenes";
  fs::create_directories(root);
  fs::create_directory_symlink(fs::path(VELK_SCENES_DIR) / "single_p20_snr20", root / "a_good");
  fs::create_directories(root / "b_broken");
  json truth = readJson((fs::path(VELK_SCENES_DIR) / "single_p20_snr20" / "truth.json").string());
  truth["scene_id"] = "broken";
  truth["mixture_file"] = "absent.wav";
  std::ofstream(root / "b_broken" / "truth.json") << truth.dump();

  const e2e::RunResult run = e2e::runTool({"evaluate", "localize", "--scenes", root.string(), "--quiet"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.out, "failed: broken: ")) << run.out;
  EXPECT_TRUE(contains(run.out, "SUMMARY localize epipolar: sources=2 failed=1")) << run.out;
  EXPECT_TRUE(contains(run.err, "absent.wav")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST_F(EvaluateCommandTest, UsageErrorsExitWith2AndAFolderWithoutScenesWith1) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"evaluate"},
           {"evaluate", "localize"},
           {"evaluate", "localize", "--scenes", dir.file("absent")},
           {"evaluate", "localize", "--scenes", dir.path(), "--kind", "quartet"},
           {"evaluate", "separate", "--scenes", dir.path(), "--kind", "single"},
           {"evaluate", "separate", "--scenes", dir.path(), "--trim-lead"},
           {"evaluate", "localize", "--scenes", dir.path(), "--method", "guess"}}) {
    const e2e::RunResult run = e2e::runTool(args);
    EXPECT_EQ(run.exitCode, 2) << args.back() << ": " << run.err;
  }
  const e2e::RunResult empty = e2e::runTool({"evaluate", "localize", "--scenes", dir.path()});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_TRUE(contains(empty.err, "no scene")) << empty.err;
}

}  // namespace
