// Integer arithmetic that reports overflow instead of wrapping.
#pragma once

#include <limits>
#include <stdexcept>

namespace NSSafeCalculation {

template <class T>
T OverflowAdd(const T& a, const T& b) {
  if ((a > 0 && b > 0 && a > std::numeric_limits<T>::max() - b) ||
      (a < 0 && b < 0 && a < std::numeric_limits<T>::min() - b))
    throw std::overflow_error("addition overflow");
  return a + b;
}

}  // namespace NSSafeCalculation
