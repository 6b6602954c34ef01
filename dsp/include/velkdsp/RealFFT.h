// Real-input FFT of one fixed length with FFTW (single precision). The plans are made once, with
// FFTW_ESTIMATE (deterministic and fast to create), and owned here; FFTW itself stays out of
// this header.
#pragma once

#include <complex>
#include <memory>

#include "velkdsp/Export.h"

namespace velkdsp {

class VELKDSP_API RealFFT {
 public:
  // Throws std::invalid_argument for a size below 2 and std::runtime_error when FFTW cannot plan.
  explicit RealFFT(int size);
  ~RealFFT();
  RealFFT(const RealFFT&) = delete;
  RealFFT& operator=(const RealFFT&) = delete;

  int size() const { return size_; }
  int bins() const { return size_ / 2 + 1; }

  // X[k] = sum_n x[n] e^(-j 2 pi k n / N) for k = 0 .. N/2 (no scaling).
  void forward(const float* in, std::complex<float>* out);
  // x[n] = (1/N) sum_k X[k] e^(+j 2 pi k n / N), the exact inverse of forward. The imaginary
  // parts of the DC and (for even N) Nyquist bins are ignored, as for any real signal.
  void inverse(const std::complex<float>* in, float* out);

 private:
  struct Plans;
  int size_;
  std::unique_ptr<Plans> plans_;
};

}  // namespace velkdsp
