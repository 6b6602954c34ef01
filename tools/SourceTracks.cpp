#include "SourceTracks.h"

#include <algorithm>
#include <cmath>

#include "fd/Source.h"
#include "fd/Values.h"

namespace velktool {

namespace {

constexpr double kStepsPerDeg = 100.0;

// The value of rank `rank` (from 0) among the counted reports.
double valueOfRank(const std::map<long, long>& counts, long rank) {
  long seen = 0;
  for (const auto& [step, n] : counts) {
    seen += n;
    if (seen > rank) return static_cast<double>(step) / kStepsPerDeg;
  }
  return counts.empty() ? 0.0 : static_cast<double>(counts.rbegin()->first) / kStepsPerDeg;
}

double medianOfCounts(const std::map<long, long>& counts, long total) {
  if (total <= 0) return 0.0;
  const long mid = total / 2;
  if (total % 2 == 1) return valueOfRank(counts, mid);
  return 0.5 * (valueOfRank(counts, mid - 1) + valueOfRank(counts, mid));
}

}  // namespace

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

TrackSummary::TrackSummary(std::vector<double> truthDeg) : truthDeg_(std::move(truthDeg)) {}

void TrackSummary::add(const FrameSources& frame) {
  for (const SourceAt& source : frame.sources) {
    auto inserted = entries_.emplace(source.id, Entry{});
    Track& track = inserted.first->second.track;
    if (inserted.second) {
      track.id = source.id;
      track.firstSec = frame.timeSec;
      track.framesNearTruth.assign(truthDeg_.size(), 0);
    }
    track.lastSec = frame.timeSec;
    ++track.frames;
    ++inserted.first->second.reportsPerStep[std::lround(source.azimuthDeg * kStepsPerDeg)];
    for (size_t t = 0; t < truthDeg_.size(); ++t)
      if (std::fabs(source.azimuthDeg - truthDeg_[t]) <= kNearTruthDeg) ++track.framesNearTruth[t];
  }
}

std::vector<Track> TrackSummary::tracks() const {
  std::vector<Track> result;
  for (const auto& [id, entry] : entries_) {
    result.push_back(entry.track);
    result.back().medianAzimuthDeg = medianOfCounts(entry.reportsPerStep, entry.track.frames);
  }
  return result;
}

DecimatedFrames::DecimatedFrames(size_t capacity) : capacity_(std::max<size_t>(capacity, 2)) {}

void DecimatedFrames::add(FrameSources frame) {
  if (frame.frame % stride_ != 0) return;
  frames_.push_back(std::move(frame));
  if (frames_.size() < capacity_) return;
  stride_ *= 2;
  frames_.erase(std::remove_if(frames_.begin(), frames_.end(), [&](const FrameSources& f) { return f.frame % stride_ != 0; }),
                frames_.end());
}

namespace {

// The talker a track belongs to, or -1: the one it was reported near on the most frames (the
// nearest to its median on a tie), if that is at least half of its frames.
int talkerOf(const Track& track, const std::vector<double>& truthDeg) {
  int best = -1;
  for (size_t t = 0; t < truthDeg.size(); ++t) {
    if (best < 0) {
      best = static_cast<int>(t);
      continue;
    }
    const long n = track.framesNearTruth[t], bestN = track.framesNearTruth[static_cast<size_t>(best)];
    if (n > bestN || (n == bestN && std::fabs(track.medianAzimuthDeg - truthDeg[t]) <
                                        std::fabs(track.medianAzimuthDeg - truthDeg[static_cast<size_t>(best)])))
      best = static_cast<int>(t);
  }
  if (best < 0 || 2 * track.framesNearTruth[static_cast<size_t>(best)] < track.frames ||
      track.framesNearTruth[static_cast<size_t>(best)] == 0)
    return -1;
  return best;
}

}  // namespace

TruthComparison compareWithTruth(const std::vector<Track>& tracks, const std::vector<double>& truthDeg) {
  TruthComparison result;
  for (double t : truthDeg) result.talkers.push_back(TalkerMatch{t, nullptr, {}});
  for (const Track& track : tracks) {
    const int talker = talkerOf(track, truthDeg);
    if (talker < 0) {
      result.unmatched.push_back(&track);
      continue;
    }
    TalkerMatch& match = result.talkers[static_cast<size_t>(talker)];
    match.tracks.push_back(&track);
    const size_t t = static_cast<size_t>(talker);
    if (!match.found || track.framesNearTruth[t] > match.found->framesNearTruth[t] ||
        (track.framesNearTruth[t] == match.found->framesNearTruth[t] &&
         std::fabs(track.medianAzimuthDeg - match.truthDeg) < std::fabs(match.found->medianAzimuthDeg - match.truthDeg)))
      match.found = &track;
  }
  return result;
}

}  // namespace velktool
