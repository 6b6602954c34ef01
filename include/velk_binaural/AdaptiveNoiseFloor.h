// A noise floor per bin and ear that follows the recording: minimum statistics.
//
// Each bin's power is smoothed over frames; the floor is the smallest smoothed value within the
// last window of frames, raised by how far such a minimum lies below the mean of a steady noise.
// The smoothing falls faster than it rises, so that the smoothed power reaches the noise within
// a short pause even after loud speech.
// Talkers pause, so within a window every bin comes down to the noise: however a recording
// starts (with speech, with silence, with a quiet room), the floor is right once each bin has
// had a quiet moment, and it follows a noise that rises or falls within a window. The window is
// searched in sub-windows, so a frame costs a few operations per bin.
//
// Frames that hold no sound (every bin of both ears exactly zero: digital silence) and frames
// with a value that is not finite are never taken, nor are the few frames after such a frame
// (they overlap it and would show a fraction of the noise): the floor never drops to silence
// and one bad sample cannot poison it.
#pragma once

#include <cstddef>
#include <vector>

#include "velk_binaural/Export.h"
#include "velk_binaural/StereoSpectrum.h"

namespace NSVelkBinaural {

struct VELK_API AdaptiveNoiseFloorConfig {
  // Weight of the past in each bin's smoothed power, per frame, in [0, 1): `smoothing` while the
  // power rises above the smoothed value, `fallSmoothing` while it lies below. 0.8 averages about
  // five frames, enough to steady the minimum; 0.5 lets a bin fall 30 dB in ten frames, so a
  // pause of 0.2 s between phrases reaches the noise.
  float smoothing = 0.8f;
  float fallSmoothing = 0.5f;
  // Frames per sub-window of the minimum search (at least 1).
  unsigned subwindowFrames = 12;
  // Sub-windows in the search window (at least 1): the floor is the minimum over the last
  // subwindowFrames x subwindows frames (192 frames, 1.92 s at a 10 ms hop), long enough to
  // include a pause between phrases.
  unsigned subwindows = 16;
  // How far, in dB, the minimum of the smoothed power lies below the mean power of a steady
  // noise; added back. 9.2 dB holds for the four settings above with 512-sample Hann frames
  // every 160 samples (measured on white noise); change it with them.
  float biasDb = 9.2f;
  // Frames skipped after construction and after every frame that was not taken: frames that
  // overlap digital silence (or the zeros before a recording's first sample) show only part of
  // the noise. The frame length over the hop, rounded up (512 / 160 -> 4).
  unsigned settleFrames = 4;
};

class VELK_API AdaptiveNoiseFloor {
 public:
  // std::invalid_argument for a configuration outside the ranges above.
  explicit AdaptiveNoiseFloor(const AdaptiveNoiseFloorConfig& config = AdaptiveNoiseFloorConfig());

  // Takes one frame. Returns false, leaving the floor as it was, for a frame that is not taken:
  // digital silence, a value that is not finite, or one of the settling frames after such a
  // frame. std::invalid_argument when the frame's bin count differs from the first frame's, or a
  // channel is missing.
  bool process(const StereoSpectrumView& frame);

  // Whether a floor exists: some frame has been taken since construction or reset().
  bool ready() const { return ready_; }
  std::size_t bins() const { return bins_; }
  // Noise power per bin (the mean |X|^2 of the noise in the spectra's own scale) of the left
  // (channel 0) or the right (channel 1) ear: bins() values, none before ready().
  const float* power(int channel) const { return floor_[Channel(channel)].data(); }
  // The floor as a level in dB of the noise's mean magnitude, 20 log10 E|X|, the scale of the
  // estimator that averages the first frames: 10 log10 of the power plus 10 log10(pi / 4), the
  // ratio of the squared mean to the mean square of a Rayleigh-distributed magnitude.
  void levelsDb(int channel, float* out, std::size_t count) const;

  // The conversions between a noise power and its level on the first-frames scale.
  static float LevelOfPower(float power);
  static float PowerOfLevel(float levelDb);

  // Forgets everything, as if newly constructed.
  void reset();

 private:
  static std::size_t Channel(int channel);
  bool Powers(const StereoSpectrumView& frame);
  void Start(std::size_t bins);
  void Take();
  void CloseSubwindow();

  AdaptiveNoiseFloorConfig config_;
  float bias_;  // biasDb as a power ratio
  std::size_t bins_ = 0;
  bool ready_ = false;
  unsigned toSettle_;
  unsigned framesInSubwindow_ = 0;
  // Per ear: the frame's power, smoothed power, minimum of the current sub-window, minimum of the completed
  // sub-windows still in the window, and the floor.
  std::vector<float> power_[2], smoothed_[2], current_[2], completed_[2], floor_[2];
  // Per ear, the minima of the completed sub-windows in the window, oldest first (a ring).
  std::vector<std::vector<float>> history_[2];
  std::size_t historyNext_ = 0;
};

}  // namespace NSVelkBinaural
