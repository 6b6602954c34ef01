// Running the tool, reading the scenes' ground truth and the tool's JSON lines, and scoring a
// localisation run against the truth.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

// Runs the built tool with `args` (each passed as one word), capturing both output streams.
RunResult runTool(const std::vector<std::string>& args);

// A fresh directory removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Talker {
  double azimuthDeg = 0.0;
  std::vector<std::pair<double, double>> activeSec;  // [start, end] intervals
  bool activeAt(double t) const;
};

struct Scene {
  std::string id, mixPath;
  std::vector<Talker> talkers;
};

// The scene folders under VELK_SCENES_DIR, sorted; empty when it does not exist.
std::vector<std::string> sceneIds();
Scene readScene(const std::string& id);

struct Frame {
  long frame = 0;
  double timeSec = 0.0;
  std::vector<std::pair<int, double>> sources;  // (id, azimuth in degrees)
};
std::vector<Frame> readJsonLines(const std::string& path);

// How a run did for one talker, over the frames inside the talker's active intervals.
struct TalkerScore {
  long activeFrames = 0;
  int dominantId = -1;          // the id reported on most of the active frames
  double medianAzimuthDeg = 0;  // of the dominant id over the active frames
  double coverage = 0;          // share of active frames on which the dominant id is reported
  double spuriousShare = 0;     // share of active frames reporting a source far from every talker
  double errorDeg() const;
  double truthDeg = 0;
};

// `nearDeg`: how far from a talker a reported direction may lie and still be that talker.
TalkerScore scoreTalker(const std::vector<Frame>& frames, const Scene& scene, size_t talker, double nearDeg);

// For scenes with several talkers: among the ids reported on at least `minFrames` of the talker's
// active frames, the one whose median direction over those frames lies nearest to the talker
// (dominantId -1 when there is none).
TalkerScore nearestTrack(const std::vector<Frame>& frames, const Scene& scene, size_t talker, long minFrames);

}  // namespace e2e
