// The short-time analysis and synthesis that every part of the project shares: how a signal is
// cut into frames, how a frame becomes a spectrum, and how spectra become a signal again.
//
// Frame k holds `length` samples centred on sample k * advance: samples
// [k * advance - length/2, k * advance - length/2 + length), zeros outside the signal. A signal of
// n samples has ceil(n / advance) frames, the frames whose centre lies inside it. A frame's
// spectrum is X[k] = sum_n w[n] x[n] e^(-j 2 pi k n / length) for k = 0 .. length/2, unscaled.
#pragma once

#include <complex>
#include <vector>

#include "velkdsp/Export.h"
#include "velkdsp/OverlapAdd.h"
#include "velkdsp/RealFFT.h"
#include "velkdsp/Window.h"

namespace velkdsp {

// First sample of frame k (negative for the first frames).
inline long frameStart(long k, int advance, int length) { return k * advance - length / 2; }
// Frames of a signal of `samples` samples.
inline long frameCount(long samples, int advance) { return (samples + advance - 1) / advance; }

// The windowed transform of one frame.
class VELKDSP_API FrameAnalysis {
 public:
  // Throws std::invalid_argument for a length below 2.
  FrameAnalysis(WindowShape shape, int length);
  int length() const { return fft_.size(); }
  int bins() const { return fft_.bins(); }
  // `frame` holds length() samples; `spectrum` receives bins() values.
  void transform(const float* frame, std::complex<float>* spectrum);

 private:
  std::vector<float> window_, windowed_;
  RealFFT fft_;
};

// The inverse transform and the weights of a weighted overlap-add synthesis matching a
// FrameAnalysis of the same window, length and advance. One instance serves any number of
// channels, each an OverlapAdd made by channel().
class VELKDSP_API FrameSynthesis {
 public:
  // Throws std::invalid_argument for a length below 2, or an advance at which the window leaves
  // some sample without weight.
  FrameSynthesis(WindowShape shape, int length, int advance);
  int length() const { return fft_.size(); }
  int bins() const { return fft_.bins(); }
  int advance() const { return advance_; }
  // Frames after block k that still reach into it: block k is complete once frame k + lookAhead()
  // has been added.
  int lookAhead() const { return OverlapAdd::lookAheadFor(length(), advance_); }
  // A new channel whose blocks start at `firstBlock`.
  OverlapAdd channel(long firstBlock = 0) const { return OverlapAdd(window_, advance_, firstBlock); }
  // Inverse-transforms `spectrum` (bins() values) and adds it to `channel` as frame k.
  void add(OverlapAdd& channel, long k, const std::complex<float>* spectrum);

 private:
  std::vector<float> window_, time_;
  int advance_;
  RealFFT fft_;
};

}  // namespace velkdsp
