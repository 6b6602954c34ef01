#include "fd/MultiFFT.h"

#include <stdexcept>

#include "NodeParameters.h"
#include "RealFFT.h"
#include "fd/Window.h"

namespace FD {

NodeInfo MultiFFT::describe() {
  NodeInfo info;
  info.description =
      "Windowed real FFT of every channel of a frame: X[k] = sum_n w[n] x[n] e^(-j2 pi kn/LENGTH), k = 0..LENGTH/2, "
      "unscaled.";
  info.inputs = {{"INPUT", "Matrix<float>", "channels x LENGTH samples of a frame"}};
  info.outputs = {{"OUTPUT", "Matrix<complex<float>>",
                   "channels x (LENGTH/2 + 1) bins; row r is channel r (row 0 = left ear); bin k is k * fs / LENGTH Hz"}};
  info.parameters = {
      {"LENGTH", "int", "frame length and FFT size in samples; even", "512"},
      {"WINDOW", "string", "analysis window: \"HANN\" (when absent), \"HAMMING\" or \"RECTANGLE\"", "\"HANN\""},
  };
  return info;
}

MultiFFT::MultiFFT(std::string nodeName, const ParameterSet& params) : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  length_ = param::frameLength(*this, parameters, true);
  const std::string shape = param::text(*this, parameters, "WINDOW", "HANN");
  try {
    window_ = makeWindow(windowShapeFromName(shape), length_);
  } catch (const std::invalid_argument& e) {
    throw param::error(*this, "WINDOW", e.what());
  }
  windowed_.resize(length_);
  fft_ = std::make_unique<RealFFT>(length_);
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
  auto spectrum = make<Matrix<std::complex<float>>>(frame->rows(), fft_->bins());
  for (int r = 0; r < frame->rows(); ++r) {
    const float* x = frame->row(r);
    for (int n = 0; n < length_; ++n) windowed_[n] = window_[n] * x[n];
    fft_->forward(windowed_.data(), spectrum->row(r));
  }
  out[count] = spectrum;
}

}  // namespace FD
