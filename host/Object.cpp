#include "fd/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace FD {

namespace {
std::vector<ModuleRecord>& moduleRegistry() {
  static std::vector<ModuleRecord> modules;
  return modules;
}
}  // namespace

void Object::printOn(std::ostream& out) const { out << "<" << className() << " >"; }

void Object::readFrom(std::istream&) {}

ObjectRef Object::clone() {
  throw new GeneralException("clone is not supported by " + className(), __FILE__, __LINE__);
}

std::string Object::className() const { return demangle(typeid(*this).name()); }

void Object::setModuleVersion(const std::string& name, const std::string& revision,
                              const std::string& version) {
  moduleRegistry().push_back({name, revision, version});
}

const std::vector<ModuleRecord>& Object::moduleVersions() { return moduleRegistry(); }

Conversion::Table& Conversion::conv_table() {
  static Table table;
  return table;
}

std::string demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                             std::free);
  return status == 0 && out ? std::string(out.get()) : std::string(mangled);
}

}  // namespace FD
