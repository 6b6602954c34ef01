#include "RealFFT.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace FD {

RealFFT::RealFFT(int size) : size_(size) {
  if (size < 2) throw std::invalid_argument("FFT length " + std::to_string(size) + " is below 2");
  time_.reset(static_cast<float*>(fftwf_malloc(sizeof(float) * size)));
  freq_.reset(static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * bins())));
  if (!time_ || !freq_) throw std::runtime_error("out of memory for an FFT of length " + std::to_string(size));
  forward_.reset(fftwf_plan_dft_r2c_1d(size, time_.get(), freq_.get(), FFTW_ESTIMATE));
  inverse_.reset(fftwf_plan_dft_c2r_1d(size, freq_.get(), time_.get(), FFTW_ESTIMATE));
  if (!forward_ || !inverse_) throw std::runtime_error("FFTW cannot plan a transform of length " + std::to_string(size));
}

void RealFFT::forward(const float* in, std::complex<float>* out) {
  std::copy(in, in + size_, time_.get());
  fftwf_execute(forward_.get());
  // fftwf_complex is laid out as two floats, exactly like std::complex<float>.
  const auto* bins = reinterpret_cast<const std::complex<float>*>(freq_.get());
  std::copy(bins, bins + this->bins(), out);
}

void RealFFT::inverse(const std::complex<float>* in, float* out) {
  // The complex-to-real plan overwrites its input, so it works on its own copy.
  std::copy(in, in + bins(), reinterpret_cast<std::complex<float>*>(freq_.get()));
  fftwf_execute(inverse_.get());
  const float scale = 1.0f / static_cast<float>(size_);
  const float* t = time_.get();
  for (int n = 0; n < size_; ++n) out[n] = t[n] * scale;
}

}  // namespace FD
