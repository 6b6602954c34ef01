#include "SourceMaker.h"

#include "fd/ParameterValues.h"
#include "fd/Source.h"
#include "velk_binaural/Angles.h"

SourceMaker::SourceMaker(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params) {
  outputID = addOutput("OUTPUT");
  directions = FD::object_cast<FD::Vector<float>>(parameters.get("DIRECTIONS"));
  FD::checkDeclaredParameters(*this, parameters, describe().parameters);
}

void SourceMaker::calculate(int, int count, FD::Buffer& out) {
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(new FD::Vector<FD::ObjectRef>);
  // The id is the direction's position in the parameter, so it is the same on every frame.
  for (size_t i = 0; i < directions.size(); ++i)
    sources->push_back(FD::ObjectRef(
        FD::Source::atAzimuth(static_cast<int>(i), NSVelkBinaural::Angles::AnglePi * directions[i] / 180.0)));
  out[count] = sources;
}

FD::NodeInfo SourceMaker::describe() {
  FD::NodeInfo info;
  info.description = "Emits one source record per fixed direction on every frame (ids 0, 1, ... in parameter order).";
  info.outputs = {{"OUTPUT", "Vector<ObjectRef> of Source", "the fixed sources: x = (cos a, sin a, 0), id = position"}};
  info.parameters = {velkparam::Declaration::FloatList("DIRECTIONS", {30.0f, -30.0f}, "degrees",
                                                "azimuths of the sources, positive to the left; ids are positions")};
  return info;
}
