#include "velk_binaural/TableLoader.h"

#include <algorithm>
#include <exception>

#include "velkio/VELK.h"

namespace NSVelkBinaural {

namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& what) {
  throw TableError("transfer-function file \"" + path + "\": " + what);
}

// Channels per direction of the file's responses; 0 when it holds none.
size_t ChannelCount(const velkio::VELK& file) {
  velkio::TFPtr tf;
  if (auto m2pg = file.findFirst<velkio::M2PG>()) tf = m2pg->getTF();
  if (auto gtf = file.findFirst<velkio::GTF>(); !tf && gtf) tf = gtf->getTF();
  return tf && !tf->empty() ? tf->front().size() : 0;
}

std::string Bins(int nfft) { return std::to_string(nfft / 2 + 1) + " bins"; }

}  // namespace

boost::shared_ptr<IIPDS> ReadInterauralTables(const TableRequest& request) {
  const std::string& path = request.path;
  velkio::VELK file;
  try {
    file.readFile(path);
  } catch (const std::exception& e) {
    Refuse(path, e.what());
  }
  const std::string pair =
      "channels " + std::to_string(request.leftChannel) + " and " + std::to_string(request.rightChannel);
  if (request.leftChannel < 0 || request.rightChannel < 0 || request.leftChannel == request.rightChannel)
    Refuse(path, pair + ": expected two different channel indices of 0 or more");
  boost::shared_ptr<IIPDS> tables;
  try {
    tables = HRTFToIIPDS(file, static_cast<unsigned>(request.leftChannel), static_cast<unsigned>(request.rightChannel));
  } catch (const std::range_error& e) {
    const size_t channels = ChannelCount(file);
    Refuse(path, pair + ": " + e.what() + " (the file has " + std::to_string(channels) + " channels, 0 .. " +
                     std::to_string(channels > 0 ? channels - 1 : 0) + ")");
  } catch (const std::exception& e) {
    Refuse(path, e.what());
  }
  return tables;
}

void CheckTablesFit(const IIPDS& tables, const std::string& path, int samplingRateHz, int nfft) {
  if (tables.fs != samplingRateHz)
    Refuse(path, "sampling rate: the tables are for " + std::to_string(tables.fs) + " Hz, expected " +
                     std::to_string(samplingRateHz) + " Hz (that of the spectra)");
  if (tables.nfft != nfft)
    Refuse(path, "transform length: the tables are for a " + std::to_string(tables.nfft) + "-point transform (" +
                     Bins(tables.nfft) + "), expected " + std::to_string(nfft) + " points (" + Bins(nfft) +
                     ", that of the spectra)");
  if (tables.ndir < 1)
    Refuse(path, "holds no interaural tables (expected a measured or geometric transfer-function file with at "
                 "least one direction)");
  const size_t ndir = static_cast<size_t>(tables.ndir);
  const size_t held = std::min(tables.ipd.size(), tables.iid.size());
  if (held < ndir)
    Refuse(path, "directions: the file declares " + std::to_string(tables.ndir) + " directions but holds responses for " +
                     std::to_string(held));
  const size_t bins = static_cast<size_t>(nfft / 2 + 1);
  for (size_t d = 0; d < ndir; ++d) {
    const size_t have = std::min(tables.ipd[d].size(), tables.iid[d].size());
    if (have < bins)
      Refuse(path, "direction " + std::to_string(d) + ": " + std::to_string(have) + " bins, expected " +
                       std::to_string(bins) + " (those of the spectra)");
  }
}

boost::shared_ptr<IIPDS> LoadInterauralTables(const TableRequest& request, int samplingRateHz, int nfft) {
  boost::shared_ptr<IIPDS> tables = ReadInterauralTables(request);
  CheckTablesFit(*tables, request.path, samplingRateHz, nfft);
  return tables;
}

}  // namespace NSVelkBinaural
