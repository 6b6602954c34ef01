#include "velk_binaural/DirectionConverter.h"

#include <cstdint>
#include <stdexcept>

namespace NSVelkBinaural {

DirectionConverter gDirConv(-5, 90);

int DirectionConverter::ToIndex(int degree) const {
  if (step == 0)
    throw std::logic_error(
        "direction converter has no step yet (a measured-table localiser sets it on its first frame)");
  return (degree - origin) / step;
}

int DirectionConverter::ToDegree(unsigned int index) const {
  // 32-bit wrap-around arithmetic, as the grid's own integers are.
  return static_cast<int>(static_cast<std::uint32_t>(index) * static_cast<std::uint32_t>(step) +
                          static_cast<std::uint32_t>(origin));
}

}  // namespace NSVelkBinaural
