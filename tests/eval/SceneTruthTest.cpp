// Reading a scene's truth.json: the fields the scoring uses, and files that are not usable.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "velkeval/SceneTruth.h"

namespace {

namespace fs = std::filesystem;

const char* const kPair = R"({
  "scene_id": "pair_x", "sample_rate": 16000, "num_sources": 2, "mixture_file": "mix.flac",
  "sources": [
    {"index": 0, "azimuth_deg": -35.0, "image_file": "src0.flac", "active_intervals_s": [[1.2, 2.0], [2.5, 3.1]]},
    {"index": 1, "azimuth_deg": 5.0, "image_file": "src1.flac", "active_intervals_s": [[1.02, 4.0]]}
  ]})";

std::string messageOf(const std::string& text) {
  try {
    velkeval::parseSceneTruth(text, "/scenes/s");
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(SceneTruthTest, ReadsTheTalkersAndWhenTheySpeak) {
  const velkeval::SceneTruth scene = velkeval::parseSceneTruth(kPair, "/scenes/pair_x");
  EXPECT_EQ(scene.id, "pair_x");
  EXPECT_EQ(scene.kind(), "pair");
  EXPECT_EQ(scene.path(scene.mixtureFile), "/scenes/pair_x/mix.flac");
  ASSERT_EQ(scene.talkers.size(), 2u);
  const velkeval::TalkerTruth& first = scene.talkers[0];
  EXPECT_EQ(first.azimuthDeg, -35.0);
  EXPECT_EQ(first.imageFile, "src0.flac");
  // Interval ends count as active; the margin widens both sides.
  EXPECT_TRUE(first.activeAt(1.2));
  EXPECT_TRUE(first.activeAt(2.0));
  EXPECT_FALSE(first.activeAt(2.2));
  EXPECT_TRUE(first.activeAt(2.2, 0.5));
  EXPECT_FALSE(first.activeAt(0.6, 0.5));
  // Speech starts 50 ms before the earliest talker, whichever is listed first.
  EXPECT_NEAR(scene.speechStartSec(), 0.97, 1e-12);
}

TEST(SceneTruthTest, UnusableFilesAreRefusedNamingTheFileAndTheField) {
  EXPECT_NE(messageOf("{").find("/scenes/s/truth.json"), std::string::npos);
  std::string m = messageOf(R"({"sample_rate": 16000, "sources": []})");
  EXPECT_NE(m.find("mixture_file"), std::string::npos) << m;
  m = messageOf(R"({"sample_rate": 16000, "mixture_file": "m.wav", "sources": [{"index": 0, "image_file": "a",
                   "active_intervals_s": []}]})");
  EXPECT_NE(m.find("azimuth_deg"), std::string::npos) << m;
  m = messageOf(R"({"sample_rate": 16000, "mixture_file": "m.wav", "num_sources": 3, "sources": []})");
  EXPECT_NE(m.find("num_sources"), std::string::npos) << m;
  m = messageOf(R"({"sample_rate": 16000, "mixture_file": "m.wav", "sources": [{"index": 0, "azimuth_deg": 1,
                   "image_file": "a", "active_intervals_s": [[2.0, 1.0]]}]})");
  EXPECT_NE(m.find("ends before it starts"), std::string::npos) << m;
  m = messageOf(R"({"sample_rate": 0, "mixture_file": "m.wav", "sources": []})");
  EXPECT_NE(m.find("sample_rate"), std::string::npos) << m;
}

TEST(SceneTruthTest, SceneFoldersAreThoseWithATruthFileInNameOrder) {
  const fs::path root = fs::temp_directory_path() / ("velk_eval_" + std::to_string(::getpid()));
  fs::create_directories(root / "b_scene");
  fs::create_directories(root / "a_scene");
  fs::create_directories(root / "no_truth");
  std::ofstream(root / "b_scene" / "truth.json") << kPair;
  std::ofstream(root / "a_scene" / "truth.json") << kPair;
  std::ofstream(root / "README.md") << "not a scene";
  EXPECT_EQ(velkeval::sceneFolders(root.string()), (std::vector<std::string>{"a_scene", "b_scene"}));
  EXPECT_EQ(velkeval::readSceneTruth((root / "a_scene").string()).talkers.size(), 2u);
  EXPECT_THROW(velkeval::readSceneTruth((root / "no_truth").string()), std::runtime_error);
  fs::remove_all(root);
  EXPECT_THROW(velkeval::sceneFolders(root.string()), std::runtime_error);
}

}  // namespace
