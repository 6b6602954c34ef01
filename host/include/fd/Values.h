// Value types that travel between nodes and serve as parameters.
#pragma once

#include <complex>
#include <map>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Object.h"

namespace FD {

// Row-major matrix; frames of multichannel signals and spectra (one row per channel).
template <class T>
class FD_API Matrix : public Object {
 public:
  Matrix() = default;
  Matrix(int rows, int cols, const T& fill = T()) { resize(rows, cols, fill); }

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  T& operator()(int r, int c) { return data_[static_cast<size_t>(r) * cols_ + c]; }
  const T& operator()(int r, int c) const { return data_[static_cast<size_t>(r) * cols_ + c]; }
  T* row(int r) { return data_.data() + static_cast<size_t>(r) * cols_; }
  const T* row(int r) const { return data_.data() + static_cast<size_t>(r) * cols_; }
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }
  void resize(int rows, int cols, const T& fill = T()) {
    if (rows < 0 || cols < 0) rows = cols = 0;
    rows_ = rows;
    cols_ = cols;
    data_.assign(static_cast<size_t>(rows) * cols, fill);
  }

  void printOn(std::ostream& out = std::cout) const override;
  ObjectRef clone() override { return ObjectRef(new Matrix(*this)); }
  std::string className() const override;

 private:
  int rows_ = 0, cols_ = 0;
  std::vector<T> data_;
};

template <class T>
class FD_API Vector : public Object, public std::vector<T> {
 public:
  using std::vector<T>::vector;
  Vector() = default;
  explicit Vector(const std::vector<T>& v) : std::vector<T>(v) {}
  void printOn(std::ostream& out = std::cout) const override;
  ObjectRef clone() override { return ObjectRef(new Vector(*this)); }
  std::string className() const override;
};

template <class K, class V>
class FD_API Map : public Object, public std::map<K, V> {
 public:
  Map() = default;
  void printOn(std::ostream& out = std::cout) const override;
  ObjectRef clone() override { return ObjectRef(new Map(*this)); }
  std::string className() const override { return "Map"; }
};

class FD_API String : public Object, public std::string {
 public:
  String() = default;
  String(const std::string& s) : std::string(s) {}
  String(const char* s) : std::string(s) {}
  void printOn(std::ostream& out = std::cout) const override { out << "<String " << str() << " >"; }
  ObjectRef clone() override { return ObjectRef(new String(*this)); }
  std::string className() const override { return "String"; }
  const std::string& str() const { return *this; }
};

template <class T>
class FD_API GenericType : public Object {
 public:
  GenericType() = default;
  explicit GenericType(const T& v) : value_(v) {}
  T& val() { return value_; }
  const T& val() const { return value_; }
  void printOn(std::ostream& out = std::cout) const override { out << value_; }
  ObjectRef clone() override { return ObjectRef(new GenericType(*this)); }
  std::string className() const override;

 private:
  T value_{};
};

using Int = GenericType<int>;
using Float = GenericType<float>;

// ---- printing -------------------------------------------------------------------------------

namespace detail {
template <class T>
void printValue(std::ostream& out, const T& v) {
  out << v;
}
inline void printValue(std::ostream& out, const ObjectRef& v) {
  if (v.isNil())
    out << "nil";
  else
    v->printOn(out);
}
template <class T>
const char* typeText();
template <>
inline const char* typeText<int>() { return "int"; }
template <>
inline const char* typeText<float>() { return "float"; }
template <>
inline const char* typeText<double>() { return "double"; }
template <>
inline const char* typeText<std::complex<float>>() { return "complex<float>"; }
template <>
inline const char* typeText<ObjectRef>() { return "ObjectRef"; }
}  // namespace detail

template <class T>
void Matrix<T>::printOn(std::ostream& out) const {
  out << "<Matrix " << rows_ << " " << cols_ << "\n";
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      detail::printValue(out, (*this)(r, c));
      out << (c + 1 < cols_ ? " " : "");
    }
    out << "\n";
  }
  out << ">\n";
}
template <class T>
std::string Matrix<T>::className() const {
  return std::string("Matrix<") + detail::typeText<T>() + ">";
}

template <class T>
void Vector<T>::printOn(std::ostream& out) const {
  out << "<Vector";
  for (const auto& v : *this) {
    out << " ";
    detail::printValue(out, v);
  }
  out << " >";
}
template <class T>
std::string Vector<T>::className() const {
  return std::string("Vector<") + detail::typeText<T>() + ">";
}

template <class K, class V>
void Map<K, V>::printOn(std::ostream& out) const {
  out << "<Map";
  for (const auto& kv : *this) {
    out << " (" << kv.first << " ";
    detail::printValue(out, kv.second);
    out << ")";
  }
  out << " >";
}

template <class T>
std::string GenericType<T>::className() const {
  return detail::typeText<T>();
}

}  // namespace FD
