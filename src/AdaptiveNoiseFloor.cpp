#include "velk_binaural/AdaptiveNoiseFloor.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace NSVelkBinaural {

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
// 10 log10(pi / 4): a Rayleigh magnitude's squared mean over its mean square, in dB.
constexpr float kMeanMagnitudeDb = -1.0491012f;
// The exponent field of a float: all ones for infinities and NaN.
constexpr std::uint32_t kExponentBits = 0x7f800000u;
// Search windows beyond this many sub-windows are a configuration mistake, not a choice.
constexpr unsigned kMaxSubwindows = 1024;

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::invalid_argument("AdaptiveNoiseFloor: " + what);
}

float Power(const std::complex<float>& x) { return x.real() * x.real() + x.imag() * x.imag(); }

}  // namespace

AdaptiveNoiseFloor::AdaptiveNoiseFloor(const AdaptiveNoiseFloorConfig& config)
    : config_(config), bias_(std::pow(10.0f, config.biasDb / 10.0f)), toSettle_(config.settleFrames) {
  Require(config.smoothing >= 0.0f && config.smoothing < 1.0f && config.fallSmoothing >= 0.0f &&
              config.fallSmoothing < 1.0f,
          "smoothing " + std::to_string(config.smoothing) + " and fallSmoothing " +
              std::to_string(config.fallSmoothing) + " must lie in [0, 1)");
  Require(config.subwindowFrames >= 1, "subwindowFrames must be at least 1");
  Require(config.subwindows >= 1 && config.subwindows <= kMaxSubwindows,
          "subwindows " + std::to_string(config.subwindows) + " must lie in 1 .. " + std::to_string(kMaxSubwindows));
  Require(std::isfinite(config.biasDb) && std::fabs(config.biasDb) <= 20.0f,
          "biasDb " + std::to_string(config.biasDb) + " must lie in -20 .. 20 dB");
}

std::size_t AdaptiveNoiseFloor::Channel(int channel) {
  if (channel != 0 && channel != 1)
    throw std::out_of_range("AdaptiveNoiseFloor: channel " + std::to_string(channel) + " is neither 0 (left) nor 1 (right)");
  return static_cast<std::size_t>(channel);
}

void AdaptiveNoiseFloor::reset() {
  const AdaptiveNoiseFloorConfig config = config_;
  *this = AdaptiveNoiseFloor(config);
}

bool AdaptiveNoiseFloor::process(const StereoSpectrumView& frame) {
  // (Checked before any message is made: this runs on every frame.)
  if (!frame.left || !frame.right || frame.bins == 0)
    throw std::invalid_argument("AdaptiveNoiseFloor: a frame needs a left and a right spectrum of at least one bin");
  if (bins_ != 0 && frame.bins != bins_)
    throw std::invalid_argument("AdaptiveNoiseFloor: a frame of " + std::to_string(frame.bins) +
                                " bins after frames of " + std::to_string(bins_) + " bins");
  if (bins_ == 0) Start(frame.bins);
  if (!Powers(frame)) {
    toSettle_ = config_.settleFrames;
    return false;
  }
  if (toSettle_ > 0) {
    --toSettle_;
    return false;
  }
  Take();
  return true;
}

// The frame's power per bin and ear into power_; whether the frame has some sound and nothing
// that is not finite. (The tests read the bits, so that the loops vectorise.)
bool AdaptiveNoiseFloor::Powers(const StereoSpectrumView& frame) {
  std::uint32_t notFinite = 0, sound = 0;
  for (int ear = 0; ear < 2; ++ear) {
    const std::complex<float>* x = ear == 0 ? frame.left : frame.right;
    float* power = power_[ear].data();
    for (std::size_t k = 0; k < bins_; ++k) {
      const float p = Power(x[k]);
      power[k] = p;
      std::uint32_t bits;
      std::memcpy(&bits, &p, sizeof bits);
      notFinite |= static_cast<std::uint32_t>((bits & kExponentBits) == kExponentBits);
      sound |= bits;
    }
  }
  return notFinite == 0 && sound != 0;
}

void AdaptiveNoiseFloor::Start(std::size_t bins) {
  bins_ = bins;
  for (int ear = 0; ear < 2; ++ear) {
    power_[ear].assign(bins, 0.0f);
    smoothed_[ear].assign(bins, 0.0f);
    current_[ear].assign(bins, 0.0f);
    completed_[ear].assign(bins, kInfinity);
    floor_[ear].assign(bins, 0.0f);
    history_[ear].assign(config_.subwindows - 1, std::vector<float>(bins, kInfinity));
  }
}

void AdaptiveNoiseFloor::Take() {
  const float rise = config_.smoothing, fall = config_.fallSmoothing;
  for (int ear = 0; ear < 2; ++ear) {
    const float* power = power_[ear].data();
    float* smoothed = smoothed_[ear].data();
    float* current = current_[ear].data();
    const float* completed = completed_[ear].data();
    float* floor = floor_[ear].data();
    if (!ready_) {
      std::copy(power, power + bins_, smoothed);
      std::copy(power, power + bins_, current);
    } else {
      for (std::size_t k = 0; k < bins_; ++k) {
        const float keep = power[k] < smoothed[k] ? fall : rise;
        const float s = keep * smoothed[k] + (1.0f - keep) * power[k];
        smoothed[k] = s;
        current[k] = std::min(current[k], s);
      }
    }
    for (std::size_t k = 0; k < bins_; ++k) floor[k] = bias_ * std::min(current[k], completed[k]);
  }
  ready_ = true;
  if (++framesInSubwindow_ == config_.subwindowFrames) CloseSubwindow();
}

// The current sub-window's minimum joins the window, replacing the oldest, and the next
// sub-window starts from the present smoothed power.
void AdaptiveNoiseFloor::CloseSubwindow() {
  framesInSubwindow_ = 0;
  const std::size_t slots = config_.subwindows - 1;
  for (int ear = 0; ear < 2; ++ear) {
    if (slots > 0) {
      history_[ear][historyNext_] = current_[ear];
      std::vector<float>& completed = completed_[ear];
      completed.assign(bins_, kInfinity);
      for (const std::vector<float>& minimum : history_[ear])
        for (std::size_t k = 0; k < bins_; ++k) completed[k] = std::min(completed[k], minimum[k]);
    }
    current_[ear] = smoothed_[ear];
  }
  if (slots > 0) historyNext_ = (historyNext_ + 1) % slots;
}

void AdaptiveNoiseFloor::levelsDb(int channel, float* out, std::size_t count) const {
  const std::vector<float>& floor = floor_[Channel(channel)];
  if (count > bins_)
    throw std::invalid_argument("AdaptiveNoiseFloor: levels of " + std::to_string(count) +
                                " bins asked of a floor of " + std::to_string(bins_));
  for (std::size_t k = 0; k < count; ++k) out[k] = LevelOfPower(floor[k]);
}

float AdaptiveNoiseFloor::LevelOfPower(float power) {
  return 10.0f * std::log10(std::max(power, FLT_MIN)) + kMeanMagnitudeDb;
}

float AdaptiveNoiseFloor::PowerOfLevel(float levelDb) { return std::pow(10.0f, (levelDb - kMeanMagnitudeDb) / 10.0f); }

}  // namespace NSVelkBinaural
