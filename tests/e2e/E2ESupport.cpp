#include "E2ESupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace e2e {

namespace fs = std::filesystem;

namespace {

// Directions travel as float cosines and sines: a source on the 5-degree grid comes back a few
// millionths of a degree off.
const double kSlackDeg = 1e-3;

std::string shellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : 0.5 * (v[mid - 1] + v[mid]);
}

bool nearAnyTalker(const Scene& scene, double azimuthDeg, double nearDeg) {
  for (const Talker& t : scene.talkers)
    if (std::fabs(azimuthDeg - t.azimuthDeg) <= nearDeg + kSlackDeg) return true;
  return false;
}

}  // namespace

RunResult runTool(const std::vector<std::string>& args) {
  TempDir dir;
  std::string command = shellQuote(VELK_TOOL);
  for (const std::string& a : args) command += " " + shellQuote(a);
  command += " >" + shellQuote(dir.file("out")) + " 2>" + shellQuote(dir.file("err")) + " </dev/null";
  const int status = std::system(command.c_str());
  RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = slurp(dir.file("out"));
  result.err = slurp(dir.file("err"));
  return result;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "velk-e2e-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool Talker::activeAt(double t) const {
  for (const auto& interval : activeSec)
    if (t >= interval.first && t <= interval.second) return true;
  return false;
}

std::vector<std::string> sceneIds() {
  std::vector<std::string> ids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(VELK_SCENES_DIR, ec))
    if (entry.is_directory() && fs::exists(entry.path() / "truth.json")) ids.push_back(entry.path().filename());
  std::sort(ids.begin(), ids.end());
  return ids;
}

Scene readScene(const std::string& id) {
  const fs::path dir = fs::path(VELK_SCENES_DIR) / id;
  const nlohmann::json truth = nlohmann::json::parse(slurp((dir / "truth.json").string()));
  Scene scene;
  scene.id = id;
  scene.mixPath = (dir / truth.at("mixture_file").get<std::string>()).string();
  for (const auto& source : truth.at("sources")) {
    Talker talker;
    talker.azimuthDeg = source.at("azimuth_deg").get<double>();
    for (const auto& interval : source.at("active_intervals_s"))
      talker.activeSec.emplace_back(interval.at(0).get<double>(), interval.at(1).get<double>());
    scene.talkers.push_back(talker);
  }
  return scene;
}

std::vector<Frame> readJsonLines(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("no JSON lines at " + path);
  std::vector<Frame> frames;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const nlohmann::json j = nlohmann::json::parse(line);
    Frame f;
    f.frame = j.at("frame").get<long>();
    f.timeSec = j.at("time").get<double>();
    for (const auto& s : j.at("sources")) f.sources.emplace_back(s.at("id").get<int>(), s.at("azimuth").get<double>());
    frames.push_back(f);
  }
  return frames;
}

double TalkerScore::errorDeg() const { return std::fabs(medianAzimuthDeg - truthDeg); }

TalkerScore scoreTalker(const std::vector<Frame>& frames, const Scene& scene, size_t talker, double nearDeg) {
  const Talker& truth = scene.talkers.at(talker);
  TalkerScore score;
  score.truthDeg = truth.azimuthDeg;
  std::map<int, std::vector<double>> azimuthsById;
  long spurious = 0;
  for (const Frame& f : frames) {
    if (!truth.activeAt(f.timeSec)) continue;
    ++score.activeFrames;
    bool far = false;
    for (const auto& source : f.sources) {
      azimuthsById[source.first].push_back(source.second);
      far = far || !nearAnyTalker(scene, source.second, nearDeg);
    }
    spurious += far ? 1 : 0;
  }
  size_t most = 0;
  for (const auto& entry : azimuthsById)
    if (entry.second.size() > most) {
      most = entry.second.size();
      score.dominantId = entry.first;
    }
  if (score.activeFrames == 0) return score;
  if (score.dominantId >= 0) score.medianAzimuthDeg = median(azimuthsById[score.dominantId]);
  score.coverage = static_cast<double>(most) / score.activeFrames;
  score.spuriousShare = static_cast<double>(spurious) / score.activeFrames;
  return score;
}

TalkerScore nearestTrack(const std::vector<Frame>& frames, const Scene& scene, size_t talker, long minFrames) {
  const Talker& truth = scene.talkers.at(talker);
  TalkerScore score;
  score.truthDeg = truth.azimuthDeg;
  std::map<int, std::vector<double>> azimuthsById;
  for (const Frame& f : frames) {
    if (!truth.activeAt(f.timeSec)) continue;
    ++score.activeFrames;
    for (const auto& source : f.sources) azimuthsById[source.first].push_back(source.second);
  }
  double bestError = INFINITY;
  for (const auto& entry : azimuthsById) {
    if (static_cast<long>(entry.second.size()) < minFrames) continue;
    const double m = median(entry.second);
    if (std::fabs(m - truth.azimuthDeg) < bestError) {
      bestError = std::fabs(m - truth.azimuthDeg);
      score.dominantId = entry.first;
      score.medianAzimuthDeg = m;
      score.coverage = static_cast<double>(entry.second.size()) / score.activeFrames;
    }
  }
  return score;
}

}  // namespace e2e
