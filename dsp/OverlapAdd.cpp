#include "velkdsp/OverlapAdd.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velkdsp {

namespace {
// Samples whose summed window weight falls below this share of the largest sum are badly
// conditioned (rounding errors get amplified by its inverse) and are refused at construction.
constexpr float kMinimumRelativeWeight = 1e-4f;
}  // namespace

int OverlapAdd::lookAheadFor(int frameLength, int shift) {
  // The last frame touching block k starts before its end: j * shift - L/2 <= (k + 1) * shift - 1.
  const int half = frameLength / 2;
  return half > 0 ? 1 + (half - 1) / shift : 0;
}

int OverlapAdd::samplesInBlock(long block, int shift, long signalSamples) {
  if (signalSamples < 0) return shift;
  return static_cast<int>(std::clamp(signalSamples - block * shift, 0L, static_cast<long>(shift)));
}

OverlapAdd::OverlapAdd(std::vector<float> window, int shift, long firstBlock)
    : window_(std::move(window)),
      length_(static_cast<int>(window_.size())),
      shift_(shift),
      half_(length_ / 2),
      lookAhead_(0),
      next_(firstBlock) {
  if (length_ < 1) throw std::invalid_argument("the window is empty");
  if (shift < 1 || shift > length_)
    throw std::invalid_argument("the frame shift " + std::to_string(shift) + " is not in 1.." + std::to_string(length_));
  lookAhead_ = lookAheadFor(length_, shift_);
  acc_.assign(static_cast<size_t>(lookAhead_ + 1) * shift_ + length_, 0.0f);
  sum_.resize(shift_);
  // From this block on every frame that covers a block exists, and the sums repeat block after
  // block; they are computed once.
  steadyBlock_ = (length_ - half_ + shift_ - 1) / shift_;
  steadyInverse_.resize(shift_);
  windowSum(steadyBlock_, steadyInverse_.data());
  for (float& w : steadyInverse_) w = w > 0.0f ? 1.0f / w : 0.0f;

  // Every sample must keep weight: check the first blocks (fewer frames) and the steady state.
  float smallest = 0.0f, largest = 0.0f;
  const long checked = length_ / shift_ + 2;
  for (long b = 0; b <= checked; ++b) {
    windowSum(b, sum_.data());
    const auto [lo, hi] = std::minmax_element(sum_.begin(), sum_.end());
    smallest = b == 0 ? *lo : std::min(smallest, *lo);
    largest = std::max(largest, *hi);
  }
  if (!(smallest > kMinimumRelativeWeight * largest))
    throw std::invalid_argument("with a shift of " + std::to_string(shift_) + " samples the window of " +
                                std::to_string(length_) +
                                " samples leaves some samples (nearly) without weight; use a shift of at most half "
                                "the frame length");
}

void OverlapAdd::windowSum(long block, float* sum, long lastFrame) const {
  std::fill(sum, sum + shift_, 0.0f);
  const long first = block * shift_;
  const long jLow = std::max(0L, (first + half_ - length_) / shift_);
  long jHigh = (first + shift_ - 1 + half_) / shift_;
  if (lastFrame >= 0) jHigh = std::min(jHigh, lastFrame);
  for (long j = jLow; j <= jHigh; ++j) {
    const long offset = first - (j * shift_ - half_);  // position of the block's first sample in frame j
    const long begin = std::max(0L, -offset), end = std::min<long>(shift_, length_ - offset);
    for (long i = begin; i < end; ++i) {
      const float w = window_[offset + i];
      sum[i] += w * w;
    }
  }
}

void OverlapAdd::addFrame(long k, const float* samples) {
  // Samples before sample 0 lie outside the signal and are dropped.
  const long start = k * shift_ - half_;
  const long skip = std::max(0L, -start);
  const long offset = start + skip - next_ * shift_;
  if (skip >= length_) return;
  if (offset < 0 || offset + (length_ - skip) > static_cast<long>(acc_.size()))
    throw std::logic_error("overlap-add: frame " + std::to_string(k) + " does not fit the blocks from " +
                           std::to_string(next_));
  float* acc = acc_.data() + offset;
  for (long n = skip; n < length_; ++n) acc[n - skip] += window_[n] * samples[n];
}

void OverlapAdd::takeBlock(float* out) {
  if (next_ >= steadyBlock_) {
    for (int i = 0; i < shift_; ++i) out[i] = acc_[i] * steadyInverse_[i];
  } else {
    windowSum(next_, sum_.data());
    for (int i = 0; i < shift_; ++i) out[i] = sum_[i] > 0.0f ? acc_[i] / sum_[i] : 0.0f;
  }
  advance();
}

void OverlapAdd::takeFinalBlock(float* out, long lastFrame) {
  windowSum(next_, sum_.data(), std::max(0L, lastFrame));
  for (int i = 0; i < shift_; ++i) out[i] = sum_[i] > 0.0f ? acc_[i] / sum_[i] : 0.0f;
  advance();
}

void OverlapAdd::advance() {
  std::copy(acc_.begin() + shift_, acc_.end(), acc_.begin());
  std::fill(acc_.end() - shift_, acc_.end(), 0.0f);
  ++next_;
}

}  // namespace velkdsp
