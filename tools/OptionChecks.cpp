#include "OptionChecks.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace velktool {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is written as a decimal number: an optional sign, digits with an optional
// fraction, and (unless `integer`) an optional exponent. Rejects "nan", "inf", "0x10", "1,5",
// "30 40" and the empty text.
bool decimalSyntax(const std::string& text, bool integer) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (!integer && i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (!integer && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

bool inside(double value, const NumberRange& r) {
  const bool aboveMin = r.minOpen ? value > r.min : value >= r.min;
  const bool belowMax = r.maxOpen ? value < r.max : value <= r.max;
  return aboveMin && belowMax;
}

}  // namespace

// At most 15 significant digits, so that 0.09 does not show as 0.0899999999999999967.
std::string plainNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

std::string rangeInWords(const NumberRange& r) {
  const bool hasMin = r.min > std::numeric_limits<double>::lowest(), hasMax = r.max < std::numeric_limits<double>::max();
  const std::string low = (r.minOpen ? "above " : "at least ") + plainNumber(r.min);
  const std::string high = (r.maxOpen ? "below " : "at most ") + plainNumber(r.max);
  if (hasMin && hasMax && !r.minOpen && !r.maxOpen) return "from " + plainNumber(r.min) + " to " + plainNumber(r.max);
  if (hasMin && hasMax) return low + " and " + high;
  if (hasMin) return low;
  if (hasMax) return high;
  return "any number";
}

std::string numberProblem(const std::string& text, const NumberRange& range, bool integer, const std::string& accepted) {
  const std::string what = " (accepted: " + accepted + ", " + rangeInWords(range) + ")";
  const std::string shown = "\"" + text + "\"";
  if (!decimalSyntax(text, integer)) {
    if (integer && decimalSyntax(text, false)) return shown + " is not a whole number" + what;
    const std::string lower = [&] {
      std::string s;
      for (char c : text) s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    }();
    const bool nonFinite = lower.find("nan") != std::string::npos || lower.find("inf") != std::string::npos;
    return shown + (nonFinite ? " is not a finite number" : " is not a decimal number") + what;
  }
  errno = 0;
  const double value = std::strtod(text.c_str(), nullptr);
  if (errno == ERANGE || !std::isfinite(value) || !inside(value, range)) return text + " is out of range" + what;
  return "";
}

CLI::Validator RealNumber(const NumberRange& range, const std::string& accepted) {
  return CLI::Validator([range, accepted](std::string& text) { return numberProblem(text, range, false, accepted); },
                        rangeInWords(range));
}

CLI::Validator WholeNumber(const NumberRange& range, const std::string& accepted) {
  return CLI::Validator([range, accepted](std::string& text) { return numberProblem(text, range, true, accepted); },
                        rangeInWords(range));
}

}  // namespace velktool
