// SaveSeparatedStream: the separated sound of one source, written as it is made.
//
// Every frame brings a map from source id to that source's separated spectrum (as for
// SaveSeparatedWaves); the spectra of SOURCE_ID are turned back into sound like Synthesize does
// and each frame's samples are written at once, to standard output ("-"), a pipe or a file, as a
// WAV stream or bare samples (AudioStreamWriter). The sound follows the input's timeline: silence
// wherever the id is absent, and exactly as long as the recording. The map is passed on
// unchanged. A file takes its destination's place only when the run succeeds; standard output and
// pipes are written as the run goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fd/AudioStream.h"
#include "fd/Export.h"
#include "fd/Node.h"

namespace velkdsp {
class FrameSynthesis;
class OverlapAdd;
}  // namespace velkdsp

namespace FD {

class FD_API SaveSeparatedStream : public BufferedNode {
 public:
  SaveSeparatedStream(std::string nodeName, const ParameterSet& params);
  ~SaveSeparatedStream() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  FrameGeometry frameGeometry() const override { return {length_, advance_, samplingRate_}; }
  // Completes the WAV header where the destination can be rewound and closes it; a NodeException
  // naming it when that fails.
  void finish() override;
  // Moves a file into place.
  void commit() override;
  // Frames in which the source was present so far.
  long framesHeard() const { return framesHeard_; }

 private:
  int inputId_, outputId_, sourceId_;
  int samplingRate_, length_, advance_, lookAhead_;
  std::unique_ptr<velkdsp::FrameSynthesis> synthesis_;
  std::unique_ptr<velkdsp::OverlapAdd> channel_;
  std::unique_ptr<AudioStreamWriter> writer_;
  std::vector<float> block_;
  int nextFrame_ = 0;
  long framesHeard_ = 0;
};

}  // namespace FD
