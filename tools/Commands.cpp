#include "Commands.h"

#include <cmath>
#include <iostream>

namespace velktool {

int fail(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n') c = ' ';
  std::cerr << "velk-binaural: " << line << std::endl;
  return 1;
}

CLI::Validator finiteRange(double lowest, double highest) {
  const std::string range = "[" + CLI::detail::to_string(lowest) + " - " + CLI::detail::to_string(highest) + "]";
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < lowest || value > highest)
          return "value " + text + " is not a number in " + range;
        return "";
      },
      "FLOAT in " + range);
}

}  // namespace velktool
