// One frame of the soft-mask separator, for two and three talkers, with the measured tables or the
// spherical head, masked or demixed outputs.
//
// The frames are made beforehand: talkers of random, speech-like sparse spectra (as in the unit
// tests) heard through the measured responses of their directions, 512-point transform at 16 kHz.
// "cpu_us_per_frame" is the processor time per frame; at 100 frames per second of audio, 1e6 /
// (100 * cpu_us_per_frame) is the separator's own real-time factor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "velk_binaural/SoftMaskSeparator.h"
#include "velkio/VELK.h"

namespace {

using namespace NSVelkBinaural;
using Spectrum = std::vector<std::complex<float>>;

constexpr int kNfft = 512, kBins = kNfft / 2 + 1, kFrames = 300;
constexpr double kPi = 3.14159265358979323846;
const double kAzimuths[] = {40.0, -20.0, 75.0};

std::string tablePath() { return std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk"; }

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Frames {
  std::vector<Spectrum> left, right;
};

// kFrames frames of `talkers` talkers at kAzimuths, through the table's responses.
Frames makeFrames(const velkio::VELK& table, int talkers) {
  const auto m2pg = table.findFirst<velkio::M2PG>();
  Frames frames{std::vector<Spectrum>(kFrames, Spectrum(kBins)), std::vector<Spectrum>(kFrames, Spectrum(kBins))};
  std::mt19937 rng(7);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  for (int i = 0; i < talkers; ++i) {
    const velkio::ChannelResponses* ears = nullptr;
    for (std::size_t d = 0; d < m2pg->getSrc().size(); ++d) {
      const velkio::Position& p = m2pg->getSrc()[d][0];
      if (std::fabs(std::atan2(p.y, p.x) * 180.0 / kPi - kAzimuths[i]) < 0.01) ears = &(*m2pg->getTF())[d];
    }
    for (int t = 0; t < kFrames; ++t)
      for (int k = 0; k < kBins; ++k) {
        const std::complex<float> s = std::polar(std::exp(1.5f * gauss(rng)) / std::sqrt(1.0f + k / 20.0f), phase(rng));
        frames.left[t][k] += (*ears)[0][k] * s;
        frames.right[t][k] += (*ears)[1][k] * s;
      }
  }
  return frames;
}

// Arguments: talkers (2 or 3), cues (0 head model, 1 measured), demix (0 or 1).
void SoftMaskFrame(benchmark::State& state) {
  velkio::VELK table;
  table.readFile(tablePath());
  const int talkers = static_cast<int>(state.range(0));
  const Frames frames = makeFrames(table, talkers);
  const auto cues = state.range(1) ? std::make_shared<ExpectedCues>(ExpectedCues::fromFile(table))
                                   : std::make_shared<ExpectedCues>(ExpectedCues::sphere(SphereHead{}, 16000, kNfft));
  SoftMaskSeparatorConfig config;
  config.demix = state.range(2) != 0;
  std::vector<TalkerDirection> directions;
  for (int i = 0; i < talkers; ++i) directions.push_back({i, kAzimuths[i]});
  SoftMaskSeparator separator(cues, config);
  // The first frame computes the head model's cues for the directions; not timed.
  separator.process({frames.left[0].data(), frames.right[0].data(), kBins}, directions);
  double cpu = 0.0;
  long done = 0;
  for (auto _ : state) {
    const double start = threadCpuSeconds();
    for (int t = 0; t < kFrames; ++t)
      separator.process({frames.left[t].data(), frames.right[t].data(), kBins}, directions);
    cpu += threadCpuSeconds() - start;
    done += kFrames;
    benchmark::DoNotOptimize(separator.output(0));
  }
  state.counters["cpu_us_per_frame"] = 1e6 * cpu / static_cast<double>(done);
}

BENCHMARK(SoftMaskFrame)
    ->ArgNames({"talkers", "measured", "demix"})
    ->ArgsProduct({{2, 3}, {0, 1}, {0}})
    ->Args({2, 1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
