// A probability: a number checked to lie in [0, 1] when it is made.
#pragma once

#include <stdexcept>

namespace NSVelkBinaural {

template <class T>
class ProbabilityBase {
 public:
  ProbabilityBase() = default;
  explicit ProbabilityBase(T value) : value_(value) { CheckRange(value); }
  T Value() const { return value_; }

  // Accepts 0 and 1 themselves; a NaN passes (both comparisons are false).
  static void CheckRange(T value) {
    if (value < 0.0) throw std::out_of_range("probability is less than 0");
    if (value > 1.0) throw std::out_of_range("probability is more than 1");
  }

 private:
  T value_{};
};

}  // namespace NSVelkBinaural
