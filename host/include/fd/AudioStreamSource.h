// The frames of sound that arrives as it is made, cut exactly as AudioFileSource cuts a file:
// frame k holds LENGTH samples of every channel centred on sample k * ADVANCE, zeros before the
// start and after the end. A frame is delivered as soon as its last sample has arrived, so that
// a network over live sound runs as the sound comes; the stream's end (the end of a pipe, a stop
// request, see StopRequest.h) is learnt as it is read, and the network then ends after
// ceil(samples / ADVANCE) frames, as for a file of the same samples.
//
//   AudioStreamSource  a WAV stream or headerless PCM from standard input, a pipe or a FIFO
//   AudioDeviceSource  a capture device (ALSA)
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fd/AudioStream.h"
#include "fd/Export.h"
#include "fd/Node.h"

namespace FD {

// What both stream sources share: the framing of a SampleStream and its end.
class FD_API SampleStreamSource : public BufferedNode {
 public:
  ~SampleStreamSource() override;

  long streamLength() const override;
  bool streamEnds() const override { return true; }
  // Reads until sample count * ADVANCE has arrived or the stream ended.
  bool frameAvailable(long count) override;
  // The samples the stream held, once it ended; -1 before.
  long streamSamples() const override { return ended_ ? received_ : -1; }
  FrameGeometry frameGeometry() const override { return {length_, advance_, samplingRate_}; }
  // Warns (FD::warn) of what the stream's reader has to say: samples that were not numbers, a
  // stream shorter than its header said, samples lost.
  void finish() override;
  void calculate(int outputId, int count, Buffer& out) override;

  // The parameters both declare.
  static std::vector<velkparam::Declaration> framingParameters();

 protected:
  // Reads SAMPLING_RATE, CHANNELS, LENGTH and ADVANCE.
  SampleStreamSource(std::string nodeName, const ParameterSet& params);
  // Takes the stream; a NodeException on parameter `parameter` when its rate or channel count
  // differs from SAMPLING_RATE or CHANNELS.
  void open(std::unique_ptr<SampleStream> stream, const std::string& parameter);

 private:
  // Reads until `samples` samples per channel have arrived or the stream ended.
  void receiveUpTo(long samples);

  int audioId_;
  int samplingRate_, channels_, length_, advance_;
  std::unique_ptr<SampleStream> stream_;
  // Samples [held_, received_) of every channel, interleaved, from bufferStart_ in buffer_.
  std::vector<float> buffer_;
  std::size_t bufferStart_ = 0;
  long held_ = 0, received_ = 0;
  bool ended_ = false;
};

class FD_API AudioStreamSource : public SampleStreamSource {
 public:
  // Opens the stream and, for a WAV stream, waits for its header; fails (NodeException) when it
  // cannot be read, is not a WAV stream this program reads, or its rate or channel count differs
  // from SAMPLING_RATE or CHANNELS.
  AudioStreamSource(std::string nodeName, const ParameterSet& params);
  static NodeInfo describe();
};

class FD_API AudioDeviceSource : public SampleStreamSource {
 public:
  // Opens the capture device at SAMPLING_RATE with CHANNELS channels; fails (NodeException naming
  // the device and what it refused) when it cannot.
  AudioDeviceSource(std::string nodeName, const ParameterSet& params);
  static NodeInfo describe();
};

}  // namespace FD
