// Sound that arrives as it is made: a WAV stream or headerless PCM read from standard input, a pipe
// or a FIFO, decoded block by block as the bytes come, and sound written the same way.
//
// A WAV stream is read front to back, never seeked: its header is taken up to the first byte of
// the samples, and its lengths may be left open, as writers that stream leave them (0, 0xFFFFFFFF,
// or the largest length below 2^31 they can write): the samples then run to the end of the stream. Every field is
// checked before it is used, and nothing is allocated by what the stream says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fd/AudioFile.h"
#include "fd/Export.h"
#include "velkfileio/OutputFile.h"

namespace FD {

// How one sample is stored: unsigned 8-bit, signed 16, 24 (three bytes), 32-bit integers, or
// 32- and 64-bit floats; little-endian.
enum class PcmEncoding { U8, S16, S24, S32, F32, F64 };
FD_API int bytesPerSample(PcmEncoding encoding);

// The headerless formats a stream may be given in, by their usual names ("S16_LE", "S32_LE",
// "F32_LE"), and the encodings they name; std::invalid_argument listing the names for another.
FD_API const std::vector<std::string>& rawFormatNames();
FD_API PcmEncoding rawFormatFromName(const std::string& name);

// Converts `values` samples of `encoding` to floats at full scale +-1, scaled as libsndfile scales
// them when it reads a file (16-bit values are divided by 32768, and so on), so that a stream and
// a file of the same samples give the same floats.
FD_API void decodePcm(PcmEncoding encoding, const std::uint8_t* in, std::size_t values, float* out);

// Bytes as they arrive.
class FD_API ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Reads up to `max` bytes into `out`, waiting until at least one is there. Returns 0 at the end
  // of the stream, and once a stop was requested (FD::requestStop). Throws std::runtime_error
  // naming the stream when reading fails.
  virtual std::size_t read(std::uint8_t* out, std::size_t max) = 0;
  // What the stream is, for messages: "standard input", "\"path\"".
  virtual const std::string& name() const = 0;
};

// Bytes from a file descriptor (standard input, a pipe, a FIFO, a file), waited for with poll()
// together with FD::stopDescriptor(), so that a stop request ends the wait.
class FD_API DescriptorStream : public ByteStream {
 public:
  // Reads `fd`; closes it at the end when `owned`.
  DescriptorStream(int fd, std::string name, bool owned);
  ~DescriptorStream() override;
  DescriptorStream(const DescriptorStream&) = delete;
  DescriptorStream& operator=(const DescriptorStream&) = delete;
  // Standard input ("-") or the file at `path`, opened for reading (a FIFO waits for its
  // writer); std::runtime_error naming the path when it cannot be opened.
  static std::unique_ptr<DescriptorStream> open(const std::string& path);

  std::size_t read(std::uint8_t* out, std::size_t max) override;
  const std::string& name() const override { return name_; }

 private:
  int fd_;
  std::string name_;
  bool owned_;
};

// Bytes held in memory, handed out at most `chunk` at a time (as a pipe might deliver them).
class FD_API MemoryStream : public ByteStream {
 public:
  MemoryStream(const std::uint8_t* data, std::size_t size, std::size_t chunk = SIZE_MAX, std::string name = "memory");
  std::size_t read(std::uint8_t* out, std::size_t max) override;
  const std::string& name() const override { return name_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_, chunk_, at_ = 0;
  std::string name_;
};

// What the header of a WAV stream says.
struct FD_API WavStreamHeader {
  PcmEncoding encoding = PcmEncoding::S16;
  int channels = 0;
  int sampleRate = 0;
  // Bytes of samples the header announces; -1 when it leaves the length open (0, or a streaming
  // writer's placeholder just below 2^31 or above).
  long long dataBytes = -1;
};

// Reads a WAV header (RIFF or RF64, PCM, float or extensible format) from the start of `in`, up to
// the first byte of the samples. Throws std::runtime_error naming the stream, the field and what
// was expected for a stream that is not WAV, a format that is not plain PCM or float, and a stream
// that ends inside the header.
FD_API WavStreamHeader readWavStreamHeader(ByteStream& in);

// Samples from a stream, as floats at full scale +-1.
class FD_API SampleStream {
 public:
  virtual ~SampleStream() = default;
  virtual int channels() const = 0;
  virtual int sampleRate() const = 0;
  // Reads up to `maxFrames` samples per channel, interleaved, waiting until at least one is there;
  // 0 at the end of the stream (or once a stop was requested). Throws std::runtime_error naming
  // the stream when reading fails.
  virtual std::size_t read(float* interleaved, std::size_t maxFrames) = 0;
  // What the stream is, for messages.
  virtual std::string name() const = 0;
  // Sentences about the stream for the end of a run ("" when there is nothing to say): samples
  // that were not numbers (read as 0), a stream shorter than its header said, samples lost.
  virtual std::vector<std::string> reports() const = 0;
};

// PCM samples from a byte stream: a WAV stream (the format from its header) or headerless samples
// of a given format. Samples that are not finite numbers are read as 0 and counted; a stream that
// ends inside a sample frame loses that frame, and one that ends before the length its header
// announced is reported (unless it ended on a stop request). The placeholder lengths of writers
// that stream are taken as open.
class FD_API PcmStreamReader : public SampleStream {
 public:
  // Reads the WAV header from `in` (see readWavStreamHeader).
  static std::unique_ptr<PcmStreamReader> wav(std::unique_ptr<ByteStream> in);
  // Headerless samples; std::invalid_argument for a channel count or rate below 1.
  static std::unique_ptr<PcmStreamReader> raw(std::unique_ptr<ByteStream> in, PcmEncoding encoding, int channels,
                                              int sampleRate);

  int channels() const override { return channels_; }
  int sampleRate() const override { return sampleRate_; }
  std::size_t read(float* interleaved, std::size_t maxFrames) override;
  std::string name() const override { return in_->name(); }
  std::vector<std::string> reports() const override;

 private:
  PcmStreamReader(std::unique_ptr<ByteStream> in, PcmEncoding encoding, int channels, int sampleRate,
                  long long dataBytes);

  std::unique_ptr<ByteStream> in_;
  PcmEncoding encoding_;
  int channels_, sampleRate_;
  std::size_t frameBytes_;
  long long dataBytes_;     // announced; -1 when open
  long long consumed_ = 0;  // bytes of samples taken from the stream
  long frames_ = 0;         // sample frames delivered
  bool ended_ = false;
  std::vector<std::uint8_t> bytes_;  // read buffer; starts with `partial_` bytes of an incomplete frame
  std::size_t partial_ = 0;
  std::size_t droppedBytes_ = 0;     // of a frame the stream ended inside
  NonFiniteSamples nonFinite_;
};

// Sound written as it is made, to standard output, a pipe or a file: a WAV stream or headerless
// samples. A WAV header is written first with its lengths left open (0xFFFFFFFF), and filled in at
// the end when the destination can be rewound (a file, standard output redirected to a file);
// readers of a pipe take the open lengths as "until the end". Each write() is handed to the
// destination at once, so that a reader hears it without delay.
class FD_API AudioStreamWriter {
 public:
  // `path` "-" is standard output; a path is written as fileio::OutputFile writes it (beside the
  // destination, into its place on commit(); a FIFO directly). With `wavHeader` false the samples
  // are written bare. Throws std::runtime_error naming the destination when it cannot be written.
  AudioStreamWriter(const std::string& path, int sampleRate, int channels, SampleFormat format, bool wavHeader);
  ~AudioStreamWriter();
  AudioStreamWriter(const AudioStreamWriter&) = delete;
  AudioStreamWriter& operator=(const AudioStreamWriter&) = delete;

  // Appends `count` samples per channel (interleaved), converted as AudioFileWriter converts them.
  // Throws std::runtime_error naming the destination when it cannot take them (a reader that went
  // away, a full disk).
  void write(const float* interleaved, long count);
  // Fills in the WAV lengths where the destination can be rewound and closes it. Throws
  // std::runtime_error naming the destination when that fails. Closing twice does nothing.
  void close();
  // Closes if needed and moves a file into place.
  void commit();
  long written() const { return written_; }
  const std::string& name() const { return name_; }

 private:
  void put(const void* data, std::size_t bytes);

  std::string name_;
  int channels_;
  SampleFormat format_;
  bool wavHeader_;
  std::unique_ptr<fileio::OutputFile> output_;  // none for standard output
  int fd_ = -1;
  long long headerAt_ = -1;  // offset of the header where the destination can be rewound, else -1
  bool ownsFd_ = false, failed_ = false;
  long written_ = 0;
  std::vector<short> pcm_;
};

// The 44-byte header of a WAV stream of PCM16 or float samples; `dataBytes` -1 leaves the lengths
// open (0xFFFFFFFF), as for a stream whose end is not known yet.
FD_API std::vector<std::uint8_t> wavStreamHeader(int sampleRate, int channels, SampleFormat format, long long dataBytes);

}  // namespace FD
