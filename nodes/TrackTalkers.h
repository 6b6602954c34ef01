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
#include "velk_binaural/TalkerTracker.h"

class TrackTalkers : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  TrackTalkers(const std::string& nodeName, const FD::ParameterSet& params);

  void calculate(int outputId, int count, FD::Buffer& out) override;
  // The frame time is count x ADVANCE / SAMPLING_RATE: the network checks both against the
  // nodes upstream.
  FD::FrameGeometry frameGeometry() const override { return {0, advance_, samplingRate_}; }
  static FD::NodeInfo describe();
  // The node's parameters: the frame geometry, then the tracker's.
  static const std::vector<velkparam::Spec>& Parameters();

  const NSVelkBinaural::TalkerTracker& Tracker() const { return tracker_; }

 private:
  // The frame's source records as the tracker's reports: direction and strength (the power).
  const std::vector<NSVelkBinaural::SourceReport>& reportsOf(const FD::ObjectRef& ref, int count);
  FD::ObjectRef sourcesOf(const std::vector<NSVelkBinaural::TalkerTrack>& talkers, double timeSec);
  void announceNew(const std::vector<NSVelkBinaural::TalkerTrack>& talkers, double timeSec);

  int inputID, outputID;
  int samplingRate_ = 0, advance_ = 0;
  NSVelkBinaural::TalkerTracker tracker_;
  std::vector<NSVelkBinaural::SourceReport> reports_;  // of the current frame, reused
  std::vector<int> announced_;                         // talker ids announced that the tracker still holds
  NSVelkBinaural::Logger* logger_;
};
