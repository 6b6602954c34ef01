#include "velk_binaural/Stft.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace NSVelkBinaural {

namespace {

void CheckConfig(const StftConfig& config) {
  if (config.length < 2 || config.length % 2 != 0)
    throw std::invalid_argument("STFT: the frame length is " + std::to_string(config.length) +
                                "; expected an even length of at least 2");
  if (config.advance < 1 || config.advance > config.length)
    throw std::invalid_argument("STFT: the frame shift is " + std::to_string(config.advance) + "; expected 1 .. " +
                                std::to_string(config.length));
  if (config.channels < 1)
    throw std::invalid_argument("STFT: " + std::to_string(config.channels) + " channels; expected at least 1");
}

const StftConfig& Checked(const StftConfig& config) {
  CheckConfig(config);
  return config;
}

}  // namespace

// ---- Stft ---------------------------------------------------------------------------------------

Stft::Stft(const StftConfig& config)
    : config_(Checked(config)),
      analysis_(config.window, config.length),
      pending_(static_cast<size_t>(config.channels)),
      frame_(static_cast<size_t>(config.length)) {}

Stft::~Stft() = default;

void Stft::Push(const float* interleaved, std::size_t frames) {
  if (finished_) throw std::logic_error("STFT: samples pushed after the end of the signal");
  const size_t channels = pending_.size();
  for (size_t c = 0; c < channels; ++c) {
    std::vector<float>& samples = pending_[c];
    const size_t at = samples.size();
    samples.resize(at + frames);
    for (size_t n = 0; n < frames; ++n) samples[at + n] = interleaved[n * channels + c];
  }
  pushed_ += static_cast<long>(frames);
}

void Stft::Finish() { finished_ = true; }

bool Stft::Ready(long k) const {
  if (finished_) return k < velkdsp::frameCount(pushed_, config_.advance);
  return velkdsp::frameStart(k, config_.advance, config_.length) + config_.length <= pushed_;
}

bool Stft::Next(StftFrame& frame) {
  if (!Ready(next_)) return false;
  const long start = velkdsp::frameStart(next_, config_.advance, config_.length);
  frame.index = next_;
  frame.channels = config_.channels;
  frame.bins = static_cast<size_t>(analysis_.bins());
  frame.data.resize(static_cast<size_t>(config_.channels) * frame.bins);
  for (int c = 0; c < config_.channels; ++c) {
    const std::vector<float>& samples = pending_[static_cast<size_t>(c)];
    for (int n = 0; n < config_.length; ++n) {
      const long at = start + n;
      frame_[static_cast<size_t>(n)] =
          at < 0 || at >= pushed_ ? 0.0f : samples[static_cast<size_t>(at - pendingStart_)];
    }
    analysis_.transform(frame_.data(), frame.data.data() + static_cast<size_t>(c) * frame.bins);
  }
  ++next_;
  Discard(next_);
  return true;
}

void Stft::Discard(long k) {
  const long keepFrom = std::min(velkdsp::frameStart(k, config_.advance, config_.length), pushed_);
  const long drop = keepFrom - pendingStart_;
  // Erasing from the front moves every sample kept, so it waits until the samples no frame needs
  // are at least as many as those kept: a long signal pushed at once then costs linear time, not
  // a move of the rest of the signal per frame, and a stream of short blocks keeps at most about
  // two frame lengths.
  if (drop <= 0 || drop < static_cast<long>(pending_.front().size()) - drop) return;
  for (std::vector<float>& samples : pending_) samples.erase(samples.begin(), samples.begin() + drop);
  pendingStart_ = keepFrom;
}

// ---- Istft --------------------------------------------------------------------------------------

Istft::Istft(const StftConfig& config)
    : config_(Checked(config)),
      synthesis_(config.window, config.length, config.advance),
      channels_(static_cast<size_t>(config.channels), synthesis_.channel()),
      block_(static_cast<size_t>(config.advance)) {}

Istft::~Istft() = default;

void Istft::Push(const StftFrame& frame) {
  if (frame.channels != config_.channels || frame.bins != static_cast<size_t>(synthesis_.bins()) ||
      frame.data.size() < static_cast<size_t>(frame.channels) * frame.bins)
    throw std::invalid_argument("ISTFT: a frame of " + std::to_string(frame.channels) + " channels x " +
                                std::to_string(frame.bins) + " bins; expected " + std::to_string(config_.channels) +
                                " x " + std::to_string(synthesis_.bins()));
  std::vector<const std::complex<float>*> spectra;
  for (int c = 0; c < frame.channels; ++c) spectra.push_back(frame.Channel(c));
  Push(spectra.data());
}

void Istft::Push(const std::complex<float>* const* channels) {
  for (size_t c = 0; c < channels_.size(); ++c) synthesis_.add(channels_[c], frames_, channels[c]);
  ++frames_;
  while (blocks_ + LookAhead() < frames_) TakeBlock(false);
}

void Istft::Finish() {
  while (blocks_ < frames_) TakeBlock(true);
}

void Istft::TakeBlock(bool final) {
  const size_t channels = channels_.size();
  const size_t at = ready_.size();
  ready_.resize(at + channels * block_.size());
  for (size_t c = 0; c < channels; ++c) {
    if (final)
      channels_[c].takeFinalBlock(block_.data(), frames_ - 1);
    else
      channels_[c].takeBlock(block_.data());
    for (size_t n = 0; n < block_.size(); ++n) ready_[at + n * channels + c] = block_[n];
  }
  ++blocks_;
}

std::size_t Istft::Pull(std::vector<float>& out) {
  const size_t samples = ready_.size() / channels_.size();
  out.insert(out.end(), ready_.begin(), ready_.end());
  ready_.clear();
  return samples;
}

}  // namespace NSVelkBinaural
