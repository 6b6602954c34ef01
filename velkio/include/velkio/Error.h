// Error reporting of the file library.
#pragma once

#include <stdexcept>
#include <string>

#include "velkio/Export.h"

namespace velkio {

// Thrown when a file cannot be read, written or made sense of. The message names the file
// (or the buffer's name) and what is wrong with it.
class VELKIO_API FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& message) : std::runtime_error(message) {}
};

// A process-wide record of the last problem the library or its callers noted (for instance a
// version mismatch found while checking a format chunk). Not synchronised: use it from one
// thread, like the rest of the library.
class VELKIO_API Error {
 public:
  static Error& getInstance();

  // Records a message and where it was raised.
  void setWhat(const std::string& message, const std::string& file, const std::string& function,
               int line);
  // The last recorded message ("" when nothing was recorded).
  const std::string& what() const { return what_; }
  // "file:line (function)" of the last record ("" when nothing was recorded).
  std::string where() const;
  void clear();

 private:
  Error() = default;
  std::string what_;
  std::string file_;
  std::string function_;
  int line_ = 0;
};

}  // namespace velkio
