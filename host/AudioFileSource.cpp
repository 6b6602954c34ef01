#include "fd/AudioFileSource.h"

#include <climits>
#include <stdexcept>

#include "NodeParameters.h"
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
      {"FILENAME", "string", "path of the audio file, relative to the working directory", "\"input.wav\""},
      {"SAMPLING_RATE", "int", "sampling rate of the network in Hz; the file must have it", "16000"},
      {"CHANNELS", "int", "channel count the network expects; the file must have it", "2"},
      {"LENGTH", "int", "frame length in samples", "512"},
      {"ADVANCE", "int", "frame shift in samples", "160"},
  };
  return info;
}

AudioFileSource::AudioFileSource(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  audioId_ = addOutput("AUDIO");
  path_ = param::text(*this, parameters, "FILENAME");
  samplingRate_ = param::integerAtLeast(*this, parameters, "SAMPLING_RATE", 1);
  channels_ = param::integerAtLeast(*this, parameters, "CHANNELS", 1);
  length_ = param::frameLength(*this, parameters, false);
  advance_ = param::integerAtLeast(*this, parameters, "ADVANCE", 1);

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
  frames_ = (file_->samples() + advance_ - 1) / advance_;
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
  const long first = static_cast<long>(count) * advance_ - length_ / 2;
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
