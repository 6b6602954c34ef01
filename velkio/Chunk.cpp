#include "velkio/Chunk.h"

#include <limits>
#include <stdexcept>

namespace velkio {

const std::vector<Version>& FMT::getVersions() {
  static const std::vector<Version> versions{{1, 0}};
  return versions;
}

FMT::FMT(int formatId, int fs, int nfft, int nir)
    : formatId_(formatId), fs_(fs), nfft_(nfft), nir_(nir) {
  if (formatId < 0 || formatId > std::numeric_limits<std::uint16_t>::max())
    throw std::invalid_argument("format id must lie in 0 .. 65535");
  if (fs < 0 || nfft < 0 || nir < 0)
    throw std::invalid_argument("sampling rate, transform length and response length must not be negative");
}

}  // namespace velkio
