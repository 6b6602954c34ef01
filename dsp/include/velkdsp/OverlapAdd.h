// Rebuilding a signal from short-time frames by weighted overlap-add.
//
// Frame k holds the samples [k * shift - L/2, k * shift - L/2 + L) of a signal (L the frame
// length), that is, it is centred on sample k * shift; the signal is zero before sample 0. The
// analysis multiplied each frame by the window w. The synthesis multiplies each returned frame by
// w again, adds the frames up and divides every sample by the sum of w^2 over the frames that
// cover it. When the frames come back unchanged this gives the signal exactly (up to rounding)
// for any window and shift at which every sample keeps some weight, including the first samples
// of the signal, which fewer frames cover.
//
// The result comes out in blocks of `shift` samples: block k is samples [k * shift,
// (k + 1) * shift), aligned with the frames' timeline. Block k is complete once every frame up to
// k + lookAhead() has been added.
#pragma once

#include <vector>

#include "velkdsp/Export.h"

namespace velkdsp {

class VELKDSP_API OverlapAdd {
 public:
  // `window` is the analysis window (its size is the frame length); blocks start at `firstBlock`
  // (earlier blocks count as already taken). Throws std::invalid_argument when shift is not in
  // 1 .. frame length, or when the window leaves some sample without weight at that shift.
  OverlapAdd(std::vector<float> window, int shift, long firstBlock = 0);

  int frameLength() const { return length_; }
  int shift() const { return shift_; }
  int lookAhead() const { return lookAhead_; }
  // Frames after block k that still reach into it, for a frame length and shift.
  static int lookAheadFor(int frameLength, int shift);
  // Samples of block `block` that lie inside a signal of `signalSamples` samples: `shift` for the
  // blocks before its end, fewer for the block holding its last sample, none past it; `shift`
  // when the length is not known (-1).
  static int samplesInBlock(long block, int shift, long signalSamples);

  // Adds frame k (frameLength() time samples, before the synthesis window). A frame that reaches
  // into a block already taken, or lies beyond next block + lookAhead(), is a caller error
  // (std::logic_error).
  void addFrame(long k, const float* samples);
  // Writes the next block (shift() samples) to `out` and moves on. Frames never added count as
  // silence.
  void takeBlock(float* out);
  // The same for a block near the end of a signal whose last frame is `lastFrame`: the frames
  // after it do not exist, so each sample is divided by the weight of the frames up to it only.
  // Unchanged frames then still give the signal back exactly.
  void takeFinalBlock(float* out, long lastFrame);
  long nextBlock() const { return next_; }

 private:
  // Sum of w^2 over the frames 0 <= k <= lastFrame that cover each sample of `block`.
  void windowSum(long block, float* sum, long lastFrame = -1) const;
  void advance();

  std::vector<float> window_;
  int length_, shift_, half_, lookAhead_;
  long next_;
  std::vector<float> acc_;  // windowed frames summed, from sample next_ * shift_ on
  std::vector<float> sum_;
  long steadyBlock_;                  // first block that all its frames cover
  std::vector<float> steadyInverse_;  // 1 / window sum of such blocks
};

}  // namespace velkdsp
