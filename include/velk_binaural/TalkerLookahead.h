// Talker tracks output a fixed number of frames late, so that each talker is output from its
// first report rather than from the frame the tracker confirmed it on. The tracker needs evidence
// before it gives a talker an id (CONFIRM_EVIDENCE: 0.05 to 0.25 s of speech on the test scenes);
// what consumes the tracks of a recording (the separator) loses the talker's first syllable
// meanwhile. Where a little latency does not matter, the tracks of each frame are held for
// `frames` frames, and a talker that enters the output within them (confirmed, or resumed after a
// pause) is also output on the held frames from its track's first report on.
//
//   NSVelkBinaural::TalkerLookahead lookahead(25);
//   for (each frame k) {
//     lookahead.push(time, tracker.process(time, localizer.Process(spectrum, time)));
//     if (lookahead.ready()) for (const TalkerTrack& t : lookahead.pop()) ...   // frame k - 25
//   }
//   while (!lookahead.empty()) lookahead.pop();                                 // the last frames
#pragma once

#include <deque>
#include <vector>

#include "velk_binaural/Export.h"
#include "velk_binaural/TalkerTracker.h"

namespace NSVelkBinaural {

class VELK_API TalkerLookahead {
 public:
  // Holds `frames` frames (>= 0; 0 passes each frame on as it comes). std::invalid_argument for a
  // negative count.
  explicit TalkerLookahead(int frames);

  // Takes the tracker's output for the next frame, at `timeSec`.
  void push(double timeSec, const std::vector<TalkerTrack>& talkers);
  // Whether the oldest frame held is final: `frames` frames have come after it.
  bool ready() const { return static_cast<int>(held_.size()) > frames_; }
  bool empty() const { return held_.empty(); }
  // The talkers of the oldest frame held, in order of id, which is then dropped. A talker
  // output there only because it enters later keeps its track as it was on entering; its
  // lastHeardSec is not the frame's time (it was not heard on it). std::logic_error when empty.
  std::vector<TalkerTrack> pop();

 private:
  struct Frame {
    double timeSec;
    std::vector<TalkerTrack> talkers;  // the tracker's, then the ones that entered later
  };
  static bool Has(const std::vector<TalkerTrack>& talkers, int id);

  int frames_;
  std::deque<Frame> held_;
  std::vector<int> lastIds_;  // ids the tracker output on the frame pushed last
};

}  // namespace NSVelkBinaural
