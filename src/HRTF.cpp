#include "velk_binaural/HRTF.h"

#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {
namespace {

const std::string kFile = "HRTF";
constexpr double kPi = 3.14159265358979323846;
const char* const kNotCircle = "Invalid source position. (not a circle)";
const char* const kNotGrid = "Invalid source position. (not fixed and integer tick)";
const char* const kNoTF = "Invalid velk file. There is no TF";

void LogAt(int level, const std::string& message, const std::string& function) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(level)) logger->Log(level, message, kFile, function);
}

// Rounds to the nearest integer, ties to even.
long long RoundEven(double value) { return std::llrint(value); }

// Accepts versions with the supported major number and a minor number at least the supported
// one; records what it found in the library's error record.
void CheckVersion(const velkio::FMT& fmt) {
  const velkio::Version supported = velkio::FMT::getVersions().front();
  const velkio::Version version = fmt.getVersion();
  velkio::Error& record = velkio::Error::getInstance();
  const std::string rejected = "Invalid velk file. There is no version " +
                               std::to_string(supported.majorNumber) + "." +
                               std::to_string(supported.minorNumber) + " FMT chunk";
  if (version.majorNumber != supported.majorNumber) {
    record.setWhat("Major Version Mismatch: Version:" + std::to_string(version.majorNumber) + "." +
                       std::to_string(version.minorNumber),
                   kFile, "CheckVersion", __LINE__);
    throw std::invalid_argument(rejected);
  }
  if (version.minorNumber < supported.minorNumber) {
    record.setWhat("Major Version Mismatch:", kFile, "CheckVersion", __LINE__);
    throw std::invalid_argument(rejected);
  }
  if (version.minorNumber > supported.minorNumber)
    record.setWhat("Major Version Safe Match", kFile, "CheckVersion", __LINE__);
}

// The source positions must lie on one horizontal circle: one position per direction, all
// horizontal radii within 1 % of the first.
bool IsCircle(const velkio::PositionList& src) {
  const std::string function = "IsCircle";
  if (src.empty()) {
    LogAt(LogLevel::FINE, "there is no source", function);
    return false;
  }
  if (src.size() == 1) {
    LogAt(LogLevel::FINE, "there is one horizon kind", function);
    return src[0].size() == 1;
  }
  for (const auto& positions : src) {
    if (positions.size() != 1) {
      LogAt(LogLevel::FINE, "pos is not one layer", function);
      return false;
    }
  }
  auto radius = [](const velkio::Position& p) {
    return std::sqrt(static_cast<double>(p.x) * p.x + static_cast<double>(p.y) * p.y);
  };
  const double r0 = radius(src[0][0]);
  for (std::size_t i = 1; i < src.size(); ++i) {
    const double r = radius(src[i][0]);
    if (!(0.99 * r0 <= r && r <= 1.01 * r0)) {
      LogAt(LogLevel::FINE, "radiuses are not constant", function);
      return false;
    }
  }
  return true;
}

// Azimuth of each direction's position, degrees, positive to the left.
std::vector<double> CalcDirections(const velkio::PositionList& src) {
  std::vector<double> dirs(src.size());
  const bool dump = Logger::Global()->IsLoggable(LogLevel::FINEST);
  for (std::size_t i = 0; i < src.size(); ++i) {
    const velkio::Position& p = src[i][0];
    dirs[i] = static_cast<double>(std::atan2(p.y, p.x)) * 180.0 / kPi;
    if (dump)
      Logger::Global()->Log(LogLevel::FINEST, boost::format("dirs[%d]=%f") % i % dirs[i], kFile,
                          "CalcDirections");
  }
  return dirs;
}

struct Grid {
  int tick = 0;
  int begin = 0;
};

// The directions must run on a regular grid of whole degrees. When the first step crosses the
// +-180 degree seam (a full circle listed from +180), the tick and start come from the second
// and third directions, and those are the grid's values: entry 0 then lies at begin, the same
// direction as +180.
Grid IsFixedAndInteger(const std::vector<double>& dirs) {
  const std::string function = "IsFixedAndInteger";
  Grid grid;
  if (dirs.size() < 2) {
    LogAt(LogLevel::FINE, "the number of source directions is very little", function);
    if (!dirs.empty()) grid.begin = static_cast<int>(RoundEven(dirs[0]));
    return grid;
  }
  long long tick = RoundEven(dirs[1] - dirs[0]);
  long long begin = RoundEven(dirs[0]);
  if (std::llabs(tick) > 180) {
    if (dirs.size() < 3) {
      LogAt(LogLevel::FINE, "the first step crosses the 180 degree seam and no third direction follows",
            function);
      throw std::invalid_argument(kNotGrid);
    }
    tick = RoundEven(dirs[2] - dirs[1]);
    begin = RoundEven(dirs[1]) - tick;
  }
  if (tick == 0) {
    // Directions that do not advance describe no grid; every entry would claim the same angle.
    LogAt(LogLevel::FINE, "the directions do not advance", function);
    throw std::invalid_argument(kNotGrid);
  }
  for (std::size_t i = 1; i < dirs.size(); ++i) {
    const long long expected = begin + static_cast<long long>(i) * tick;
    const long long actual = RoundEven(dirs[i]);
    if (expected != actual) {
      if (Logger::Global()->IsLoggable(LogLevel::FINE))
        Logger::Global()->Log(LogLevel::FINE, boost::format("expected:%d, actual:%d") % expected % actual,
                            kFile, function);
      throw std::invalid_argument(kNotGrid);
    }
  }
  grid.tick = static_cast<int>(tick);
  grid.begin = static_cast<int>(begin);
  return grid;
}

double Level(std::complex<float> h) {
  const double magnitude = std::abs(h);
  const double power = magnitude * magnitude;
  return power > 0.0 ? 10.0 * std::log10(power) : std::numeric_limits<double>::quiet_NaN();
}

double Phase(std::complex<float> h) { return std::atan2(h.imag(), h.real()); }

// One table entry per response direction: IPD = phase(B) - phase(A), not wrapped, and
// IID = level(B) - level(A), NaN where a channel's response is zero.
void FillTables(IIPDS& tables, const velkio::TransferFunctions& tf, unsigned chA, unsigned chB) {
  tables.ipd.resize(tf.size());
  tables.iid.resize(tf.size());
  for (std::size_t d = 0; d < tf.size(); ++d) {
    const velkio::ChannelResponses& channels = tf[d];
    if (chA >= channels.size() || chB >= channels.size())
      throw std::range_error("channel number is out of range");
    const std::vector<const velkio::Bins*> pair{&channels[chA], &channels[chB]};
    if (pair.size() != 2) throw std::length_error("tf.size != 2");
    if (pair[0]->size() != pair[1]->size()) throw std::length_error("tf[0].size != tf[1].size");
    const velkio::Bins& a = *pair[0];
    const velkio::Bins& b = *pair[1];
    std::vector<double>& ipd = tables.ipd[d].values;
    std::vector<double>& iid = tables.iid[d].values;
    ipd.assign(a.size(), 0.0);
    iid.assign(a.size(), 0.0);
    for (std::size_t k = 0; k < a.size(); ++k) {
      ipd[k] = Phase(b[k]) - Phase(a[k]);
      iid[k] = Level(b[k]) - Level(a[k]);
    }
  }
}

void LoadMeasured(velkio::VELK& file, IIPDS& tables, unsigned chA, unsigned chB) {
  const auto m2pg = file.findFirst<velkio::M2PG>();
  if (!m2pg) throw std::invalid_argument("Invalid velk file. There is no M2PG chunk");
  const velkio::TFPtr tf = m2pg->getTF();
  if (!tf) throw std::invalid_argument(kNoTF);
  const velkio::PositionList& src = m2pg->getSrc();
  if (!IsCircle(src)) throw std::invalid_argument(kNotCircle);
  const Grid grid = IsFixedAndInteger(CalcDirections(src));
  tables.dirtick = grid.tick;
  tables.begindeg = grid.begin;
  tables.ndir = static_cast<int>(src.size());
  FillTables(tables, *tf, chA, chB);
}

// A geometric file's sources are spread evenly over -90 .. +90 degrees (a single source stands
// straight ahead), so entry 0 lies at -90 degrees.
void LoadGeometric(velkio::VELK& file, IIPDS& tables, unsigned chA, unsigned chB) {
  const auto gtf = file.findFirst<velkio::GTF>();
  if (!gtf) throw std::invalid_argument("Invalid velk file. There is no GTF chunk");
  const velkio::TFPtr tf = gtf->getTF();
  if (!tf) throw std::invalid_argument(kNoTF);
  const unsigned count = gtf->getNSrc();
  if (count > static_cast<unsigned>(std::numeric_limits<int>::max()))
    throw std::invalid_argument("The number of directions is invalid");
  tables.ndir = static_cast<int>(count);
  if (count == 1) {
    tables.dirtick = 0;
    tables.begindeg = 0;
  } else if (count < 2) {
    throw std::invalid_argument("The number of directions is invalid");
  } else {
    tables.dirtick = static_cast<int>(180 / (count - 1));
    tables.begindeg = -90;
  }
  FillTables(tables, *tf, chA, chB);
}

}  // namespace

boost::shared_ptr<IIPDS> HRTFToIIPDS(velkio::VELK& file, unsigned chA, unsigned chB) {
  const auto fmt = file.findFirst<velkio::FMT>();
  if (!fmt) throw std::invalid_argument("Invalid velk file. There is no FMT chunk");
  CheckVersion(*fmt);

  auto tables = boost::make_shared<IIPDS>();
  tables->fs = fmt->getNFS();
  tables->nfft = fmt->getNFFT();
  tables->nfreq = fmt->getNIR();
  switch (fmt->getFormatId()) {
    case velkio::FMT::MEASURED:
      LoadMeasured(file, *tables, chA, chB);
      break;
    case velkio::FMT::GEOMETRIC:
      LoadGeometric(file, *tables, chA, chB);
      break;
    default:
      break;  // a format this library does not interpret: the record keeps empty tables
  }
  return tables;
}

}  // namespace NSVelkBinaural
