// The power of the steady background noise in each frequency bin, followed through speech.
//
// Speech comes and goes within a second or so in every bin while background noise stays, so the
// lowest short-time power a bin reached over the last `windowFrames` frames is a measure of the
// noise that needs no noise-only stretch to learn from and follows noise that changes slowly.
// The power is smoothed over a few frames first (its minimum would otherwise fall far below the
// mean), and the minimum is kept per sub-window so that old minima expire in steps without
// storing the whole window. Memory is (sub-windows + 4) floats per bin.
#pragma once

#include <cstddef>
#include <vector>

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class VELK_API NoiseFloorTracker {
 public:
  // `bins` powers per frame; the minimum spans about `windowFrames` frames, kept in
  // `subWindows` steps; the smoothing keeps `smoothing` of the previous smoothed power per frame
  // (0 .. 1); the floor is the minimum times `bias`. Throws std::invalid_argument when a count
  // is below 1, the smoothing outside [0, 1) or the bias not positive.
  NoiseFloorTracker(std::size_t bins, int windowFrames, int subWindows = 8, float smoothing = 0.85f, float bias = 1.5f);

  // Takes one frame's power per bin (`bins()` values). A bin whose power is not a finite number
  // above 0 (digital silence, a broken bin) leaves that bin's state as it was.
  void update(const float* power);
  // The noise power per bin; +infinity in bins that have not yet seen a usable frame.
  const float* floor() const { return floor_.data(); }
  std::size_t bins() const { return floor_.size(); }
  void reset();

 private:
  int framesPerSubWindow_;
  int subWindows_;
  float smoothing_, bias_;
  int framesInSubWindow_ = 0;
  std::size_t oldest_ = 0;              // the sub-window to overwrite next
  std::vector<float> smoothed_;         // NaN until a bin's first usable frame
  std::vector<float> current_;          // minimum within the current sub-window
  std::vector<float> subWindowMinima_;  // subWindows_ x bins, oldest overwritten first
  std::vector<float> storedMinimum_;    // minimum of the completed sub-windows
  std::vector<float> floor_;
};

}  // namespace NSVelkBinaural
