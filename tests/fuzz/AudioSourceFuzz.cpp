// Feeds arbitrary bytes, as a sound file, through the audio source node with small frames. The
// first two bytes choose the frame length (1 .. 64) and shift (1 .. the length); the rest is the
// file, held in memory (memfd) and opened by its /proc path like any other. The node must either
// refuse the file at construction or deliver every frame; a crash, a sanitizer report, another
// exception or a hang is a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <sndfile.h>

#include "fd/Network.h"
#include "fd/Values.h"
#include "fd/Warning.h"

namespace {

// More frames than a file of the fuzzer's input size could hold with any real format.
constexpr long kMaxFrames = 1L << 16;

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

FD::ObjectRef integer(int v) { return FD::ObjectRef(new FD::Int(v)); }

void run(const std::string& path, int length, int advance) {
  SF_INFO info{};
  SNDFILE* probe = sf_open(path.c_str(), SFM_READ, &info);
  if (!probe) return;
  sf_close(probe);
  FD::ParameterSet params;
  params.add("FILENAME", FD::ObjectRef(new FD::String(path)));
  params.add("SAMPLING_RATE", integer(info.samplerate));
  params.add("CHANNELS", integer(info.channels));
  params.add("LENGTH", integer(length));
  params.add("ADVANCE", integer(advance));
  FD::Network network;
  network.addNode("AudioFileSource", "source", params);
  network.addOutput("source", "AUDIO");
  network.run(kMaxFrames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FD::WarningHandler quiet = FD::setWarningHandler([](const std::string&) {});
  (void)quiet;
  if (size < 2) return 0;
  const int length = 1 + data[0] % 64;
  const int advance = 1 + data[1] % length;
  Descriptor file{memfd_create("fuzz-sound", 0)};
  if (file.fd < 0) return 0;
  for (std::size_t done = 2; done < size;) {
    const ssize_t n = write(file.fd, data + done, size - done);
    if (n <= 0) return 0;
    done += static_cast<std::size_t>(n);
  }
  try {
    run("/proc/self/fd/" + std::to_string(file.fd), length, advance);
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    (void)e->text();
  }
  return 0;
}
