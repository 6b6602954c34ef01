#include "fd/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "SoundHeader.h"
#include "fd/Warning.h"

namespace FD {

namespace {
// Samples per channel read at once; a sliding frame window rereads nothing inside a block.
constexpr long kReadBlock = 1L << 16;

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// "48000 samples (3.00 s)".
std::string samplesAndSeconds(long samples, int rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld samples (%.2f s)", samples, rate > 0 ? static_cast<double>(samples) / rate : 0.0);
  return text;
}

// Whether sample `position` of the file decodes, asked of a fresh handle: a failed seek leaves
// libsndfile's decoders of compressed formats unusable.
bool decodes(const std::string& path, long position) {
  SF_INFO info{};
  SndFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file || info.channels <= 0 || sf_seek(file.get(), position, SEEK_SET) < 0) return false;
  std::vector<float> one(static_cast<size_t>(info.channels));
  return sf_readf_float(file.get(), one.data(), 1) == 1;
}

// How many of the `announced` samples the file really holds. Compressed formats (FLAC, ...) take
// their length from the header and only fail on reading past the cut; the last sample that still
// decodes is found by bisection, a few dozen seeks at most.
long decodableSamples(const std::string& path, long announced) {
  if (announced <= 0 || decodes(path, announced - 1)) return announced;
  if (!decodes(path, 0)) return 0;
  long good = 0, bad = announced - 1;
  while (bad - good > 1) {
    const long middle = good + (bad - good) / 2;
    (decodes(path, middle) ? good : bad) = middle;
  }
  return good + 1;
}
}  // namespace

// ---- non-finite samples -----------------------------------------------------------------------

void NonFiniteSamples::zero(float* interleaved, long frames, int channels, long firstFrame) {
  for (long n = 0; n < frames; ++n) {
    float* sample = interleaved + static_cast<size_t>(n) * channels;
    for (int c = 0; c < channels; ++c) {
      if (std::isfinite(sample[c])) continue;
      sample[c] = 0.0f;
      if (count_++ == 0) {
        first_ = firstFrame + n;
        firstChannel_ = c;
      }
    }
  }
}

std::string NonFiniteSamples::report(const std::string& source, int sampleRate) const {
  if (count_ == 0) return "";
  char where[96];
  std::snprintf(where, sizeof where, "sample %ld (%.3f s) of channel %d", first_,
                sampleRate > 0 ? static_cast<double>(first_) / sampleRate : 0.0, firstChannel_);
  return source + " holds " + std::to_string(count_) + " sample" + (count_ == 1 ? "" : "s") +
         " that are not finite numbers (NaN or infinite), the first at " + where + "; they were read as 0";
}

// ---- reader -----------------------------------------------------------------------------------

AudioFileReader::AudioFileReader(const std::string& path) : path_(path), input_(path) {
  file_.reset(sf_open(path.c_str(), SFM_READ, &info_));
  if (!file_) throw std::runtime_error("cannot open " + quoted(path) + ": " + sf_strerror(nullptr));
  if (!info_.seekable) throw std::runtime_error(quoted(path) + " is not a seekable sound file");
  announced_ = std::max(static_cast<long>(info_.frames), announcedSampleCount(path));
  samples_ = decodableSamples(path, static_cast<long>(info_.frames));
  if (samples_ <= 0)
    throw std::runtime_error(quoted(path) + " holds no samples" +
                             (announced_ > 0 ? " although its header announces " + samplesAndSeconds(announced_, sampleRate())
                                             : std::string()));
  if (samples_ < announced_)
    warn(quoted(path) + " is shorter than its header says: it holds " + samplesAndSeconds(samples_, sampleRate()) +
         ", its header announces " + samplesAndSeconds(announced_, sampleRate()) + "; only what it holds is read");
}

void AudioFileReader::fill(long first, long minCount) {
  const long count = std::min(std::max(minCount, kReadBlock), samples() - first);
  cache_.resize(static_cast<size_t>(count) * channels());
  if (sf_seek(file_.get(), first, SEEK_SET) < 0)
    throw std::runtime_error("cannot seek to sample " + std::to_string(first) + " of " + quoted(path_) + ": " +
                             sf_strerror(file_.get()));
  const sf_count_t got = sf_readf_float(file_.get(), cache_.data(), count);
  if (got != count)
    throw std::runtime_error(quoted(path_) + " cannot be decoded beyond its first " +
                             samplesAndSeconds(first + std::max<sf_count_t>(got, 0), sampleRate()) + " of " +
                             samplesAndSeconds(samples(), sampleRate()));
  cacheStart_ = first;
  cacheSamples_ = count;
  // Samples read before are not counted twice.
  const long from = std::max(first, checkedUpTo_);
  if (from < first + count)
    nonFinite_.zero(cache_.data() + static_cast<size_t>(from - first) * channels(), first + count - from, channels(), from);
  checkedUpTo_ = std::max(checkedUpTo_, first + count);
}

std::string AudioFileReader::nonFiniteReport() const { return nonFinite_.report(quoted(path_), sampleRate()); }

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

// Converted here rather than by libsndfile, whose float-to-16-bit path scales by 32767 (not the
// 32768 it reads with) and wraps loud samples round instead of clipping them. Rounded to the
// nearest integer, ties to even, as lrint does, but without a call per sample: adding and taking
// away 1.5 * 2^23 leaves a float of magnitude below 2^22 rounded so, and the loop vectorises.
void toPcm16(const float* in, size_t count, short* out) {
  constexpr float kRounder = 12582912.0f;
  for (size_t i = 0; i < count; ++i) {
    const float x = in[i];
    const float scaled = std::isnan(x) ? 0.0f : std::clamp(x * 32768.0f, -32768.0f, 32767.0f);
    out[i] = static_cast<short>((scaled + kRounder) - kRounder);
  }
}

const std::vector<std::string>& sampleFormatNames() {
  static const std::vector<std::string> names{"PCM16", "FLOAT"};
  return names;
}

SampleFormat sampleFormatFromName(const std::string& name) {
  const std::vector<std::string>& names = sampleFormatNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<SampleFormat>(i);
  throw std::invalid_argument("\"" + name + "\" is not a sample format (accepted: \"PCM16\", \"FLOAT\")");
}

AudioFileWriter::AudioFileWriter(const std::string& path, int sampleRate, int channels, SampleFormat format)
    : path_(path), channels_(channels), format_(format), output_(path) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | (format == SampleFormat::Pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  file_.reset(sf_open(output_.writePath().c_str(), SFM_WRITE, &info));
  if (!file_) throw std::runtime_error("cannot create " + quoted(path) + ": " + sf_strerror(nullptr));
  const size_t blockValues = static_cast<size_t>(kWriteBlock) * channels_;
  if (format_ == SampleFormat::Float)
    floats_.reserve(blockValues);
  else
    pcm_.reserve(blockValues);
}

AudioFileWriter::~AudioFileWriter() {
  try {
    close();
  } catch (const std::exception&) {
    // Nothing can be reported from here; the run already failed or never asked for commit(),
    // and the output file removes what was written.
  }
}

long AudioFileWriter::collected() const {
  const size_t values = format_ == SampleFormat::Float ? floats_.size() : pcm_.size();
  return static_cast<long>(values / static_cast<size_t>(channels_));
}

void AudioFileWriter::requireOpen() const {
  if (!file_) throw std::runtime_error("cannot write to " + quoted(path_) + ": the file is already closed");
}

void AudioFileWriter::write(const float* interleaved, long count) {
  requireOpen();
  const size_t values = static_cast<size_t>(count) * channels_;
  if (format_ == SampleFormat::Float) {
    floats_.insert(floats_.end(), interleaved, interleaved + values);
  } else {
    const size_t start = pcm_.size();
    pcm_.resize(start + values);
    toPcm16(interleaved, values, pcm_.data() + start);
  }
  written_ += count;
  if (collected() >= kWriteBlock) writeCollected();
}

void AudioFileWriter::writeSilence(long count) {
  std::vector<float> zeros(static_cast<size_t>(std::min(count, kReadBlock)) * channels_, 0.0f);
  for (long done = 0; done < count;) {
    const long n = std::min(count - done, kReadBlock);
    write(zeros.data(), n);
    done += n;
  }
}

void AudioFileWriter::writeCollected() {
  const long count = collected();
  if (count == 0) return;
  const sf_count_t put = format_ == SampleFormat::Float ? sf_writef_float(file_.get(), floats_.data(), count)
                                                        : sf_writef_short(file_.get(), pcm_.data(), count);
  floats_.clear();
  pcm_.clear();
  if (put == count) return;
  failed_ = true;
  throw std::runtime_error("cannot write to " + quoted(path_) + ": " + sf_strerror(file_.get()) + " (" +
                           std::to_string(put < 0 ? 0 : put) + " of " + std::to_string(count) +
                           " samples per channel written)");
}

void AudioFileWriter::close() {
  if (!file_) return;
  std::string failure;
  try {
    writeCollected();
  } catch (const std::runtime_error& e) {
    failure = e.what();
  }
  // sf_close rewrites the header with the final length; its result says whether that worked.
  const int closing = sf_close(file_.release());
  if (failure.empty() && closing != 0)
    failure = "cannot finish " + quoted(path_) + ": " + sf_error_number(closing);
  if (failure.empty()) return;
  failed_ = true;
  throw std::runtime_error(failure);
}

void AudioFileWriter::commit() {
  close();
  // A write that failed earlier (and was reported then) leaves a file that must not take the
  // destination's place.
  if (failed_) throw std::runtime_error("cannot write " + quoted(path_) + ": an earlier write to it failed");
  output_.commit();
}

}  // namespace FD
