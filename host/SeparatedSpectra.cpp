#include "SeparatedSpectra.h"

#include "NodeParameters.h"

namespace FD {

const Map<int, ObjectRef>* separatedSources(const Node& node, const std::string& port, int frame, const ObjectRef& in) {
  if (in.isNil()) return nullptr;
  auto* sources = dynamic_cast<Map<int, ObjectRef>*>(in.get());
  if (!sources) throw inputError(node, port, frame, "expected a Map<int, ObjectRef>, got " + in->className());
  return sources;
}

const Vector<std::complex<float>>& separatedSpectrum(const Node& node, const std::string& port, int frame, int id,
                                                     const ObjectRef& value, int bins, int length) {
  auto* spectrum = dynamic_cast<Vector<std::complex<float>>*>(value.get());
  const std::string what = "source id " + std::to_string(id) + ": ";
  if (!spectrum)
    throw inputError(node, port, frame,
                     what + "expected a Vector<complex<float>>, got " +
                         (value.isNil() ? std::string("nil") : value->className()));
  if (static_cast<int>(spectrum->size()) != bins)
    throw inputError(node, port, frame,
                     what + "the spectrum has " + std::to_string(spectrum->size()) + " bins but LENGTH " +
                         std::to_string(length) + " needs " + std::to_string(bins));
  return *spectrum;
}

}  // namespace FD
