#include "fd/MultiFFT.h"

#include <stdexcept>

#include "NodeParameters.h"
#include "velkdsp/ShortTime.h"

namespace FD {

NodeInfo MultiFFT::describe() {
  NodeInfo info;
  info.description =
      "Windowed real FFT of every channel of a frame: X[k] = sum_n w[n] x[n] e^(-j2 pi kn/LENGTH), k = 0..LENGTH/2, "
      "unscaled.";
  info.inputs = {{"INPUT", "Matrix<float>", "channels x LENGTH samples of a frame"}};
  info.outputs = {{"OUTPUT", "Matrix<complex<float>>",
                   "channels x (LENGTH/2 + 1) bins; row r is channel r (row 0 = left ear); bin k is k * fs / LENGTH Hz"}};
  info.parameters = {param::frameLength(true, "frame length and FFT size"), param::window()};
  return info;
}

MultiFFT::MultiFFT(std::string nodeName, const ParameterSet& params) : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  const NodeInfo info = describe();
  length_ = param::integer(*this, parameters, "LENGTH");
  const std::string shape = param::text(*this, parameters, info.parameters, "WINDOW");
  checkDeclaredParameters(*this, parameters, info.parameters);
  analysis_ = std::make_unique<velkdsp::FrameAnalysis>(velkdsp::windowShapeFromName(shape), length_);
}

MultiFFT::~MultiFFT() = default;

void MultiFFT::calculate(int, int count, Buffer& out) {
  ObjectRef in = getInput(inputId_, count);
  auto* frame = dynamic_cast<Matrix<float>*>(in.get());
  if (!frame)
    throw inputError(*this, "INPUT", count, "expected a Matrix<float>, got " + (in.isNil() ? std::string("nil") : in->className()));
  if (frame->cols() != length_)
    throw inputError(*this, "INPUT", count,
                     "the frame has " + std::to_string(frame->cols()) + " samples but LENGTH is " + std::to_string(length_));
  auto spectrum = make<Matrix<std::complex<float>>>(frame->rows(), analysis_->bins());
  for (int r = 0; r < frame->rows(); ++r) analysis_->transform(frame->row(r), spectrum->row(r));
  out[count] = spectrum;
}

}  // namespace FD
