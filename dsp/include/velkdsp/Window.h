// Analysis windows for short-time spectra.
#pragma once

#include <string>
#include <vector>

#include "velkdsp/Export.h"

namespace velkdsp {

enum class WindowShape { Hann, Hamming, Rectangle };

// The names of the shapes, in the order of WindowShape.
VELKDSP_API const std::vector<std::string>& windowShapeNames();

// "HANN", "HAMMING" or "RECTANGLE"; throws std::invalid_argument naming the accepted texts.
VELKDSP_API WindowShape windowShapeFromName(const std::string& name);

// The periodic form of the window over `length` samples: w[n] = 0.5 - 0.5 cos(2 pi n / length)
// for Hann, 0.54 - 0.46 cos(2 pi n / length) for Hamming, 1 for Rectangle. Periodic (not
// symmetric) because shifted copies of it are what short-time analysis overlaps.
VELKDSP_API std::vector<float> makeWindow(WindowShape shape, int length);

}  // namespace velkdsp
