#include "velk_binaural/NoiseFloorTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace NSVelkBinaural {
namespace {
constexpr float kInfinity = std::numeric_limits<float>::infinity();
}

NoiseFloorTracker::NoiseFloorTracker(std::size_t bins, int windowFrames, int subWindows, float smoothing, float bias)
    : subWindows_(subWindows), smoothing_(smoothing), bias_(bias) {
  if (windowFrames < 1 || subWindows < 1)
    throw std::invalid_argument("the noise window must span at least one frame in at least one step (got " +
                                std::to_string(windowFrames) + " frames in " + std::to_string(subWindows) + " steps)");
  if (!(smoothing >= 0.0f && smoothing < 1.0f))
    throw std::invalid_argument("the noise smoothing " + std::to_string(smoothing) + " is not in [0, 1)");
  if (!(bias > 0.0f) || !std::isfinite(bias))
    throw std::invalid_argument("the noise bias " + std::to_string(bias) + " is not a positive number");
  framesPerSubWindow_ = std::max(1, (windowFrames + subWindows - 1) / subWindows);
  smoothed_.resize(bins);
  current_.resize(bins);
  subWindowMinima_.resize(bins * static_cast<std::size_t>(subWindows));
  storedMinimum_.resize(bins);
  floor_.resize(bins);
  reset();
}

void NoiseFloorTracker::reset() {
  std::fill(smoothed_.begin(), smoothed_.end(), std::numeric_limits<float>::quiet_NaN());
  std::fill(current_.begin(), current_.end(), kInfinity);
  std::fill(subWindowMinima_.begin(), subWindowMinima_.end(), kInfinity);
  std::fill(storedMinimum_.begin(), storedMinimum_.end(), kInfinity);
  std::fill(floor_.begin(), floor_.end(), kInfinity);
  framesInSubWindow_ = 0;
  oldest_ = 0;
}

void NoiseFloorTracker::update(const float* power) {
  const std::size_t n = floor_.size();
  for (std::size_t k = 0; k < n; ++k) {
    if (!(power[k] > 0.0f && power[k] <= std::numeric_limits<float>::max())) continue;
    const float previous = smoothed_[k];
    const float s = std::isnan(previous) ? power[k] : smoothing_ * previous + (1.0f - smoothing_) * power[k];
    smoothed_[k] = s;
    current_[k] = std::min(current_[k], s);
    floor_[k] = bias_ * std::min(storedMinimum_[k], current_[k]);
  }
  if (++framesInSubWindow_ < framesPerSubWindow_) return;
  // The sub-window is complete: it replaces the oldest one, and the stored minimum is renewed.
  framesInSubWindow_ = 0;
  std::copy(current_.begin(), current_.end(), subWindowMinima_.begin() + static_cast<std::ptrdiff_t>(oldest_ * n));
  oldest_ = (oldest_ + 1) % static_cast<std::size_t>(subWindows_);
  std::fill(storedMinimum_.begin(), storedMinimum_.end(), kInfinity);
  for (int w = 0; w < subWindows_; ++w) {
    const float* m = subWindowMinima_.data() + static_cast<std::size_t>(w) * n;
    for (std::size_t k = 0; k < n; ++k) storedMinimum_[k] = std::min(storedMinimum_[k], m[k]);
  }
  std::fill(current_.begin(), current_.end(), kInfinity);
}

}  // namespace NSVelkBinaural
