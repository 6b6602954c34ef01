// Where the sound of `localize` and `separate` comes from: a recording (a file), a stream on
// standard input ("-": a WAV stream, or headerless samples with --raw), or a capture device
// (--device). A stream and a device are heard as they arrive: the network's source node reads them
// frame by frame, and the run ends where the stream ends or when Ctrl-C asks it to.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "fd/Network.h"

namespace velktool {

struct AudioInput {
  std::string path;    // a recording, or "-" for standard input; empty with a device
  std::string device;  // an ALSA capture device
  std::string raw;     // the sample format of headerless input on standard input ("S16_LE", ...)
  int rateHz = 0;      // the sampling rate of headerless input or a device; 0 when not given

  // Read as it arrives rather than as a file.
  bool live() const { return path == "-" || !device.empty(); }
  // For messages and titles: the file's path, "standard input", "ALSA device NAME".
  std::string describe() const;
};

// Adds the positional IN (optional: --device may stand for it) and --raw, --rate, --device.
void addInputOptions(CLI::App& command, AudioInput& input);

// The options that contradict each other: IN and --device together or neither, --raw without
// "-", --rate without --raw or --device, a --rate other than the network's `samplingRateHz` (there
// is no resampling). Throws UsageError.
void checkInput(const AudioInput& input, int samplingRateHz);

// Adds the source node `name` that reads `input` into frames of `length` samples every `advance`
// samples at `samplingRateHz`, 2 channels: AudioFileSource, AudioStreamSource or
// AudioDeviceSource. A file is checked first (recordingProblem: readable, 2 channels, the rate)
// so that its problem is said plainly; std::runtime_error then. Interrupted when a stop (Ctrl-C
// under StopOnSignals) ends a stream before its header arrived.
void addSourceNode(FD::Network& network, const std::string& name, const AudioInput& input, int samplingRateHz,
                   int advance, int length, const std::string& command);

}  // namespace velktool
