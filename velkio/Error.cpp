#include "velkio/Error.h"

namespace velkio {

Error& Error::getInstance() {
  static Error instance;
  return instance;
}

void Error::setWhat(const std::string& message, const std::string& file,
                    const std::string& function, int line) {
  what_ = message;
  file_ = file;
  function_ = function;
  line_ = line;
}

std::string Error::where() const {
  if (file_.empty() && function_.empty()) return "";
  return file_ + ":" + std::to_string(line_) + " (" + function_ + ")";
}

void Error::clear() {
  what_.clear();
  file_.clear();
  function_.clear();
  line_ = 0;
}

}  // namespace velkio
