// LiveLatency: how long after its sound arrives a frame's JSON line comes out of
// `velk-binaural localize - --json -`, with a writer that trickles the two-talker scene through a
// pipe at the pace it was recorded (a block of 10 ms every 10 ms, as a capture program hands its
// periods over).
//
// For frame k (centred on sample k * 160, reaching to sample k * 160 + 255) the latency is the
// time from the write of the block holding that last sample to the moment its line is read from
// the tool's standard output: the work of the STFT, the localiser and the recorder plus the
// passage through both pipes. Frames whose last sample lies past the end of the recording (the
// last two) wait for the end of the stream instead and are not counted. The algorithmic part, the
// half frame between a frame's time and its last sample (16 ms), comes on top; see the README.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr long kAdvance = 160;
constexpr long kHalfFrame = 256;   // samples of a 512-sample frame after its centre
constexpr long kBlock = 160;       // sample frames per write: 10 ms
constexpr size_t kFrameBytes = 4;  // 2 channels of 16 bits
constexpr size_t kHeaderBytes = 44;

// The scene as `sox FILE -t wav -` streams it, repeated `copies` times in one stream whose header
// leaves the length open, as a recorder's does; empty when sox cannot read it.
std::string streamOf(const std::string& path, int copies) {
  FILE* pipe = popen(("sox '" + path + "' -t wav - 2>/dev/null").c_str(), "r");
  if (!pipe) return "";
  std::string wav;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) wav.append(buffer, n);
  if (pclose(pipe) != 0 || wav.size() <= kHeaderBytes) return "";
  std::string stream = wav.substr(0, kHeaderBytes);
  for (size_t at : {4, 40}) stream.replace(at, 4, "\xff\xff\xff\xff");
  for (int i = 0; i < copies; ++i) stream += wav.substr(kHeaderBytes);
  return stream;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t at = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[at];
}

struct Trickled {
  std::vector<Clock::time_point> blockWritten;  // per block of kBlock sample frames
  std::vector<Clock::time_point> lineRead;      // per frame
  bool ok = false;
};

// Starts the tool, writes `stream` to it in real time and reads its lines as they come.
Trickled trickle(const std::string& stream) {
  Trickled t;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return t;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    const std::string tool = toolPath();
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    freopen("/dev/null", "w", stderr);
    execl(tool.c_str(), tool.c_str(), "localize", "-", "--json", "-", "--quiet", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  std::thread writer([&] {
    const size_t blockBytes = kBlock * kFrameBytes;
    const Clock::time_point start = Clock::now();
    bool open = write(in[1], stream.data(), kHeaderBytes) == static_cast<ssize_t>(kHeaderBytes);
    for (size_t at = kHeaderBytes, i = 1; open && at < stream.size(); at += blockBytes, ++i) {
      const size_t n = std::min(blockBytes, stream.size() - at);
      open = write(in[1], stream.data() + at, n) == static_cast<ssize_t>(n);
      t.blockWritten.push_back(Clock::now());
      std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * i));
    }
    close(in[1]);
  });
  std::string pending;
  char buffer[65536];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    const Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] == '\n') t.lineRead.push_back(now);
  }
  writer.join();
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  t.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return t;
}

// Argument: copies of the scene in the stream (3: about 19 s, 1890 frames).
void LiveLatency(benchmark::State& state) {
  const std::string stream = streamOf(std::string(VELK_SCENES_DIR) + "/pair_sep60_m20_p40_snr20/mix.wav",
                                      static_cast<int>(state.range(0)));
  if (stream.empty()) {
    state.SkipWithError("the two-talker scene is not in VELK_SCENES_DIR, or sox is missing");
    return;
  }
  std::vector<double> latenciesMs;
  for (auto _ : state) {
    const Trickled t = trickle(stream);
    if (!t.ok) {
      state.SkipWithError("the command failed");
      return;
    }
    const long samples = static_cast<long>((stream.size() - kHeaderBytes) / kFrameBytes);
    for (size_t k = 0; k < t.lineRead.size(); ++k) {
      const long last = static_cast<long>(k) * kAdvance + kHalfFrame - 1;
      if (last >= samples) break;
      const size_t block = static_cast<size_t>(last / kBlock);
      if (block >= t.blockWritten.size()) break;
      latenciesMs.push_back(std::chrono::duration<double, std::milli>(t.lineRead[k] - t.blockWritten[block]).count());
    }
  }
  if (latenciesMs.empty()) {
    state.SkipWithError("no line was timed");
    return;
  }
  state.counters["frames"] = static_cast<double>(latenciesMs.size());
  state.counters["median_ms"] = percentile(latenciesMs, 0.5);
  state.counters["p99_ms"] = percentile(latenciesMs, 0.99);
  state.counters["max_ms"] = percentile(latenciesMs, 1.0);
  state.counters["algorithmic_ms"] = 1000.0 * kHalfFrame / kRate;
}

BENCHMARK(LiveLatency)->Arg(3)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace bench
