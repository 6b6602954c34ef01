// Synthesize: the time signal back from short-time spectra (inverse FFT and weighted overlap-add).
//
// The spectra must come from frames cut like AudioFileSource's (frame k centred on sample
// k * ADVANCE) and transformed like MultiFFT's, with the same LENGTH, ADVANCE and WINDOW. Output
// frame k is samples [k * ADVANCE, (k + 1) * ADVANCE) of the rebuilt signal, on the input's
// timeline, except that no frame reaches past the recording's last sample (streamSamples()): the
// frames together are exactly as long as the recording. Spectra passed through unchanged give
// back the input exactly (to float rounding).
// Finishing output frame k needs the spectra up to frame k + lookAhead, so the node reads that far
// ahead (OverlapAdd::lookAheadFor(LENGTH, ADVANCE) frames).
#pragma once

#include <memory>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace velkdsp {
class FrameSynthesis;
class OverlapAdd;
}  // namespace velkdsp

namespace FD {

class FD_API Synthesize : public BufferedNode {
 public:
  Synthesize(std::string nodeName, const ParameterSet& params);
  ~Synthesize() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  void reset() override;
  FrameGeometry frameGeometry() const override { return {length_, advance_, 0}; }

 private:
  void addSpectrum(int frame);

  int inputId_, outputId_;
  int length_, advance_, lookAhead_;
  std::unique_ptr<velkdsp::FrameSynthesis> synthesis_;
  std::vector<float> whole_;  // one whole block of a channel, before the cut at the recording's end
  std::vector<velkdsp::OverlapAdd> channels_;  // one per channel, made on the first frame
  int nextFrame_ = 0;                 // next input frame to add
};

}  // namespace FD
