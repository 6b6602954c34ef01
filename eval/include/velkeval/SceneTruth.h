// The ground truth of a simulated scene: a folder holding the two-ear mixture, each talker's own
// two-ear image and truth.json, which names the files and gives each talker's direction and when
// it is active.
#pragma once

#include <string>
#include <vector>

namespace velkeval {

// [startSec, endSec], both ends included.
struct Interval {
  double startSec = 0.0, endSec = 0.0;
};

struct TalkerTruth {
  int index = 0;
  double azimuthDeg = 0.0;  // positive to the left, 0 ahead
  std::string imageFile;    // relative to the scene folder
  std::vector<Interval> active;

  // Whether `timeSec` lies in one of the active intervals, widened by `marginSec` on each side.
  bool activeAt(double timeSec, double marginSec = 0.0) const;
};

struct SceneTruth {
  std::string id;
  std::string dir;
  int sampleRate = 0;
  std::string mixtureFile;  // relative to the scene folder
  std::vector<TalkerTruth> talkers;

  std::string path(const std::string& file) const { return dir + "/" + file; }
  // "single", "pair", "triple" by the number of talkers, else "other".
  std::string kind() const;
  // Where a recording that starts with speech begins: 50 ms before the first talker's first
  // active interval, or 0.
  double speechStartSec() const;
};

// The truth of the scene in `dir` from the text of its truth.json. Throws std::runtime_error
// naming the file and the missing or malformed field.
SceneTruth parseSceneTruth(const std::string& jsonText, const std::string& dir);
// Reads and parses `dir`/truth.json.
SceneTruth readSceneTruth(const std::string& dir);

// The names of the folders under `root` that hold a truth.json, sorted. Throws
// std::runtime_error when `root` is not a readable folder.
std::vector<std::string> sceneFolders(const std::string& root);

std::string kindOfTalkerCount(size_t talkers);

}  // namespace velkeval
