#include "fd/AudioStreamSource.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "AlsaCapture.h"
#include "NodeParameters.h"
#include "fd/Warning.h"
#include "velkdsp/ShortTime.h"

namespace FD {

namespace {
// Samples per channel asked of the stream at once: it hands over what has arrived, up to this.
constexpr long kReceiveBlock = 4096;
}  // namespace

// ---- framing ------------------------------------------------------------------------------------

std::vector<velkparam::Declaration> SampleStreamSource::framingParameters() {
  return {
      param::samplingRate("sampling rate of the network; the stream must have it"),
      velkparam::Declaration::Int("CHANNELS", 2, "", "channel count the network expects; the stream must have it").AtLeast(1),
      param::frameLength(false, "frame length"),
      param::advance("frame shift"),
  };
}

SampleStreamSource::SampleStreamSource(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  audioId_ = addOutput("AUDIO");
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  channels_ = param::integer(*this, parameters, "CHANNELS");
  length_ = param::integer(*this, parameters, "LENGTH");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  // Frames are taken from the stream once, in order; what is behind them is dropped.
  inOrder = true;
}

SampleStreamSource::~SampleStreamSource() = default;

void SampleStreamSource::open(std::unique_ptr<SampleStream> stream, const std::string& parameter) {
  if (stream->sampleRate() != samplingRate_)
    throw param::error(*this, parameter,
                       stream->name() + " is sampled at " + std::to_string(stream->sampleRate()) +
                           " Hz but the network's SAMPLING_RATE is " + std::to_string(samplingRate_) +
                           " Hz (resample it first; it is not resampled here)");
  if (stream->channels() != channels_)
    throw param::error(*this, parameter,
                       stream->name() + " has " + std::to_string(stream->channels()) + " channel(s) but CHANNELS is " +
                           std::to_string(channels_));
  stream_ = std::move(stream);
}

long SampleStreamSource::streamLength() const { return ended_ ? velkdsp::frameCount(received_, advance_) : -1; }

void SampleStreamSource::receiveUpTo(long samples) {
  const std::size_t channels = static_cast<std::size_t>(channels_);
  while (!ended_ && received_ < samples) {
    // Drops what no frame needs any more once it is half of the buffer, so that the buffer stays
    // a few frames long however long the stream runs.
    if (bufferStart_ > 0 && bufferStart_ >= buffer_.size() / 2) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bufferStart_));
      bufferStart_ = 0;
    }
    const long want = std::max(samples - received_, kReceiveBlock);
    const std::size_t at = buffer_.size();
    buffer_.resize(at + static_cast<std::size_t>(want) * channels);
    std::size_t got = 0;
    try {
      got = stream_->read(buffer_.data() + at, static_cast<std::size_t>(want));
    } catch (const std::exception& e) {
      buffer_.resize(at);
      throw new NodeException(this, e.what(), "", 0);
    }
    buffer_.resize(at + got * channels);
    if (got == 0) ended_ = true;
    received_ += static_cast<long>(got);
    if (received_ / advance_ >= INT_MAX) throw new NodeException(this, "the stream is too long for frame numbers", "", 0);
  }
}

bool SampleStreamSource::frameAvailable(long count) {
  // Frame k exists when its centre, sample k * ADVANCE, does.
  receiveUpTo(count * advance_ + 1);
  return count * advance_ < received_;
}

void SampleStreamSource::calculate(int, int count, Buffer& out) {
  const long first = velkdsp::frameStart(count, advance_, length_);
  receiveUpTo(first + length_);
  const std::size_t channels = static_cast<std::size_t>(channels_);
  auto frame = make<Matrix<float>>(channels_, length_);
  const float* held = buffer_.data() + bufferStart_;
  for (int c = 0; c < channels_; ++c) {
    float* row = frame->row(c);
    for (int n = 0; n < length_; ++n) {
      const long at = first + n;
      row[n] = at >= held_ && at < received_ ? held[static_cast<std::size_t>(at - held_) * channels + c] : 0.0f;
    }
  }
  out[count] = frame;
  // The next frame starts ADVANCE samples later; nothing before it is read again.
  const long keepFrom = std::min(velkdsp::frameStart(count + 1, advance_, length_), received_);
  if (keepFrom > held_) {
    bufferStart_ += static_cast<std::size_t>(keepFrom - held_) * channels;
    held_ = keepFrom;
  }
}

void SampleStreamSource::finish() {
  if (!stream_) return;
  for (const std::string& report : stream_->reports()) warn(report);
}

// ---- a stream from standard input, a pipe or a FIFO ---------------------------------------------

NodeInfo AudioStreamSource::describe() {
  NodeInfo info;
  info.description =
      "Reads sound as it arrives, from standard input, a pipe or a FIFO: a WAV stream (its lengths may be left open, "
      "as streaming writers leave them) or headerless samples; frames as AudioFileSource, each delivered as soon as "
      "its last sample has arrived. The network ends after ceil(samples / ADVANCE) frames, where the stream ends or "
      "when a stop is requested (Ctrl-C in the command-line tool). Samples that are not finite numbers are read as 0, "
      "with a warning that counts them.";
  info.outputs = {{"AUDIO", "Matrix<float>",
                   "channels x LENGTH samples of frame k, full scale +-1 (row 0 = channel 0 = left ear)"}};
  std::vector<std::string> formats{"WAV"};
  for (const std::string& raw : rawFormatNames()) formats.push_back(raw);
  info.parameters = {
      velkparam::Declaration::Text("FILENAME", "-", "\"-\" for standard input, or the path of a pipe, FIFO or file read as a stream"),
      velkparam::Declaration::Text("FORMAT", "WAV",
                            "WAV: a WAV stream (8-32-bit PCM or float); the others: headerless little-endian samples, "
                            "CHANNELS interleaved (channel 0 first) at SAMPLING_RATE")
          .Keywords(formats),
  };
  for (velkparam::Declaration& decl : framingParameters()) info.parameters.push_back(decl);
  return info;
}

AudioStreamSource::AudioStreamSource(std::string nodeName, const ParameterSet& params)
    : SampleStreamSource(std::move(nodeName), params) {
  const NodeInfo info = describe();
  const std::string path = param::text(*this, parameters, "FILENAME");
  const std::string format = param::text(*this, parameters, "FORMAT");
  checkDeclaredParameters(*this, parameters, info.parameters);
  const int rate = param::integer(*this, parameters, "SAMPLING_RATE");
  const int channels = param::integer(*this, parameters, "CHANNELS");
  std::unique_ptr<SampleStream> stream;
  try {
    std::unique_ptr<ByteStream> bytes = DescriptorStream::open(path);
    if (format == "WAV")
      stream = PcmStreamReader::wav(std::move(bytes));
    else
      stream = PcmStreamReader::raw(std::move(bytes), rawFormatFromName(format), channels, rate);
  } catch (const std::exception& e) {
    throw param::error(*this, "FILENAME", e.what());
  }
  open(std::move(stream), "FILENAME");
}

// ---- a capture device ---------------------------------------------------------------------------

NodeInfo AudioDeviceSource::describe() {
  NodeInfo info;
  info.description =
      "Captures sound from an ALSA device (16-bit, or what the device offers) and cuts it into frames as "
      "AudioFileSource, each delivered as soon as its last sample has been captured. Runs until a stop is requested "
      "(Ctrl-C in the command-line tool); the network then ends after ceil(samples / ADVANCE) frames. Samples lost "
      "to an overrun (the network falling behind the device) are reported.";
  info.outputs = {{"AUDIO", "Matrix<float>",
                   "channels x LENGTH samples of frame k, full scale +-1 (row 0 = channel 0 = left ear)"}};
  info.parameters = {
      velkparam::Declaration::Text("DEVICE", "default",
                            "ALSA capture device: \"default\", \"hw:1,0\", \"plughw:1\" (converts rate and format), ..."),
  };
  for (velkparam::Declaration& decl : framingParameters()) info.parameters.push_back(decl);
  return info;
}

AudioDeviceSource::AudioDeviceSource(std::string nodeName, const ParameterSet& params)
    : SampleStreamSource(std::move(nodeName), params) {
  const NodeInfo info = describe();
  const std::string device = param::text(*this, parameters, "DEVICE");
  checkDeclaredParameters(*this, parameters, info.parameters);
  std::unique_ptr<SampleStream> stream;
  try {
    stream = openCaptureDevice(device, param::integer(*this, parameters, "SAMPLING_RATE"),
                               param::integer(*this, parameters, "CHANNELS"));
  } catch (const std::exception& e) {
    throw param::error(*this, "DEVICE", e.what());
  }
  open(std::move(stream), "DEVICE");
}

}  // namespace FD
