// What the localiser reports about one source on one frame: the unit a tracker or an application
// consumes.
#pragma once

namespace NSVelkBinaural {

struct SourceReport {
  int id = 0;                // stable while the source's sound event lives; never reused
  double timeSec = 0.0;      // time of the frame, seconds from the start of the signal
  double azimuthRad = 0.0;   // direction, radians, positive to the left, 0 straight ahead
  double azimuthDeg = 0.0;   // the same direction in degrees
  // Other sounds were heard since the source was last heard; it keeps its id for the pause length.
  bool paused = false;
  // Probability of the direction among the grid's directions on this frame (0 .. 1); NaN on a
  // frame where the source was not heard.
  double probability = 0.0;
  double fundamentalHz = 0.0;  // fundamental frequency of the source's sound when last heard
  unsigned int framesHeard = 0;  // frames on which the source was heard so far
  double startSec = 0.0;         // time of the frame on which the source was first heard
};

}  // namespace NSVelkBinaural
