#include "fd/SaveSeparatedWaves.h"

#include <stdexcept>

#include "NodeParameters.h"
#include "SeparatedSpectra.h"
#include "fd/AudioFile.h"
#include "velkdsp/ShortTime.h"

namespace FD {

struct SaveSeparatedWaves::Track {
  Track(const std::string& path, int samplingRate, SampleFormat format, const velkdsp::FrameSynthesis& frames,
        long firstBlock)
      : file(path, samplingRate, 1, format), synthesis(frames.channel(firstBlock)) {}
  AudioFileWriter file;
  velkdsp::OverlapAdd synthesis;
};

NodeInfo SaveSeparatedWaves::describe() {
  NodeInfo info;
  info.description =
      "Writes one mono WAV file per source id, \"<PREFIX>_<id>.wav\", from the separated spectra (inverse FFT and "
      "overlap-add as Synthesize). Every file follows the input timeline: silence before the id's first frame and "
      "wherever it is absent, and exactly as long as the recording. The files replace existing ones only when the run "
      "succeeds.";
  info.inputs = {{"INPUT", "Map<int, ObjectRef>",
                  "per source id a Vector<complex<float>> of LENGTH/2 + 1 bins (a separator's output); nil = no source"}};
  info.outputs = {{"OUTPUT", "Map<int, ObjectRef>", "the input map, unchanged"}};
  info.parameters = {
      velkparam::Declaration::Text("PREFIX", "separated", "path prefix of the files, relative to the working directory"),
      param::samplingRate("sampling rate written in the files"),
      param::frameLength(true, "frame length and FFT size of the analysis"),
      param::advance("frame shift of the analysis"),
      param::window(),
      param::sampleFormat(),
  };
  return info;
}

SaveSeparatedWaves::SaveSeparatedWaves(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  const NodeInfo info = describe();
  prefix_ = param::text(*this, parameters, "PREFIX");
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  length_ = param::integer(*this, parameters, "LENGTH");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  const std::string shape = param::text(*this, parameters, info.parameters, "WINDOW");
  const std::string format = param::text(*this, parameters, info.parameters, "SAMPLE_FORMAT");
  checkDeclaredParameters(*this, parameters, info.parameters);
  format_ = static_cast<int>(sampleFormatFromName(format));
  try {
    // Refuses shifts that leave samples without weight.
    synthesis_ = std::make_unique<velkdsp::FrameSynthesis>(velkdsp::windowShapeFromName(shape), length_, advance_);
  } catch (const std::invalid_argument& e) {
    throw param::error(*this, "ADVANCE", e.what());
  }
  lookAhead_ = synthesis_->lookAhead();
  block_.resize(advance_);
  inOrder = true;
  inputsRequestLookAhead(inputId_, lookAhead_);
}

SaveSeparatedWaves::~SaveSeparatedWaves() = default;

SaveSeparatedWaves::Track& SaveSeparatedWaves::track(int id, int count) {
  auto it = tracks_.find(id);
  if (it != tracks_.end()) return *it->second;
  const std::string path = prefix_ + "_" + std::to_string(id) + ".wav";
  auto made = std::make_unique<Track>(path, samplingRate_, static_cast<SampleFormat>(format_), *synthesis_, count);
  // The blocks before this one were silence for this id.
  made->file.writeSilence(static_cast<long>(count) * advance_);
  return *tracks_.emplace(id, std::move(made)).first->second;
}

void SaveSeparatedWaves::addSources(int frame, int count) {
  const Map<int, ObjectRef>* sources = separatedSources(*this, "INPUT", frame, getInput(inputId_, frame));
  if (!sources) return;
  for (const auto& [id, value] : *sources) {
    const auto& spectrum = separatedSpectrum(*this, "INPUT", frame, id, value, synthesis_->bins(), length_);
    Track& t = track(id, count);
    synthesis_->add(t.synthesis, frame, spectrum.data());
  }
}

void SaveSeparatedWaves::calculate(int, int count, Buffer& out) {
  try {
    for (; nextFrame_ <= count + lookAhead_; ++nextFrame_) addSources(nextFrame_, count);
    // Every file ends with the recording's last sample.
    const int samples = velkdsp::OverlapAdd::samplesInBlock(count, advance_, streamSamples());
    for (auto& entry : tracks_) {
      entry.second->synthesis.takeBlock(block_.data());
      entry.second->file.write(block_.data(), samples);
    }
  } catch (const std::runtime_error& e) {
    throw new NodeException(this, "frame " + std::to_string(count) + ": " + e.what(), "", 0);
  }
  out[count] = getInput(inputId_, count);
}

void SaveSeparatedWaves::finish() {
  std::string failures;
  for (auto& entry : tracks_) {
    try {
      entry.second->file.close();
    } catch (const std::exception& e) {
      failures += (failures.empty() ? "" : "; ") + std::string(e.what());
    }
  }
  if (!failures.empty()) throw new NodeException(this, "after the last frame: " + failures, "", 0);
}

void SaveSeparatedWaves::commit() {
  for (auto& entry : tracks_) entry.second->file.commit();
}

}  // namespace FD
