// Two-ear signal containers.
//
// A SignalBase owns one channel's array (a spectrum, a level per bin, a noise floor); a
// ChannelHolder pairs a left and a right element. Both are shared through boost::shared_ptr and
// never copied. Every element access tests its index.
#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "velk_binaural/Logger.h"
#include "velk_binaural/RecycledArray.h"

namespace NSVelkBinaural {

namespace Channel {
// The reference channel of a two-channel comparison.
enum Kind { LEFT = 0, RIGHT = 1 };
}  // namespace Channel

namespace detail {
inline void TraceObject(Logger* logger, const char* text, const void* object) {
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, boost::format(text) % reinterpret_cast<std::uintptr_t>(object), "", "");
}
}  // namespace detail

template <class T>
class SignalBase {
 public:
  SignalBase(size_t n, const T& fill) : size(n), data(RecycledArray<T>::Take(n)), logger(Logger::Global()) {
    std::fill(data, data + n, fill);
    detail::TraceObject(logger, "SignalBase::SignalBase(size_t, const T&) %08x", this);
  }
  SignalBase(size_t n, const T* source) : size(n), data(RecycledArray<T>::Take(n)), logger(Logger::Global()) {
    std::copy(source, source + n, data);
    detail::TraceObject(logger, "SignalBase::SignalBase(size_t, const T*) %08x", this);
  }
  ~SignalBase() {
    detail::TraceObject(logger, "SignalBase::~SignalBase() %08x", this);
    RecycledArray<T>::Give(data, size);
  }
  SignalBase(const SignalBase&) = delete;
  SignalBase& operator=(const SignalBase&) = delete;

  T& At(size_t i) {
    if (i >= size) throw std::out_of_range("index is out of range");
    return data[i];
  }
  const T& At(size_t i) const {
    if (i >= size) throw std::out_of_range("index is out of range");
    return data[i];
  }

  size_t size;
  T* data;
  Logger* logger;
};

template <class L, class R>
class ChannelHolder {
 public:
  ChannelHolder(L& left, R& right) : left(left), right(right), logger(Logger::Global()) {
    if (logger->IsLoggable(LogLevel::FINEST)) logger->Log(LogLevel::FINEST, "ChannelHolder::ChannelHolder", "", "");
  }
  ~ChannelHolder() {
    if (logger->IsLoggable(LogLevel::FINEST)) logger->Log(LogLevel::FINEST, "ChannelHolder::~ChannelHolder", "", "");
    right = R();
    left = L();
  }
  ChannelHolder(const ChannelHolder&) = delete;
  ChannelHolder& operator=(const ChannelHolder&) = delete;

  L left;
  R right;
  Logger* logger;
};

using FloatSignal = SignalBase<float>;
using ComplexSignal = SignalBase<std::complex<float>>;
using FloatSignalPtr = boost::shared_ptr<FloatSignal>;
using ComplexSignalPtr = boost::shared_ptr<ComplexSignal>;
using FloatPair = ChannelHolder<FloatSignalPtr, FloatSignalPtr>;
using ComplexPair = ChannelHolder<ComplexSignalPtr, ComplexSignalPtr>;
using FloatPairPtr = boost::shared_ptr<FloatPair>;
using ComplexPairPtr = boost::shared_ptr<ComplexPair>;

// False when the holder or either channel is missing; else whether both have the same length.
template <class T>
bool IsEqualSignalSize(
    const boost::shared_ptr<ChannelHolder<boost::shared_ptr<SignalBase<T>>, boost::shared_ptr<SignalBase<T>>>>& pair) {
  if (!pair || !pair->left || !pair->right) return false;
  return pair->left->size == pair->right->size;
}

template <class T>
struct LRSignalFactory;

template <>
struct LRSignalFactory<float> {
  // A pair of two new zeroed signals of n elements.
  static FloatPairPtr Create(size_t n) {
    FloatSignalPtr left = boost::make_shared<FloatSignal>(n, 0.0f);
    FloatSignalPtr right = boost::make_shared<FloatSignal>(n, 0.0f);
    return boost::make_shared<FloatPair>(left, right);
  }
};

}  // namespace NSVelkBinaural
