#include "AudioFile.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace FD {

namespace {
// Samples per channel read at once; a sliding frame window rereads nothing inside a block.
constexpr long kReadBlock = 1L << 16;

std::string quoted(const std::string& path) { return "\"" + path + "\""; }
}  // namespace

// ---- reader -----------------------------------------------------------------------------------

AudioFileReader::AudioFileReader(const std::string& path) : path_(path) {
  file_.reset(sf_open(path.c_str(), SFM_READ, &info_));
  if (!file_) throw std::runtime_error("cannot open " + quoted(path) + ": " + sf_strerror(nullptr));
  if (!info_.seekable) throw std::runtime_error(quoted(path) + " is not a seekable sound file");
  if (info_.frames <= 0) throw std::runtime_error(quoted(path) + " holds no samples");
}

void AudioFileReader::fill(long first, long minCount) {
  const long count = std::min(std::max(minCount, kReadBlock), samples() - first);
  cache_.resize(static_cast<size_t>(count) * channels());
  if (sf_seek(file_.get(), first, SEEK_SET) < 0)
    throw std::runtime_error("cannot seek to sample " + std::to_string(first) + " of " + quoted(path_) + ": " +
                             sf_strerror(file_.get()));
  const sf_count_t got = sf_readf_float(file_.get(), cache_.data(), count);
  if (got != count)
    throw std::runtime_error(quoted(path_) + " ends at sample " + std::to_string(first + got) + " although its header announces " +
                             std::to_string(samples()) + " samples");
  cacheStart_ = first;
  cacheSamples_ = count;
}

void AudioFileReader::read(long first, int count, float* out) {
  const int ch = channels();
  std::fill(out, out + static_cast<size_t>(count) * ch, 0.0f);
  const long begin = std::max(first, 0L);
  const long end = std::min(first + count, samples());
  if (begin >= end) return;
  if (begin < cacheStart_ || end > cacheStart_ + cacheSamples_) fill(begin, end - begin);
  std::copy(cache_.begin() + (begin - cacheStart_) * ch, cache_.begin() + (end - cacheStart_) * ch,
            out + (begin - first) * ch);
}

// ---- writer -----------------------------------------------------------------------------------

SampleFormat sampleFormatFromName(const std::string& name) {
  if (name == "PCM16") return SampleFormat::Pcm16;
  if (name == "FLOAT") return SampleFormat::Float;
  throw std::invalid_argument("\"" + name + "\" is not a sample format (accepted: \"PCM16\", \"FLOAT\")");
}

AudioFileWriter::AudioFileWriter(const std::string& path, int sampleRate, int channels, SampleFormat format)
    : path_(path), channels_(channels), format_(format) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | (format == SampleFormat::Pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  file_.reset(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file_) throw std::runtime_error("cannot create " + quoted(path) + ": " + sf_strerror(nullptr));
}

void AudioFileWriter::write(const float* interleaved, long count) {
  const size_t values = static_cast<size_t>(count) * channels_;
  sf_count_t put = 0;
  if (format_ == SampleFormat::Float) {
    put = sf_writef_float(file_.get(), interleaved, count);
  } else {
    // Converted here rather than by libsndfile, whose float-to-16-bit path scales by 32767
    // (not the 32768 it reads with) and wraps loud samples round instead of clipping them.
    pcm_.resize(values);
    for (size_t i = 0; i < values; ++i) {
      const float x = interleaved[i];
      const float scaled = std::isnan(x) ? 0.0f : std::clamp(x * 32768.0f, -32768.0f, 32767.0f);
      pcm_[i] = static_cast<short>(std::lrint(scaled));
    }
    put = sf_writef_short(file_.get(), pcm_.data(), count);
  }
  if (put != count) throw std::runtime_error("cannot write to " + quoted(path_) + ": " + sf_strerror(file_.get()));
  written_ += count;
}

void AudioFileWriter::writeSilence(long count) {
  std::vector<float> zeros(static_cast<size_t>(std::min(count, kReadBlock)) * channels_, 0.0f);
  for (long done = 0; done < count;) {
    const long n = std::min(count - done, kReadBlock);
    write(zeros.data(), n);
    done += n;
  }
}

}  // namespace FD
