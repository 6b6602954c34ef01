#include "SourceTracks.h"

#include <algorithm>

#include "fd/Source.h"
#include "fd/Values.h"

namespace velktool {

FrameSources frameSources(const FD::ObjectRef& list, long frame, double timeSec) {
  FrameSources result;
  result.frame = frame;
  result.timeSec = timeSec;
  if (list.isNil()) return result;
  for (const FD::ObjectRef& element : FD::object_cast<FD::Vector<FD::ObjectRef>>(list)) {
    const auto& source = FD::object_cast<FD::Source>(element);
    result.sources.push_back({source.id, FD::AzimuthDegrees(source)});
  }
  return result;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  if (values.size() % 2 == 1) return values[mid];
  const double upper = values[mid];
  return 0.5 * (upper + *std::max_element(values.begin(), values.begin() + mid));
}

std::vector<Track> summarizeTracks(const std::vector<FrameSources>& frames) {
  std::map<int, Track> tracks;
  std::map<int, std::vector<double>> azimuths;
  for (const FrameSources& frame : frames) {
    for (const SourceAt& source : frame.sources) {
      auto inserted = tracks.emplace(source.id, Track{});
      Track& track = inserted.first->second;
      if (inserted.second) {
        track.id = source.id;
        track.firstSec = frame.timeSec;
      }
      track.lastSec = frame.timeSec;
      ++track.frames;
      azimuths[source.id].push_back(source.azimuthDeg);
    }
  }
  std::vector<Track> result;
  for (auto& entry : tracks) {
    entry.second.medianAzimuthDeg = median(std::move(azimuths[entry.first]));
    result.push_back(entry.second);
  }
  return result;
}

}  // namespace velktool
