// Sound files through libsndfile, each handle owned by a small RAII class. Internal to the host:
// the standard nodes read and write audio through these and nothing else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <sndfile.h>

namespace FD {

struct SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFileHandle = std::unique_ptr<SNDFILE, SndFileCloser>;

// Random access to the samples of a sound file (any format libsndfile reads), as floats at full
// scale +-1 (16-bit samples are divided by 32768). Reads ahead in large blocks so that a window
// sliding through the file costs one file read per block.
class AudioFileReader {
 public:
  // Throws std::runtime_error naming the file and libsndfile's reason when it cannot be opened,
  // is not seekable, or holds no samples.
  explicit AudioFileReader(const std::string& path);

  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  // Samples per channel.
  long samples() const { return static_cast<long>(info_.frames); }

  // Copies samples [first, first + count) of every channel, interleaved, into `out`
  // (count x channels values); positions outside the file read as zeros. Throws
  // std::runtime_error when the file cannot deliver samples its header promised.
  void read(long first, int count, float* out);

 private:
  void fill(long first, long minCount);

  std::string path_;
  SF_INFO info_{};
  SndFileHandle file_;
  std::vector<float> cache_;  // interleaved samples [cacheStart_, cacheStart_ + cacheSamples_)
  long cacheStart_ = 0, cacheSamples_ = 0;
};

// How a writer stores samples: 16-bit PCM (the most widely read) or 32-bit float (lossless).
enum class SampleFormat { Pcm16, Float };

// The names of the formats, in the order of SampleFormat.
const std::vector<std::string>& sampleFormatNames();
// "PCM16" or "FLOAT"; throws std::invalid_argument naming the accepted texts.
SampleFormat sampleFormatFromName(const std::string& name);

// Writes a WAV file. Samples are collected and handed to the file in large blocks: one system
// call per block instead of one per frame. close() writes what is left and closes the file; only
// then is the file complete and every write error known.
class AudioFileWriter {
 public:
  // Samples per channel collected before they are written.
  static constexpr long kWriteBlock = 1L << 16;

  // Throws std::runtime_error naming the file and libsndfile's reason when it cannot be created.
  AudioFileWriter(const std::string& path, int sampleRate, int channels, SampleFormat format);
  // Writes what is still collected and closes the file if close() was not called, ignoring
  // errors (a destructor cannot report them): a run that stopped early keeps what it had.
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  int channels() const { return channels_; }
  const std::string& path() const { return path_; }
  // Samples per channel accepted so far, written or still collected.
  long written() const { return written_; }
  bool closed() const { return !file_; }

  // Appends `count` samples per channel (interleaved). 16-bit files store round(x * 32768)
  // clipped to the 16-bit range (the exact inverse of the reader's scaling, so a 16-bit
  // recording passed through unchanged is written back sample for sample; loud samples clip
  // instead of wrapping round). NaN is stored as 0 in 16-bit files. Throws std::runtime_error
  // naming the file when a block cannot be written or the file is already closed.
  void write(const float* interleaved, long count);
  void writeSilence(long count);
  // Writes the collected samples and closes the file. Throws std::runtime_error naming the file
  // when either fails (a full disk, for one); the file is closed all the same. Closing a closed
  // writer does nothing.
  void close();

 private:
  long collected() const;
  void requireOpen() const;
  // Hands the collected samples to the file; throws std::runtime_error when they are not all
  // written. The collection is emptied either way.
  void writeCollected();

  std::string path_;
  int channels_;
  SampleFormat format_;
  SndFileHandle file_;
  std::vector<short> pcm_;     // collected samples of a 16-bit file, interleaved
  std::vector<float> floats_;  // collected samples of a float file, interleaved
  long written_ = 0;
};

}  // namespace FD
