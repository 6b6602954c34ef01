// Separation of talkers whose directions are known, by soft time-frequency masks learnt from the
// recording.
//
// Each frame's two-ear spectrum is split bin by bin among the given talkers and a noise class.
// Per talker and bin a spatial model (the unit-trace covariance of the two-ear spectrum, starting
// from the cues expected from its direction, see ExpectedCues) gives the likelihood that the bin
// comes from that talker: a complex angular central Gaussian, which weighs interaural phase and
// level together at every frequency. The likelihoods, normalised across the talkers and biased
// towards what the neighbouring bins decided, share out the energy that is new in the bin. The
// energy that was already there (the decaying power each talker had in the bin on the previous
// frame: reverberation and held sounds) and the background noise (NoiseFloorTracker) are given
// to their owners first. Each talker's share of the bin's power is its soft mask, and the mask,
// with a floor, applied to the ear on the talker's side is its output. The masks also weight an
// online expectation-maximisation step that moves each talker's spatial model towards the cues
// observed in the recording, with forgetting, anchored to the expected cues.
//
// Frames are taken in order, one at a time, with no look-ahead: the outputs of a frame are ready
// when process() returns. Memory depends on the number of bins and talkers, not on the length of
// the input.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "velk_binaural/ExpectedCues.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/NoiseFloorTracker.h"
#include "velk_binaural/StereoSpectrum.h"

namespace NSVelkBinaural {

// The defaults were chosen on the simulated two- and three-talker scenes with the true directions
// and the measured tables, in free field (24 scenes, 20 dB, 10 dB SNR and clean) and in a room
// (8 scenes, reverberation time 0.45 s, talkers 1.5-2.5 m away), by the mean gain in
// scale-invariant SDR of each talker's output over the mixture at the same ear. With every
// default: +10.1 dB free field, +3.4 dB in the room (two talkers). Each value changed alone
// (free field / room, two talkers, dB):
//   cueSpread 0.02      0.005: 10.2 / 3.3   0.05: 9.9 / 3.5   0.1: 9.7 / 3.5
//   learningTimeS 3     0: 10.4 / 2.7       1: 10.2 / 3.3     10: 10.0 / 3.5
//   anchorFrames 20     5: 9.1 / 3.3        10: 9.6 / 3.5     50: 10.3 / 3.1
//   neighbourBins 10    0: 10.0 / 2.4       3: 10.1 / 2.9     6: 10.0 / 3.3    20: 10.1 / 3.4
//   neighbourPower 2    1: 10.3 / 3.1       3: 9.8 / 3.6
//   decayTimeS 0.45     0: 11.0 / 1.6       0.3: 10.2 / 3.1   0.6: 10.0 / 3.6  0.8: 9.9 / 3.7
//   noiseClass on       off: 8.6 / 3.1
//   noiseWindowS 1.5    0.75: 9.8 / 3.3     3: 10.2 / 3.5
//   noiseBias 1.5       1: 9.9 / 3.4        2: 10.2 / 3.4     3: 10.1 / 3.3
//   maskFloor 0.05      0: 10.1 / 3.4       0.1: 9.8 / 3.4    0.2: 8.7 / 3.2
//   demix off           on: 12.3 / 1.8
// The learning, the decay and demixing pull the two ways: in free field the cues of the tables
// hold and every frame can be decided afresh, while in a room what a talker leaves in a bin stays
// its own and the cues must be learnt. The defaults favour rooms, where recordings are made;
// decayTimeS 0.45 s is the reverberation time of an ordinary office (set it to the room's when
// known, 0 in free field), and demix suits free field and close talkers.
struct VELK_API SoftMaskSeparatorConfig {
  int sampleRate = 16000;      // Hz; with frameShift converts the times below into frames
  int frameShift = 160;        // samples from one frame to the next
  float cueSpread = 0.02f;     // how far a talker's cues may stray from the expected ones
  float learningTimeS = 3.0f;  // memory of the cues learnt from the recording; 0: keep the expected cues
  float anchorFrames = 20.0f;  // weight of the expected cues against the learnt ones, in frames
  int neighbourBins = 10;      // half-width of the band of neighbouring bins whose decisions bias a bin's
  int neighbourPower = 2;      // how strongly they bias it: exponent of their mean decision; 0: not at all
  float decayTimeS = 0.45f;    // 60 dB decay time of the power a talker leaves in a bin; 0: none
  bool noiseClass = true;      // give the background noise its share of each bin
  float noiseWindowS = 1.5f;   // span of the noise floor's minimum search
  float noiseBias = 1.5f;      // noise floor = this times the minimum smoothed power
  float maskFloor = 0.05f;     // least gain of a mask, so that the output does not sound chopped
  bool demix = false;          // replace the masked ear by a per-bin multichannel Wiener filter
};

// One entry of the parameter table: name, unit, allowed range (inclusive), meaning and access.
// Defaults are those of a default-constructed SoftMaskSeparatorConfig.
struct VELK_API SoftMaskParameter {
  const char* name;
  const char* unit;  // "" for pure numbers
  double min, max;
  bool integer;  // whole numbers only (0/1 for switches)
  const char* meaning;
  double (*get)(const SoftMaskSeparatorConfig&);
  void (*set)(SoftMaskSeparatorConfig&, double);  // unchecked: use SetParameter
};
// Every field of SoftMaskSeparatorConfig, in declaration order.
VELK_API const std::vector<SoftMaskParameter>& SoftMaskParameters();
// Throws std::invalid_argument naming the first field outside its range, its value and the range.
VELK_API void Validate(const SoftMaskSeparatorConfig& config);
// Sets the field called `name` (as in the table) to `value`. Throws std::invalid_argument naming
// the field, the value and its range when the value is outside it or not whole where it must be,
// and listing the accepted names when there is no such field; the configuration is then unchanged.
VELK_API void SetParameter(SoftMaskSeparatorConfig& config, const std::string& name, double value);

// A talker to separate on a frame: an id that stays with it from frame to frame, and its
// direction (degrees, positive to the left, 0 straight ahead).
struct VELK_API TalkerDirection {
  int id = 0;
  double azimuthDeg = 0.0;
};

class VELK_API SoftMaskSeparator {
 public:
  // Throws std::invalid_argument for a configuration outside its ranges (Validate), null cues,
  // or cues made for another sampling rate than the configuration's.
  SoftMaskSeparator(std::shared_ptr<const ExpectedCues> cues, const SoftMaskSeparatorConfig& config = {});
  ~SoftMaskSeparator();
  SoftMaskSeparator(const SoftMaskSeparator&) = delete;
  SoftMaskSeparator& operator=(const SoftMaskSeparator&) = delete;

  // Separates the next frame for `talkers`; output i then belongs to talkers[i]. A talker keeps
  // what was learnt about it while its id comes back with about the same direction; an id absent
  // for longer than the learning time (at least a second) is forgotten. Bins that are not finite
  // or hold no power give zero in every output and teach nothing. Throws std::invalid_argument
  // for a frame whose bin count differs from the cues' (nfft/2 + 1), missing bin arrays, an id
  // listed twice or a direction that is not a finite number.
  void process(const StereoSpectrumView& frame, const std::vector<TalkerDirection>& talkers);

  // Outputs of the last frame, in the order of its talkers.
  std::size_t outputs() const { return active_.size(); }
  // The separated spectrum of talker i: bins() values of the ear on its side.
  const std::complex<float>* output(std::size_t i) const;
  // Its mask (gain per bin, maskFloor .. 1; 0 in unusable bins).
  const float* mask(std::size_t i) const;
  // Whether output i is taken from the left ear (azimuth above 0) or the right one.
  bool leftEar(std::size_t i) const;

  std::size_t bins() const { return bins_; }
  const SoftMaskSeparatorConfig& config() const { return config_; }
  // Forgets every talker and the noise floor, as if newly made.
  void reset();

 private:
  struct Talker;

  Talker& talkerFor(const TalkerDirection& direction);
  void forgetAbsentTalkers();
  void analyseFrame(const StereoSpectrumView& frame);
  void spatialPosteriors();
  void biasByNeighbours();
  void shareOutPower();
  void writeMaskedOutputs(const StereoSpectrumView& frame);
  void writeDemixedOutputs(const StereoSpectrumView& frame);
  void learnCues();

  std::shared_ptr<const ExpectedCues> cues_;
  SoftMaskSeparatorConfig config_;
  std::size_t bins_;
  float decay_;       // per-frame factor of a talker's power
  float forgetting_;  // per-frame factor of the learnt statistics
  long forgetAfterFrames_;
  long frame_ = 0;
  NoiseFloorTracker noise_;

  std::unordered_map<int, std::unique_ptr<Talker>> talkers_;
  std::vector<Talker*> active_;  // the talkers of the last frame, in their order

  // Per bin of the current frame.
  std::vector<float> power_;              // |left|^2 + |right|^2; 0 in unusable bins
  std::vector<float> inverse_;            // 1 / power; 0 in unusable bins
  std::vector<float> leftShare_;          // |left|^2 / power
  std::vector<float> crossRe_, crossIm_;  // conj(left) right / power
  std::vector<float> sum_;                // scratch: sums over talkers
  std::vector<float> window_;             // scratch: neighbourhood means, new power
  std::vector<float> prefix_;             // scratch: partial sums of a posterior (bins + 1)
  std::vector<float> inverseCount_;       // 1 / the number of bins in each bin's neighbourhood
};

}  // namespace NSVelkBinaural
