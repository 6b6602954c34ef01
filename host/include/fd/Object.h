// Reference-counted host objects and their handles.
//
// Every object starts with a count of 1 (the reference its creator holds). RCPtr adopts a raw
// pointer without adding a count and releases one count when it lets go; the object deletes
// itself when the count reaches 0. A nil handle holds no object.
#pragma once

#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "fd/Exception.h"
#include "fd/Export.h"

namespace FD {

template <class T>
class RCPtr;
class Object;
using ObjectRef = RCPtr<Object>;

struct FD_API ModuleRecord {
  std::string name, revision, version;
};

class FD_API Object {
 public:
  Object() = default;
  Object(const Object&) : refCount_(1) {}
  Object& operator=(const Object&) { return *this; }
  virtual ~Object() = default;

  void ref() { ++refCount_; }
  void unref() {
    if (--refCount_ == 0) delete this;
  }
  int refCount() const { return refCount_; }

  virtual void printOn(std::ostream& out = std::cout) const;
  virtual void readFrom(std::istream& in = std::cin);
  // A new object of the same type, with every field copied and a count of 1.
  virtual ObjectRef clone();
  // Readable type name for messages ("Matrix<float>", "String", ...).
  virtual std::string className() const;

  // Module records registered by loaded plug-ins, in registration order.
  static void setModuleVersion(const std::string& name, const std::string& revision,
                               const std::string& version);
  static const std::vector<ModuleRecord>& moduleVersions();

 private:
  int refCount_ = 1;
};

// Conversions that a typed view (RCPtr<T>(ref)) may apply when the object is not a T:
// table[source type][target type] makes a new object of the target type.
class FD_API Conversion {
 public:
  using Function = std::function<ObjectRef(const ObjectRef&)>;
  using Table = std::map<std::type_index, std::map<std::type_index, Function>>;
  static Table& conv_table();
  template <class From, class To>
  static void addConversion(Function f) {
    conv_table()[typeid(From)][typeid(To)] = std::move(f);
  }
};

// Converts through the table; nil when no conversion from `ref`'s type to `target` exists.
FD_API ObjectRef convertObject(const ObjectRef& ref, const std::type_info& target);
// Demangled name of a type for messages.
FD_API std::string demangle(const char* mangled);

template <class T>
class RCPtr {
 public:
  RCPtr() = default;
  RCPtr(std::nullptr_t) {}
  // Adopts a freshly made object (its count of 1 becomes this handle's).
  explicit RCPtr(T* p) : ptr_(p) {}
  RCPtr(const RCPtr& o) : ptr_(o.ptr_) { acquire(); }
  RCPtr(RCPtr&& o) noexcept : ptr_(o.ptr_) { o.ptr_ = nullptr; }
  // Upcast or typed view from a handle of another type (usually ObjectRef): the object itself
  // when it is a T, else a converted object from the conversion table, else nil (with a note on
  // standard error, as the host has always done).
  template <class U>
  RCPtr(const RCPtr<U>& o) {
    assignFrom(o.get());
  }
  ~RCPtr() { release(); }

  RCPtr& operator=(const RCPtr& o) {
    if (o.ptr_ != ptr_) {
      T* old = ptr_;
      ptr_ = o.ptr_;
      acquire();
      if (old) old->unref();
    }
    return *this;
  }
  RCPtr& operator=(RCPtr&& o) noexcept {
    if (this != &o) {
      release();
      ptr_ = o.ptr_;
      o.ptr_ = nullptr;
    }
    return *this;
  }
  template <class U>
  RCPtr& operator=(const RCPtr<U>& o) {
    RCPtr tmp(o);
    return *this = std::move(tmp);
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  bool isNil() const { return ptr_ == nullptr; }
  explicit operator bool() const { return ptr_ != nullptr; }
  bool operator==(const RCPtr& o) const { return ptr_ == o.ptr_; }
  bool operator!=(const RCPtr& o) const { return ptr_ != o.ptr_; }

 private:
  void acquire() {
    if (ptr_) ptr_->ref();
  }
  void release() {
    if (ptr_) ptr_->unref();
    ptr_ = nullptr;
  }
  template <class U>
  void assignFrom(U* p);

  T* ptr_ = nullptr;
};

template <class T>
template <class U>
void RCPtr<T>::assignFrom(U* p) {
  if (!p) return;
  if (T* t = dynamic_cast<T*>(p)) {
    ptr_ = t;
    acquire();
    return;
  }
  p->ref();
  ObjectRef source{static_cast<Object*>(p)};
  auto& table = Conversion::conv_table();
  auto from = table.find(typeid(*p));
  if (from == table.end()) {
    std::cerr << "Cannot cast\nThis needs to throw an exception\n";
    return;
  }
  auto to = from->second.find(typeid(T));
  if (to == from->second.end()) {
    std::cerr << "Cannot cast this to type requested\nThis needs to throw an exception\n";
    return;
  }
  ObjectRef converted = to->second(source);
  T* t = dynamic_cast<T*>(converted.get());
  if (!t)
    throw new GeneralException("Something is wrong in RCPtr::operator=, this should not happen.",
                               __FILE__, __LINE__);
  ptr_ = t;
  acquire();
}

// The object behind `ref` as a T. A nil reference fails with std::bad_typeid (the run-time
// type lookup of a null object); an object of another type with a CastException<T> that names
// the type found.
template <class T>
T& object_cast(const ObjectRef& ref) {
  Object* p = ref.get();
  const std::type_info& found = typeid(*p);  // throws std::bad_typeid when p is null
  T* t = dynamic_cast<T*>(p);
  if (!t) {
    const char* name = found.name();
    throw new CastException<T>(name[0] == '*' ? name + 1 : name);
  }
  return *t;
}

// Makes a new object and returns the owning handle.
template <class T, class... Args>
RCPtr<T> make(Args&&... args) {
  return RCPtr<T>(new T(std::forward<Args>(args)...));
}

inline ObjectRef nilObject() { return ObjectRef(); }

}  // namespace FD
