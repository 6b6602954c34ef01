// The pass-through network (WAV -> STFT -> inverse STFT -> WAV) on 60 s of 16 kHz stereo: the
// cost of the host's audio path that every network pays. Reported as "x_realtime", seconds of
// audio processed per second of wall-clock time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fd/Network.h"
#include "fd/NetworkFile.h"

#include "BenchSupport.h"

namespace {

using bench::TempDir;

constexpr int kRate = 16000;
constexpr int kSeconds = 60;

void put32(std::ofstream& out, std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); }
void put16(std::ofstream& out, std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); }

// A 16-bit stereo WAV of tones and noise (written by hand: the benchmark needs no codec).
void writeTestWav(const std::string& path) {
  const std::uint32_t frames = kRate * kSeconds, bytes = frames * 4;
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  put32(out, 36 + bytes);
  out.write("WAVEfmt ", 8);
  put32(out, 16);
  put16(out, 1);  // PCM
  put16(out, 2);
  put32(out, kRate);
  put32(out, kRate * 4);
  put16(out, 4);
  put16(out, 16);
  out.write("data", 4);
  put32(out, bytes);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<std::int16_t> samples(2 * static_cast<size_t>(frames));
  for (std::uint32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    samples[2 * n] = static_cast<std::int16_t>(8000 * (std::sin(2 * M_PI * 440 * t) + noise(rng)));
    samples[2 * n + 1] = static_cast<std::int16_t>(8000 * (std::sin(2 * M_PI * 660 * t) + noise(rng)));
  }
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

void PassThroughNetwork(benchmark::State& state) {
  TempDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("cannot create a temporary directory");
    return;
  }
  const std::string input = dir.path() + "/in.wav";
  writeTestWav(input);
  const std::vector<std::string> overrides = {"INPUT=" + input, "OUTPUT=" + dir.path() + "/out.wav"};
  const std::string example = std::string(VELK_SOURCE_DIR) + "/examples/passthrough.json";

  for (auto _ : state) {
    try {
      const FD::NetworkSpec plan = FD::readNetworkFile(example, overrides);
      FD::Network network;
      FD::buildNetwork(plan, network);
      benchmark::DoNotOptimize(network.run());
    } catch (FD::BaseException* e) {
      std::unique_ptr<FD::BaseException> owner(e);
      state.SkipWithError(e->text().c_str());
      return;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(kSeconds) * state.iterations(), benchmark::Counter::kIsRate);
}

BENCHMARK(PassThroughNetwork)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
