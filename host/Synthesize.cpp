#include "fd/Synthesize.h"

#include <algorithm>
#include <stdexcept>

#include "NodeParameters.h"
#include "velkdsp/ShortTime.h"

namespace FD {

NodeInfo Synthesize::describe() {
  NodeInfo info;
  info.description =
      "Inverse FFT and weighted overlap-add: rebuilds the time signal from MultiFFT spectra (same LENGTH, ADVANCE, "
      "WINDOW). Output frame k is samples [k*ADVANCE, (k+1)*ADVANCE), the last one cut at the recording's end; "
      "unchanged spectra give the input back exactly.";
  info.inputs = {{"INPUT", "Matrix<complex<float>>", "channels x (LENGTH/2 + 1) bins of a frame"}};
  info.outputs = {{"OUTPUT", "Matrix<float>", "channels x ADVANCE samples of the rebuilt signal, full scale +-1"}};
  info.parameters = {param::frameLength(true, "frame length and FFT size, as in the analysis"),
                     param::advance("frame shift, as in the analysis; at most half of LENGTH for the Hann window"),
                     param::window()};
  return info;
}

Synthesize::Synthesize(std::string nodeName, const ParameterSet& params) : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  const NodeInfo info = describe();
  length_ = param::integer(*this, parameters, "LENGTH");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  const std::string shape = param::text(*this, parameters, info.parameters, "WINDOW");
  checkDeclaredParameters(*this, parameters, info.parameters);
  try {
    // Refuses shifts that leave samples without weight.
    synthesis_ = std::make_unique<velkdsp::FrameSynthesis>(velkdsp::windowShapeFromName(shape), length_, advance_);
  } catch (const std::invalid_argument& e) {
    throw param::error(*this, "ADVANCE", e.what());
  }
  lookAhead_ = synthesis_->lookAhead();
  whole_.resize(advance_);
  inOrder = true;
  inputsRequestLookAhead(inputId_, lookAhead_);
}

Synthesize::~Synthesize() = default;

void Synthesize::reset() {
  BufferedNode::reset();
  channels_.clear();
  nextFrame_ = 0;
}

void Synthesize::addSpectrum(int frame) {
  ObjectRef in = getInput(inputId_, frame);
  auto* spectrum = dynamic_cast<Matrix<std::complex<float>>*>(in.get());
  if (!spectrum)
    throw inputError(*this, "INPUT", frame,
                     "expected a Matrix<complex<float>>, got " + (in.isNil() ? std::string("nil") : in->className()));
  if (spectrum->cols() != synthesis_->bins())
    throw inputError(*this, "INPUT", frame,
                     "the spectrum has " + std::to_string(spectrum->cols()) + " bins but LENGTH " +
                         std::to_string(length_) + " needs " + std::to_string(synthesis_->bins()));
  if (channels_.empty()) channels_.assign(static_cast<size_t>(spectrum->rows()), synthesis_->channel());
  if (spectrum->rows() != static_cast<int>(channels_.size()))
    throw inputError(*this, "INPUT", frame,
                     "the spectrum has " + std::to_string(spectrum->rows()) + " channels, earlier frames " +
                         std::to_string(channels_.size()));
  for (int r = 0; r < spectrum->rows(); ++r) synthesis_->add(channels_[r], frame, spectrum->row(r));
}

void Synthesize::calculate(int, int count, Buffer& out) {
  for (; nextFrame_ <= count + lookAhead_; ++nextFrame_) addSpectrum(nextFrame_);
  // The last block ends with the recording's last sample, so that the rebuilt signal is exactly
  // as long as the recording.
  const int length = velkdsp::OverlapAdd::samplesInBlock(count, advance_, streamSamples());
  auto block = make<Matrix<float>>(static_cast<int>(channels_.size()), length);
  for (size_t c = 0; c < channels_.size(); ++c) {
    channels_[c].takeBlock(whole_.data());
    std::copy(whole_.begin(), whole_.begin() + length, block->row(static_cast<int>(c)));
  }
  out[count] = block;
}

}  // namespace FD
