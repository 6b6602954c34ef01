// Feeds arbitrary bytes, as sound arriving on a pipe, through the stream reader. The first byte
// chooses how many bytes each read delivers (1 .. 64), the second the format: 0 a WAV stream, else
// headerless samples of one of the raw formats with 1 .. 4 channels. The reader must either refuse
// the header (std::runtime_error) or deliver samples until the bytes end, never more sample
// frames than the bytes hold and never a value that is not a finite number; a crash, a sanitizer
// report, another exception or a hang is a fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "fd/AudioStream.h"

namespace {

std::unique_ptr<FD::PcmStreamReader> open(const std::uint8_t* data, std::size_t size, std::size_t chunk,
                                          std::uint8_t format) {
  auto bytes = std::make_unique<FD::MemoryStream>(data, size, chunk);
  if (format == 0) return FD::PcmStreamReader::wav(std::move(bytes));
  const std::vector<std::string>& names = FD::rawFormatNames();
  return FD::PcmStreamReader::raw(std::move(bytes), FD::rawFormatFromName(names[format % names.size()]),
                                  1 + (format / names.size()) % 4, 16000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  std::unique_ptr<FD::PcmStreamReader> reader;
  try {
    reader = open(data + 2, size - 2, chunk, data[1]);
  } catch (const std::runtime_error&) {
    return 0;
  }
  const std::size_t channels = static_cast<std::size_t>(reader->channels());
  std::vector<float> block(97 * channels);
  std::size_t frames = 0;
  for (std::size_t got; (got = reader->read(block.data(), 97)) > 0;) {
    if (got > 97) std::abort();
    for (std::size_t i = 0; i < got * channels; ++i)
      if (!std::isfinite(block[i])) std::abort();
    frames += got;
  }
  if (frames * channels > size) std::abort();  // every sample takes at least one byte
  (void)reader->reports();
  return 0;
}
