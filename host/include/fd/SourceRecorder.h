// SourceRecorder: writes the source list of every frame as one JSON object per line,
//   {"frame": 12, "time": 0.12, "sources": [{"id": 1, "azimuth": 30.0}]}
// with time = frame * ADVANCE / SAMPLING_RATE seconds and the azimuth in degrees, atan2 of the
// source direction's y and x components: 0 straight ahead, positive to the left. A nil list is
// written as an empty one. The list is passed on unchanged. The file is written beside its
// destination, complete when the network finishes the node (a write error then fails the run),
// and takes the destination's place when the network commits it; a run that fails leaves the
// destination as it was. FILENAME "-" is standard output, and there, as on a pipe or a device,
// each line is handed over as soon as its frame is done, so that a reader follows a live run.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "fd/Export.h"
#include "fd/Node.h"
#include "velkfileio/OutputFile.h"

namespace FD {

class FD_API SourceRecorder : public BufferedNode {
 public:
  SourceRecorder(std::string nodeName, const ParameterSet& params);
  ~SourceRecorder() override;
  static NodeInfo describe();

  void calculate(int outputId, int count, Buffer& out) override;
  FrameGeometry frameGeometry() const override { return {0, advance_, samplingRate_}; }
  // Writes out what the stream still holds and closes the file; a NodeException naming the file
  // when that fails.
  void finish() override;
  // Moves the file into place.
  void commit() override;

 private:
  int inputId_, outputId_;
  std::string path_;
  int samplingRate_, advance_;
  // Writes a line to standard output at once; a NodeException when it cannot.
  void toStandardOutput();

  std::unique_ptr<fileio::OutputFile> output_;  // none for standard output
  std::ofstream file_;
  bool lineByLine_ = false;  // each line flushed as it is written
  std::string line_;  // the line being written, kept to reuse its storage
};

}  // namespace FD
