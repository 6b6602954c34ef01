// SaveWave: writes the time signal arriving frame by frame (for instance Synthesize's output) to a
// WAV file, one channel per row, and passes each frame on unchanged. The file is created on the
// first frame with that frame's channel count, beside its destination. Samples are written in
// large blocks; the file is complete when the network finishes the node (a write error then fails
// the run) and takes the destination's place when the network commits it. A run that fails
// leaves the destination as it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace FD {

class AudioFileWriter;

class FD_API SaveWave : public BufferedNode {
 public:
  SaveWave(std::string nodeName, const ParameterSet& params);
  ~SaveWave() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  // Writes the rest of the file and closes it; a NodeException naming the file when that fails.
  void finish() override;
  // Moves the file into place.
  void commit() override;

 private:
  int inputId_, outputId_;
  std::string path_;
  int samplingRate_;
  int format_;  // SampleFormat
  std::unique_ptr<AudioFileWriter> file_;
  std::vector<float> interleaved_;
};

}  // namespace FD
