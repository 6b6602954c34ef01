// Mapping between azimuths in whole degrees and direction indices of a regular grid.
#pragma once

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class VELK_API DirectionConverter {
 public:
  DirectionConverter(int step, int origin) : step(step), origin(origin) {}
  // (degree - origin) / step, truncated toward zero. A step of 0 (the placeholder a measured
  // table localiser holds until its first frame) throws std::logic_error.
  int ToIndex(int degree) const;
  // index * step + origin.
  int ToDegree(unsigned int index) const;

  int step;    // degrees from one index to the next; negative when indices run left to right
  int origin;  // azimuth in degrees of index 0
};

// The process-wide converter: step -5, origin 90 at load (index 0 = +90, index 36 = -90).
// Nothing in the library reads it (each pipeline owns its grid); localiser nodes set it to their
// pipeline's grid for whoever reads it from outside.
extern VELK_API DirectionConverter gDirConv;

}  // namespace NSVelkBinaural
