// Real-input FFT of one fixed length with FFTW (single precision). Internal to the host. The
// plans are made once, with FFTW_ESTIMATE (deterministic and fast to create), and owned here.
#pragma once

#include <complex>
#include <memory>
#include <type_traits>

#include <fftw3.h>

namespace FD {

class RealFFT {
 public:
  // Throws std::invalid_argument for a size below 2 and std::runtime_error when FFTW cannot plan.
  explicit RealFFT(int size);

  int size() const { return size_; }
  int bins() const { return size_ / 2 + 1; }

  // X[k] = sum_n x[n] e^(-j 2 pi k n / N) for k = 0 .. N/2 (no scaling).
  void forward(const float* in, std::complex<float>* out);
  // x[n] = (1/N) sum_k X[k] e^(+j 2 pi k n / N), the exact inverse of forward. The imaginary
  // parts of the DC and (for even N) Nyquist bins are ignored, as for any real signal.
  void inverse(const std::complex<float>* in, float* out);

 private:
  struct FreeBuffer {
    void operator()(void* p) const { fftwf_free(p); }
  };
  struct DestroyPlan {
    void operator()(fftwf_plan p) const { fftwf_destroy_plan(p); }
  };
  using PlanHandle = std::unique_ptr<std::remove_pointer_t<fftwf_plan>, DestroyPlan>;

  int size_;
  std::unique_ptr<float, FreeBuffer> time_;
  std::unique_ptr<fftwf_complex, FreeBuffer> freq_;
  PlanHandle forward_, inverse_;
};

}  // namespace FD
