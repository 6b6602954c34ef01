#include "fd/SourceRecorder.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "NodeParameters.h"
#include "Source.h"

namespace FD {

namespace {
// Degrees rounded to a millionth: below the precision of a float direction, and it keeps the
// printed numbers short (30.0 rather than 29.999999168023).
double azimuthDegrees(const Source& source) {
  const double degrees = std::atan2(static_cast<double>(source.x[1]), static_cast<double>(source.x[0])) * 180.0 / M_PI;
  return std::round(degrees * 1e6) / 1e6;
}
}  // namespace

NodeInfo SourceRecorder::describe() {
  NodeInfo info;
  info.description =
      "Writes each frame's source list as a JSON line {\"frame\": k, \"time\": seconds, \"sources\": [{\"id\": n, "
      "\"azimuth\": degrees}]}; azimuth = atan2(y, x), 0 ahead, positive to the left.";
  info.inputs = {{"INPUT", "Vector<ObjectRef>", "the frame's sources (Source records); nil = none"}};
  info.outputs = {{"OUTPUT", "Vector<ObjectRef>", "the input list, unchanged"}};
  info.parameters = {
      {"FILENAME", "string", "path of the JSON-lines file to write, relative to the working directory",
       "\"sources.jsonl\""},
      {"SAMPLING_RATE", "int", "sampling rate of the network in Hz, for the frame time", "16000"},
      {"ADVANCE", "int", "frame shift in samples, for the frame time", "160"},
  };
  return info;
}

SourceRecorder::SourceRecorder(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  path_ = param::text(*this, parameters, "FILENAME");
  samplingRate_ = param::integerAtLeast(*this, parameters, "SAMPLING_RATE", 1);
  advance_ = param::integerAtLeast(*this, parameters, "ADVANCE", 1);
  file_.open(path_, std::ios::out | std::ios::trunc);
  if (!file_) throw param::error(*this, "FILENAME", "cannot create \"" + path_ + "\": " + std::strerror(errno));
  inOrder = true;  // one line per frame, in frame order
}

SourceRecorder::~SourceRecorder() = default;

void SourceRecorder::calculate(int, int count, Buffer& out) {
  ObjectRef in = getInput(inputId_, count);
  nlohmann::ordered_json sources = nlohmann::ordered_json::array();
  if (!in.isNil()) {
    auto* list = dynamic_cast<Vector<ObjectRef>*>(in.get());
    if (!list) throw inputError(*this, "INPUT", count, "expected a Vector<ObjectRef>, got " + in->className());
    for (size_t i = 0; i < list->size(); ++i) {
      auto* source = dynamic_cast<Source*>((*list)[i].get());
      if (!source)
        throw inputError(*this, "INPUT", count,
                         "element " + std::to_string(i) + " is " +
                             ((*list)[i].isNil() ? std::string("nil") : "a " + (*list)[i]->className()) +
                             ", not a Source");
      sources.push_back({{"id", source->id}, {"azimuth", azimuthDegrees(*source)}});
    }
  }
  const nlohmann::ordered_json line = {{"frame", count},
                               {"time", static_cast<double>(count) * advance_ / samplingRate_},
                               {"sources", std::move(sources)}};
  file_ << line.dump() << '\n';
  if (!file_) throw new NodeException(this, "cannot write to \"" + path_ + "\"", "", 0);
  out[count] = in;
}

}  // namespace FD
