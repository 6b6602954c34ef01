// Running the localisation network over a recording: the one code path of `localize` and of the
// evaluation of localisation, so that both follow the same defaults.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "AudioInput.h"
#include "SourceTracks.h"
#include "ToolSupport.h"

namespace velktool {

// Sets the stages the command line runs the localiser of node type `nodeType` with, where the
// node's own defaults are the harmonic-event pipeline (see RecommendedStages.h for the measurements).
void chooseCommandLineStages(NetworkParameters& params, const std::string& nodeType);

// The node type that turns the localiser's sources into talker tracks; the command line puts it
// after the localiser unless asked for the localiser's own sources (--tracks events).
extern const char* const kTalkerTracker;

// What the localiser is run on and how.
struct LocalizeSettings {
  AudioInput input;
  std::string method = "epipolar";  // or "measured"
  std::string table;                // empty: the default measured table
  std::vector<int> channels{0, 1};  // the table's channels used as left and right ear
  std::string tracks = "talkers";   // or "events": the localiser's sources without the tracker
  std::vector<std::string> params;  // --param NAME=VALUE overrides
  Diagnostics diagnostics;          // progress bar, what the library says, warnings as errors
  GivenOptions given;               // on the command line: a --param may not contradict them
};

struct LocalizeRunInfo {
  long frames = 0;
  double durationSec = 0.0;  // frames x frame shift
  std::string method;        // "epipolar" or "measured", as the localiser finally ran
};

// Adds --tracks talkers|events to `command`, read into `tracks` (LocalizeSettings::tracks).
void addTracksOption(CLI::App& command, std::string& tracks);

// Builds the standard localisation network in code (audio source -> STFT -> LocalizeBinaural ->
// TrackTalkers -> source recorder; without the tracker for --tracks events), with the
// command-line defaults, the method and the overrides, and runs it over the recording, or over a
// stream or a device as its sound arrives. Every frame's sources are written as JSON lines to
// `jsonPath` (a scratch file when empty; "-" is standard output, each line written as soon as its
// frame is done) and handed to `onFrame` as the frame completes. The JSON lines take their place
// only once the run succeeded and `beforeCommit` (when given: the caller stages its own outputs
// there) returned. Throws std::runtime_error for a recording that cannot be localised, UsageError
// for a --param that contradicts an option given or input options that contradict each other, and
// what the parameters and the network throw.
LocalizeRunInfo runLocalization(const LocalizeSettings& settings, const std::string& jsonPath,
                                const std::function<void(const FrameSources&)>& onFrame,
                                const std::function<void(const LocalizeRunInfo&)>& beforeCommit = {});

}  // namespace velktool
