// SaveSeparatedWaves: one mono WAV file per separated source.
//
// Every frame brings a map from source id to that source's separated spectrum (LENGTH/2 + 1 bins,
// as a separator outputs it). Each id's spectra are turned back into sound like Synthesize does
// and written to "<PREFIX>_<id>.wav". All files follow the input's timeline: a file starts with
// silence up to the id's first frame, and frames where the id is absent are silence, so every
// file has the recording's length (streamSamples(); frames x ADVANCE samples when that is not
// known). The map is passed on unchanged. The files are written beside their destinations,
// complete when the network finishes the node (write errors then fail the run), and take their
// places when the network commits it; a run that fails leaves the destinations as they were.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace velkdsp {
class FrameSynthesis;
}

namespace FD {

class FD_API SaveSeparatedWaves : public BufferedNode {
 public:
  SaveSeparatedWaves(std::string nodeName, const ParameterSet& params);
  ~SaveSeparatedWaves() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  FrameGeometry frameGeometry() const override { return {length_, advance_, samplingRate_}; }
  // Writes the rest of every file and closes them all; a NodeException naming each file that
  // failed.
  void finish() override;
  // Moves every file into place.
  void commit() override;

 private:
  struct Track;
  void addSources(int frame, int count);
  Track& track(int id, int count);

  int inputId_, outputId_;
  std::string prefix_;
  int samplingRate_, length_, advance_, lookAhead_, format_;
  std::vector<float> block_;
  std::unique_ptr<velkdsp::FrameSynthesis> synthesis_;
  std::map<int, std::unique_ptr<Track>> tracks_;
  int nextFrame_ = 0;
};

}  // namespace FD
