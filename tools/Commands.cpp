#include "Commands.h"

#include <iostream>

namespace velktool {

int fail(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n') c = ' ';
  std::cerr << "velk-binaural: " << line << std::endl;
  return 1;
}

}  // namespace velktool
