// Running the separation network over a recording: the one code path of `separate` and of the
// evaluation of separation, so that both follow the same defaults.
#pragma once

#include <string>
#include <vector>

#include "AudioInput.h"
#include "ToolSupport.h"

namespace velktool {

// Pass-band half-widths of the separator, degrees: straight ahead and at +-90 (linear in
// between). The separator's declared defaults (RANGE_MIN, RANGE_MAX), where their measurements
// are; the command line shows them in its help.
constexpr double kDefaultRangeMinDeg = 20.0;
constexpr double kDefaultRangeMaxDeg = 40.0;

// The separators `separate` can run: the soft masks (SeparateSoftMask), the default since it
// measures best (README, "Separate talkers"), and the pass band (SeparateBinaural).
constexpr const char* kMaskSeparator = "mask";
constexpr const char* kPassBandSeparator = "passband";

struct SeparateOptions {
  AudioInput input;
  std::string outDir;  // empty: no files per source
  std::string out;     // one source's sound to this file or, with "-", to standard output; empty: none
  int sourceId = -1;   // the source written to `out`; < 0: the only given direction
  std::string outFormat = "WAV";  // of `out`: "WAV" or headerless "S16_LE", "F32_LE"
  std::vector<double> directionsDeg;
  bool localize = false;
  int delay = -1;  // < 0: no look-ahead filter
  std::string separator = kMaskSeparator;
  std::string method = "epipolar";
  std::string table;  // empty: the example table
  double rangeMinDeg = kDefaultRangeMinDeg, rangeMaxDeg = kDefaultRangeMaxDeg;
  std::vector<std::string> params;
  Diagnostics diagnostics;
  GivenOptions given;  // on the command line: a --param may not contradict them
};

// One separated source over the whole run.
struct SeparatedSource {
  int id = 0;
  double azimuthDeg = 0.0;  // the given direction, or the mean of the localised ones
  long frames = 0;          // frames on which it was separated
  double firstSec = 0.0, lastSec = 0.0;
  std::string file;  // relative to the output folder
};

struct SeparationRun {
  long frames = 0;
  double durationSec = 0.0;
  std::vector<SeparatedSource> sources;  // by id
};

// Runs the separation network over options.input (a recording, or a stream or a device as its
// sound arrives) and leaves outDir/source_<id>.wav per source and outDir/sources.json, all of them
// taking their places only when the run succeeds (a failed run leaves the folder as it was, and
// removes it if it made it); and writes the chosen source's sound to `out` as it is made. Throws
// std::runtime_error for a recording that cannot be separated or an output folder that cannot be
// made, UsageError for input options that contradict each other, and what the parameters and the
// network throw.
SeparationRun runSeparation(const SeparateOptions& options);

}  // namespace velktool
