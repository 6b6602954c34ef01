// The per-frame source lists that a localisation run writes as JSON lines, read back for the
// summary table and the plot.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

#include "fd/Object.h"

namespace velktool {

struct SourceAt {
  int id = 0;
  double azimuthDeg = 0.0;  // positive to the left
};

struct FrameSources {
  long frame = 0;
  double timeSec = 0.0;
  std::vector<SourceAt> sources;
};

// One source id over the whole run.
struct Track {
  int id = 0;
  double medianAzimuthDeg = 0.0;
  double firstSec = 0.0, lastSec = 0.0;
  long frames = 0;  // frames on which the id was reported
};

// Parses JSON lines of the form {"frame": 12, "time": 0.12, "sources": [{"id": 1, "azimuth":
// 30.0}]}; blank lines are skipped. Throws std::runtime_error naming the line on malformed input.
std::vector<FrameSources> readSourceLines(std::istream& in, const std::string& name);
std::vector<FrameSources> readSourceFile(const std::string& path);

// The same record made from a frame's source list as a network outputs it (nil = no source);
// azimuths are rounded as in the JSON lines, so both give the same summary.
FrameSources frameSources(const FD::ObjectRef& list, long frame, double timeSec);

// The tracks of every id, ordered by id.
std::vector<Track> summarizeTracks(const std::vector<FrameSources>& frames);

double median(std::vector<double> values);

}  // namespace velktool
