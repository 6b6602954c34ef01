// The chunks of a transfer-function file and the data they carry.
//
// A file is a list of chunks. Three kinds are understood: "fmt " (version, sampling rate,
// transform length, impulse-response length and format id), "M2PG" (measured source positions
// and their transfer functions) and "GTF " (a source count and the transfer functions of a
// geometric model). The classes here are plain data holders; reading and writing live in VELK.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velkio/Export.h"

namespace velkio {

// The complex response of one channel, one value per frequency bin (bin k of an nfft-point
// transform X[k] = sum x[n] e^(-j 2 pi k n / nfft), k = 0 .. nfft/2).
using Bins = std::vector<std::complex<float>>;
// The responses of every channel for one source direction, indexed by channel.
using ChannelResponses = std::vector<Bins>;
// The responses of every direction, indexed by direction.
using TransferFunctions = std::vector<ChannelResponses>;
// Shared, read-only transfer functions; null when a chunk holds no responses.
using TFPtr = std::shared_ptr<const TransferFunctions>;

// A source position in metres, head-centred: x to the front, y to the left, z up.
struct VELKIO_API Position {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};
// The positions of every direction, each direction holding one or more positions.
using PositionList = std::vector<std::vector<Position>>;

class VELKIO_API Chunk {
 public:
  virtual ~Chunk() = default;
  // The four-character identifier this chunk is stored under.
  virtual std::string getChunkId() const = 0;
};

using ChunkPtr = std::shared_ptr<Chunk>;
using ChunkList = std::vector<ChunkPtr>;

// A format version. (Named fields rather than major/minor, which some C libraries define as
// macros.)
struct VELKIO_API Version {
  std::uint16_t majorNumber = 0;
  std::uint16_t minorNumber = 0;
};
inline bool operator==(const Version& a, const Version& b) {
  return a.majorNumber == b.majorNumber && a.minorNumber == b.minorNumber;
}
inline bool operator!=(const Version& a, const Version& b) { return !(a == b); }

// Limits of a table's format chunk: higher sampling rates and longer transforms are taken for
// damage rather than data.
constexpr int kMaxSamplingRate = 1000000;       // Hz
constexpr int kMaxTransformLength = 1 << 20;    // points

// Format chunk: what the rest of the file means.
class VELKIO_API FMT : public Chunk {
 public:
  // Format ids.
  static constexpr int MEASURED = 1;   // source positions and responses in an M2PG chunk
  static constexpr int GEOMETRIC = 2;  // a source count and responses in a GTF chunk

  static std::string getIdentifier() { return "fmt "; }
  // The versions this library writes and understands, newest first; the first is (1, 0).
  static const std::vector<Version>& getVersions();

  // Version 1.0, measured format, all numbers 0.
  FMT() = default;
  // Version 1.0. Throws std::invalid_argument for a negative number or a format id that does
  // not fit in 16 bits.
  FMT(int formatId, int fs, int nfft, int nir);

  std::string getChunkId() const override { return getIdentifier(); }

  Version getVersion() const { return version_; }
  std::uint16_t getMajorVersion() const { return version_.majorNumber; }
  std::uint16_t getMinorVersion() const { return version_.minorNumber; }
  void setVersion(Version version) { version_ = version; }

  int getFormatId() const { return formatId_; }
  int getNFS() const { return fs_; }     // sampling rate, Hz
  int getNFFT() const { return nfft_; }  // transform length the bins come from
  int getNIR() const { return nir_; }    // length of the impulse responses, samples

 private:
  Version version_{1, 0};
  int formatId_ = MEASURED;
  int fs_ = 0;
  int nfft_ = 0;
  int nir_ = 0;
};

// Measured source positions and, per direction and channel, their transfer functions.
class VELKIO_API M2PG : public Chunk {
 public:
  static std::string getIdentifier() { return "M2PG"; }

  M2PG() = default;
  M2PG(PositionList src, TFPtr tf) : src_(std::move(src)), tf_(std::move(tf)) {}

  std::string getChunkId() const override { return getIdentifier(); }

  const PositionList& getSrc() const { return src_; }
  // Null when the chunk holds no responses.
  TFPtr getTF() const { return tf_; }

 private:
  PositionList src_;
  TFPtr tf_;
};

// Transfer functions of a geometric model: a number of source directions spread evenly over
// -90 .. +90 degrees (one source: straight ahead).
class VELKIO_API GTF : public Chunk {
 public:
  static std::string getIdentifier() { return "GTF "; }

  GTF() = default;
  GTF(unsigned nsrc, TFPtr tf) : nsrc_(nsrc), tf_(std::move(tf)) {}

  std::string getChunkId() const override { return getIdentifier(); }

  unsigned getNSrc() const { return nsrc_; }
  // Null when the chunk holds no responses.
  TFPtr getTF() const { return tf_; }

 private:
  unsigned nsrc_ = 0;
  TFPtr tf_;
};

}  // namespace velkio
