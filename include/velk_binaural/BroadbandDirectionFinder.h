// The directions of the sources heard in one frame, from the interaural phase of every bin that
// stands above the noise.
//
// Each bin that takes part contributes its observed phase difference as a unit phasor; the
// steered sum over those bins of cos(observed - expected phase) is computed for every direction
// of an interaural phase table (measured or modelled). A source adds coherently across frequency
// at its own direction only, so the sum peaks there, while a bin's phase wrapping at high
// frequencies and a reverberant bin's random phase add nothing in particular. Several sources
// are found one after another: the best direction is reported, the bins it explains are taken
// out of the sums, and the next best direction of what is left is reported if it still explains
// enough of the frame.
//
// Which bins take part:
//  - inside the frequency range, and above the noise floor by binSnrDb in both ears;
//  - interaurally coherent over the last few frames: where reverberation or diffuse noise
//    dominates a bin, its short-time interaural coherence falls, and its phase says nothing
//    about a direction. The level difference is not used: reverberation biases it towards the
//    front, where the phase, read only in coherent bins, stays right.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "velk_binaural/Export.h"
#include "velk_binaural/InterauralPhaseTable.h"
#include "velk_binaural/SourceReport.h"
#include "velk_binaural/StereoSpectrum.h"

namespace NSVelkBinaural {

// The defaults were chosen on the measuring scene sets (../shared/scenes-wide, 24 anechoic scenes;
// ../shared/scenes-rooms, 8 scenes at RT60 0.45 s; one to three talkers), with the adaptive
// floor and the talker tracker, scored by the rules of ../shared/scenegen/score.py, also cut to
// start with speech. At the defaults, with the measured tables: every anechoic talker found, all
// within 5 degrees, hit 0.91-0.97, no spurious reports, 1.0-1.08 ids per talker; in the room
// every talker within 10 degrees, 1.0-1.33 ids per talker, spurious 0-0.09. The anechoic figures hardly move over the ranges below; what
// the neighbouring values did in the room:
//   maxFrequencyHz 5000   4000: 92% of the talkers of mixtures within 10 degrees once cut to
//                         start with speech; 6500: 11% spurious reports against 9%.
//   binSnrDb 10           8: 2.0 ids per single talker, 15% spurious; 12: hit 0.72 against 0.84
//                         cut to start with speech.
//   coherenceSmoothing    0.4: 27% spurious, 2.7 ids per talker; 0.65: 75% of the talkers of
//     0.5                 mixtures within 10 degrees, hit 0.57.
//   minCoherence 0.9      0.85: 27% spurious, 2.7 ids; 0.95: 67% within 10 degrees, hit 0.31.
//   minBins 10            6: 35% spurious, 3.3 ids; 15: 67% within 10 degrees, hit 0.45.
//   minMatch 0.3          0.25: the same; 0.4: 20% spurious.
//   explainedMatch 0.7    0.6: the same; 0.8: 92% of the talkers of mixtures within 10 degrees.
//   minShare 0.15         0.1: the same; 0.25: hit 0.80 against 0.81 and otherwise the same.
struct VELK_API BroadbandDirectionConfig {
  double minFrequencyHz = 100.0;   // lowest bin that takes part, Hz (in [0, maxFrequencyHz))
  double maxFrequencyHz = 5000.0;  // highest bin that takes part, Hz (up to half the sampling rate)
  // How far above the noise floor a bin must stand in both ears to take part, dB (0 .. 60).
  float binSnrDb = 10.0f;
  // Weight of the past in the per-bin averages of the interaural cross- and auto-spectra from
  // which the coherence is taken, per frame, in [0, 1).
  float coherenceSmoothing = 0.5f;
  // Smallest short-time interaural coherence of a bin that takes part, in [0, 1]; 0 lets every
  // bin above the floor take part.
  float minCoherence = 0.9f;
  // A frame with fewer bins taking part reports nothing, and no further direction is sought
  // once fewer bins are left (at least 1).
  unsigned minBins = 10;
  // A direction is reported only when the mean of cos(observed - expected phase) over the bins
  // still left reaches this, in (-1, 1].
  float minMatch = 0.3f;
  // A bin is explained by a reported direction, and taken out, when cos(observed - expected
  // phase) at that direction exceeds this, in (-1, 1) (0.7: within about 45 degrees).
  float explainedMatch = 0.7f;
  // A second or later direction is reported only when it explains at least this share of the
  // frame's bins, in [0, 1].
  float minShare = 0.15f;
  // Most directions reported per frame (at least 1).
  unsigned maxDirections = 3;
};

class VELK_API BroadbandDirectionFinder {
 public:
  // std::invalid_argument for a configuration outside the ranges above, a null table, or a
  // frequency range that holds no bin of the table.
  BroadbandDirectionFinder(const BroadbandDirectionConfig& config, std::shared_ptr<const InterauralPhaseTable> table);

  // The directions heard in one frame, the strongest first; each report's strength is the share
  // of the frame's bins its direction explains. `noiseLeft` and `noiseRight` give the noise
  // power per bin in the spectra's own scale (AdaptiveNoiseFloor::power); without them (null) no
  // bin takes part, but the frame still enters the coherence averages. Bins whose values are
  // not finite are left out of everything. std::invalid_argument for a frame without both
  // spectra or with another bin count than the table's.
  const std::vector<SourceReport>& process(const StereoSpectrumView& frame, const float* noiseLeft,
                                           const float* noiseRight);

  // How many bins took part in the last frame.
  std::size_t binsTakingPart() const { return phasors_.size(); }
  const InterauralPhaseTable& table() const { return *table_; }
  // Forgets the coherence averages.
  void reset();

 private:
  struct Phasor {
    float c, s;       // cos and sin of the observed phase difference
    std::size_t bin;
  };
  void SelectBins(const StereoSpectrumView& frame, const float* noiseLeft, const float* noiseRight);
  void SteeredSums();
  // Index of the best direction of the current sums.
  std::size_t Best() const;
  double InterpolatedAzimuth(std::size_t best) const;
  // Takes out the bins still left that direction `d` explains; returns how many.
  std::size_t TakeOutExplained(std::size_t d);

  BroadbandDirectionConfig config_;
  std::shared_ptr<const InterauralPhaseTable> table_;
  std::size_t firstBin_, endBin_;  // bins [firstBin_, endBin_) may take part
  float snrGain_;                   // binSnrDb as a power ratio
  // Per bin of the range: averaged cross-spectrum R conj(L) (real and imaginary parts) and
  // auto-spectra; 1 where the bin takes part in this frame, else 0; an infinite noise floor for
  // frames given none.
  std::vector<float> crossRe_, crossIm_, autoLeft_, autoRight_, taking_, noNoise_;
  std::vector<Phasor> phasors_;  // the bins taking part in this frame
  std::vector<char> left_;       // per phasor: not yet explained
  std::vector<float> sums_;      // steered sum per direction (table stride)
  std::vector<SourceReport> reports_;
};

}  // namespace NSVelkBinaural
