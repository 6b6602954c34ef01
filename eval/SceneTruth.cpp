#include "velkeval/SceneTruth.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace velkeval {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// How long before the first talker's activity a recording that starts with speech begins.
constexpr double kSpeechLeadSec = 0.05;

std::vector<Interval> parseIntervals(const json& list) {
  std::vector<Interval> intervals;
  for (const json& pair : list) {
    if (!pair.is_array() || pair.size() != 2) throw std::runtime_error("an active interval is not [start, end]");
    const Interval interval{pair[0].get<double>(), pair[1].get<double>()};
    if (!(interval.startSec <= interval.endSec)) throw std::runtime_error("an active interval ends before it starts");
    intervals.push_back(interval);
  }
  return intervals;
}

TalkerTruth parseTalker(const json& source) {
  TalkerTruth talker;
  talker.index = source.at("index").get<int>();
  talker.azimuthDeg = source.at("azimuth_deg").get<double>();
  talker.imageFile = source.at("image_file").get<std::string>();
  talker.active = parseIntervals(source.at("active_intervals_s"));
  return talker;
}

}  // namespace

bool TalkerTruth::activeAt(double timeSec, double marginSec) const {
  for (const Interval& i : active)
    if (i.startSec - marginSec <= timeSec && timeSec <= i.endSec + marginSec) return true;
  return false;
}

std::string kindOfTalkerCount(size_t talkers) {
  switch (talkers) {
    case 1: return "single";
    case 2: return "pair";
    case 3: return "triple";
    default: return "other";
  }
}

std::string SceneTruth::kind() const { return kindOfTalkerCount(talkers.size()); }

double SceneTruth::speechStartSec() const {
  double first = 0.0;
  bool any = false;
  for (const TalkerTruth& t : talkers)
    if (!t.active.empty()) {
      first = any ? std::min(first, t.active.front().startSec) : t.active.front().startSec;
      any = true;
    }
  return any ? std::max(0.0, first - kSpeechLeadSec) : 0.0;
}

SceneTruth parseSceneTruth(const std::string& jsonText, const std::string& dir) {
  const std::string where = dir + "/truth.json";
  SceneTruth scene;
  scene.dir = dir;
  try {
    const json truth = json::parse(jsonText);
    scene.id = truth.contains("scene_id") ? truth.at("scene_id").get<std::string>()
                                          : fs::path(dir).filename().string();
    scene.sampleRate = truth.at("sample_rate").get<int>();
    scene.mixtureFile = truth.at("mixture_file").get<std::string>();
    const json& sources = truth.at("sources");
    if (!sources.is_array()) throw std::runtime_error("\"sources\" is not a list");
    for (const json& source : sources) scene.talkers.push_back(parseTalker(source));
    if (truth.contains("num_sources") && truth.at("num_sources").get<size_t>() != scene.talkers.size())
      throw std::runtime_error("\"num_sources\" is " + truth.at("num_sources").dump() + " but \"sources\" lists " +
                               std::to_string(scene.talkers.size()));
  } catch (const json::exception& e) {
    throw std::runtime_error(where + ": " + e.what());
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(where + ": " + e.what());
  }
  if (scene.sampleRate <= 0) throw std::runtime_error(where + ": \"sample_rate\" must be positive");
  return scene;
}

SceneTruth readSceneTruth(const std::string& dir) {
  const std::string path = dir + "/truth.json";
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  return parseSceneTruth(text.str(), dir);
}

std::vector<std::string> sceneFolders(const std::string& root) {
  std::error_code ec;
  fs::directory_iterator it(root, ec);
  if (ec) throw std::runtime_error("cannot read the scene folder " + root + ": " + ec.message());
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : it)
    if (fs::is_regular_file(entry.path() / "truth.json", ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velkeval
