#include "fd/SaveWave.h"

#include <stdexcept>

#include "NodeParameters.h"
#include "fd/AudioFile.h"
#include "velkfileio/OutputFile.h"

namespace FD {

NodeInfo SaveWave::describe() {
  NodeInfo info;
  info.description =
      "Writes the samples arriving on every frame to a WAV file (one channel per row, frames one after another) and "
      "passes each frame on unchanged. The file replaces an existing one only when the run succeeds.";
  info.inputs = {{"INPUT", "Matrix<float>", "channels x samples of a frame, full scale +-1 (e.g. Synthesize's output)"}};
  info.outputs = {{"OUTPUT", "Matrix<float>", "the input frame, unchanged"}};
  info.parameters = {
      velkparam::Declaration::Text("FILENAME", "output.wav", "path of the WAV file to write, relative to the working directory"),
      param::samplingRate("sampling rate written in the file"),
      param::sampleFormat(),
  };
  return info;
}

SaveWave::SaveWave(std::string nodeName, const ParameterSet& params) : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  const NodeInfo info = describe();
  path_ = param::text(*this, parameters, "FILENAME");
  // A destination that cannot be written (a folder, an input of this run, ...) fails here, before
  // the run; the file itself is made on the first frame, when the channel count is known.
  const std::string problem = fileio::outputProblem(path_);
  if (!problem.empty()) throw param::error(*this, "FILENAME", problem);
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  const std::string format = param::text(*this, parameters, info.parameters, "SAMPLE_FORMAT");
  checkDeclaredParameters(*this, parameters, info.parameters);
  format_ = static_cast<int>(sampleFormatFromName(format));
  inOrder = true;  // the file is written frame after frame
}

SaveWave::~SaveWave() = default;

void SaveWave::calculate(int, int count, Buffer& out) {
  ObjectRef in = getInput(inputId_, count);
  auto* frame = dynamic_cast<Matrix<float>*>(in.get());
  if (!frame)
    throw inputError(*this, "INPUT", count, "expected a Matrix<float>, got " + (in.isNil() ? std::string("nil") : in->className()));
  try {
    if (!file_)
      file_ = std::make_unique<AudioFileWriter>(path_, samplingRate_, frame->rows(), static_cast<SampleFormat>(format_));
    if (frame->rows() != file_->channels())
      throw std::runtime_error("the frame has " + std::to_string(frame->rows()) + " channels, the file " +
                               std::to_string(file_->channels()));
    interleaved_.resize(static_cast<size_t>(frame->rows()) * frame->cols());
    for (int r = 0; r < frame->rows(); ++r)
      for (int n = 0; n < frame->cols(); ++n) interleaved_[static_cast<size_t>(n) * frame->rows() + r] = (*frame)(r, n);
    file_->write(interleaved_.data(), frame->cols());
  } catch (const std::exception& e) {
    throw new NodeException(this, "frame " + std::to_string(count) + ": " + e.what(), "", 0);
  }
  out[count] = in;
}

void SaveWave::finish() {
  if (!file_) return;
  try {
    file_->close();
  } catch (const std::exception& e) {
    throw new NodeException(this, std::string("after the last frame: ") + e.what(), "", 0);
  }
}

void SaveWave::commit() {
  if (file_) file_->commit();
}

}  // namespace FD
