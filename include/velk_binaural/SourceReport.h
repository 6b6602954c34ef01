// One direction a per-frame localisation stage reports for one frame.
#pragma once

namespace NSVelkBinaural {

struct SourceReport {
  double azimuthDeg = 0.0;  // degrees, positive to the left, 0 straight ahead
  // The evidence the report carries, in [0, 1]: for the broadband stage the share of the frame's
  // bins its direction explains; 1 from a stage that has no such measure.
  double strength = 1.0;
  // The reporting stage's own id for the source (an event id), or -1 when it has none.
  int sourceId = -1;
};

}  // namespace NSVelkBinaural
