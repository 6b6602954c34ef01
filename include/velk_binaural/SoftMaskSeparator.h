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
// frame: reverberation and held sounds) and the background noise (AdaptiveNoiseFloor) are given
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
#include "velk_binaural/AdaptiveNoiseFloor.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/StereoSpectrum.h"
#include "velk_binaural/TableLoader.h"
#include "velkparam/Parameter.h"

namespace NSVelkBinaural {

// The separator's configuration. Every field has a parameter of the table below (name, type,
// default, accepted values, unit and meaning): the node, the command-line tool and embedding code
// read, check and document the configuration from it. Where the defaults come from is written
// with the table (src/SoftMaskSeparatorConfig.cpp).
struct VELK_API SoftMaskSeparatorConfig {
  // Where the cues expected of each direction come from (see ExpectedCues).
  enum class Cues { HeadModel, MeasuredTables };

  // Every parameter at its declared default.
  SoftMaskSeparatorConfig();
  // The separator's parameters.
  static const std::vector<velkparam::Declaration>& Parameters();
  // The configuration for parameter values named as in Parameters(); absent ones take their
  // defaults. velkparam::ParameterError (a std::invalid_argument) naming the parameter, the value
  // and what is accepted for a value that is refused.
  static SoftMaskSeparatorConfig FromParameters(const velkparam::Values& values);
  // The configuration as parameter values, so that one set in code can be checked (Validate).
  velkparam::Values ToParameters() const;

  int sampleRate;          // Hz; with frameShift converts the times below into frames
  int frameShift;          // samples from one frame to the next
  Cues cues;               // the rigid spherical head, or the measured tables of a file
  TableRequest tables;     // the file and its two ear channels, with Cues::MeasuredTables
  SphereHead head;         // the sphere's radius and the talkers' distance, with Cues::HeadModel
  float cueSpread;         // how far a talker's cues may stray from the expected ones
  float learningTimeS;     // memory of the cues learnt from the recording; 0: keep the expected cues
  float anchorFrames;      // weight of the expected cues against the learnt ones, in frames
  int neighbourBins;       // half-width of the band of neighbouring bins whose decisions bias a bin's
  int neighbourPower;      // how strongly they bias it: exponent of their mean decision; 0: not at all
  float decayTimeS;        // 60 dB decay time of the power a talker leaves in a bin; 0: none
  bool noiseClass;         // give the background noise its share of each bin
  float noiseScale;        // the noise's share of a bin: this times its mean power (AdaptiveNoiseFloor)
  float maskFloor;         // least gain of a mask, so that the output does not sound chopped
  bool demix;              // replace the masked ear by a per-bin multichannel Wiener filter

 private:
  struct Uninitialised {};
  explicit SoftMaskSeparatorConfig(Uninitialised) {}
};

// Throws velkparam::ParameterError naming the first field (by its parameter) whose value the
// table refuses, with the value and what is accepted.
VELK_API void Validate(const SoftMaskSeparatorConfig& config);

// The cues the configuration names, for spectra of an `nfft`-point transform: the rigid sphere,
// or the measured tables of its file. TableError naming the file when it cannot be read, does
// not hold the two channels, or is made for another sampling rate or transform length.
VELK_API std::shared_ptr<const ExpectedCues> LoadExpectedCues(const SoftMaskSeparatorConfig& config, int nfft);

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
  AdaptiveNoiseFloor noise_;

  std::unordered_map<int, std::unique_ptr<Talker>> talkers_;
  std::vector<Talker*> active_;  // the talkers of the last frame, in their order

  // Per bin of the current frame.
  std::vector<float> power_;              // |left|^2 + |right|^2; 0 in unusable bins
  std::vector<float> noisePower_;         // the noise's share of each bin's power
  std::vector<float> inverse_;            // 1 / power; 0 in unusable bins
  std::vector<float> leftShare_;          // |left|^2 / power
  std::vector<float> crossRe_, crossIm_;  // conj(left) right / power
  std::vector<float> sum_;                // scratch: sums over talkers
  std::vector<float> window_;             // scratch: neighbourhood means, new power
  std::vector<float> prefix_;             // scratch: partial sums of a posterior (bins + 1)
  std::vector<float> inverseCount_;       // 1 / the number of bins in each bin's neighbourhood
};

}  // namespace NSVelkBinaural
