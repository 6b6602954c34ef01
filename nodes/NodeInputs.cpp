#include "NodeInputs.h"

#include <cmath>
#include <string>

#include <boost/format.hpp>

#include "InvalidInputException.h"
#include "fd/Source.h"

namespace NSVelkBinaural {

namespace {

std::string TypeName(const FD::ObjectRef& ref) { return ref.isNil() ? "nil" : ref->className(); }

[[noreturn]] void Reject(const boost::format& message) { throw new InvalidInputException(message.str()); }

}  // namespace

const SpectrumMatrix& TwoEarSpectrum(const FD::Node& node, const FD::ObjectRef& ref, int count) {
  auto* matrix = dynamic_cast<const SpectrumMatrix*>(ref.get());
  if (!matrix)
    Reject(boost::format("%s: input SPECTRUM on frame %d is %s, not a complex matrix") % node.getName() % count %
           TypeName(ref));
  if (matrix->rows() != 2) Reject(boost::format("Input matrix is not 2ch, but %dch") % matrix->rows());
  return *matrix;
}

std::vector<ListedSource> SourceList(const FD::Node& node, const FD::ObjectRef& ref, int count) {
  std::vector<ListedSource> sources;
  if (ref.isNil()) return sources;
  FD::RCPtr<FD::Vector<FD::ObjectRef>> list(ref);
  if (list.isNil())
    Reject(boost::format("%s: input SOURCES on frame %d is %s, not a list of sources") % node.getName() % count %
           TypeName(ref));
  for (size_t i = 0; i < list->size(); ++i) {
    const FD::ObjectRef& element = (*list)[i];
    auto* source = dynamic_cast<const FD::Source*>(element.get());
    if (!source)
      Reject(boost::format("%s: element %d of SOURCES on frame %d is %s, not a source record") % node.getName() % i %
             count % TypeName(element));
    if (!std::isfinite(source->x[0]) || !std::isfinite(source->x[1]))
      Reject(boost::format("%s: source id %d on frame %d has a position that is not a number (x = %f, y = %f)") %
             node.getName() % source->id % count % source->x[0] % source->x[1]);
    sources.push_back(ListedSource{source->id, source->azimuth()});
  }
  return sources;
}

}  // namespace NSVelkBinaural
