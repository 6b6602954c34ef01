// One direction a per-frame localisation stage reports for one frame: what the localiser returns
// and what the talker tracker takes.
#pragma once

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

struct VELK_API SourceReport {
  double azimuthDeg = 0.0;  // degrees, positive to the left, 0 straight ahead
  // The evidence the report carries, in [0, 1]: for the broadband stage the share of the frame's
  // bins its direction explains; for the localiser's sound events the probability of the
  // direction on this frame, NaN on a frame where the event was not heard; 1 from a stage that
  // has no such measure.
  double strength = 1.0;
  // The reporting stage's own id for the source (an event id, stable while the event lives and
  // never reused; a direction's rank in its frame), or -1 when it has none.
  int sourceId = -1;

  // What the localiser adds to the reports it returns.
  double timeSec = 0.0;     // time of the frame, seconds from the start of the signal
  double azimuthRad = 0.0;  // the direction in radians
  // Not heard on this frame, but recently enough to keep its id (an event paused while other
  // sounds were heard).
  bool paused = false;
  double fundamentalHz = 0.0;    // sound events: the fundamental frequency when last heard
  unsigned int framesHeard = 0;  // sound events: frames on which it was heard so far
  double startSec = 0.0;         // sound events: when the event was first heard
};

}  // namespace NSVelkBinaural
