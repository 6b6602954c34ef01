// The per-frame source lists of a localisation run, summarised as they come for the summary
// table, the comparison with known directions and the plot. Nothing here keeps every frame, so
// the memory a run needs does not grow with its length.
#pragma once

#include <map>
#include <string>
#include <utility>
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
  // Per direction given to the summary, the frames on which the id was reported within
  // kNearTruthDeg of it.
  std::vector<long> framesNearTruth;
};

// How far from a known direction a report may lie and still count as that talker, degrees.
constexpr double kNearTruthDeg = 20.0;

// The record of one frame's source list as a network outputs it (nil = no source), with
// azimuths as the JSON lines of the source recorder print them.
FrameSources frameSources(const FD::ObjectRef& list, long frame, double timeSec);

// The tracks of every id, summarised frame by frame. The median direction is taken from a count
// of reports per 0.01 degree, so a track holds one counter per distinct direction it took.
class TrackSummary {
 public:
  // `truthDeg`: known talker directions to count each track's nearby frames against.
  explicit TrackSummary(std::vector<double> truthDeg = {});
  void add(const FrameSources& frame);
  // Ordered by id.
  std::vector<Track> tracks() const;

 private:
  struct Entry {
    Track track;
    std::map<long, long> reportsPerStep;  // azimuth in 0.01 degree steps -> reports
  };
  std::vector<double> truthDeg_;
  std::map<int, Entry> entries_;
};

// The per-frame source lists kept for a plot: every frame while they are few, then every second,
// fourth, ... frame, so that no more than `capacity` frames are held however long the run.
class DecimatedFrames {
 public:
  explicit DecimatedFrames(size_t capacity = 16384);
  void add(FrameSources frame);
  const std::vector<FrameSources>& frames() const { return frames_; }
  // Frames kept are those whose index is a multiple of this.
  long stride() const { return stride_; }

 private:
  size_t capacity_;
  long stride_ = 1;
  std::vector<FrameSources> frames_;
};

// How the tracks of a run compare with the true directions of its talkers. A track belongs to
// the talker it was reported near (within kNearTruthDeg) on most of its frames, provided that is
// at least half of them; otherwise it matches no talker. Each talker is found by the track of
// its own that was reported near it on the most frames.
struct TalkerMatch {
  double truthDeg = 0.0;
  const Track* found = nullptr;  // null: the talker was not found
  std::vector<const Track*> tracks;  // every track that belongs to the talker
};

struct TruthComparison {
  std::vector<TalkerMatch> talkers;       // in the order of the true directions
  std::vector<const Track*> unmatched;    // tracks of no talker, by id
};

// `tracks` must have been summarised against `truthDeg` and outlive the result.
TruthComparison compareWithTruth(const std::vector<Track>& tracks, const std::vector<double>& truthDeg);

double median(std::vector<double> values);

}  // namespace velktool
