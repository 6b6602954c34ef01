#include "InterauralDifference.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace NSVelkBinaural {

namespace {

const char* const kFile = "InterauralDifference";
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

void LogFinest(Logger* logger, const char* message, const char* function) {
  if (logger->IsLoggable(LogLevel::FINEST)) logger->Log(LogLevel::FINEST, message, kFile, function);
}

// Picks the reference channel A and the other channel B; false when the pair cannot be
// compared bin by bin or the reference channel is not one of the two ears.
bool SelectChannels(const ComplexPairPtr& spectra, Channel::Kind kind, const ComplexSignal*& a,
                    const ComplexSignal*& b) {
  if (!IsEqualSignalSize(spectra)) return false;  // also covers a missing pair or channel
  switch (kind) {
    case Channel::LEFT:
      a = spectra->left.get();
      b = spectra->right.get();
      return true;
    case Channel::RIGHT:
      a = spectra->right.get();
      b = spectra->left.get();
      return true;
  }
  return false;
}

// Level in dB of one bin, from the single-precision magnitude; NaN for an exactly zero bin.
float LevelDb(const std::complex<float>& x) {
  double power = static_cast<double>(std::abs(x));
  power *= power;
  if (!(power > 0.0)) return std::numeric_limits<float>::quiet_NaN();
  return static_cast<float>(10.0f * std::log10(power));
}

// Phase difference pa - pb brought into [-pi, pi]; exactly +-pi stays as it is.
float WrappedPhaseDifference(float pa, float pb) {
  double d = static_cast<double>(pa) - static_cast<double>(pb);
  if (d > kPi)
    d -= kTwoPi;
  else if (d < -kPi)
    d += kTwoPi;
  return static_cast<float>(d);
}

}  // namespace

template <class T>
InterauralDifference<T>::InterauralDifference(Channel::Kind kind)
    : size(0), data(nullptr), kind(kind), logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST,
                boost::format("InterauralDifference::InterauralDifference %08x") %
                    reinterpret_cast<std::uintptr_t>(this),
                "", "");
}

template <class T>
InterauralDifference<T>::~InterauralDifference() {
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST,
                boost::format("InterauralDifference::~InterauralDifference %08x") %
                    reinterpret_cast<std::uintptr_t>(this),
                "", "");
  delete[] data;
}

template <class T>
void InterauralDifference<T>::Allocate(size_t n) {
  if (n != size) {
    delete[] data;
    data = nullptr;
    size = 0;
    data = new T[n];
    size = n;
  }
  for (size_t i = 0; i < n; ++i) data[i] = T();
}

template class InterauralDifference<float>;

InterauralIntensityDifference::InterauralIntensityDifference(const ComplexPairPtr& spectra, Channel::Kind kind)
    : InterauralDifference<float>(kind), ownLogger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  const char* function = "InterauralIntensityDifference";
  LogFinest(ownLogger, "constructor", function);
  const ComplexSignal* a = nullptr;
  const ComplexSignal* b = nullptr;
  if (!SelectChannels(spectra, kind, a, b)) return;
  LogFinest(ownLogger, "calculating IID", function);
  Allocate(a->size);
  for (size_t i = 0; i < size; ++i) data[i] = LevelDb(a->data[i]) - LevelDb(b->At(i));
}

InterauralPhaseDifference::InterauralPhaseDifference(const ComplexPairPtr& spectra, Channel::Kind kind)
    : InterauralDifference<float>(kind), ownLogger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  const char* function = "InterauralPhaseDifference";
  LogFinest(ownLogger, "constructor", function);
  const ComplexSignal* a = nullptr;
  const ComplexSignal* b = nullptr;
  if (!SelectChannels(spectra, kind, a, b)) return;
  LogFinest(ownLogger, "calculating IPD", function);
  Allocate(a->size);
  for (size_t i = 0; i < size; ++i) {
    const std::complex<float>& xa = a->data[i];
    const std::complex<float>& xb = b->At(i);
    data[i] = WrappedPhaseDifference(std::atan2(xa.imag(), xa.real()), std::atan2(xb.imag(), xb.real()));
  }
}

InterauralPhaseDifference::~InterauralPhaseDifference() {
  if (ownLogger->IsLoggable(LogLevel::FINEST))
    ownLogger->Log(LogLevel::FINEST, "InterauralPhaseDifference::~InterauralPhaseDifference", "", "");
}

namespace {
FD::RCPtr<FD::Vector<float>> CopyToFDVector(const InterauralDifference<float>* difference, const char* what) {
  if (!difference) throw std::invalid_argument(std::string("ToFDVector: the ") + what + " pointer is empty");
  return FD::RCPtr<FD::Vector<float>>(new FD::Vector<float>(difference->data, difference->data + difference->size));
}
}  // namespace

FD::RCPtr<FD::Vector<float>> ToFDVector(const IIDPtr& iid) { return CopyToFDVector(iid.get(), "intensity difference"); }

FD::RCPtr<FD::Vector<float>> ToFDVector(const IPDPtr& ipd) { return CopyToFDVector(ipd.get(), "phase difference"); }

}  // namespace NSVelkBinaural
