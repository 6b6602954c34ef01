#include "velk_binaural/InterauralDifference.h"

#include <complex>
#include <cstdint>
#include <stdexcept>

#include "FastMath.h"
#include "velk_binaural/RecycledArray.h"

namespace NSVelkBinaural {

namespace {

const char* const kFile = "InterauralDifference";

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
  RecycledArray<T>::Give(data, size);
}

template <class T>
void InterauralDifference<T>::Allocate(size_t n) {
  if (n != size) {
    RecycledArray<T>::Give(data, size);
    data = nullptr;
    size = 0;
    data = RecycledArray<T>::Take(n);
    size = n;
  }
  for (size_t i = 0; i < n; ++i) data[i] = T();
}

template class InterauralDifference<float>;

InterauralIntensityDifference::InterauralIntensityDifference(const ComplexPairPtr& spectra, Channel::Kind kind)
    : InterauralDifference<float>(kind) {
  const char* function = "InterauralIntensityDifference";
  LogFinest(logger, "constructor", function);
  const ComplexSignal* a = nullptr;
  const ComplexSignal* b = nullptr;
  if (!SelectChannels(spectra, kind, a, b)) return;
  LogFinest(logger, "calculating IID", function);
  Allocate(a->size);
  FastMath::LevelDifferencesDb(a->data, b->data, data, size);
}

InterauralPhaseDifference::InterauralPhaseDifference(const ComplexPairPtr& spectra, Channel::Kind kind)
    : InterauralDifference<float>(kind) {
  const char* function = "InterauralPhaseDifference";
  LogFinest(logger, "constructor", function);
  const ComplexSignal* a = nullptr;
  const ComplexSignal* b = nullptr;
  if (!SelectChannels(spectra, kind, a, b)) return;
  LogFinest(logger, "calculating IPD", function);
  Allocate(a->size);
  // The phase of a * conj(b) is the wrapped difference of the two phases, with one arctangent.
  FastMath::PhaseDifferences(a->data, b->data, data, size);
}

InterauralPhaseDifference::~InterauralPhaseDifference() {
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, "InterauralPhaseDifference::~InterauralPhaseDifference", "", "");
}

}  // namespace NSVelkBinaural
