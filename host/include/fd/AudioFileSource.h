// AudioFileSource: the frames of an audio file, the start of every network that hears a recording.
//
// Frame k holds LENGTH samples of every channel centred on sample k * ADVANCE: samples
// [k * ADVANCE - LENGTH/2, k * ADVANCE - LENGTH/2 + LENGTH), with zeros before the start and after
// the end of the file. Its time is therefore k * ADVANCE / SAMPLING_RATE seconds. The stream has
// ceil(samples / ADVANCE) frames (the frames whose centre lies inside the file), so together they
// cover every sample; frames past the last one can still be asked for (a downstream node may look
// a few frames ahead) and hold the rest of the file's tail, then zeros. A file cut short of what
// its header announces counts as the samples it holds (AudioFileReader warns of the cut), and
// samples that are not finite numbers are read as 0 (the run's end warns with their count).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace FD {

class AudioFileReader;

class FD_API AudioFileSource : public BufferedNode {
 public:
  // Opens the file; fails (NodeException) when it is missing or unreadable, or when its sampling
  // rate or channel count differs from SAMPLING_RATE or CHANNELS (there is no resampling).
  AudioFileSource(std::string nodeName, const ParameterSet& params);
  ~AudioFileSource() override;
  static NodeInfo describe();

  long streamLength() const override { return frames_; }
  FrameGeometry frameGeometry() const override { return {length_, advance_, samplingRate_}; }
  long streamSamples() const override;
  // Warns (FD::warn) when samples that are not finite numbers were read (as 0).
  void finish() override;
  void calculate(int outputId, int count, Buffer& out) override;

 private:
  int audioId_;
  std::string path_;
  int samplingRate_, channels_, length_, advance_;
  std::unique_ptr<AudioFileReader> file_;
  long frames_ = 0;
  std::vector<float> interleaved_;
};

}  // namespace FD
