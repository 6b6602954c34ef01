// Interaural tables of a measured or modelled head: per direction and per frequency bin, the
// phase and level differences between two channels of a transfer-function file.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Export.h"
#include "velkio/VELK.h"

namespace NSVelkBinaural {

// One direction's table: one value per frequency bin (bin k = k-th bin of the file's response).
struct VELK_API IIPD {
  std::vector<double> values;

  std::size_t size() const { return values.size(); }
  // Index-tested access; throws std::out_of_range.
  double at(std::size_t bin) const { return values.at(bin); }
};

struct VELK_API IIPDS {
  int fs = 0;        // sampling rate, Hz
  int nfft = 0;      // transform length
  int nfreq = 0;     // the file's impulse-response length value, unchanged
  int dirtick = 0;   // degrees between adjacent directions (0 with one direction)
  int ndir = 0;      // number of source directions
  int begindeg = 0;  // direction of entry 0, degrees; entry d lies at begindeg + d * dirtick
  std::vector<IIPD> ipd;  // per direction: phase of channel B minus channel A, radians
  std::vector<IIPD> iid;  // per direction: level of channel B minus channel A, dB
};

// Builds the tables for channels A and B of a file already read with velkio::VELK::readFile.
// Throws std::invalid_argument for a file without the needed chunks, of an unsupported version
// or with source directions off a whole-degree regular grid; std::range_error when a channel
// index is not below a direction's channel count; std::length_error when the two channels hold
// different numbers of bins.
VELK_API boost::shared_ptr<IIPDS> HRTFToIIPDS(velkio::VELK& file, unsigned chA, unsigned chB);

}  // namespace NSVelkBinaural
