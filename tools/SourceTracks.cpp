#include "SourceTracks.h"

#include <algorithm>
#include <cmath>

#include "Source.h"
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

void TrackSummary::add(const FrameSources& frame) {
  for (const SourceAt& source : frame.sources) {
    auto inserted = entries_.emplace(source.id, Entry{});
    Track& track = inserted.first->second.track;
    if (inserted.second) {
      track.id = source.id;
      track.firstSec = frame.timeSec;
    }
    track.lastSec = frame.timeSec;
    ++track.frames;
    ++inserted.first->second.countByTenth[std::lround(source.azimuthDeg * 10.0)];
  }
}

namespace {

// The median of the azimuths counted in tenths of a degree: the middle one, or the mean of the
// two middle ones for an even count.
double medianOfCounts(const std::map<long, long>& countByTenth, long total) {
  const long lower = (total - 1) / 2, upper = total / 2;  // 0-based ranks of the middle values
  double lowerValue = 0.0, upperValue = 0.0;
  long seen = 0;
  for (const auto& [tenth, count] : countByTenth) {
    if (seen <= lower && lower < seen + count) lowerValue = static_cast<double>(tenth) / 10.0;
    if (seen <= upper && upper < seen + count) {
      upperValue = static_cast<double>(tenth) / 10.0;
      break;
    }
    seen += count;
  }
  return 0.5 * (lowerValue + upperValue);
}

}  // namespace

std::vector<Track> TrackSummary::tracks() const {
  std::vector<Track> result;
  for (const auto& [id, entry] : entries_) {
    Track track = entry.track;
    track.medianAzimuthDeg = medianOfCounts(entry.countByTenth, track.frames);
    result.push_back(track);
  }
  return result;
}

std::vector<Track> summarizeTracks(const std::vector<FrameSources>& frames) {
  TrackSummary summary;
  for (const FrameSources& frame : frames) summary.add(frame);
  return summary.tracks();
}

}  // namespace velktool
