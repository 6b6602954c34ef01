#include "fd/SaveSeparatedStream.h"

#include <stdexcept>

#include "NodeParameters.h"
#include "SeparatedSpectra.h"
#include "velkdsp/ShortTime.h"

namespace FD {

NodeInfo SaveSeparatedStream::describe() {
  NodeInfo info;
  info.description =
      "Writes the separated sound of one source id as it is made, to standard output, a pipe or a file: inverse FFT "
      "and overlap-add as Synthesize, each frame's samples written at once. Silence wherever the id is absent; "
      "exactly as long as the recording. A WAV stream's lengths are left open on a pipe and filled in on a file.";
  info.inputs = {{"INPUT", "Map<int, ObjectRef>",
                  "per source id a Vector<complex<float>> of LENGTH/2 + 1 bins (a separator's output); nil = no source"}};
  info.outputs = {{"OUTPUT", "Map<int, ObjectRef>", "the input map, unchanged"}};
  info.parameters = {
      velkparam::Declaration::Text("FILENAME", "-", "\"-\" for standard output, or the path of a pipe or file"),
      velkparam::Declaration::Int("SOURCE_ID", 0, "", "the source id whose sound is written"),
      velkparam::Declaration::Text("CONTAINER", "WAV", "WAV: a WAV stream; RAW: the samples alone, interleaved little-endian")
          .Keywords({"WAV", "RAW"})
          .Optional(),
      param::samplingRate("sampling rate written in the WAV header"),
      param::frameLength(true, "frame length and FFT size of the analysis"),
      param::advance("frame shift of the analysis"),
      param::window(),
      param::sampleFormat(),
  };
  return info;
}

SaveSeparatedStream::SaveSeparatedStream(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  const NodeInfo info = describe();
  const std::string path = param::text(*this, parameters, "FILENAME");
  sourceId_ = param::integer(*this, parameters, "SOURCE_ID");
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  length_ = param::integer(*this, parameters, "LENGTH");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  const std::string container = param::text(*this, parameters, info.parameters, "CONTAINER");
  const std::string shape = param::text(*this, parameters, info.parameters, "WINDOW");
  const std::string format = param::text(*this, parameters, info.parameters, "SAMPLE_FORMAT");
  checkDeclaredParameters(*this, parameters, info.parameters);
  try {
    // Refuses shifts that leave samples without weight.
    synthesis_ = std::make_unique<velkdsp::FrameSynthesis>(velkdsp::windowShapeFromName(shape), length_, advance_);
  } catch (const std::invalid_argument& e) {
    throw param::error(*this, "ADVANCE", e.what());
  }
  try {
    writer_ = std::make_unique<AudioStreamWriter>(path, samplingRate_, 1, sampleFormatFromName(format),
                                                  container == "WAV");
  } catch (const std::runtime_error& e) {
    throw param::error(*this, "FILENAME", e.what());
  }
  channel_ = std::make_unique<velkdsp::OverlapAdd>(synthesis_->channel());
  lookAhead_ = synthesis_->lookAhead();
  block_.resize(static_cast<size_t>(advance_));
  inOrder = true;
  inputsRequestLookAhead(inputId_, lookAhead_);
}

SaveSeparatedStream::~SaveSeparatedStream() = default;

void SaveSeparatedStream::calculate(int, int count, Buffer& out) {
  try {
    for (; nextFrame_ <= count + lookAhead_; ++nextFrame_) {
      const Map<int, ObjectRef>* sources = separatedSources(*this, "INPUT", nextFrame_, getInput(inputId_, nextFrame_));
      if (!sources) continue;
      const auto it = sources->find(sourceId_);
      if (it == sources->end()) continue;
      const auto& spectrum =
          separatedSpectrum(*this, "INPUT", nextFrame_, sourceId_, it->second, synthesis_->bins(), length_);
      synthesis_->add(*channel_, nextFrame_, spectrum.data());
      ++framesHeard_;
    }
    channel_->takeBlock(block_.data());
    // The sound ends with the recording's last sample.
    writer_->write(block_.data(), velkdsp::OverlapAdd::samplesInBlock(count, advance_, streamSamples()));
  } catch (const std::runtime_error& e) {
    throw new NodeException(this, "frame " + std::to_string(count) + ": " + e.what(), "", 0);
  }
  out[count] = getInput(inputId_, count);
}

void SaveSeparatedStream::finish() {
  try {
    writer_->close();
  } catch (const std::exception& e) {
    throw new NodeException(this, std::string("after the last frame: ") + e.what(), "", 0);
  }
}

void SaveSeparatedStream::commit() { writer_->commit(); }

}  // namespace FD
