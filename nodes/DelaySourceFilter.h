// Passes on only the sources that persist: it looks DELAY frames ahead in its input and keeps a
// source of the current frame only when its id keeps turning up in the frames around it, so
// that short-lived, spurious ids are dropped.
#pragma once

#include <map>

#include "NodeSupport.h"
#include "fd/NodeInfo.h"

class DelaySourceFilter : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  DelaySourceFilter(const std::string& nodeName, const FD::ParameterSet& params);
  void calculate(int outputId, int count, FD::Buffer& out) override;
  static FD::NodeInfo describe();

 private:
  struct Track {
    int firstFrame;  // frame at which the id entered the map
    int count;       // how many times the id was met again after that
  };
  // Counts the ids of input frame `frame`.
  void updateTracks(int frame);
  void eraseStaleTracks(int count);

  int inputID;
  int outputID;
  int delay;
  std::map<int, Track> tracks;  // by id, ascending
};
