// MultiFFT: the short-time spectrum of every channel of a frame.
//
// Each row (channel) of the input frame is multiplied by the window and transformed:
// X[k] = sum_n w[n] x[n] e^(-j 2 pi k n / LENGTH) for k = 0 .. LENGTH/2, unscaled. Row r of the
// spectrum is channel r of the input, so row 0 is the left ear.
#pragma once

#include <memory>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace velkdsp {
class FrameAnalysis;
}

namespace FD {

class FD_API MultiFFT : public BufferedNode {
 public:
  MultiFFT(std::string nodeName, const ParameterSet& params);
  ~MultiFFT() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  FrameGeometry frameGeometry() const override { return {length_, 0, 0}; }

 private:
  int inputId_, outputId_;
  int length_;
  std::unique_ptr<velkdsp::FrameAnalysis> analysis_;
};

}  // namespace FD
