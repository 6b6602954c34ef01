#include "velk_binaural/EventHistoryManager.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include <boost/format.hpp>

#include "velk_binaural/Angles.h"

namespace NSVelkBinaural {

namespace {

const char* const kFile = "EventHistoryManager";
constexpr int kNoEvent = -1;
// A match score no candidate reaches; band distance 2 plus a pause of up to 997 ms stays below.
constexpr int kWorstScore = 1000;
constexpr int kMaxBandDistance = 2;

int SaturatingAdd(int a, int b) {
  const std::int64_t sum = static_cast<std::int64_t>(a) + b;
  if (sum > INT_MAX) return INT_MAX;
  if (sum < INT_MIN) return INT_MIN;
  return static_cast<int>(sum);
}

// Whole milliseconds from `from` to `to`, saturated to the int range; 0 if `to` is earlier.
int MillisecondsBetween(const timeval& from, const timeval& to) {
  const std::int64_t micros = (static_cast<std::int64_t>(to.tv_sec) - from.tv_sec) * 1000000 +
                              (static_cast<std::int64_t>(to.tv_usec) - from.tv_usec);
  if (micros <= 0) return 0;
  const std::int64_t millis = micros / 1000;
  return millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
}

}  // namespace

EventHistoryManager::EventHistoryManager()
    : logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)),
      nearAngle(0.10471975511965977),
      pauseLength{1, 0},
      lastEID(0),
      ratioThreshold(0.0),
      grid(-5, 90) {}

bool EventHistoryManager::IsNear(Angle a, Angle b) const {
  return nearAngle.Value() >= std::fabs(a.Value() - b.Value());
}

EventID EventHistoryManager::NextEID() {
  if (lastEID == INT_MAX || lastEID < 0) throw std::overflow_error("can't create new eid");
  return ++lastEID;
}

EventID EventHistoryManager::MakeNewEvent(const timeval& now, Band band, Angle direction) {
  const EventID id = NextEID();
  events.emplace_back(id, now, pauseLength, band, direction, ratioThreshold);
  return id;
}

void EventHistoryManager::MakeNewEvents(std::vector<EventUpdateRecord>& records, const timeval& now) {
  for (EventUpdateRecord& record : records)
    if (record.get<0>() < 0) record.get<0>() = MakeNewEvent(now, record.get<1>(), record.get<2>());
}

EventID EventHistoryManager::FindNearestEvent(Band band, Angle direction, const timeval& now) const {
  int best = kWorstScore;
  EventID bestId = kNoEvent;
  for (const EventHistory& event : events) {
    const int d = std::abs(event.band.index - band.index);
    if (d > kMaxBandDistance || !IsNear(event.direction, direction)) continue;
    const int score =
        event.state == EventHistory::PAUSED ? SaturatingAdd(MillisecondsBetween(event.pauseStart, now), d) : d;
    if (score < best) {
      best = score;
      bestId = event.id;
      if (score == 0) return bestId;
    }
  }
  return bestId;
}

void EventHistoryManager::EraseOutOfDateEvents() {
  for (auto it = events.begin(); it != events.end();) {
    if (it->state != EventHistory::ENDED) {
      ++it;
      continue;
    }
    if (logger->IsLoggable(LogLevel::FINEST))
      logger->Log(LogLevel::FINEST, boost::format("erase event (eid = %d)") % it->id, kFile, "EraseOutOfDateEvents");
    it = events.erase(it);
  }
}

void EventHistoryManager::Update(std::vector<EventUpdateRecord>& records, const timeval& now) {
  for (EventHistory& event : events) {
    auto record = Search(records, event.id, records.begin());
    if (event.id < 0 || record == records.end()) {
      event.Update(now);
      continue;
    }
    if (!IsNear(event.direction, record->get<2>())) {
      if (logger->IsLoggable(LogLevel::SEVERE))
        logger->Log(LogLevel::SEVERE, "event history direction is not near of update info direction", kFile,
                    "Update");
      throw std::logic_error("eh is not near ui");
    }
    event.Update(now, record->get<1>(), record->get<2>());
  }
  EraseOutOfDateEvents();
  MakeNewEvents(records, now);
}

void EventHistoryManager::CheckSoundHistory(const HarmonicSoundList& sounds, const timeval& now) {
  if (!sounds) throw std::invalid_argument("sounds is null");
  std::vector<EventUpdateRecord> records;
  records.reserve(sounds->size());
  for (const HarmonicSoundPtr& sound : *sounds) {
    if (!sound) throw std::invalid_argument("a sound in the list is null");
    if (!sound->harmonics || sound->harmonics->empty()) throw std::out_of_range("a sound has no harmonics");
    if (!sound->directions || sound->directions->empty()) throw std::out_of_range("a sound has no directions");
    const Band band = sound->harmonics->front().band;
    const Angle direction(DegToRad(grid.ToDegree(sound->directions->front().first)));
    records.emplace_back(FindNearestEvent(band, direction, now), band, direction);
  }
  Update(records, now);
  for (size_t i = 0; i < records.size(); ++i) (*sounds)[i]->id = records[i].get<0>();
}

void EventHistoryManager::CheckSoundHistory(const boost::shared_ptr<std::vector<Angle>>& directions,
                                            const timeval& now) {
  if (!directions) throw std::invalid_argument("directions is null");
  std::vector<EventUpdateRecord> records;
  records.reserve(directions->size());
  for (const Angle& direction : *directions) records.emplace_back(FindNearestEvent(Band(), direction, now), Band(), direction);
  Update(records, now);
}

std::list<EventHistory>::iterator Search(std::list<EventHistory>& events, EventID id,
                                         std::list<EventHistory>::iterator start) {
  for (auto it = start; it != events.end(); ++it)
    if (it->id == id) return it;
  return events.end();
}

std::vector<EventUpdateRecord>::iterator Search(std::vector<EventUpdateRecord>& records, EventID id,
                                                std::vector<EventUpdateRecord>::iterator start) {
  for (auto it = start; it != records.end(); ++it)
    if (it->get<0>() == id) return it;
  return records.end();
}

}  // namespace NSVelkBinaural
