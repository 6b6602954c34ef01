// Sound files through libsndfile, each handle owned by a small RAII class. The standard nodes
// read and write audio through these, and so does the command-line tool.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <sndfile.h>

#include "fd/Export.h"
#include "velkfileio/OutputFile.h"

namespace FD {

struct FD_API SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFileHandle = std::unique_ptr<SNDFILE, SndFileCloser>;

// Samples that are not finite numbers (NaN, infinities; only float formats can hold them), set to
// 0 as they are read and counted, so that one bad value cannot spread through every spectrum it
// touches. The readers of files and of streams keep one each.
class NonFiniteSamples {
 public:
  // Sets the non-finite values of `frames` interleaved sample frames to 0; `firstFrame` is the
  // position of the first of them in the signal.
  void zero(float* interleaved, long frames, int channels, long firstFrame);
  long count() const { return count_; }
  // "" when there were none; else one sentence naming `source`, the count and the first one
  // (sample, time at `sampleRate`, channel).
  std::string report(const std::string& source, int sampleRate) const;

 private:
  long count_ = 0, first_ = -1;
  int firstChannel_ = 0;
};

// Converts samples at full scale +-1 to 16-bit values: round(x * 32768), ties to even, clipped to
// the 16-bit range (the exact inverse of the readers' scaling, so that 16-bit sound passed through
// unchanged is written back sample for sample; loud samples clip instead of wrapping round); NaN
// becomes 0.
void toPcm16(const float* in, size_t count, short* out);

// Random access to the samples of a sound file (any format libsndfile reads), as floats at full
// scale +-1 (16-bit samples are divided by 32768). Reads ahead in large blocks so that a window
// sliding through the file costs one file read per block.
//
// A file shorter than its header says (a recording cut off, a copy that stopped) is read as far
// as it goes: samples() counts what the file really holds, and opening it reports a warning
// (FD::warn) naming the file and both lengths. Samples that are not finite numbers (NaN,
// infinities; only float files can hold them) are read as 0 and counted, so that one bad value
// cannot spread through every spectrum it touches; nonFiniteReport() describes them. While the
// reader lives the file counts as an input (fileio::InputFile), which no output may replace.
class FD_API AudioFileReader {
 public:
  // Throws std::runtime_error naming the file and libsndfile's reason when it cannot be opened,
  // is not seekable, or holds no samples; and whatever the warning handler throws for a file
  // shorter than its header says.
  explicit AudioFileReader(const std::string& path);

  const std::string& path() const { return path_; }
  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  // Samples per channel that the file holds.
  long samples() const { return samples_; }
  // Samples per channel that the file's header announces (more than samples() when it was cut).
  long announcedSamples() const { return announced_; }

  // Copies samples [first, first + count) of every channel, interleaved, into `out`
  // (count x channels values); positions outside the file read as zeros. Throws
  // std::runtime_error naming the file and the sample where decoding stopped when the file
  // cannot deliver samples it holds.
  void read(long first, int count, float* out);

  // Samples read so far that were not finite numbers (and were read as 0).
  long nonFiniteSamples() const { return nonFinite_.count(); }
  // "" when every sample read was a finite number; else one sentence naming the file, the count
  // and the first such sample.
  std::string nonFiniteReport() const;

 private:
  void fill(long first, long minCount);

  std::string path_;
  fileio::InputFile input_;
  SF_INFO info_{};
  SndFileHandle file_;
  long samples_ = 0, announced_ = 0;
  std::vector<float> cache_;  // interleaved samples [cacheStart_, cacheStart_ + cacheSamples_)
  long cacheStart_ = 0, cacheSamples_ = 0;
  long checkedUpTo_ = 0;  // samples before this one have been checked for non-finite values
  NonFiniteSamples nonFinite_;
};

// How a writer stores samples: 16-bit PCM (the most widely read) or 32-bit float (lossless).
enum class SampleFormat { Pcm16, Float };

// The names of the formats, in the order of SampleFormat.
FD_API const std::vector<std::string>& sampleFormatNames();
// "PCM16" or "FLOAT"; throws std::invalid_argument naming the accepted texts.
FD_API SampleFormat sampleFormatFromName(const std::string& name);

// Writes a WAV file. Samples are collected and handed to the file in large blocks: one system
// call per block instead of one per frame. The file is written beside its destination
// (fileio::OutputFile) and takes its place only on commit(): close() writes what is left and
// closes it, so that every write error is known, and commit() then moves it into place. A writer
// destroyed without commit() leaves the destination as it was.
class FD_API AudioFileWriter {
 public:
  // Samples per channel collected before they are written.
  static constexpr long kWriteBlock = 1L << 16;

  // Throws std::runtime_error naming the file and the reason when it cannot be created or the
  // destination is refused (a folder, an input of this process, ...).
  AudioFileWriter(const std::string& path, int sampleRate, int channels, SampleFormat format);
  // Closes the file if close() was not called, ignoring errors (a destructor cannot report
  // them), and removes it unless it was committed.
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  int channels() const { return channels_; }
  const std::string& path() const { return path_; }
  // Samples per channel accepted so far, written or still collected.
  long written() const { return written_; }
  bool closed() const { return !file_; }

  // Appends `count` samples per channel (interleaved); 16-bit files store them as toPcm16 converts
  // them. Throws std::runtime_error naming the file when a block cannot be written or the file is
  // already closed.
  void write(const float* interleaved, long count);
  void writeSilence(long count);
  // Writes the collected samples and closes the file. Throws std::runtime_error naming the file
  // when either fails (a full disk, for one); the file is closed all the same. Closing a closed
  // writer does nothing.
  void close();
  // Closes the file if needed and moves it into place. Throws std::runtime_error naming the file
  // when closing or moving fails; the destination is then left as it was.
  void commit();

 private:
  long collected() const;
  void requireOpen() const;
  // Hands the collected samples to the file; throws std::runtime_error when they are not all
  // written. The collection is emptied either way.
  void writeCollected();

  std::string path_;
  int channels_;
  SampleFormat format_;
  fileio::OutputFile output_;
  SndFileHandle file_;
  std::vector<short> pcm_;     // collected samples of a 16-bit file, interleaved
  std::vector<float> floats_;  // collected samples of a float file, interleaved
  long written_ = 0;
  bool failed_ = false;  // a write or the close failed: the file is incomplete
};

}  // namespace FD
