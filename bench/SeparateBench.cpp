// The whole `velk-binaural separate` command for two talkers at given directions, as a user runs
// it: start the tool, load the plug-in and the transfer-function table, analyse, separate,
// synthesise and write both WAVs and sources.json. Reported as "x_realtime", seconds of audio
// per second of wall-clock time, for the two-talker scene as it is (6.3 s, where the fixed
// start-up cost shows) and repeated to 60 s (a longer recording), with either direction method.
// The tool is the one built next to this benchmark; the scene comes from VELK_SCENES_DIR.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

using bench::TempDir;
using bench::toolPath;

const char* const kScene = "pair_sep60_m20_p40_snr20";
const char* const kDirections = "-20,40";

// A canonical WAV file's format chunk and sample bytes.
struct Wav {
  std::string format, data;
  std::uint32_t bytesPerSecond = 0;
};

std::uint32_t le32(const std::string& bytes, size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// Reads the "fmt " and "data" chunks of a RIFF/WAVE file; empty on anything else.
Wav readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Wav wav;
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return wav;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::uint32_t size = le32(bytes, at + 4);
    if (at + 8 + size > bytes.size()) break;
    if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16) wav.format = bytes.substr(at + 8, size);
    if (bytes.compare(at, 4, "data") == 0) wav.data = bytes.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  if (wav.format.size() >= 16) wav.bytesPerSecond = le32(wav.format, 8);
  return wav;
}

void put32(std::ofstream& out, std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); }

// Writes `wav` with its samples repeated `times` times.
void writeRepeated(const std::string& path, const Wav& wav, int times) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(wav.data.size()) * static_cast<std::uint32_t>(times);
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  put32(out, 4 + 8 + static_cast<std::uint32_t>(wav.format.size()) + 8 + bytes);
  out.write("WAVEfmt ", 8);
  put32(out, static_cast<std::uint32_t>(wav.format.size()));
  out.write(wav.format.data(), static_cast<std::streamsize>(wav.format.size()));
  out.write("data", 4);
  put32(out, bytes);
  for (int i = 0; i < times; ++i) out.write(wav.data.data(), static_cast<std::streamsize>(wav.data.size()));
}

// Arguments: the number of copies of the scene's mixture (1 = as it is; 0 = about 60 s), the
// method (0 head model, 1 measured tables) and the separator (0 soft masks, 1 pass band).
void SeparateCommand(benchmark::State& state) {
  const Wav scene = readWav(std::string(VELK_SCENES_DIR) + "/" + kScene + "/mix.wav");
  if (scene.data.empty() || scene.bytesPerSecond == 0) {
    state.SkipWithError("the two-talker scene is not in VELK_SCENES_DIR");
    return;
  }
  TempDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("cannot create a temporary directory");
    return;
  }
  const double sceneSeconds = static_cast<double>(scene.data.size()) / scene.bytesPerSecond;
  const int copies = state.range(0) > 0 ? static_cast<int>(state.range(0)) : static_cast<int>(60.0 / sceneSeconds + 0.5);
  const std::string input = dir.path() + "/in.wav";
  writeRepeated(input, scene, copies);
  const std::string command = "'" + toolPath() + "' separate '" + input + "' --out-dir '" + dir.path() +
                              "/out' --directions=" + kDirections + " --method " +
                              (state.range(1) ? "measured" : "epipolar") + " --separator " +
                              (state.range(2) ? "passband" : "mask") + " --quiet >/dev/null 2>&1";

  for (auto _ : state) {
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError(("the command failed: " + command).c_str());
      return;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(sceneSeconds * copies * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["audio_s"] = sceneSeconds * copies;
}

BENCHMARK(SeparateCommand)
    ->ArgNames({"copies", "measured", "passband"})
    ->ArgsProduct({{1, 0}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
