// Per-bin interaural phase and intensity differences of one frame's left and right spectra.
//
// With reference channel A and other channel B (A = left for Channel::LEFT, A = right for
// Channel::RIGHT):
//   IPD = phase(A) - phase(B), radians wrapped into [-pi, pi];
//   IID = level(A) - level(B), decibels; NaN in a bin where either channel is exactly zero.
// A difference is computed once, by its constructor, and is read-only afterwards. Inputs that
// cannot be compared (a missing channel, channels of different lengths, an unknown reference
// channel) give an empty difference of size 0.
#pragma once

#include <cstddef>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Export.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

template <class T>
class VELK_API InterauralDifference {
 public:
  explicit InterauralDifference(Channel::Kind kind);
  virtual ~InterauralDifference();
  InterauralDifference(const InterauralDifference&) = delete;
  InterauralDifference& operator=(const InterauralDifference&) = delete;

  // Value of bin i; std::out_of_range "index out of range" past the end.
  T At(size_t i) const {
    if (i >= size) throw std::out_of_range("index out of range");
    return data[i];
  }
  T operator[](size_t i) const { return At(i); }

  size_t size;         // number of bins; 0 until computed
  T* data;             // owned array of `size` values
  Channel::Kind kind;  // the reference channel
  Logger* logger;

 protected:
  // Makes room for n zeroed values.
  void Allocate(size_t n);
};

class VELK_API InterauralIntensityDifference : public InterauralDifference<float> {
 public:
  InterauralIntensityDifference(const ComplexPairPtr& spectra, Channel::Kind kind);
  ~InterauralIntensityDifference() override = default;
};

class VELK_API InterauralPhaseDifference : public InterauralDifference<float> {
 public:
  InterauralPhaseDifference(const ComplexPairPtr& spectra, Channel::Kind kind);
  ~InterauralPhaseDifference() override;
};

using IIDPtr = boost::shared_ptr<InterauralIntensityDifference>;
using IPDPtr = boost::shared_ptr<InterauralPhaseDifference>;

}  // namespace NSVelkBinaural
