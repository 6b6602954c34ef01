#include "velkdsp/RealFFT.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <fftw3.h>

namespace velkdsp {

namespace {
struct FreeBuffer {
  void operator()(void* p) const { fftwf_free(p); }
};
struct DestroyPlan {
  void operator()(fftwf_plan p) const { fftwf_destroy_plan(p); }
};
using PlanHandle = std::unique_ptr<std::remove_pointer_t<fftwf_plan>, DestroyPlan>;
}  // namespace

struct RealFFT::Plans {
  std::unique_ptr<float, FreeBuffer> time;
  std::unique_ptr<fftwf_complex, FreeBuffer> freq;
  PlanHandle forward, inverse;
};

RealFFT::RealFFT(int size) : size_(size), plans_(new Plans) {
  if (size < 2) throw std::invalid_argument("FFT length " + std::to_string(size) + " is below 2");
  plans_->time.reset(static_cast<float*>(fftwf_malloc(sizeof(float) * size)));
  plans_->freq.reset(static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * bins())));
  if (!plans_->time || !plans_->freq)
    throw std::runtime_error("out of memory for an FFT of length " + std::to_string(size));
  plans_->forward.reset(fftwf_plan_dft_r2c_1d(size, plans_->time.get(), plans_->freq.get(), FFTW_ESTIMATE));
  plans_->inverse.reset(fftwf_plan_dft_c2r_1d(size, plans_->freq.get(), plans_->time.get(), FFTW_ESTIMATE));
  if (!plans_->forward || !plans_->inverse)
    throw std::runtime_error("FFTW cannot plan a transform of length " + std::to_string(size));
}

RealFFT::~RealFFT() = default;

void RealFFT::forward(const float* in, std::complex<float>* out) {
  std::copy(in, in + size_, plans_->time.get());
  fftwf_execute(plans_->forward.get());
  // fftwf_complex is laid out as two floats, exactly like std::complex<float>.
  const auto* bins = reinterpret_cast<const std::complex<float>*>(plans_->freq.get());
  std::copy(bins, bins + this->bins(), out);
}

void RealFFT::inverse(const std::complex<float>* in, float* out) {
  // The complex-to-real plan overwrites its input, so it works on its own copy.
  std::copy(in, in + bins(), reinterpret_cast<std::complex<float>*>(plans_->freq.get()));
  fftwf_execute(plans_->inverse.get());
  const float scale = 1.0f / static_cast<float>(size_);
  const float* t = plans_->time.get();
  for (int n = 0; n < size_; ++n) out[n] = t[n] * scale;
}

}  // namespace velkdsp
