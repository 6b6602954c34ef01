// Keeps the sound events of a localiser and gives each frame's sounds stable identifiers.
//
// Every frame, each localised sound is matched to the existing event nearest to it in band
// (at most 2 bands apart) and direction (within nearAngle); unmatched sounds open new events,
// events without a sound pause, and ended events are dropped. Identifiers are never reused.
#pragma once

#include <sys/time.h>

#include <list>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/tuple/tuple.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/EventHistory.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HarmonicSound.h"
#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

// (matched event or -1, the sound's band, the sound's direction in radians)
using EventUpdateRecord = boost::tuples::tuple<EventID, Band, NSDimensionPromise::AngleBase<double>>;

class VELK_API EventHistoryManager {
 public:
  using Angle = NSDimensionPromise::AngleBase<double>;

  EventHistoryManager();
  // The events keep the address of pauseLength: a manager is never copied.
  EventHistoryManager(const EventHistoryManager&) = delete;
  EventHistoryManager& operator=(const EventHistoryManager&) = delete;

  bool IsNear(Angle a, Angle b) const;
  // The next identifier; std::overflow_error "can't create new eid" once they are used up.
  EventID NextEID();
  EventID MakeNewEvent(const timeval& now, Band band, Angle direction);
  // Opens an event for every record without one and writes its identifier into the record.
  void MakeNewEvents(std::vector<EventUpdateRecord>& records, const timeval& now);
  // The event best matching a sound, or -1. A paused event competes with its band distance plus
  // the whole milliseconds since its pause began, so only recent pauses can be resumed.
  EventID FindNearestEvent(Band band, Angle direction, const timeval& now) const;
  void EraseOutOfDateEvents();
  // Updates every event from the frame's records, drops ended events, then opens new ones.
  void Update(std::vector<EventUpdateRecord>& records, const timeval& now);
  // Matches the frame's sounds (their first harmonic's band and most probable direction on
  // `grid`) and writes each sound's event identifier into it. std::invalid_argument "sounds is
  // null".
  void CheckSoundHistory(const HarmonicSoundList& sounds, const timeval& now);
  // Matches bare directions (without bands). std::invalid_argument "directions is null".
  void CheckSoundHistory(const boost::shared_ptr<std::vector<Angle>>& directions, const timeval& now);

  Logger* logger;
  std::list<EventHistory> events;  // in creation order
  Angle nearAngle;                 // largest direction difference of the same place
  timeval pauseLength;             // how long a paused event may stay silent
  int lastEID;                     // last identifier handed out
  double ratioThreshold;           // updates per second at or below which an event ends
  DirectionConverter grid;         // the grid of the sounds' direction indices
};

// First element from `start` on with identifier `id`, or the end.
VELK_API std::list<EventHistory>::iterator Search(std::list<EventHistory>& events, EventID id,
                                         std::list<EventHistory>::iterator start);
VELK_API std::vector<EventUpdateRecord>::iterator Search(std::vector<EventUpdateRecord>& records, EventID id,
                                                std::vector<EventUpdateRecord>::iterator start);

}  // namespace NSVelkBinaural
