// A process-wide request to stop listening: what Ctrl-C means to a run on live input.
//
// The readers of streams and devices wait for input together with stopDescriptor(), so that a
// request made while they wait wakes them up; they then treat the input as ended, and the run
// finishes every output as at the end of a recording. Programs make the request from a signal
// handler (requestStop() is async-signal-safe); nothing else of the host reacts to it.
#pragma once

#include "fd/Export.h"

namespace FD {

// Asks every stream reader to end its input. Async-signal-safe; may be called again.
FD_API void requestStop() noexcept;
// Whether a stop was requested since the process started or the last clearStop().
FD_API bool stopRequested() noexcept;
// A descriptor that becomes readable when a stop is requested (for poll()). Made on the first
// call; call it once before installing a signal handler that calls requestStop().
FD_API int stopDescriptor();
// Forgets a request (a program that runs several networks, and tests).
FD_API void clearStop();

}  // namespace FD
