#include "SourceMaker.h"

#include <cmath>

#include "Angles.h"
#include "Source.h"

SourceMaker::SourceMaker(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params) {
  outputID = addOutput("OUTPUT");
  directions = FD::object_cast<FD::Vector<float>>(parameters.get("DIRECTIONS"));
}

void SourceMaker::calculate(int, int count, FD::Buffer& out) {
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(new FD::Vector<FD::ObjectRef>);
  for (size_t i = 0; i < directions.size(); ++i) {
    // The id is the direction's position in the parameter, so it is the same on every frame.
    auto* source = new FD::Source;
    double azimuth = NSVelkBinaural::Angles::AnglePi * directions[i] / 180.0;
    source->id = static_cast<int>(i);
    source->x[0] = static_cast<float>(std::cos(azimuth));
    source->x[1] = static_cast<float>(std::sin(azimuth));
    source->x[2] = 0.0f;
    sources->push_back(FD::ObjectRef(source));
  }
  out[count] = sources;
}

FD::NodeInfo SourceMaker::describe() {
  FD::NodeInfo info;
  info.description = "Emits one source record per fixed direction on every frame (ids 0, 1, ... in parameter order).";
  info.outputs = {{"OUTPUT", "Vector<ObjectRef> of Source", "the fixed sources: x = (cos a, sin a, 0), id = position"}};
  info.parameters = {{"DIRECTIONS", "Vector<float>", "azimuths in degrees, positive to the left", "[30.0, -30.0]"}};
  return info;
}
