#include "fd/AudioStream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "fd/StopRequest.h"
#include "velkfileio/ChunkId.h"

namespace FD {

namespace {

// Bytes read from a stream at once at most (at least one sample frame).
constexpr std::size_t kReadBytes = 1 << 16;
// A format chunk longer than this is taken for a damaged header rather than read.
constexpr std::uint32_t kMaxFormatBytes = 1024;
// Announced lengths from here on are the placeholders of writers that stream, which write the
// largest length they can, just below 2^31 bytes and rounded down to whole sample frames
// (0x7FFFF000 for sox, 0x7FFFFFFC and the like for arecord), or 0xFFFFFFFF: the samples then run
// to the end of the stream, however long it lasts, and a stream that ends earlier is not cut.
constexpr long long kPlaceholderBytes = 0x7F000000LL;
constexpr std::uint32_t kOpenLength = 0xFFFFFFFFu;

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t u64(const std::uint8_t* p) { return u32(p) | (static_cast<std::uint64_t>(u32(p + 4)) << 32); }
void putU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void putU32(std::uint8_t* p, std::uint32_t v) {
  putU16(p, v);
  putU16(p + 2, v >> 16);
}

// Reads a WAV header from a stream front to back, counting the bytes taken.
class HeaderReader {
 public:
  explicit HeaderReader(ByteStream& in) : in_(in) {}

  // Exactly `n` bytes; a stream that ends first is a damaged header.
  void take(std::uint8_t* out, std::size_t n, const char* what) {
    for (std::size_t got = 0; got < n;) {
      const std::size_t r = in_.read(out + got, n - got);
      if (r == 0)
        fail(at_ + got == 0 ? std::string("it is empty")
                            : "it ends inside the header, in " + std::string(what) + " (byte " + std::to_string(at_ + got) + ")");
      got += r;
    }
    at_ += n;
  }
  void skip(std::uint64_t n, const char* what) {
    std::uint8_t scrap[4096];
    while (n > 0) {
      const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof scrap));
      take(scrap, part, what);
      n -= part;
    }
  }
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error(in_.name() + " is not a WAV stream this program reads: " + why);
  }
  std::uint64_t at() const { return at_; }

 private:
  ByteStream& in_;
  std::uint64_t at_ = 0;
};

// The encoding of a format chunk's tag and sample size.
PcmEncoding encodingOf(const HeaderReader& header, std::uint16_t tag, std::uint16_t bits) {
  constexpr std::uint16_t kPcm = 1, kFloat = 3;
  if (tag == kPcm) {
    switch (bits) {
      case 8: return PcmEncoding::U8;
      case 16: return PcmEncoding::S16;
      case 24: return PcmEncoding::S24;
      case 32: return PcmEncoding::S32;
      default: break;
    }
    header.fail("its PCM samples have " + std::to_string(bits) + " bits; expected 8, 16, 24 or 32");
  }
  if (tag == kFloat) {
    if (bits == 32) return PcmEncoding::F32;
    if (bits == 64) return PcmEncoding::F64;
    header.fail("its float samples have " + std::to_string(bits) + " bits; expected 32 or 64");
  }
  header.fail("its sample format is " + std::to_string(tag) + "; expected 1 (PCM), 3 (float) or 65534 (extensible)");
}

// Reads the body of a format chunk.
void readFormat(HeaderReader& header, std::uint32_t size, WavStreamHeader& result) {
  if (size < 16 || size > kMaxFormatBytes)
    header.fail("its format chunk has " + std::to_string(size) + " bytes; expected 16 to " +
                std::to_string(kMaxFormatBytes));
  std::uint8_t body[kMaxFormatBytes];
  header.take(body, size, "the format chunk");
  std::uint16_t tag = u16(body);
  const std::uint16_t channels = u16(body + 2);
  const std::uint32_t rate = u32(body + 4);
  const std::uint16_t blockAlign = u16(body + 12);
  const std::uint16_t bits = u16(body + 14);
  constexpr std::uint16_t kExtensible = 0xFFFE;
  if (tag == kExtensible) {
    // cbSize, valid bits, channel mask, then the sub-format GUID whose first two bytes are the tag.
    if (size < 40) header.fail("its extensible format chunk has " + std::to_string(size) + " bytes; expected 40");
    tag = u16(body + 24);
  }
  result.encoding = encodingOf(header, tag, bits);
  if (channels < 1) header.fail("it has 0 channels");
  if (rate < 1 || rate > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
    header.fail("its sampling rate is " + std::to_string(rate) + " Hz");
  const unsigned frameBytes = static_cast<unsigned>(channels) * static_cast<unsigned>(bytesPerSample(result.encoding));
  if (blockAlign != frameBytes)
    header.fail("its block size is " + std::to_string(blockAlign) + " bytes; " + std::to_string(channels) +
                " channels of " + std::to_string(bits) + "-bit samples take " + std::to_string(frameBytes));
  result.channels = channels;
  result.sampleRate = static_cast<int>(rate);
}

}  // namespace

// ---- encodings ----------------------------------------------------------------------------------

int bytesPerSample(PcmEncoding encoding) {
  switch (encoding) {
    case PcmEncoding::U8: return 1;
    case PcmEncoding::S16: return 2;
    case PcmEncoding::S24: return 3;
    case PcmEncoding::S32: return 4;
    case PcmEncoding::F32: return 4;
    case PcmEncoding::F64: return 8;
  }
  return 1;
}

const std::vector<std::string>& rawFormatNames() {
  static const std::vector<std::string> names{"S16_LE", "S32_LE", "F32_LE"};
  return names;
}

PcmEncoding rawFormatFromName(const std::string& name) {
  if (name == "S16_LE") return PcmEncoding::S16;
  if (name == "S32_LE") return PcmEncoding::S32;
  if (name == "F32_LE") return PcmEncoding::F32;
  throw std::invalid_argument("\"" + name + "\" is not a sample format (accepted: \"S16_LE\", \"S32_LE\", \"F32_LE\")");
}

void decodePcm(PcmEncoding encoding, const std::uint8_t* in, std::size_t values, float* out) {
  switch (encoding) {
    case PcmEncoding::U8:
      for (std::size_t i = 0; i < values; ++i) out[i] = (static_cast<float>(in[i]) - 128.0f) * (1.0f / 128.0f);
      return;
    case PcmEncoding::S16:
      for (std::size_t i = 0; i < values; ++i)
        out[i] = static_cast<float>(static_cast<std::int16_t>(u16(in + 2 * i))) * (1.0f / 32768.0f);
      return;
    case PcmEncoding::S24:
      for (std::size_t i = 0; i < values; ++i) {
        const std::uint8_t* p = in + 3 * i;
        // The three bytes at the top of a 32-bit integer keep the sign.
        const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                 static_cast<std::uint32_t>(p[1]) << 16 |
                                                 static_cast<std::uint32_t>(p[2]) << 24);
        out[i] = static_cast<float>(v) * (1.0f / 2147483648.0f);
      }
      return;
    case PcmEncoding::S32:
      for (std::size_t i = 0; i < values; ++i)
        out[i] = static_cast<float>(static_cast<std::int32_t>(u32(in + 4 * i))) * (1.0f / 2147483648.0f);
      return;
    case PcmEncoding::F32:
      for (std::size_t i = 0; i < values; ++i) {
        const std::uint32_t bits = u32(in + 4 * i);
        std::memcpy(out + i, &bits, 4);
      }
      return;
    case PcmEncoding::F64:
      for (std::size_t i = 0; i < values; ++i) {
        const std::uint64_t bits = u64(in + 8 * i);
        double v;
        std::memcpy(&v, &bits, 8);
        out[i] = static_cast<float>(v);
      }
      return;
  }
}

// ---- byte streams -------------------------------------------------------------------------------

DescriptorStream::DescriptorStream(int fd, std::string name, bool owned) : fd_(fd), name_(std::move(name)), owned_(owned) {}

DescriptorStream::~DescriptorStream() {
  if (owned_) ::close(fd_);
}

std::unique_ptr<DescriptorStream> DescriptorStream::open(const std::string& path) {
  if (path == "-") return std::make_unique<DescriptorStream>(STDIN_FILENO, "standard input", false);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open \"" + path + "\": " + std::strerror(errno));
  return std::make_unique<DescriptorStream>(fd, "\"" + path + "\"", true);
}

std::size_t DescriptorStream::read(std::uint8_t* out, std::size_t max) {
  if (max == 0) return 0;
  const int stop = stopDescriptor();
  for (;;) {
    if (stopRequested()) return 0;
    pollfd waits[2] = {{fd_, POLLIN, 0}, {stop, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot wait for " + name_ + ": " + std::strerror(errno));
    }
    if (waits[1].revents != 0 && stopRequested()) return 0;
    if (waits[0].revents & POLLNVAL) throw std::runtime_error("cannot read " + name_ + ": it is not open");
    if (waits[0].revents == 0) continue;
    const ssize_t n = ::read(fd_, out, max);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR || errno == EAGAIN) continue;
    throw std::runtime_error("cannot read " + name_ + ": " + std::strerror(errno));
  }
}

MemoryStream::MemoryStream(const std::uint8_t* data, std::size_t size, std::size_t chunk, std::string name)
    : data_(data), size_(size), chunk_(std::max<std::size_t>(chunk, 1)), name_(std::move(name)) {}

std::size_t MemoryStream::read(std::uint8_t* out, std::size_t max) {
  const std::size_t n = std::min({max, chunk_, size_ - at_});
  if (n > 0) std::memcpy(out, data_ + at_, n);
  at_ += n;
  return n;
}

// ---- WAV header ---------------------------------------------------------------------------------

WavStreamHeader readWavStreamHeader(ByteStream& in) {
  HeaderReader header(in);
  std::uint8_t riff[12];
  header.take(riff, sizeof riff, "the RIFF header");
  const bool rf64 = std::memcmp(riff, "RF64", 4) == 0;
  if ((!rf64 && std::memcmp(riff, "RIFF", 4) != 0) || std::memcmp(riff + 8, "WAVE", 4) != 0)
    header.fail("it starts with \"" + fileio::printableId(riff) + "\" and \"" + fileio::printableId(riff + 8) +
                "\"; expected \"RIFF\" (or \"RF64\") and \"WAVE\"");
  WavStreamHeader result;
  bool haveFormat = false;
  std::uint64_t rf64DataBytes = 0;
  for (;;) {
    std::uint8_t chunk[8];
    header.take(chunk, sizeof chunk, "a chunk header");
    const std::uint32_t size = u32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (haveFormat) header.fail("it has two format chunks");
      readFormat(header, size, result);
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) header.fail("its samples (\"data\") come before their format (\"fmt \")");
      // RF64 keeps the length in its ds64 chunk, 64 bits wide and so never a placeholder.
      if (rf64 && size == kOpenLength) {
        if (rf64DataBytes > 0 && rf64DataBytes < (std::uint64_t{1} << 62))
          result.dataBytes = static_cast<long long>(rf64DataBytes);
      } else if (size != 0 && size < static_cast<std::uint64_t>(kPlaceholderBytes)) {
        result.dataBytes = size;
      }
      return result;
    } else if (rf64 && std::memcmp(chunk, "ds64", 4) == 0) {
      // RIFF size, data size (64 bits each), sample count, then a table this reader does not need.
      if (size < 24 || size > kMaxFormatBytes)
        header.fail("its ds64 chunk has " + std::to_string(size) + " bytes; expected 24 to " +
                    std::to_string(kMaxFormatBytes));
      std::uint8_t body[kMaxFormatBytes];
      header.take(body, size, "the ds64 chunk");
      rf64DataBytes = u64(body + 8);
    } else {
      // Anything else before the samples (lists of names, cue points, ...) is passed over.
      header.skip(size, "a chunk before the samples");
    }
    if (size % 2 != 0) header.skip(1, "the pad byte of a chunk");
  }
}

// ---- PCM stream reader --------------------------------------------------------------------------

PcmStreamReader::PcmStreamReader(std::unique_ptr<ByteStream> in, PcmEncoding encoding, int channels, int sampleRate,
                                 long long dataBytes)
    : in_(std::move(in)),
      encoding_(encoding),
      channels_(channels),
      sampleRate_(sampleRate),
      frameBytes_(static_cast<std::size_t>(channels) * static_cast<std::size_t>(bytesPerSample(encoding))),
      dataBytes_(dataBytes) {
  bytes_.resize(std::max(kReadBytes, frameBytes_));
}

std::unique_ptr<PcmStreamReader> PcmStreamReader::wav(std::unique_ptr<ByteStream> in) {
  const WavStreamHeader header = readWavStreamHeader(*in);
  return std::unique_ptr<PcmStreamReader>(
      new PcmStreamReader(std::move(in), header.encoding, header.channels, header.sampleRate, header.dataBytes));
}

std::unique_ptr<PcmStreamReader> PcmStreamReader::raw(std::unique_ptr<ByteStream> in, PcmEncoding encoding,
                                                      int channels, int sampleRate) {
  if (channels < 1 || channels > 65535 || sampleRate < 1)
    throw std::invalid_argument("headerless samples need a channel count and a sampling rate of at least 1");
  return std::unique_ptr<PcmStreamReader>(new PcmStreamReader(std::move(in), encoding, channels, sampleRate, -1));
}

std::size_t PcmStreamReader::read(float* interleaved, std::size_t maxFrames) {
  const std::size_t wanted = std::min(maxFrames, bytes_.size() / frameBytes_);
  while (!ended_ && wanted > 0) {
    std::size_t room = wanted * frameBytes_ - partial_;
    if (dataBytes_ >= 0) room = static_cast<std::size_t>(std::min<long long>(room, dataBytes_ - consumed_));
    const std::size_t got = room == 0 ? 0 : in_->read(bytes_.data() + partial_, room);
    if (got == 0) {
      ended_ = true;
      droppedBytes_ = partial_;
      break;
    }
    consumed_ += static_cast<long long>(got);
    const std::size_t available = partial_ + got;
    const std::size_t frames = available / frameBytes_;
    partial_ = available - frames * frameBytes_;
    if (frames == 0) continue;
    decodePcm(encoding_, bytes_.data(), frames * static_cast<std::size_t>(channels_), interleaved);
    nonFinite_.zero(interleaved, static_cast<long>(frames), channels_, frames_);
    std::memmove(bytes_.data(), bytes_.data() + frames * frameBytes_, partial_);
    frames_ += static_cast<long>(frames);
    return frames;
  }
  return 0;
}

std::vector<std::string> PcmStreamReader::reports() const {
  std::vector<std::string> said;
  const std::string nonFinite = nonFinite_.report(name(), sampleRate_);
  if (!nonFinite.empty()) said.push_back(nonFinite);
  if (droppedBytes_ > 0)
    said.push_back(name() + " ended inside a sample frame: its last " + std::to_string(droppedBytes_) + " byte" +
                   (droppedBytes_ == 1 ? " was" : "s were") + " dropped");
  if (ended_ && dataBytes_ >= 0 && consumed_ < dataBytes_ && !stopRequested())
    said.push_back(name() + " is shorter than its header says: it held " + std::to_string(consumed_) +
                   " bytes of samples, its header announces " + std::to_string(dataBytes_));
  return said;
}

// ---- writing ------------------------------------------------------------------------------------

std::vector<std::uint8_t> wavStreamHeader(int sampleRate, int channels, SampleFormat format, long long dataBytes) {
  const bool pcm = format == SampleFormat::Pcm16;
  const std::uint32_t sampleBytes = pcm ? 2 : 4;
  const std::uint32_t blockAlign = sampleBytes * static_cast<std::uint32_t>(channels);
  // Lengths beyond what 32 bits hold are left open, as for a stream.
  const bool open = dataBytes < 0 || dataBytes > static_cast<long long>(kOpenLength - 36);
  std::vector<std::uint8_t> h(44);
  std::memcpy(h.data(), "RIFF", 4);
  putU32(h.data() + 4, open ? kOpenLength : static_cast<std::uint32_t>(dataBytes + 36));
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  putU32(h.data() + 16, 16);
  putU16(h.data() + 20, pcm ? 1 : 3);
  putU16(h.data() + 22, static_cast<std::uint32_t>(channels));
  putU32(h.data() + 24, static_cast<std::uint32_t>(sampleRate));
  putU32(h.data() + 28, static_cast<std::uint32_t>(sampleRate) * blockAlign);
  putU16(h.data() + 32, blockAlign);
  putU16(h.data() + 34, sampleBytes * 8);
  std::memcpy(h.data() + 36, "data", 4);
  putU32(h.data() + 40, open ? kOpenLength : static_cast<std::uint32_t>(dataBytes));
  return h;
}

AudioStreamWriter::AudioStreamWriter(const std::string& path, int sampleRate, int channels, SampleFormat format,
                                     bool wavHeader)
    : name_(path == "-" ? "standard output" : "\"" + path + "\""),
      channels_(channels),
      format_(format),
      wavHeader_(wavHeader) {
  if (path == "-") {
    fd_ = STDOUT_FILENO;
  } else {
    output_ = std::make_unique<fileio::OutputFile>(path);
    fd_ = ::open(output_->writePath().c_str(), O_WRONLY | O_CLOEXEC | (output_->direct() ? 0 : O_TRUNC));
    if (fd_ < 0) throw std::runtime_error("cannot write " + name_ + ": " + std::strerror(errno));
    ownsFd_ = true;
  }
  // The header can be completed at the end where the destination can be rewound and is not
  // appended to (where every write lands at the end whatever the offset).
  const int flags = fcntl(fd_, F_GETFL);
  headerAt_ = flags >= 0 && (flags & O_APPEND) == 0 ? lseek(fd_, 0, SEEK_CUR) : -1;
  if (wavHeader_) {
    const std::vector<std::uint8_t> header = wavStreamHeader(sampleRate, channels, format, -1);
    put(header.data(), header.size());
  }
}

AudioStreamWriter::~AudioStreamWriter() {
  try {
    close();
  } catch (const std::exception&) {
    // Nothing can be reported from here; an uncommitted file is removed by its OutputFile.
  }
}

void AudioStreamWriter::put(const void* data, std::size_t bytes) {
  if (fd_ < 0) throw std::runtime_error("cannot write to " + name_ + ": it is already closed");
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, at, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      throw std::runtime_error("cannot write to " + name_ + ": " + std::strerror(n < 0 ? errno : EIO));
    }
    at += n;
    bytes -= static_cast<std::size_t>(n);
  }
}

void AudioStreamWriter::write(const float* interleaved, long count) {
  const std::size_t values = static_cast<std::size_t>(count) * static_cast<std::size_t>(channels_);
  if (format_ == SampleFormat::Float) {
    put(interleaved, values * sizeof(float));
  } else {
    pcm_.resize(values);
    toPcm16(interleaved, values, pcm_.data());
    put(pcm_.data(), values * sizeof(short));
  }
  written_ += count;
}

void AudioStreamWriter::close() {
  if (fd_ < 0) return;
  std::string failure;
  // The lengths are filled in where the destination can be rewound; a pipe keeps them open.
  if (wavHeader_ && !failed_ && headerAt_ >= 0) {
    const long long bytes = static_cast<long long>(written_) * channels_ * (format_ == SampleFormat::Pcm16 ? 2 : 4);
    // Only the two lengths are rewritten.
    const std::vector<std::uint8_t> header = wavStreamHeader(0, channels_, format_, bytes);
    if (pwrite(fd_, header.data() + 4, 4, headerAt_ + 4) != 4 || pwrite(fd_, header.data() + 40, 4, headerAt_ + 40) != 4)
      failure = "cannot finish " + name_ + ": " + std::strerror(errno);
  }
  if (ownsFd_ && ::close(fd_) != 0 && failure.empty()) failure = "cannot finish " + name_ + ": " + std::strerror(errno);
  fd_ = -1;
  if (failure.empty()) return;
  failed_ = true;
  throw std::runtime_error(failure);
}

void AudioStreamWriter::commit() {
  close();
  if (failed_) throw std::runtime_error("cannot write " + name_ + ": an earlier write to it failed");
  if (output_) output_->commit();
}

}  // namespace FD
