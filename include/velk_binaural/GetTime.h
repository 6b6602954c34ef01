// The wall clock in seconds since the epoch, with microsecond resolution.
#pragma once

#include <sys/time.h>

namespace NSVelkBinaural {

inline double GetTime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

}  // namespace NSVelkBinaural
