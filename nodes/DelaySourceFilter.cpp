#include "DelaySourceFilter.h"

#include <algorithm>

#include "fd/ParameterValues.h"
#include "fd/Source.h"

DelaySourceFilter::DelaySourceFilter(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params) {
  inputID = addInput("INPUT");
  outputID = addOutput("OUTPUT");
  delay = std::max(0, getParameter<int>("DELAY"));
  FD::checkDeclaredParameters(*this, parameters, describe().parameters);
  inputsRequestLookAhead(inputID, delay);
  inOrder = true;
}

void DelaySourceFilter::updateTracks(int frame) {
  const auto& sources = FD::object_cast<FD::Vector<FD::ObjectRef>>(getInput(inputID, frame));
  for (const FD::ObjectRef& element : sources) {
    int id = FD::object_cast<FD::Source>(element).id;
    auto it = tracks.find(id);
    if (it != tracks.end())
      ++it->second.count;  // an id met twice in one list counts twice
    else
      tracks.emplace(id, Track{frame, 0});
  }
}

void DelaySourceFilter::eraseStaleTracks(int count) {
  // Ids first seen before this frame that were not met more than `delay` times since.
  for (auto it = tracks.begin(); it != tracks.end();)
    it = (it->second.firstFrame < count && it->second.count <= delay) ? tracks.erase(it) : std::next(it);
  // Ids whose meetings do not keep up with the frames gone by since they appeared.
  for (auto it = tracks.begin(); it != tracks.end();)
    it = (it->second.firstFrame + it->second.count < count) ? tracks.erase(it) : std::next(it);
}

void DelaySourceFilter::calculate(int, int count, FD::Buffer& out) {
  if (count == 0)
    for (int f = 0; f < delay; ++f) updateTracks(f);
  updateTracks(count + delay);
  eraseStaleTracks(count);

  FD::RCPtr<FD::Vector<FD::ObjectRef>> kept(new FD::Vector<FD::ObjectRef>);
  const auto& current = FD::object_cast<FD::Vector<FD::ObjectRef>>(getInput(inputID, count));
  for (const auto& track : tracks) {
    if (track.second.count < delay) continue;
    auto match = std::find_if(current.begin(), current.end(), [&](const FD::ObjectRef& s) {
      return FD::object_cast<FD::Source>(s).id == track.first;
    });
    if (match != current.end()) kept->push_back(*match);
  }
  out[count] = kept;
}

FD::NodeInfo DelaySourceFilter::describe() {
  FD::NodeInfo info;
  info.description =
      "Drops short-lived sources: looks DELAY frames ahead and keeps a source only while its id keeps turning up.";
  info.inputs = {{"INPUT", "Vector<ObjectRef> of Source", "the sources of each frame"}};
  info.outputs = {{"OUTPUT", "Vector<ObjectRef> of Source", "the persistent sources of the frame, by id ascending"}};
  // Every frame of look-ahead is kept in the buffers upstream; beyond this many the value is taken
  // for a mistake rather than allocated.
  info.parameters = {velkparam::Declaration::Int("DELAY", 5, "frames", "look-ahead (negative values act as 0)").AtMost(100000)};
  return info;
}
