#include "velk_binaural/TalkerLookahead.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace NSVelkBinaural {

TalkerLookahead::TalkerLookahead(int frames) : frames_(frames) {
  if (frames < 0) throw std::invalid_argument("look-ahead of " + std::to_string(frames) + " frames: expected 0 or more");
}

bool TalkerLookahead::Has(const std::vector<TalkerTrack>& talkers, int id) {
  return std::any_of(talkers.begin(), talkers.end(), [id](const TalkerTrack& t) { return t.id == id; });
}

// A talker that was not output on the previous frame enters: it goes back onto every held frame
// from its track's first report on where it is missing. The entering talkers are at most the
// talkers held at once, so this is bounded by frames x talkers.
void TalkerLookahead::push(double timeSec, const std::vector<TalkerTrack>& talkers) {
  for (const TalkerTrack& t : talkers) {
    if (std::find(lastIds_.begin(), lastIds_.end(), t.id) != lastIds_.end()) continue;
    for (Frame& frame : held_)
      if (frame.timeSec >= t.firstSec && !Has(frame.talkers, t.id)) frame.talkers.push_back(t);
  }
  lastIds_.clear();
  for (const TalkerTrack& t : talkers) lastIds_.push_back(t.id);
  held_.push_back(Frame{timeSec, talkers});
}

std::vector<TalkerTrack> TalkerLookahead::pop() {
  if (held_.empty()) throw std::logic_error("TalkerLookahead::pop: no frame held");
  std::vector<TalkerTrack> talkers = std::move(held_.front().talkers);
  held_.pop_front();
  std::sort(talkers.begin(), talkers.end(), [](const TalkerTrack& a, const TalkerTrack& b) { return a.id < b.id; });
  return talkers;
}

}  // namespace NSVelkBinaural
