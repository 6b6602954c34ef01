// An SVG picture of a localisation run: azimuth against time, one colour per source id, each
// track labelled with its id so that no legend is needed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "SourceTracks.h"

namespace velktool {

struct PlotOptions {
  std::string title;
  double durationSec = 0.0;  // length of the time axis; 0: up to the last frame
  // Directions to mark with dashed lines (the true talker directions, say), in degrees.
  std::vector<double> referenceAzimuthsDeg;
  // The frames given are every frameStride-th of the run (a long run's frames decimated); frames
  // that far apart are drawn joined.
  long frameStride = 1;
};

void writeAzimuthPlot(std::ostream& out, const std::vector<FrameSources>& frames,
                      const PlotOptions& options);
// Writes the picture to `path`; throws std::runtime_error when the file cannot be written.
void writeAzimuthPlotFile(const std::string& path, const std::vector<FrameSources>& frames,
                          const PlotOptions& options);

}  // namespace velktool
