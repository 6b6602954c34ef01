#include "fd/Warning.h"

#include <iostream>
#include <mutex>
#include <utility>

namespace FD {

namespace {

void toStandardError(const std::string& message) { std::cerr << "warning: " << message << std::endl; }

struct Handler {
  std::mutex lock;
  WarningHandler current = toStandardError;
};

Handler& handler() {
  static Handler instance;
  return instance;
}

}  // namespace

void warn(const std::string& message) {
  WarningHandler call;
  {
    std::lock_guard<std::mutex> guard(handler().lock);
    call = handler().current;
  }
  call(message);
}

WarningHandler setWarningHandler(WarningHandler next) {
  std::lock_guard<std::mutex> guard(handler().lock);
  WarningHandler previous = std::move(handler().current);
  handler().current = next ? std::move(next) : WarningHandler(toStandardError);
  return previous;
}

}  // namespace FD
