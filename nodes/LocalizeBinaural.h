// The localiser node: finds the directions of talkers in the two-channel spectrum of a binaural
// head and reports them, frame by frame, as source records with stable ids. The work is the
// library's Localizer; the node maps its parameters to the configuration, feeds it each frame and
// turns its reports into source records, announcing each new id once on standard output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "NodeSupport.h"
#include "fd/NodeInfo.h"
#include "fd/Source.h"
#include "velk_binaural/Localizer.h"
#include "velk_binaural/Logger.h"

class LocalizeBinaural : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  LocalizeBinaural(const std::string& nodeName, const FD::ParameterSet& params);
  ~LocalizeBinaural() override;

  void calculate(int outputId, int count, FD::Buffer& out) override;
  // BGNOISE need not be connected when the noise is estimated inside the node.
  void verifyConnect() const override;
  FD::FrameGeometry frameGeometry() const override { return {0, config_.advanceSamples, config_.samplingRateHz}; }
  static FD::NodeInfo describe();

  // The configuration the parameters gave.
  const NSVelkBinaural::LocalizerConfig& Config() const { return config_; }
  // The pipeline; null until the first frame has been computed.
  const NSVelkBinaural::Localizer* Pipeline() const { return localizer_.get(); }

 protected:
  // First-frame set-up: the transform length from the spectrum's width and, for the measured
  // method, the interaural tables and the direction grid they bring.
  void count0Initialize(int count, FD::Buffer& out);

 private:
  boost::shared_ptr<NSVelkBinaural::IIPDS> LoadMeasuredTables(int nfft);
  // The pipeline's reports as source records; each id is announced the first time it is output.
  FD::ObjectRef SourcesOf(const std::vector<NSVelkBinaural::SourceReport>& reports);
  void AnnounceIfNew(const FD::Source& source);
  void ForgetEndedIds();

  int audioID, spectrumID, bgnoiseID;
  int sourcesID;
  NSVelkBinaural::LocalizerConfig config_;
  std::unique_ptr<NSVelkBinaural::Localizer> localizer_;
  NSVelkBinaural::Logger* logger;
  std::vector<int> reportedIds;  // ids announced whose events are still in the history
};
