// The separator node: per frame, for every source of the list, the spectrum of the ear on the
// source's side with only the bins whose interaural differences fit the source's direction, keyed
// by source id. The work is the library's PassBandSeparator; the node maps its parameters to the
// configuration, reads the tables on the first frame and turns the results into host objects.
#pragma once

#include <complex>
#include <memory>
#include <string>

#include "NodeSupport.h"
#include "fd/NodeInfo.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/PassBandSeparator.h"

class SeparateBinaural : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  SeparateBinaural(const std::string& nodeName, const FD::ParameterSet& params);
  ~SeparateBinaural() override;
  void calculate(int outputId, int count, FD::Buffer& out) override;
  FD::FrameGeometry frameGeometry() const override { return {0, 0, config_.samplingRateHz}; }
  static FD::NodeInfo describe();

  const NSVelkBinaural::PassBandSeparatorConfig& Config() const { return config_; }

 private:
  using ComplexMatrix = FD::Matrix<std::complex<float>>;

  // First-frame set-up: the tables of the "VELK_DAT" file (read whatever the method; they must fit
  // the spectra for the measured method) and the separator. Runs again whenever frame 0 is
  // computed.
  void count0Initialize(const ComplexMatrix& spectrum);

  void logSources(const FD::ObjectRef& sources, int count) const;

  int spectrumID, sourcesID;
  int outputID;
  NSVelkBinaural::PassBandSeparatorConfig config_;
  std::unique_ptr<NSVelkBinaural::PassBandSeparator> separator_;
  int bins_ = 0;          // of the spectra, fixed on frame 0
  bool sourceOnePresent;  // a source with id 1 was in the list on the last separated frame
  NSVelkBinaural::Logger* logger;
};
