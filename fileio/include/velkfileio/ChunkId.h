// Chunk identifiers of the binary formats read here (the four bytes that name a chunk) as they
// appear in messages about damaged files and streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace fileio {

// The four bytes at `id` as text, bytes outside printable ASCII (and the backslash) as \xHH, so
// that a damaged identifier can be quoted in a one-line message whatever it holds.
inline std::string printableId(const std::uint8_t* id) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (id[i] >= 0x20 && id[i] < 0x7f && id[i] != '\\') {
      text += static_cast<char>(id[i]);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", id[i]);
      text += escaped;
    }
  }
  return text;
}

}  // namespace fileio
