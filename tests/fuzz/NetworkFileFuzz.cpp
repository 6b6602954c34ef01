// Feeds arbitrary bytes to the network-file reader. Every input must either parse or raise a host
// exception; anything else (a crash, a sanitizer report, another exception, a hang) is a fault.
// A zero byte splits the input: what follows is read as command-line overrides, one per line, so
// that "--set NAME=VALUE" is fuzzed together with the file it applies to. Only parsing is fuzzed:
// building a network would create nodes that open and write the files the input names.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fd/NetworkFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\0');
  const std::string text = bytes.substr(0, split);
  std::vector<std::string> overrides;
  if (split != std::string::npos) {
    std::istringstream lines(bytes.substr(split + 1));
    for (std::string line; std::getline(lines, line);) overrides.push_back(line);
  }
  try {
    const FD::NetworkSpec plan = FD::parseNetwork(text, "fuzz.json", "/fuzz", overrides);
    if (plan.nodes.empty() || plan.outputs.empty()) __builtin_trap();  // a parsed network has both
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    (void)e->text();
  }
  return 0;
}
