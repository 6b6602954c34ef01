// The soft-mask separator node: per frame, for every source of the list, the spectrum of the ear
// on the source's side weighted by the share of each bin that the source's direction explains,
// keyed by source id (the output of SeparateBinaural, so that the same writers follow it). The
// work is the library's SoftMaskSeparator; the node maps its parameters to the configuration,
// loads the expected cues on the first frame and turns the results into host objects.
#pragma once

#include <memory>
#include <string>

#include "NodeSupport.h"
#include "fd/NodeInfo.h"
#include "velk_binaural/SoftMaskSeparator.h"

class SeparateSoftMask : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  SeparateSoftMask(const std::string& nodeName, const FD::ParameterSet& params);
  ~SeparateSoftMask() override;
  void calculate(int outputId, int count, FD::Buffer& out) override;
  FD::FrameGeometry frameGeometry() const override { return {0, config_.frameShift, config_.sampleRate}; }
  static FD::NodeInfo describe();

  const NSVelkBinaural::SoftMaskSeparatorConfig& Config() const { return config_; }

 private:
  // First-frame set-up: the cues for the spectra's transform length and a new separator. Runs
  // again whenever frame 0 is computed.
  void start(int bins);

  int spectrumID, sourcesID, outputID;
  NSVelkBinaural::SoftMaskSeparatorConfig config_;
  std::unique_ptr<NSVelkBinaural::SoftMaskSeparator> separator_;
  int bins_ = 0;  // of the spectra, fixed on frame 0
};
