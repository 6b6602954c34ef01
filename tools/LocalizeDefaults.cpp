#include "LocalizeDefaults.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "fd/Values.h"

namespace velktool {

// Chosen on the binaural test scenes (16 kHz, one to three talkers, 10 and 20 dB SNR) with both
// direction methods; each value is the one that found every talker with the fewest spurious
// reports. What the neighbouring values did:
//   PEAK_THRESHOLD 20 dB     15: 23-47% of a single talker's frames also report a false source;
//                            25: the talker at 10 dB SNR is never found.
//   PEAK_FMAX 1500 Hz        3000: more false sources (6% of frames at +20 degrees).
//   EVENT_RATIO_THRESHOLD 3  0: short-lived false events survive (15% of frames at +50 degrees).
//   MIN_SRC_INTERVAL 20 deg  10: one talker splits into many ids (19% false frames);
//                            30: neighbouring talkers merge (-50 degrees found 15 degrees off).
//   PAUSE_LENGTH 1000 ms     300-600: a talker keeps its id over fewer of its frames (43% vs 91%).
//   HARMONIC_THRESHOLD 1     4: the talker at 10 dB SNR is never found.
//   CLUSTERING_THRESHOLD 50  0 (no merging): up to 50% false frames; above 100 everything merges
//                            into one cluster and nothing is found.
//   LOCALIZE_CHANNEL LEFT    RIGHT: more false reports for talkers on the left.
const std::vector<DefaultParameter>& localizeDefaults() {
  static const std::vector<DefaultParameter> defaults = {
      {"SAMPLING_RATE", "16000"},
      {"ADVANCE", "160"},
      {"BGNOISE_METHOD", "INTERNAL"},
      {"PAUSE_LENGTH", "1000"},
      {"MIN_SRC_INTERVAL", "20.0"},
      {"PEAK_FMIN", "100.0"},
      {"PEAK_FMAX", "1500.0"},
      {"LOCALIZE_CHANNEL", "LEFT"},
      {"HARMONIC_THRESHOLD", "1"},
      {"PEAK_THRESHOLD", "20.0"},
      {"EVENT_RATIO_THRESHOLD", "3.0"},
      {"CLUSTERING_THRESHOLD", "50.0"},
      {"LOCALIZE_METHOD", "EPIPOLAR"},
      {"DIRPROB_THRESHOLD", "0.0"},
      {"ROUND_COUNT", "0"},
  };
  return defaults;
}

namespace {

std::string trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool readInt(const std::string& text, int& value) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(t.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool readFloat(const std::string& text, float& value) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(t.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// "a,b,c" or "[a, b, c]" split at the commas.
std::vector<std::string> listItems(std::string text) {
  text = trim(text);
  if (!text.empty() && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  std::vector<std::string> items;
  if (trim(text).empty()) return items;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    items.push_back(text.substr(start, comma - start));
  items.push_back(text.substr(start));
  return items;
}

template <class T, class Read>
FD::ObjectRef readVector(const std::string& text, Read read, bool& ok) {
  auto* vector = new FD::Vector<T>;
  FD::ObjectRef ref(vector);
  for (const std::string& item : listItems(text)) {
    T v{};
    ok = ok && read(item, v);
    vector->push_back(v);
  }
  return ref;
}

}  // namespace

NodeParameterBuilder::NodeParameterBuilder(std::string nodeType, const FD::NodeInfo& info)
    : nodeType_(std::move(nodeType)), info_(info), params_(nodeType_) {}

const FD::ParameterInfo& NodeParameterBuilder::describe(const std::string& name) const {
  for (const FD::ParameterInfo& p : info_.parameters)
    if (p.name == name) return p;
  std::string accepted;
  for (const FD::ParameterInfo& p : info_.parameters) accepted += (accepted.empty() ? "" : ", ") + p.name;
  throw std::invalid_argument(nodeType_ + " has no parameter \"" + name + "\"; its parameters are " + accepted);
}

void NodeParameterBuilder::set(const std::string& name, const std::string& value) {
  const FD::ParameterInfo& info = describe(name);
  bool ok = true;
  FD::ObjectRef ref;
  if (info.type == "int") {
    int v = 0;
    ok = readInt(value, v);
    ref = FD::ObjectRef(new FD::Int(v));
  } else if (info.type == "float") {
    float v = 0;
    ok = readFloat(value, v);
    ref = FD::ObjectRef(new FD::Float(v));
  } else if (info.type == "Vector<int>") {
    ref = readVector<int>(value, readInt, ok);
  } else if (info.type == "Vector<float>") {
    ref = readVector<float>(value, readFloat, ok);
  } else {
    ref = FD::ObjectRef(new FD::String(value));
  }
  if (!ok)
    throw std::invalid_argument(nodeType_ + " parameter " + name + " = \"" + value + "\" is not a valid " + info.type);
  params_.add(name, ref);
}

void NodeParameterBuilder::setAssignment(const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0)
    throw std::invalid_argument("--param " + assignment + ": expected NAME=VALUE");
  set(trim(assignment.substr(0, eq)), assignment.substr(eq + 1));
}

}  // namespace velktool
