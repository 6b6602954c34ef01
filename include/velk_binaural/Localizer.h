// The localiser: from the two-ear spectrum of each frame to the talkers heard, with stable ids.
//
// Per frame, with the stages every parameter left at its default chooses: the spectrum is
// normalised, the background noise is learnt from the first frames (or given with each frame),
// bands standing above the noise are grouped into clusters, harmonic structures that look like a
// voice are judged for their direction (head model or measured tables) and the sound-event
// history matches them to events over time. Every event heard on the frame, or paused, is
// reported.
//
// Other stages can take part instead: an adaptive noise floor that follows the noise all along
// (noiseFloor), and the broadband direction finder that steers the phase of every coherent bin up
// to 5 kHz and finds several talkers per frame (directions). The talker tracker (TalkerTracker.h)
// turns the reports, frame after frame, into talkers with ids kept over pauses.
//
//   NSVelkBinaural::LocalizerConfig config;            // every parameter at its default
//   config.peakThresholdDb = 15.0f;
//   NSVelkBinaural::Localizer localizer(config);
//   NSVelkBinaural::TalkerTracker tracker;
//   for (each frame k) {
//     const double time = config.FrameTime(k);
//     for (const TalkerTrack& t : tracker.process(time, localizer.Process(spectrum, time))) ...
//   }
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/AdaptiveNoiseFloor.h"
#include "velk_binaural/Band.h"
#include "velk_binaural/BGNEstimator.h"
#include "velk_binaural/BroadbandDirectionFinder.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/EventHistoryManager.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/HarmonicSound.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/Signal.h"
#include "velk_binaural/SourceReport.h"
#include "velk_binaural/StereoSpectrum.h"
#include "velk_binaural/TableLoader.h"
#include "velk_binaural/TalkerTracker.h"
#include "velkparam/Parameter.h"

namespace NSVelkBinaural {

// A per-bin level of both ears in dB (the scale of the localiser's power spectra), not owned.
struct VELK_API StereoLevelsView {
  const float* left = nullptr;
  const float* right = nullptr;
  std::size_t bins = 0;
};

struct VELK_API LocalizerConfig {
  enum class Noise { Internal, External };
  enum class Method { HeadModel, MeasuredTables };
  enum class NoiseFloor { FirstFrames, Adaptive };
  enum class Directions { Harmonic, Broadband };

  // Every parameter at its declared default.
  LocalizerConfig();
  // The parameters of the localiser: name, type, default, accepted values, unit and meaning.
  static const std::vector<velkparam::Declaration>& Parameters();
  // The configuration for parameter values named as in Parameters(); absent ones take their
  // defaults. velkparam::ParameterError naming the parameter, the value and what is accepted for
  // a value that is refused (a text that matches no keyword selects the other branch, as each
  // entry says).
  static LocalizerConfig FromParameters(const velkparam::Values& values);

  // Time of frame `frame` (frames centred on multiples of advanceSamples), seconds.
  double FrameTime(long frame) const { return static_cast<double>(frame) * advanceSamples / samplingRateHz; }

  int samplingRateHz;
  int advanceSamples;
  Noise noise;
  unsigned int noiseFrames;      // frames the internal estimate averages
  int pauseLengthMs;             // how long a talker may pause and keep its id
  double minSourceIntervalDeg;   // sounds within half of it join the same event
  double peakFminHz, peakFmaxHz; // the peak search covers [peakFminHz, peakFmaxHz)
  Channel::Kind channel;         // the ear whose peaks are clustered
  int harmonicThreshold;         // smallest voice score of a harmonic structure
  float peakThresholdDb;         // margin above the noise a peak needs in both ears
  double eventRatioThreshold;    // an event heard this many times per second or fewer ends
  double clusteringThreshold;    // merge cost limit of the clustering
  Method method;
  TableRequest tables;           // the measured tables, with Method::MeasuredTables
  double headRadiusM;            // the spherical head of the head model
  double sourceDistanceM;        // distance of the sources from the head centre, head model
  NoiseFloor noiseFloor;         // Adaptive follows the noise all along (with Noise::Internal)
  Directions directions;

 private:
  struct Uninitialised {};
  explicit LocalizerConfig(Uninitialised) {}
};

class VELK_API Localizer {
 public:
  // `tables` are needed with Method::MeasuredTables (std::invalid_argument without them); they
  // set the direction grid. The head model judges directions -90 .. 90 degrees in 5-degree steps.
  explicit Localizer(const LocalizerConfig& config, boost::shared_ptr<IIPDS> tables = {});
  Localizer(const Localizer&) = delete;
  Localizer& operator=(const Localizer&) = delete;

  // Localises one frame (frames in order, `timeSec` increasing) and returns the sources active
  // or paused on it: the sound events (their ids), or with Directions::Broadband the frame's
  // directions (their rank in the frame as id, 1 the strongest). Each report's strength is its
  // evidence on the frame, which the talker tracker weighs (NaN for a paused event). With
  // Noise::External, `noise` is the frame's background noise; a frame without it reports nothing
  // and leaves the history as it was. The first frame fixes the transform length; later frames
  // must have as many bins (std::invalid_argument). A frame the peak search cannot examine throws
  // FrameError. The list is valid until the next call.
  const std::vector<SourceReport>& Process(const StereoSpectrumView& frame, double timeSec,
                                           const StereoLevelsView* noise = nullptr);

  class FrameError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  const LocalizerConfig& Config() const { return config_; }
  // The direction grid the judges and the history use.
  const DirectionConverter& Grid() const { return grid_; }
  const EventHistoryManager& History() const { return history_; }
  // Transform length of the spectra; 0 before the first frame.
  int Nfft() const { return nfft_; }
  // Whether a source id reported earlier may be reported again (an event still in the history, or
  // a rank): ids that it is not for are never reported again.
  bool Holds(int id) const;

 private:
  void Start(size_t bins);
  void MakeFinder(size_t bins);
  void HarmonicFrame(const StereoSpectrumView& frame, double timeSec, const StereoLevelsView* noise);
  void BroadbandFrame(const StereoSpectrumView& frame, const StereoLevelsView* noise, double timeSec);
  void ReportRanks(const std::vector<SourceReport>& directions, double timeSec);
  size_t BinsToRead(size_t bins) const;
  ComplexPairPtr NormalisedSpectra(const StereoSpectrumView& frame, size_t n) const;
  FloatPairPtr FrameNoise(const ComplexPairPtr& lrspectra, const StereoLevelsView* noise);
  FloatPairPtr AdaptiveLevels(size_t n) const;
  FloatPairPtr PowerSpectra(const ComplexPairPtr& lrspectra) const;
  HarmonicSoundList HumanSounds(const FloatPairPtr& noise, const FloatPairPtr& lrpower) const;
  void JudgeDirections(const HarmonicSoundList& sounds, const ComplexPairPtr& lrspectra);
  void UpdateHistory(const HarmonicSoundList& sounds, double timeSec);
  void ReportEvents(const HarmonicSoundList& sounds, double timeSec);
  [[noreturn]] void AbandonFrame(const std::string& message) const;

  LocalizerConfig config_;
  boost::shared_ptr<IIPDS> tables_;
  DirectionConverter grid_;
  std::unique_ptr<DirectionJudge> judge_;
  BGNEstimator noiseEstimator_;
  EventHistoryManager history_;
  int nfft_ = 0;
  std::unique_ptr<BandInformation> info_;  // of the spectra, made on the first frame
  Band lower_, upper_;                     // edges of the peak search
  // The stages beside the harmonic-event pipeline, when the configuration chooses them (the
  // finder is made on the first frame).
  std::unique_ptr<AdaptiveNoiseFloor> adaptiveFloor_;
  std::unique_ptr<BroadbandDirectionFinder> finder_;
  std::vector<float> noisePower_[2];  // the noise as powers of the spectrum, for the finder
  std::vector<SourceReport> reports_;
  Logger* logger_;
};

// One-line description of a harmonic sound for diagnostics: its id, fundamental frequency, number
// of harmonics, best direction (on `grid`) and its probability, and the band of every harmonic
// number up to the highest (0 where that harmonic is missing).
VELK_API std::string HarmonicSoundToString(const HarmonicSound& sound, const DirectionConverter& grid);

}  // namespace NSVelkBinaural
