// Feeds arbitrary bytes to the transfer-function file reader. Every input must either read or
// raise velkio::FileError; anything else (a crash, a sanitizer report, another exception, a
// hang) is a fault. The header's size field is forced to match, half of the time, so that the
// fuzzer reaches the chunk parsers instead of stopping at the header check.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "velkio/VELK.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  if (bytes.size() >= 9 && (bytes.back() & 1)) {
    std::memcpy(bytes.data(), "VELK", 4);
    const std::uint32_t rest = static_cast<std::uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<std::uint8_t>(rest >> (8 * i));
  }
  velkio::VELK file;
  try {
    file.readBuffer(bytes.data(), bytes.size(), "fuzz");
    // Whatever reads must write back and read again to the same chunk count.
    const std::vector<std::uint8_t> again = file.toBytes();
    velkio::VELK copy;
    copy.readBuffer(again.data(), again.size(), "fuzz-again");
    if (copy.getChunkList("").size() != file.getChunkList("").size()) __builtin_trap();
  } catch (const velkio::FileError&) {
  }
  return 0;
}
