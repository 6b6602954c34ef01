// Typed physical quantities. Every quantity that crosses a function boundary travels in one of
// these wrappers so that an angle cannot be passed where a length or a frequency is expected.
// Units: angles in radians, lengths in metres, frequencies in hertz.
#pragma once

namespace NSDimensionPromise {

template <class Tag, class T>
class Quantity {
 public:
  constexpr Quantity() = default;
  constexpr explicit Quantity(T value) : value_(value) {}
  constexpr T Value() const { return value_; }

  constexpr Quantity operator+(Quantity o) const { return Quantity(value_ + o.value_); }
  constexpr Quantity operator-(Quantity o) const { return Quantity(value_ - o.value_); }
  constexpr Quantity operator-() const { return Quantity(-value_); }
  constexpr Quantity operator*(T s) const { return Quantity(value_ * s); }
  constexpr Quantity operator/(T s) const { return Quantity(value_ / s); }
  constexpr T operator/(Quantity o) const { return value_ / o.value_; }
  Quantity& operator+=(Quantity o) { value_ += o.value_; return *this; }
  Quantity& operator-=(Quantity o) { value_ -= o.value_; return *this; }

  constexpr bool operator<(Quantity o) const { return value_ < o.value_; }
  constexpr bool operator>(Quantity o) const { return value_ > o.value_; }
  constexpr bool operator<=(Quantity o) const { return value_ <= o.value_; }
  constexpr bool operator>=(Quantity o) const { return value_ >= o.value_; }
  constexpr bool operator==(Quantity o) const { return value_ == o.value_; }
  constexpr bool operator!=(Quantity o) const { return value_ != o.value_; }

 private:
  T value_{};
};

template <class Tag, class T>
constexpr Quantity<Tag, T> operator*(T s, Quantity<Tag, T> q) {
  return q * s;
}

struct AngleTag {};
struct LengthTag {};
struct FrequencyTag {};

template <class T>
using AngleBase = Quantity<AngleTag, T>;  // radians
template <class T>
using LengthBase = Quantity<LengthTag, T>;  // metres
template <class T>
using FrequencyBase = Quantity<FrequencyTag, T>;  // hertz

}  // namespace NSDimensionPromise
