// Reading a transfer-function file into the interaural tables that the measured-table localiser
// and separator use, with every check that the tables fit the spectra they will be compared
// with. Every failure is a TableError whose message names the file, what was wrong and what was
// expected.
#pragma once

#include <stdexcept>
#include <string>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Export.h"
#include "velk_binaural/HRTF.h"

namespace NSVelkBinaural {

class VELK_API TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which file, and which two of its channels are the left and the right ear.
struct VELK_API TableRequest {
  std::string path;
  int leftChannel = 0;
  int rightChannel = 1;
};

// Reads the file and builds the tables of the channel pair (channel B minus channel A, with A the
// left ear). Refuses a file that cannot be read or is not a transfer-function file, and a channel
// pair that is not two different channels of the file.
VELK_API boost::shared_ptr<IIPDS> ReadInterauralTables(const TableRequest& request);

// Refuses tables made for another sampling rate or transform length than the spectra's, and
// tables that are empty or lack a direction or a bin of the spectra. `path` names the file in messages.
VELK_API void CheckTablesFit(const IIPDS& tables, const std::string& path, int samplingRateHz, int nfft);

// ReadInterauralTables followed by CheckTablesFit.
VELK_API boost::shared_ptr<IIPDS> LoadInterauralTables(const TableRequest& request, int samplingRateHz, int nfft);

}  // namespace NSVelkBinaural
