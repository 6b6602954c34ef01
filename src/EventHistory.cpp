#include "velk_binaural/EventHistory.h"

#include <climits>
#include <stdexcept>

#include <boost/format.hpp>

namespace NSVelkBinaural {

namespace {

constexpr long kMicrosPerSecond = 1000000;

bool IsNegative(const timeval& t) { return t.tv_sec < 0 || (t.tv_sec == 0 && t.tv_usec < 0); }

bool IsLater(const timeval& a, const timeval& b) {
  return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec > b.tv_usec);
}

timeval Plus(const timeval& a, const timeval& b) {
  timeval sum{};
  sum.tv_sec = a.tv_sec + b.tv_sec;
  sum.tv_usec = a.tv_usec + b.tv_usec;
  if (sum.tv_usec >= kMicrosPerSecond) {
    sum.tv_sec += 1;
    sum.tv_usec -= kMicrosPerSecond;
  }
  return sum;
}

double SecondsBetween(const timeval& from, const timeval& to) {
  long seconds = to.tv_sec - from.tv_sec;
  long micros = to.tv_usec - from.tv_usec;
  if (micros < 0) {
    seconds -= 1;
    micros += kMicrosPerSecond;
  }
  return static_cast<double>(seconds) + static_cast<double>(micros) * 1e-6;
}

}  // namespace

EventHistory::EventHistory(EventID id, const timeval& now, const timeval& pauseLength, Band band, Angle direction,
                           double ratioThreshold)
    : id(id),
      state(NEW),
      band(band),
      direction(direction),
      pauseStart{},
      lastUpdate{},
      begin(now),
      pauseLength(&pauseLength),
      updateCount(1),
      ratioThreshold(ratioThreshold),
      logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  if (IsNegative(pauseLength)) throw std::out_of_range("valid pause period is minus");
}

void EventHistory::Update(const timeval& now, Band newBand, Angle newDirection) {
  state = UPDATED;
  band = newBand;
  direction = newDirection;
  if (updateCount < UINT_MAX) ++updateCount;
  lastUpdate = now;
  pauseStart = timeval{};
  CheckUpdateRatio(now);
}

void EventHistory::Update(const timeval& now) {
  if (state == NEW || state == UPDATED) {
    state = PAUSED;
    pauseStart = now;
  } else if (state == PAUSED) {
    if (IsLater(now, Plus(pauseStart, *pauseLength))) state = ENDED;
  }
  CheckUpdateRatio(now);
}

void EventHistory::CheckUpdateRatio(const timeval& now) {
  if (state == ENDED) return;
  const double elapsed = SecondsBetween(begin, now);
  if (!(elapsed > 0.0) || updateCount == 0) return;
  const double ratio = updateCount / elapsed;
  if (ratioThreshold >= ratio) {
    if (logger->IsLoggable(LogLevel::FINEST))
      logger->Log(LogLevel::FINEST,
                  boost::format("update ratio = %lf (%d / %lf), so this event will be offset") % ratio % updateCount %
                      elapsed,
                  "EventHistory", "CheckUpdateRatio");
    state = ENDED;
  }
}

}  // namespace NSVelkBinaural
