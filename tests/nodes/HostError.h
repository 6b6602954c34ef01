// The text of the host error a call throws, for node tests that check what a failure says.
#pragma once

#include <memory>
#include <string>

#include "fd/Exception.h"

namespace nodetest {

// The text of the FD::BaseException* that `f` throws (the host throws them by pointer; it is
// freed here), or "(no error)".
template <class F>
std::string HostError(F f) {
  try {
    f();
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    return e->text();
  }
  return "(no error)";
}

}  // namespace nodetest
