#include "AudioInput.h"

#include <stdexcept>

#include "OptionChecks.h"
#include "ToolSupport.h"
#include "fd/AudioStream.h"
#include "fd/Exception.h"
#include "fd/StopRequest.h"
#include "fd/Values.h"

namespace velktool {

std::string AudioInput::describe() const {
  if (!device.empty()) return "ALSA device " + device;
  return path == "-" ? "standard input" : path;
}

void addInputOptions(CLI::App& command, AudioInput& input) {
  command.add_option("IN", input.path,
                     "2-channel recording (WAV, FLAC, ...), or - for a stream on standard input (a WAV stream, or "
                     "headerless samples with --raw), heard as it arrives");
  std::string formats;
  for (const std::string& name : FD::rawFormatNames()) formats += (formats.empty() ? "" : ", ") + name;
  command.add_option("--raw", input.raw,
                     "with IN -: standard input carries headerless samples of this format (" + formats +
                         "), 2 channels interleaved, left first")
      ->check(CLI::IsMember(FD::rawFormatNames()));
  command.add_option("--rate", input.rateHz,
                     "with --raw or --device: the sampling rate of the input in Hz (default: the network's, 16000)")
      ->check(WholeNumber({1, 1e6}, "a sampling rate in Hz"));
  command.add_option("--device", input.device,
                     "capture from this ALSA device instead of reading IN (\"default\", \"plughw:1\", ...) until "
                     "Ctrl-C");
}

void checkInput(const AudioInput& input, int samplingRateHz) {
  if (input.path.empty() == input.device.empty())
    throw UsageError(input.path.empty() ? "give a recording (IN), - for standard input, or --device NAME"
                                        : "give either a recording (IN) or --device " + input.device + ", not both");
  if (!input.raw.empty() && input.path != "-")
    throw UsageError("--raw " + input.raw + " describes headerless samples on standard input; give - as IN" +
                     (input.device.empty() ? " (a file says its own format)" : " (a device is read in its own format)"));
  if (input.rateHz != 0 && input.raw.empty() && input.device.empty())
    throw UsageError("--rate is for headerless samples (--raw) and devices (--device); a WAV stream or a file says its "
                     "own sampling rate");
  if (input.rateHz != 0 && input.rateHz != samplingRateHz)
    throw UsageError("--rate " + std::to_string(input.rateHz) + " differs from the " + std::to_string(samplingRateHz) +
                     " Hz the network works at, and sound is not resampled here: resample the input first (sox -r " +
                     std::to_string(samplingRateHz) + "), capture through a \"plughw:\" device, or set --param "
                     "SAMPLING_RATE=" + std::to_string(input.rateHz));
}

namespace {

// A stream source waits for the stream's header as it is made. Ctrl-C while it waits ends the
// stream before any sound came: the run is abandoned, as a run over recordings is, rather than
// failing on a header cut short.
void addLiveSource(FD::Network& network, const std::string& type, const std::string& name,
                   const FD::ParameterSet& params) {
  try {
    network.addNode(type, name, params);
  } catch (FD::BaseException* e) {
    if (!FD::stopRequested()) throw;
    delete e;
    throw Interrupted();
  }
}

}  // namespace

void addSourceNode(FD::Network& network, const std::string& name, const AudioInput& input, int samplingRateHz,
                   int advance, int length, const std::string& command) {
  FD::ParameterSet source;
  source.add("SAMPLING_RATE", intValue(samplingRateHz));
  source.add("CHANNELS", intValue(2));
  source.add("LENGTH", intValue(length));
  source.add("ADVANCE", intValue(advance));
  if (!input.device.empty()) {
    source.add("DEVICE", textValue(input.device));
    addLiveSource(network, "AudioDeviceSource", name, source);
  } else if (input.path == "-") {
    source.add("FILENAME", textValue("-"));
    source.add("FORMAT", textValue(input.raw.empty() ? "WAV" : input.raw));
    addLiveSource(network, "AudioStreamSource", name, source);
  } else {
    const std::string problem = recordingProblem(input.path, samplingRateHz, command);
    if (!problem.empty()) throw std::runtime_error(problem);
    source.add("FILENAME", textValue(input.path));
    network.addNode("AudioFileSource", name, source);
  }
}

}  // namespace velktool
