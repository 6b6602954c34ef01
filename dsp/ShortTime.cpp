#include "velkdsp/ShortTime.h"

namespace velkdsp {

FrameAnalysis::FrameAnalysis(WindowShape shape, int length)
    : window_(makeWindow(shape, length)), windowed_(window_.size()), fft_(length) {}

void FrameAnalysis::transform(const float* frame, std::complex<float>* spectrum) {
  const size_t n = window_.size();
  for (size_t i = 0; i < n; ++i) windowed_[i] = window_[i] * frame[i];
  fft_.forward(windowed_.data(), spectrum);
}

FrameSynthesis::FrameSynthesis(WindowShape shape, int length, int advance)
    : window_(makeWindow(shape, length)), time_(window_.size()), advance_(advance), fft_(length) {
  channel();  // refuses an advance that leaves samples without weight
}

void FrameSynthesis::add(OverlapAdd& channel, long k, const std::complex<float>* spectrum) {
  fft_.inverse(spectrum, time_.data());
  channel.addFrame(k, time_.data());
}

}  // namespace velkdsp
