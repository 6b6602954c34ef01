#include "SoundHeader.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace FD {

namespace {

// Chunks looked at before giving up; real files have a handful before their samples.
constexpr int kMaxChunks = 256;

std::uint32_t u32(const unsigned char* b, bool bigEndian) {
  return bigEndian ? (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3]
                   : (std::uint32_t{b[3]} << 24) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[1]} << 8) | b[0];
}

std::uint16_t u16(const unsigned char* b, bool bigEndian) {
  return static_cast<std::uint16_t>(bigEndian ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0]);
}

// Walks the chunks of a RIFF-like file (RIFF, RIFX or AIFF: 12-byte file header, then chunks of a
// 4-byte id and a 4-byte size, padded to even sizes).
class ChunkWalker {
 public:
  ChunkWalker(std::ifstream& in, bool bigEndian) : in_(in), bigEndian_(bigEndian) {}

  // Moves to the next chunk; false at the end of the file or of the chunks looked at.
  bool next() {
    if (++count_ > kMaxChunks) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(nextOffset_));
    unsigned char header[8];
    if (!in_.read(reinterpret_cast<char*>(header), sizeof header)) return false;
    std::memcpy(id_, header, 4);
    size_ = u32(header + 4, bigEndian_);
    bodyOffset_ = nextOffset_ + 8;
    nextOffset_ = bodyOffset_ + size_ + (size_ & 1);
    return true;
  }
  bool is(const char* id) const { return std::memcmp(id_, id, 4) == 0; }
  std::uint32_t size() const { return size_; }
  // The first `n` bytes of the body; false when the chunk or the file is shorter.
  bool body(unsigned char* out, std::uint32_t n) {
    if (size_ < n) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(bodyOffset_));
    return static_cast<bool>(in_.read(reinterpret_cast<char*>(out), n));
  }

 private:
  std::ifstream& in_;
  bool bigEndian_;
  int count_ = 0;
  char id_[4] = {};
  std::uint32_t size_ = 0;
  std::uint64_t bodyOffset_ = 0, nextOffset_ = 12;
};

long wavSamples(std::ifstream& in, bool bigEndian) {
  ChunkWalker chunks(in, bigEndian);
  long blockAlign = 0;
  while (chunks.next()) {
    if (chunks.is("fmt ")) {
      unsigned char fmt[14];
      if (!chunks.body(fmt, sizeof fmt)) return -1;
      blockAlign = u16(fmt + 12, bigEndian);
    } else if (chunks.is("data")) {
      // 0 and 0xFFFFFFFF mark a stream whose length was not known when the header was written.
      if (blockAlign <= 0 || chunks.size() == 0 || chunks.size() == 0xFFFFFFFFu) return -1;
      return static_cast<long>(chunks.size() / static_cast<std::uint32_t>(blockAlign));
    }
  }
  return -1;
}

long aiffSamples(std::ifstream& in) {
  ChunkWalker chunks(in, true);
  while (chunks.next()) {
    if (!chunks.is("COMM")) continue;
    unsigned char comm[6];
    if (!chunks.body(comm, sizeof comm)) return -1;
    return static_cast<long>(u32(comm + 2, true));  // after the 16-bit channel count
  }
  return -1;
}

}  // namespace

long announcedSampleCount(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[12];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return -1;
  const bool riff = std::memcmp(header, "RIFF", 4) == 0, rifx = std::memcmp(header, "RIFX", 4) == 0;
  if ((riff || rifx) && std::memcmp(header + 8, "WAVE", 4) == 0) return wavSamples(in, rifx);
  if (std::memcmp(header, "FORM", 4) == 0 &&
      (std::memcmp(header + 8, "AIFF", 4) == 0 || std::memcmp(header + 8, "AIFC", 4) == 0))
    return aiffSamples(in);
  return -1;
}

}  // namespace FD
