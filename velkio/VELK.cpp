#include "velkio/VELK.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

#include "TableCheck.h"
#include "velkfileio/ChunkId.h"
#include "velkfileio/OutputFile.h"

namespace velkio {
namespace {

constexpr char kSignature[4] = {'V', 'E', 'L', 'K'};
constexpr std::size_t kFileHeaderBytes = 8;   // signature, size of what follows
constexpr std::size_t kChunkHeaderBytes = 8;  // identifier, body size
constexpr std::size_t kFmtBodyBytes = 20;     // the fields of version 1.0
constexpr std::size_t kPositionBytes = 12;    // three floats
constexpr std::size_t kBinBytes = 8;          // real and imaginary float
constexpr std::uint64_t kMaxBodyBytes = std::numeric_limits<std::uint32_t>::max();

[[noreturn]] void raise(const std::string& message, const char* function, int line) {
  Error::getInstance().setWhat(message, "VELK", function, line);
  throw FileError(message);
}

// Reads little-endian values from a bounded byte range. Every read is checked against the bytes
// that remain; a failure throws FileError naming the source, the place and the fault.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size, std::uint64_t baseOffset, std::string name,
         std::string place)
      : data_(data), size_(size), base_(baseOffset), name_(std::move(name)),
        place_(std::move(place)) {}

  std::size_t remaining() const { return size_ - pos_; }
  std::uint64_t offset() const { return base_ + pos_; }
  const std::uint8_t* here() const { return data_ + pos_; }
  void skip(std::size_t n) {
    need(n, "data");
    pos_ += n;
  }

  std::uint16_t u16(const std::string& what) {
    need(2, what);
    std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::uint32_t u32(const std::string& what) {
    need(4, what);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + i];
    pos_ += 4;
    return v;
  }
  // A non-negative value that must fit a signed 32-bit integer.
  int count(const std::string& what) {
    const std::uint64_t at = offset();
    std::uint32_t v = u32(what);
    if (v > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
      failAt(at, what + " " + std::to_string(v) + " is out of range");
    return static_cast<int>(v);
  }
  // A float; the caller checks that it is finite (and builds the message only if not).
  float f32() {
    std::uint32_t bits = u32("value");
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  [[noreturn]] void fail(const std::string& what) const { failAt(offset(), what); }
  [[noreturn]] void failAt(std::uint64_t at, const std::string& what) const {
    std::ostringstream message;
    message << name_ << ": ";
    if (!place_.empty()) message << place_ << ": ";
    message << what << " (at byte " << at << ")";
    raise(message.str(), "read", __LINE__);
  }

 private:
  void need(std::size_t n, const std::string& what) const {
    if (remaining() < n)
      fail("truncated: " + what + " needs " + std::to_string(n) + " bytes but only " +
           std::to_string(remaining()) + " remain");
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::uint64_t base_;
  std::string name_;
  std::string place_;
};

std::shared_ptr<FMT> readFmt(Cursor& in) {
  Version version;
  version.majorNumber = in.u16("major version");
  version.minorNumber = in.u16("minor version");
  int formatId = in.u16("format id");
  in.u16("reserved field");
  int fs = in.count("sampling rate");
  int nfft = in.count("transform length");
  int nir = in.count("impulse-response length");
  // Later minor versions may append fields; they are not needed to read this one.
  in.skip(in.remaining());
  auto fmt = std::make_shared<FMT>(formatId, fs, nfft, nir);
  fmt->setVersion(version);
  return fmt;
}

PositionList readPositions(Cursor& in) {
  std::uint32_t ndir = in.u32("direction count");
  if (ndir > in.remaining() / 4)
    in.fail("direction count " + std::to_string(ndir) + " needs at least " +
            std::to_string(std::uint64_t{ndir} * 4) + " bytes but only " +
            std::to_string(in.remaining()) + " remain");
  PositionList src(ndir);
  for (std::uint32_t d = 0; d < ndir; ++d) {
    const std::string dir = "direction " + std::to_string(d);
    std::uint32_t npos = in.u32("position count of " + dir);
    if (npos > in.remaining() / kPositionBytes)
      in.fail(dir + " claims " + std::to_string(npos) + " positions but only " +
              std::to_string(in.remaining()) + " bytes remain");
    src[d].resize(npos);
    for (Position& p : src[d]) {
      const std::uint64_t at = in.offset();
      p.x = in.f32();
      p.y = in.f32();
      p.z = in.f32();
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
        in.failAt(at, "a position of " + dir + " is not finite");
    }
  }
  return src;
}

// Reads a response block; null when it declares no directions.
TFPtr readResponses(Cursor& in) {
  std::uint32_t ndir = in.u32("response direction count");
  std::uint32_t nch = in.u32("response channel count");
  std::uint32_t nbins = in.u32("response bin count");
  if (ndir == 0) {
    if (nch != 0 || nbins != 0)
      in.fail("no response directions but " + std::to_string(nch) + " channels and " +
              std::to_string(nbins) + " bins");
    return nullptr;
  }
  if (nch == 0 || nbins == 0)
    in.fail("responses with " + std::to_string(nch) + " channels and " + std::to_string(nbins) +
            " bins");
  const std::uint64_t binsPerDirection = std::uint64_t{nch} * nbins;
  const std::uint64_t available = in.remaining() / kBinBytes;
  if (binsPerDirection > available || ndir > available / binsPerDirection)
    in.fail("responses of " + std::to_string(ndir) + " directions x " + std::to_string(nch) +
            " channels x " + std::to_string(nbins) + " bins do not fit in the " +
            std::to_string(in.remaining()) + " bytes that remain");
  auto tf = std::make_shared<TransferFunctions>(ndir, ChannelResponses(nch));
  for (std::uint32_t d = 0; d < ndir; ++d) {
    for (std::uint32_t c = 0; c < nch; ++c) {
      Bins& bins = (*tf)[d][c];
      bins.resize(nbins);
      for (std::uint32_t k = 0; k < nbins; ++k) {
        const std::uint64_t at = in.offset();
        const float re = in.f32();
        const float im = in.f32();
        if (!std::isfinite(re) || !std::isfinite(im))
          in.failAt(at, "bin " + std::to_string(k) + " of channel " + std::to_string(c) +
                            " of direction " + std::to_string(d) + " is not a finite number");
        bins[k] = {re, im};
      }
    }
  }
  return tf;
}

std::shared_ptr<M2PG> readM2pg(Cursor& in) {
  PositionList src = readPositions(in);
  TFPtr tf = readResponses(in);
  if (tf && tf->size() != src.size())
    in.fail("responses for " + std::to_string(tf->size()) + " directions but positions for " +
            std::to_string(src.size()));
  return std::make_shared<M2PG>(std::move(src), std::move(tf));
}

std::shared_ptr<GTF> readGtf(Cursor& in) {
  std::uint32_t nsrc = in.u32("source count");
  TFPtr tf = readResponses(in);
  if (tf && tf->size() != nsrc)
    in.fail("responses for " + std::to_string(tf->size()) + " directions but " +
            std::to_string(nsrc) + " sources");
  return std::make_shared<GTF>(nsrc, std::move(tf));
}

TFPtr responsesOf(const ChunkPtr& chunk) {
  if (auto m2pg = std::dynamic_pointer_cast<M2PG>(chunk)) return m2pg->getTF();
  if (auto gtf = std::dynamic_pointer_cast<GTF>(chunk)) return gtf->getTF();
  return nullptr;
}

// The bin count that goes with a transform length: bins 0 .. nfft/2.
std::uint64_t binsFor(int nfft) { return static_cast<std::uint64_t>(nfft) / 2 + 1; }

struct Parsed {
  ChunkList chunks;
  std::vector<std::string> places;  // of the kept chunks, for messages
  std::vector<SkippedChunk> skipped;
};

Parsed parse(const std::uint8_t* data, std::size_t size, const std::string& name) {
  Cursor file(data, size, 0, name, "");
  if (size < kFileHeaderBytes)
    file.fail("too short to be a transfer-function file (" + std::to_string(size) + " bytes)");
  if (std::memcmp(data, kSignature, sizeof kSignature) != 0)
    file.fail("not a transfer-function file (signature \"" + fileio::printableId(data) + "\")");
  file.skip(4);
  std::uint32_t declared = file.u32("size");
  if (declared != file.remaining())
    file.fail("header declares " + std::to_string(declared) + " bytes of chunks but " +
              std::to_string(file.remaining()) + " follow (truncated or trailing data)");

  Parsed parsed;
  std::vector<std::uint64_t> offsets;  // of the kept chunks, for the consistency messages
  while (file.remaining() > 0) {
    const std::uint64_t chunkOffset = file.offset();
    if (file.remaining() < kChunkHeaderBytes)
      file.fail("incomplete chunk header (" + std::to_string(file.remaining()) + " bytes left)");
    const std::string id = fileio::printableId(file.here());
    file.skip(4);
    std::uint32_t bodySize = file.u32("chunk size");
    const std::string place = "chunk \"" + id + "\" at byte " + std::to_string(chunkOffset);
    if (bodySize > file.remaining())
      file.fail(place + " claims " + std::to_string(bodySize) + " bytes but only " +
                std::to_string(file.remaining()) + " remain");
    Cursor body(file.here(), bodySize, file.offset(), name, place);
    file.skip(bodySize);

    ChunkPtr chunk;
    if (id == FMT::getIdentifier()) {
      if (bodySize < kFmtBodyBytes)
        body.fail("format chunk of " + std::to_string(bodySize) + " bytes, expected at least " +
                  std::to_string(kFmtBodyBytes));
      chunk = readFmt(body);
    } else if (id == M2PG::getIdentifier()) {
      chunk = readM2pg(body);
    } else if (id == GTF::getIdentifier()) {
      chunk = readGtf(body);
    } else {
      parsed.skipped.push_back({id, bodySize, chunkOffset});
      continue;
    }
    if (body.remaining() != 0)
      body.fail(std::to_string(body.remaining()) + " unused bytes at the end of the chunk");
    parsed.chunks.push_back(chunk);
    parsed.places.push_back(place);
    offsets.push_back(chunkOffset);
  }

  // The responses must have the bin count of the format's transform length, or they would be
  // compared with spectra of another resolution.
  std::shared_ptr<FMT> fmt;
  for (const ChunkPtr& chunk : parsed.chunks)
    if ((fmt = std::dynamic_pointer_cast<FMT>(chunk))) break;
  if (fmt) {
    for (std::size_t i = 0; i < parsed.chunks.size(); ++i) {
      TFPtr tf = responsesOf(parsed.chunks[i]);
      if (tf && (*tf)[0][0].size() != binsFor(fmt->getNFFT())) {
        Cursor at(data, size, offsets[i], name,
                  "chunk \"" + parsed.chunks[i]->getChunkId() + "\" at byte " +
                      std::to_string(offsets[i]));
        at.fail("responses have " + std::to_string((*tf)[0][0].size()) +
                " bins but the transform length " + std::to_string(fmt->getNFFT()) + " gives " +
                std::to_string(binsFor(fmt->getNFFT())));
      }
    }
  }
  checkTable(parsed.chunks, parsed.places, name);
  return parsed;
}

// ---------------------------------------------------------------------------------------------
// Writing

class Writer {
 public:
  explicit Writer(std::string name) : name_(std::move(name)) {}

  void u16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v & 0xff));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xff));
  }
  void count(std::size_t v, const std::string& what) {
    if (v > std::numeric_limits<std::uint32_t>::max()) fail(what + " is too large for the format");
    u32(static_cast<std::uint32_t>(v));
  }
  void f32(float v, const std::string& what) {
    if (!std::isfinite(v)) fail(what + " is not a finite number");
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    u32(bits);
  }
  void raw(const char* p, std::size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  std::size_t size() const { return bytes_.size(); }
  void patch32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xff);
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

  [[noreturn]] void fail(const std::string& what) const {
    raise(name_ + ": cannot write: " + what, "write", __LINE__);
  }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
};

void writeFmt(Writer& out, const FMT& fmt) {
  out.u16(fmt.getMajorVersion());
  out.u16(fmt.getMinorVersion());
  out.u16(static_cast<std::uint16_t>(fmt.getFormatId()));
  out.u16(0);
  out.u32(static_cast<std::uint32_t>(fmt.getNFS()));
  out.u32(static_cast<std::uint32_t>(fmt.getNFFT()));
  out.u32(static_cast<std::uint32_t>(fmt.getNIR()));
}

// Checks that the responses form a full directions x channels x bins block the reader accepts.
void checkResponseShape(const Writer& out, const TransferFunctions& tf, std::size_t directions,
                        const std::shared_ptr<FMT>& fmt) {
  if (tf.size() != directions)
    out.fail("responses for " + std::to_string(tf.size()) + " directions but " +
             std::to_string(directions) + " directions declared");
  const std::size_t nch = tf[0].size();
  if (nch == 0) out.fail("direction 0 has no channels");
  const std::size_t nbins = tf[0][0].size();
  if (nbins == 0) out.fail("channel 0 of direction 0 has no bins");
  for (std::size_t d = 0; d < tf.size(); ++d) {
    if (tf[d].size() != nch)
      out.fail("direction " + std::to_string(d) + " has " + std::to_string(tf[d].size()) +
               " channels, direction 0 has " + std::to_string(nch));
    for (std::size_t c = 0; c < nch; ++c)
      if (tf[d][c].size() != nbins)
        out.fail("channel " + std::to_string(c) + " of direction " + std::to_string(d) + " has " +
                 std::to_string(tf[d][c].size()) + " bins, the first channel has " +
                 std::to_string(nbins));
  }
  if (fmt && nbins != binsFor(fmt->getNFFT()))
    out.fail("responses have " + std::to_string(nbins) + " bins but the transform length " +
             std::to_string(fmt->getNFFT()) + " gives " + std::to_string(binsFor(fmt->getNFFT())));
}

void writeResponses(Writer& out, const TFPtr& tf, std::size_t directions,
                    const std::shared_ptr<FMT>& fmt) {
  if (!tf || tf->empty()) {  // no responses
    out.u32(0);
    out.u32(0);
    out.u32(0);
    return;
  }
  checkResponseShape(out, *tf, directions, fmt);
  out.count(tf->size(), "response direction count");
  out.count((*tf)[0].size(), "response channel count");
  out.count((*tf)[0][0].size(), "response bin count");
  for (std::size_t d = 0; d < tf->size(); ++d)
    for (std::size_t c = 0; c < (*tf)[d].size(); ++c)
      for (std::size_t k = 0; k < (*tf)[d][c].size(); ++k) {
        const std::string what = "bin " + std::to_string(k) + " of channel " + std::to_string(c) +
                                 " of direction " + std::to_string(d);
        out.f32((*tf)[d][c][k].real(), what);
        out.f32((*tf)[d][c][k].imag(), what);
      }
}

void writeM2pg(Writer& out, const M2PG& m2pg, const std::shared_ptr<FMT>& fmt) {
  const PositionList& src = m2pg.getSrc();
  out.count(src.size(), "direction count");
  for (std::size_t d = 0; d < src.size(); ++d) {
    out.count(src[d].size(), "position count");
    const std::string what = "a position of direction " + std::to_string(d);
    for (const Position& p : src[d]) {
      out.f32(p.x, what);
      out.f32(p.y, what);
      out.f32(p.z, what);
    }
  }
  writeResponses(out, m2pg.getTF(), src.size(), fmt);
}

void writeGtf(Writer& out, const GTF& gtf, const std::shared_ptr<FMT>& fmt) {
  out.u32(gtf.getNSrc());
  writeResponses(out, gtf.getTF(), gtf.getNSrc(), fmt);
}

std::vector<std::uint8_t> serialize(const ChunkList& chunks, const std::string& name) {
  Writer out(name);
  std::vector<std::string> places;
  for (std::size_t i = 0; i < chunks.size(); ++i)
    places.push_back("chunk " + std::to_string(i) + (chunks[i] ? " (\"" + chunks[i]->getChunkId() + "\")" : ""));
  std::shared_ptr<FMT> fmt;
  for (const ChunkPtr& chunk : chunks)
    if ((fmt = std::dynamic_pointer_cast<FMT>(chunk))) break;

  out.raw(kSignature, sizeof kSignature);
  out.u32(0);  // patched below
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const ChunkPtr& chunk = chunks[i];
    if (!chunk) out.fail("chunk " + std::to_string(i) + " is null");
    const std::string id = chunk->getChunkId();
    const std::size_t header = out.size();
    out.raw(id.data(), std::min<std::size_t>(id.size(), 4));
    out.u32(0);  // patched below
    if (auto f = std::dynamic_pointer_cast<FMT>(chunk); f && id == FMT::getIdentifier()) {
      writeFmt(out, *f);
    } else if (auto m = std::dynamic_pointer_cast<M2PG>(chunk); m && id == M2PG::getIdentifier()) {
      writeM2pg(out, *m, fmt);
    } else if (auto g = std::dynamic_pointer_cast<GTF>(chunk); g && id == GTF::getIdentifier()) {
      writeGtf(out, *g, fmt);
    } else {
      out.fail("chunk " + std::to_string(i) + " (\"" + id + "\") is of a kind this format does not hold");
    }
    const std::uint64_t body = out.size() - header - kChunkHeaderBytes;
    if (body > kMaxBodyBytes) out.fail("chunk \"" + id + "\" is too large for the format");
    out.patch32(header + 4, static_cast<std::uint32_t>(body));
  }
  const std::uint64_t total = out.size() - kFileHeaderBytes;
  if (total > kMaxBodyBytes) out.fail("the content is too large for the format");
  out.patch32(4, static_cast<std::uint32_t>(total));
  checkTable(chunks, places, name);
  return out.take();
}

}  // namespace

void VELK::readBuffer(const void* data, std::size_t size, const std::string& name) {
  if (data == nullptr && size != 0) raise(name + ": no data", "readBuffer", __LINE__);
  static const std::uint8_t empty = 0;
  const auto* bytes = data ? static_cast<const std::uint8_t*>(data) : &empty;
  Parsed parsed = parse(bytes, size, name);
  chunks_ = std::move(parsed.chunks);
  skipped_ = std::move(parsed.skipped);
}

void VELK::readFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) raise(path + ": cannot open: no such file", "readFile", __LINE__);
  if (!fs::is_regular_file(status)) raise(path + ": cannot open: not a regular file", "readFile", __LINE__);
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) raise(path + ": cannot open: " + ec.message(), "readFile", __LINE__);
  // The header's size field bounds what a valid file can hold; refuse to load anything larger.
  if (size > kFileHeaderBytes + kMaxBodyBytes)
    raise(path + ": too large to be a transfer-function file (" + std::to_string(size) + " bytes)",
          "readFile", __LINE__);

  std::ifstream in(path, std::ios::binary);
  if (!in) raise(path + ": cannot open for reading", "readFile", __LINE__);
  std::vector<char> bytes(static_cast<std::size_t>(size));
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::uintmax_t>(in.gcount()) != size)
    raise(path + ": read error (the file changed while it was read?)", "readFile", __LINE__);
  readBuffer(bytes.data(), bytes.size(), path);
}

std::vector<std::uint8_t> VELK::toBytes() const {
  return serialize(chunks_, "transfer-function data");
}

void VELK::writeFile(const std::string& path) const {
  const std::vector<std::uint8_t> bytes = serialize(chunks_, path);
  try {
    fileio::OutputFile output(path);
    std::ofstream out(output.writePath(), std::ios::binary | std::ios::trunc);
    if (!out) raise(path + ": cannot write: cannot create " + output.writePath(), "writeFile", __LINE__);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) raise(path + ": cannot write: write error", "writeFile", __LINE__);
    output.commit();
  } catch (const FileError&) {
    throw;
  } catch (const std::runtime_error& e) {
    raise(e.what(), "writeFile", __LINE__);
  }
}

const ChunkList& VELK::getChunkList(const std::string& listName) const {
  static const ChunkList none;
  return listName.empty() ? chunks_ : none;
}

void VELK::addChunk(ChunkPtr chunk) { chunks_.push_back(std::move(chunk)); }

void VELK::clear() {
  chunks_.clear();
  skipped_.clear();
}

}  // namespace velkio
