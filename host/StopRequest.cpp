#include "fd/StopRequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace FD {

namespace {

// A pipe whose read end becomes readable when a byte is written: the one thing a signal handler
// may do that wakes a thread blocked in poll().
std::atomic<int> gWakeRead{-1}, gWakeWrite{-1};
std::atomic<bool> gStopped{false};

}  // namespace

void requestStop() noexcept {
  gStopped.store(true);
  const int fd = gWakeWrite.load();
  if (fd < 0) return;
  const int saved = errno;
  const char byte = 1;
  // Non-blocking: once the pipe is full, the descriptor is readable anyway.
  [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
  errno = saved;
}

bool stopRequested() noexcept { return gStopped.load(); }

int stopDescriptor() {
  static const int readEnd = [] {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
      throw std::runtime_error(std::string("cannot make the stop pipe: ") + std::strerror(errno));
    gWakeRead.store(fds[0]);
    gWakeWrite.store(fds[1]);
    return fds[0];
  }();
  return readEnd;
}

void clearStop() {
  gStopped.store(false);
  const int fd = gWakeRead.load();
  if (fd < 0) return;
  char drain[64];
  while (read(fd, drain, sizeof drain) > 0) {
  }
}

}  // namespace FD
