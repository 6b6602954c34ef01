// Checks of the command line's numbers, shared by every command. A number option accepts plain
// decimal numbers only: no NaN, no infinities, no hexadecimal or other bases, nothing beyond the
// range the option allows. A refused value gives a usage error (exit status 2) that names the
// option, the value and what is accepted, in words:
//   --radius: 0 is out of range (accepted: a head radius in metres, above 0 and at most 1)
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace velktool {

// The bounds of a number option; an open bound excludes its value.
struct NumberRange {
  double min, max;
  bool minOpen = false, maxOpen = false;
};

// Why `text` is not a plain decimal number within `range` ("" when it is), for an option
// described by `accepted` ("a head radius in metres"). `integer` accepts whole numbers only.
std::string numberProblem(const std::string& text, const NumberRange& range, bool integer, const std::string& accepted);

// A number as a person would write it: "20", "0.09", "-2.5", "1e-07".
std::string plainNumber(double value);

// The range in words: "above 0 and at most 1", "from -90 to 90", "at least 0".
std::string rangeInWords(const NumberRange& range);

// Validators for CLI11 options (each element of a list option is checked on its own).
CLI::Validator RealNumber(const NumberRange& range, const std::string& accepted);
CLI::Validator WholeNumber(const NumberRange& range, const std::string& accepted);

}  // namespace velktool
