// Warnings: something about the input that a run can go on with but the user should hear of (a
// file shorter than its header says, samples that are not numbers). Nodes and readers report
// them here; the program decides where they go and whether they stop the run.
#pragma once

#include <functional>
#include <string>

#include "fd/Export.h"

namespace FD {

using WarningHandler = std::function<void(const std::string& message)>;

// Hands `message` (one sentence, naming the file or node concerned) to the current handler. A
// handler may throw to turn the warning into an error; the exception then leaves warn().
FD_API void warn(const std::string& message);

// Installs `handler` (an empty one restores the default, which writes "warning: MESSAGE" as one
// line on standard error) and returns the previous one.
FD_API WarningHandler setWarningHandler(WarningHandler handler);

}  // namespace FD
