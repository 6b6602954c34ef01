#include "fd/AudioFileSource.h"

#include <climits>
#include <stdexcept>

#include "NodeParameters.h"
#include "velkdsp/ShortTime.h"
#include "fd/AudioFile.h"
#include "fd/Warning.h"

namespace FD {

NodeInfo AudioFileSource::describe() {
  NodeInfo info;
  info.description =
      "Reads an audio file (WAV, FLAC, ... ) and cuts it into overlapping frames; frame k is centred on sample "
      "k * ADVANCE, with zeros outside the file. The network stops after ceil(samples / ADVANCE) frames. A file "
      "shorter than its header says is read as far as it goes, with a warning; samples that are not finite numbers "
      "are read as 0, with a warning that counts them.";
  info.outputs = {{"AUDIO", "Matrix<float>",
                   "channels x LENGTH samples of frame k, full scale +-1 (row 0 = channel 0 = left ear)"}};
  info.parameters = {
      velkparam::Declaration::Text("FILENAME", "input.wav", "path of the audio file, relative to the working directory"),
      param::samplingRate("sampling rate of the network; the file must have it"),
      velkparam::Declaration::Int("CHANNELS", 2, "", "channel count the network expects; the file must have it").AtLeast(1),
      param::frameLength(false, "frame length"),
      param::advance("frame shift"),
  };
  return info;
}

AudioFileSource::AudioFileSource(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  audioId_ = addOutput("AUDIO");
  path_ = param::text(*this, parameters, "FILENAME");
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  channels_ = param::integer(*this, parameters, "CHANNELS");
  length_ = param::integer(*this, parameters, "LENGTH");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  checkDeclaredParameters(*this, parameters, describe().parameters);

  try {
    file_ = std::make_unique<AudioFileReader>(path_);
  } catch (const std::exception& e) {
    throw param::error(*this, "FILENAME", e.what());
  }
  if (file_->sampleRate() != samplingRate_)
    throw param::error(*this, "FILENAME",
                       "\"" + path_ + "\" is sampled at " + std::to_string(file_->sampleRate()) +
                           " Hz but the network's SAMPLING_RATE is " + std::to_string(samplingRate_) +
                           " Hz (resample the file first; it is not resampled here)");
  if (file_->channels() != channels_)
    throw param::error(*this, "FILENAME",
                       "\"" + path_ + "\" has " + std::to_string(file_->channels()) + " channel(s) but CHANNELS is " +
                           std::to_string(channels_));
  frames_ = velkdsp::frameCount(file_->samples(), advance_);
  if (frames_ > INT_MAX)
    throw param::error(*this, "FILENAME", "\"" + path_ + "\" is too long for frame numbers at this ADVANCE");
  interleaved_.resize(static_cast<size_t>(length_) * channels_);
}

AudioFileSource::~AudioFileSource() = default;

long AudioFileSource::streamSamples() const { return file_->samples(); }

void AudioFileSource::finish() {
  const std::string report = file_->nonFiniteReport();
  if (!report.empty()) warn(report);
}

void AudioFileSource::calculate(int, int count, Buffer& out) {
  const long first = velkdsp::frameStart(count, advance_, length_);
  try {
    file_->read(first, length_, interleaved_.data());
  } catch (const std::exception& e) {
    throw new NodeException(this, "frame " + std::to_string(count) + ": " + e.what(), "", 0);
  }
  auto frame = make<Matrix<float>>(channels_, length_);
  for (int c = 0; c < channels_; ++c) {
    float* row = frame->row(c);
    for (int n = 0; n < length_; ++n) row[n] = interleaved_[static_cast<size_t>(n) * channels_ + c];
  }
  out[count] = frame;
}

}  // namespace FD
