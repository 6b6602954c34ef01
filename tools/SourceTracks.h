// The per-frame source lists of a localisation run, gathered as it runs for the summary table
// and the plot.
#pragma once

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

// The record of one frame's source list as a network outputs it (nil = no source), with
// azimuths rounded as the JSON lines of the source recorder print them.
FrameSources frameSources(const FD::ObjectRef& list, long frame, double timeSec);

// The tracks of a run gathered frame by frame, in memory that does not grow with the run's length:
// per id its first and last time, its frame count and how often each azimuth came, at 0.1-degree
// steps, from which its median is taken.
class TrackSummary {
 public:
  void add(const FrameSources& frame);
  // The tracks of every id, ordered by id.
  std::vector<Track> tracks() const;

 private:
  struct Entry {
    Track track;
    std::map<long, long> countByTenth;  // azimuth in tenths of a degree -> frames
  };
  std::map<int, Entry> entries_;
};

// The tracks of every id, ordered by id.
std::vector<Track> summarizeTracks(const std::vector<FrameSources>& frames);

double median(std::vector<double> values);

}  // namespace velktool
