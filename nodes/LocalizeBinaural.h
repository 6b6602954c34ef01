// Finds the directions of talkers from the two-channel spectrum of a binaural head and tracks
// them as sound events with stable ids, frame by frame.
//
// Per frame: the spectrum is normalised, the background noise is learnt (or taken from the
// BGNOISE input), bands above the noise are grouped into clusters, harmonic structures that
// look like a voice are judged for their direction (head model or measured tables), and the
// event history matches them to events over time. Every event updated on the frame or paused
// is output as a source; each new id is announced once on standard output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BGNEstimator.h"
#include "DirectionJudge.h"
#include "EventHistoryManager.h"
#include "HRTF.h"
#include "HarmonicSound.h"
#include "Logger.h"
#include "NodeSupport.h"
#include "Signal.h"
#include "Source.h"
#include "fd/NodeInfo.h"

namespace NSVelkBinaural {

// Transform length and sampling rate of the spectra a localiser receives, fixed on frame 0.
struct LocalizationSetting {
  int nfft;   // 2 x (spectrum columns) - 2
  double fs;  // Hz
};

// One-line description of a harmonic sound for diagnostics: its id, fundamental frequency,
// number of harmonics, best direction and its probability, and the band of every harmonic
// number up to the highest (0 where that harmonic is missing).
std::string HarmonicSoundToString(const HarmonicSound& sound);

}  // namespace NSVelkBinaural

class LocalizeBinaural : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  LocalizeBinaural(const std::string& nodeName, const FD::ParameterSet& params);
  ~LocalizeBinaural() override;

  void calculate(int outputId, int count, FD::Buffer& out) override;
  // BGNOISE need not be connected when the noise is estimated inside the node.
  void verifyConnect() const override;
  static FD::NodeInfo describe();

  // Read-only views of the state carried from frame to frame.
  const NSVelkBinaural::EventHistoryManager& History() const { return eventHistory; }
  boost::shared_ptr<const NSVelkBinaural::LocalizationSetting> Setting() const { return setting; }

 protected:
  // First-frame set-up: the transform length from the spectrum's width and, for the measured
  // method, the interaural tables and the direction grid they bring.
  void count0Initialize(int count, FD::Buffer& out);

 private:
  using SoundList = NSVelkBinaural::HarmonicSoundList;

  void LoadMeasuredTables();
  size_t BinsToRead(const FD::Matrix<std::complex<float>>& spectrum, const NSVelkBinaural::Band& upper) const;
  NSVelkBinaural::ComplexPairPtr NormalisedSpectra(const FD::Matrix<std::complex<float>>& spectrum, size_t n) const;
  NSVelkBinaural::FloatPairPtr FrameNoise(int count, const NSVelkBinaural::ComplexPairPtr& lrspectra);
  NSVelkBinaural::FloatPairPtr PowerSpectra(const NSVelkBinaural::ComplexPairPtr& lrspectra,
                                            const NSVelkBinaural::Band& lower, const NSVelkBinaural::Band& upper) const;
  SoundList HumanSounds(const NSVelkBinaural::FloatPairPtr& noise, const NSVelkBinaural::FloatPairPtr& lrpower,
                        const NSVelkBinaural::Band& lower, const NSVelkBinaural::Band& upper,
                        const NSVelkBinaural::BandInformation& info) const;
  void JudgeDirections(const SoundList& sounds, const NSVelkBinaural::ComplexPairPtr& lrspectra,
                       const NSVelkBinaural::BandInformation& info);
  void UpdateHistory(const SoundList& sounds, double frameTime);
  // Outputs the events in states 1 and 2 and announces each id the first time it is output.
  void AppendActiveSources(FD::Vector<FD::ObjectRef>& sources);
  void AnnounceIfNew(const FD::Source& source);
  void ForgetEndedIds();
  [[noreturn]] void AbandonFrame(const std::string& message, int line) const;

  int audioID, spectrumID, bgnoiseID;
  int sourcesID;
  int samplingRate;
  int advance;
  bool internalNoise;
  double peakFmin, peakFmax;
  int localizeLeft;
  int harmonicThreshold;
  float peakThreshold;
  float clusteringThreshold;
  boost::shared_ptr<NSVelkBinaural::LocalizationSetting> setting;
  NSVelkBinaural::BGNEstimator bgnEstimator;
  NSVelkBinaural::EventHistoryManager eventHistory;
  boost::shared_ptr<NSVelkBinaural::IIPDS> iipds;
  // Made on the first frame and kept: it caches what does not change from frame to frame.
  std::unique_ptr<NSVelkBinaural::DirectionJudge> judge;
  FD::String localizeMethod;
  NSVelkBinaural::Logger* logger;
  std::vector<int> reportedIds;  // ids announced whose events are still in the history
};
