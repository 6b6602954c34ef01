#include "TableCheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "velkio/Error.h"

namespace velkio {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The share by which a position's distance from the head may differ from the first one's and
// still lie on the same circle.
constexpr double kCircleTolerance = 0.01;

std::string degrees(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Failures name the file, the chunk and the fault.
class Faults {
 public:
  Faults(const std::vector<std::string>& places, const std::string& name) : places_(places), name_(name) {}
  [[noreturn]] void at(std::size_t chunk, const std::string& what) const { raise(name_ + ": " + places_[chunk] + ": " + what); }
  [[noreturn]] void file(const std::string& what) const { raise(name_ + ": " + what); }

 private:
  [[noreturn]] static void raise(const std::string& message) {
    Error::getInstance().setWhat(message, "VELK", "checkTable", __LINE__);
    throw FileError(message);
  }
  const std::vector<std::string>& places_;
  const std::string& name_;
};

template <class T>
std::size_t firstOf(const ChunkList& chunks) {
  for (std::size_t i = 0; i < chunks.size(); ++i)
    if (chunks[i] && chunks[i]->getChunkId() == T::getIdentifier() && std::dynamic_pointer_cast<T>(chunks[i])) return i;
  return chunks.size();
}

void checkFormat(const FMT& fmt, std::size_t at, const Faults& fail) {
  const Version supported = FMT::getVersions().front();
  if (fmt.getMajorVersion() != supported.majorNumber)
    fail.at(at, "version " + std::to_string(fmt.getMajorVersion()) + "." + std::to_string(fmt.getMinorVersion()) +
                    " is not one this library reads (versions " + std::to_string(supported.majorNumber) + ".x)");
  if (fmt.getFormatId() != FMT::MEASURED && fmt.getFormatId() != FMT::GEOMETRIC)
    fail.at(at, "format id " + std::to_string(fmt.getFormatId()) +
                    " is unknown (1: measured source positions, 2: geometric model)");
  if (fmt.getNFS() < 1 || fmt.getNFS() > kMaxSamplingRate)
    fail.at(at, "sampling rate " + std::to_string(fmt.getNFS()) + " Hz is not between 1 and " +
                    std::to_string(kMaxSamplingRate) + " Hz");
  if (fmt.getNFFT() < 2 || fmt.getNFFT() > kMaxTransformLength || fmt.getNFFT() % 2 != 0)
    fail.at(at, "transform length " + std::to_string(fmt.getNFFT()) + " is not an even number from 2 to " +
                    std::to_string(kMaxTransformLength));
}

// The responses of the format's chunk: present, and for two ears at least.
void checkResponses(const TFPtr& tf, std::size_t at, const Faults& fail) {
  if (!tf) fail.at(at, "the chunk holds no responses (its response direction count is 0)");
  const std::size_t channels = (*tf)[0].size();
  if (channels < 2)
    fail.at(at, "the responses have " + std::to_string(channels) + " channel; a table for two ears needs at least 2");
}

// Positions on one horizontal circle, one per direction, as the interaural tables need them.
void checkCircle(const PositionList& src, std::size_t at, const Faults& fail) {
  auto radius = [](const Position& p) { return std::sqrt(double(p.x) * p.x + double(p.y) * p.y); };
  for (std::size_t d = 0; d < src.size(); ++d)
    if (src[d].size() != 1)
      fail.at(at, "direction " + std::to_string(d) + " holds " + std::to_string(src[d].size()) +
                      " positions; a table holds one per direction");
  const double r0 = radius(src[0][0]);
  if (!(r0 > 0.0)) fail.at(at, "direction 0 lies on the vertical axis (x = y = 0), which has no azimuth");
  for (std::size_t d = 1; d < src.size(); ++d) {
    const double r = radius(src[d][0]);
    if (std::fabs(r - r0) > kCircleTolerance * r0)
      fail.at(at, "direction " + std::to_string(d) + " lies " + degrees(r) + " m from the head and direction 0 " +
                      degrees(r0) + " m; the positions of a table lie on one circle (within 1 %)");
  }
}

// Azimuth of each direction in degrees, computed as the interaural tables compute it.
std::vector<double> azimuths(const PositionList& src) {
  std::vector<double> dirs;
  for (const auto& positions : src)
    dirs.push_back(static_cast<double>(std::atan2(positions[0].y, positions[0].x)) * 180.0 / kPi);
  return dirs;
}

// Directions on a regular grid of whole degrees: each rounds to begin + i * tick (the first step
// may cross the +-180 seam, as in a full circle listed from +180), the grid advances, stays
// inside -180 .. 180 and does not go round more than once.
void checkGrid(const std::vector<double>& dirs, std::size_t at, const Faults& fail) {
  const long n = static_cast<long>(dirs.size());
  if (n < 2) return;
  long long tick = std::llrint(dirs[1] - dirs[0]), begin = std::llrint(dirs[0]);
  if (std::llabs(tick) > 180) {
    if (n < 3)
      fail.at(at, "the two directions lie more than 180 degrees apart (" + degrees(dirs[0]) + " and " +
                      degrees(dirs[1]) + "), which gives no grid");
    tick = std::llrint(dirs[2] - dirs[1]);
    begin = std::llrint(dirs[1]) - tick;
  }
  if (tick == 0) fail.at(at, "directions 0 and 1 both lie at " + degrees(dirs[0]) + " degrees: the grid does not advance");
  for (long i = 1; i < n; ++i) {
    const long long expected = begin + i * tick;
    if (std::llrint(dirs[static_cast<std::size_t>(i)]) != expected)
      fail.at(at, "direction " + std::to_string(i) + " lies at " + degrees(dirs[static_cast<std::size_t>(i)]) +
                      " degrees, off the grid of " + std::to_string(tick) + "-degree steps from " + std::to_string(begin) +
                      " (expected " + std::to_string(expected) + ")");
  }
  const long long last = begin + (n - 1) * tick;
  if (std::llabs(begin) > 180 || std::llabs(last) > 180)
    fail.at(at, "the directions run from " + std::to_string(begin) + " to " + std::to_string(last) +
                    " degrees, beyond -180 .. 180");
  if ((n - 1) * std::llabs(tick) >= 360)
    fail.at(at, std::to_string(n) + " directions " + std::to_string(std::llabs(tick)) +
                    " degrees apart go round the circle more than once");
}

void checkMeasured(const ChunkList& chunks, const Faults& fail) {
  const std::size_t at = firstOf<M2PG>(chunks);
  if (at == chunks.size()) fail.file("format 1 (measured source positions) needs an \"M2PG\" chunk; the file has none");
  const auto& m2pg = static_cast<const M2PG&>(*chunks[at]);
  checkResponses(m2pg.getTF(), at, fail);
  checkCircle(m2pg.getSrc(), at, fail);
  checkGrid(azimuths(m2pg.getSrc()), at, fail);
}

void checkGeometric(const ChunkList& chunks, const Faults& fail) {
  const std::size_t at = firstOf<GTF>(chunks);
  if (at == chunks.size()) fail.file("format 2 (geometric model) needs a \"GTF \" chunk; the file has none");
  const auto& gtf = static_cast<const GTF&>(*chunks[at]);
  checkResponses(gtf.getTF(), at, fail);
  const unsigned n = gtf.getNSrc();
  if (n > 1 && 180 % (n - 1) != 0)
    fail.at(at, "source count " + std::to_string(n) +
                    " does not spread over -90 .. 90 degrees in whole-degree steps (one more than a divisor of 180 "
                    "does, e.g. 7, 19, 37)");
}

}  // namespace

void checkTable(const ChunkList& chunks, const std::vector<std::string>& places, const std::string& name) {
  const Faults fail(places, name);
  const std::size_t at = firstOf<FMT>(chunks);
  if (at == chunks.size()) fail.file("no format chunk (\"fmt \"); a table starts with one");
  const auto& fmt = static_cast<const FMT&>(*chunks[at]);
  checkFormat(fmt, at, fail);
  if (fmt.getFormatId() == FMT::MEASURED)
    checkMeasured(chunks, fail);
  else
    checkGeometric(chunks, fail);
}

}  // namespace velkio
