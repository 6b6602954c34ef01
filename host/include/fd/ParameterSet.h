// A node's parameters by name. Asking for an absent parameter is a host error that names the
// node and the parameter.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Object.h"

namespace FD {

class FD_API ParameterSet {
 public:
  ParameterSet() = default;
  explicit ParameterSet(std::string owner) : owner_(std::move(owner)) {}

  // Throws a new ParameterException when `name` is absent.
  ObjectRef get(const std::string& name) const;
  bool exist(const std::string& name) const { return values_.count(name) != 0; }
  void add(const std::string& name, ObjectRef value) { values_[name] = std::move(value); }
  std::vector<std::string> names() const;

  // The node whose parameters these are, for error messages.
  const std::string& owner() const { return owner_; }
  void setOwner(const std::string& owner) { owner_ = owner; }

 private:
  std::string owner_;
  std::map<std::string, ObjectRef> values_;
};

}  // namespace FD
