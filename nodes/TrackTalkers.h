// The talker tracker node: turns the sources a localiser outputs frame by frame (its sound events,
// or the directions of each frame) into talker tracks with stable ids, and outputs them as the
// same source records, so that the separator, the look-ahead filter and the recorders work on
// talkers unchanged. The work is the library's TalkerTracker; the node reads its parameters,
// gives it each frame's sources at the frame's time and turns the talkers back into records.
#pragma once

#include <string>
#include <vector>

#include "NodeSupport.h"
#include "fd/NodeInfo.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/TalkerLookahead.h"
#include "velk_binaural/TalkerTracker.h"

class TrackTalkers : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  TrackTalkers(const std::string& nodeName, const FD::ParameterSet& params);

  void calculate(int outputId, int count, FD::Buffer& out) override;
  // The frame time is count x ADVANCE / SAMPLING_RATE: the network checks both against the
  // nodes upstream.
  FD::FrameGeometry frameGeometry() const override { return {0, advance_, samplingRate_}; }
  static FD::NodeInfo describe();
  // The node's parameters: the frame geometry, the tracker's, then the look-ahead.
  static const std::vector<velkparam::Declaration>& Parameters();

  const NSVelkBinaural::TalkerTracker& Tracker() const { return tracker_; }

 private:
  double frameTime(long count) const { return static_cast<double>(count) * advance_ / samplingRate_; }
  // Runs the tracker on input frame `count` and holds its talkers for the look-ahead.
  void track(long count);
  // The frame's source records as the tracker's reports: direction and strength (the power).
  const std::vector<NSVelkBinaural::SourceReport>& reportsOf(const FD::ObjectRef& ref, int count);
  FD::ObjectRef sourcesOf(const std::vector<NSVelkBinaural::TalkerTrack>& talkers, double timeSec);
  void announceNew(const std::vector<NSVelkBinaural::TalkerTrack>& talkers, double timeSec);

  int inputID, outputID;
  int samplingRate_ = 0, advance_ = 0;
  NSVelkBinaural::TalkerTracker tracker_;
  int lookaheadFrames_ = 0;
  NSVelkBinaural::TalkerLookahead lookahead_{0};
  long tracked_ = 0;  // input frames given to the tracker
  long output_ = 0;   // frames taken out of the look-ahead
  std::vector<NSVelkBinaural::SourceReport> reports_;  // of the current frame, reused
  std::vector<int> announced_;                         // talker ids announced that the tracker still holds
  NSVelkBinaural::Logger* logger_;
};
