// Making a measured transfer-function file from a SOFA set of head-related impulse responses.
#pragma once

#include <string>
#include <vector>

#include "velkio/Export.h"
#include "velkio/VELK.h"

namespace velkio {

enum class DirectionRange {
  FRONT,  // -90 .. +90 degrees
  FULL,   // the whole circle, -180 .. 180 - step
};

struct VELKIO_API SofaImportOptions {
  int fs = 16000;    // sampling rate of the table, Hz
  int nfft = 512;    // transform length; the table holds nfft/2 + 1 bins
  DirectionRange range = DirectionRange::FRONT;
  int step = 5;      // degrees between directions; must divide the range
};

// Reads a SimpleFreeFieldHRIR set and returns a measured-format file (format id 1): the
// horizontal-plane measurements (elevation 0) at the chosen azimuths, in ascending order,
// resampled to `fs` and transformed with `nfft` points. Channel c holds receiver c of the set
// (receiver 0 is the left ear in the common sets). Throws FileError when the set cannot be read
// or lacks a wanted direction, std::invalid_argument for unusable options. Remarks worth showing
// the user (a truncated response, an unusual ear order) are appended to `notes` when given.
VELKIO_API VELK importSofa(const std::string& path, const SofaImportOptions& options,
                std::vector<std::string>* notes = nullptr);

// The azimuths (degrees, ascending) an import with these options takes.
VELKIO_API std::vector<int> importAzimuths(const SofaImportOptions& options);

// A position on the horizontal circle of radius `r` at `degrees` azimuth (positive to the left),
// placed so that atan2(y, x) gives back the azimuth, -180 included.
VELKIO_API Position horizontalPosition(int degrees, double r);

}  // namespace velkio
