// One sound event: a source heard over a stretch of frames, with its latest band and direction.
//
// Life cycle: NEW on creation; UPDATED on a frame where its sound was heard; PAUSED from the
// first frame without its sound; ENDED once a frame comes later than the pause start plus the
// pause length, or when it has been heard at or below the minimum rate of updates per second.
#pragma once

#include <sys/time.h>

#include "velk_binaural/Band.h"
#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

// Event identifier: 1, 2, 3, ... in order of creation; -1 means no event.
using EventID = int;

class VELK_API EventHistory {
 public:
  using Angle = NSDimensionPromise::AngleBase<double>;

  static constexpr int NEW = 0;
  static constexpr int UPDATED = 1;
  static constexpr int PAUSED = 2;
  static constexpr int ENDED = 3;

  // `pauseLength` is kept by address and must outlive the event (the manager owns it).
  // std::out_of_range "valid pause period is minus" for a negative pause length.
  EventHistory(EventID id, const timeval& now, const timeval& pauseLength, Band band, Angle direction,
               double ratioThreshold);

  // The event's sound was heard on this frame, in `band` from `direction`.
  void Update(const timeval& now, Band band, Angle direction);
  // The event's sound was not heard on this frame.
  void Update(const timeval& now);
  // Ends the event when it has been heard ratioThreshold times per second or less.
  void CheckUpdateRatio(const timeval& now);

  EventID id;
  int state;
  // Band of the fundamental at the last update. Its transform information belongs to that
  // frame, so only `band.index` may be used on later frames.
  Band band;
  Angle direction;  // radians
  timeval pauseStart;  // zero while not paused
  timeval lastUpdate;  // zero until the first update with a sound
  timeval begin;
  const timeval* pauseLength;
  unsigned int updateCount;  // frames with a sound, the creation included
  double ratioThreshold;     // updates per second at or below which the event ends
  Logger* logger;
};

}  // namespace NSVelkBinaural
