// The talker tracker's cost per frame once it has issued 10 ids and once it has issued 10,000:
// what it holds is bounded, so the two must be the same. "ids_issued" and "held" report the
// state the frames were timed in.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "velk_binaural/TalkerTracker.h"

namespace {

using NSVelkBinaural::SourceReport;
using NSVelkBinaural::TalkerTracker;
using NSVelkBinaural::TalkerTrackerConfig;

constexpr double kFrameSec = 0.01;

// Argument: ids to issue first. Each comes from a talker heard for 0.1 s at a new place, then
// silent until it ends; then two talkers speak on every timed frame.
void TalkerTrackerFrame(benchmark::State& state) {
  TalkerTrackerConfig config;
  config.reuseSec = 0.0;  // every talker a new id
  TalkerTracker tracker(config);
  double t = 0.0;
  for (long i = 0; tracker.nextId() <= state.range(0); ++i) {
    const std::vector<SourceReport> talker{SourceReport{-90.0 + std::fmod(i * 37.0, 180.0), 1.0, -1}};
    for (int f = 0; f < 10; ++f, t += kFrameSec) tracker.process(t, talker);
    for (double end = t + config.hangoverSec + 0.1; t < end; t += kFrameSec) tracker.process(t, {});
  }
  const std::vector<SourceReport> two{SourceReport{-20.0, 0.8, -1}, SourceReport{40.0, 0.8, -1}};
  for (auto _ : state) {
    t += kFrameSec;
    benchmark::DoNotOptimize(tracker.process(t, two));
  }
  state.counters["ids_issued"] = tracker.nextId() - 1;
  state.counters["held"] = static_cast<double>(tracker.heldTracks());
}

BENCHMARK(TalkerTrackerFrame)->ArgName("ids")->Arg(10)->Arg(10000)->Unit(benchmark::kNanosecond);

}  // namespace
