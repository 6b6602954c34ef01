// The localiser on the two-talker scene.
//
// LocalizeFrame / StftFrame: the cost of one frame of LocalizeBinaural (the harmonic sounds and
// their events, or the adaptive floor and broadband directions the command line runs, followed by
// TrackTalkers; head model or measured tables) next to the cost of the short-time spectrum of the
// same frame, both as nodes fed with frames read and transformed beforehand. "cpu_us_per_frame" is the mean
// processor time over the scene's frames; LocalizeFrame also times the STFT in the same
// iterations and reports the ratio as "times_stft". The target is a ratio of at most 3.
//
// LocalizeAfterEvents: the cost of a localiser frame once N events have been issued (10 and
// 10000), timed over one pass of the scene after the localiser has run over it, repeated, until
// that many ids were handed out. The two must be equal: nothing on a frame's path may grow with
// the ids ever issued.
//
// LocalizeCommand: `velk-binaural localize` as a user runs it (start, plug-in, analysis,
// localisation, JSON lines, summary) on the scene repeated to about 1 minute and to about 60
// minutes. "x_realtime" is seconds of audio per second of wall-clock time, "x_realtime_cpu" per
// second of the processor time the command used (one idle core); "max_rss_mb" is the command's
// peak resident memory, which must not grow with the length of the input.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "LocalizeBinaural.h"
#include "TrackTalkers.h"
#include "fd/AudioFileSource.h"
#include "fd/MultiFFT.h"
#include "fd/Network.h"

#include "BenchSupport.h"

namespace {

using bench::TempDir;
using bench::toolPath;

const char* const kScene = "pair_sep60_m20_p40_snr20";
constexpr int kRate = 16000, kLength = 512, kAdvance = 160;

std::string scenePath() { return std::string(VELK_SCENES_DIR) + "/" + kScene + "/mix.wav"; }

// A source node that serves frames prepared beforehand, over and over.
class PreparedFrames : public FD::BufferedNode {
 public:
  explicit PreparedFrames(const std::vector<FD::ObjectRef>& frames)
      : BufferedNode("prepared", FD::ParameterSet()), frames_(frames) {
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    out[count] = frames_.at(static_cast<size_t>(count) % frames_.size());
  }

 private:
  const std::vector<FD::ObjectRef>& frames_;
};

// The scene's audio frames and their spectra, read once.
struct SceneFrames {
  std::vector<FD::ObjectRef> audio, spectra;
};

const SceneFrames* sceneFrames() {
  static const SceneFrames* frames = [] () -> SceneFrames* {
    if (!std::filesystem::exists(scenePath())) return nullptr;
    FD::Network net;
    FD::ParameterSet source, stft;
    source.add("FILENAME", FD::ObjectRef(new FD::String(scenePath())));
    source.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(kRate)));
    source.add("CHANNELS", FD::ObjectRef(new FD::Int(2)));
    source.add("LENGTH", FD::ObjectRef(new FD::Int(kLength)));
    source.add("ADVANCE", FD::ObjectRef(new FD::Int(kAdvance)));
    stft.add("LENGTH", FD::ObjectRef(new FD::Int(kLength)));
    net.addNode("AudioFileSource", "source", source);
    net.addNode("MultiFFT", "stft", stft);
    net.connect("source", "AUDIO", "stft", "INPUT");
    net.addOutput("stft", "OUTPUT");
    auto* result = new SceneFrames;
    net.run(-1, [&](long done, long) {
      const int count = static_cast<int>(done - 1);
      result->audio.push_back(net.output("source", "AUDIO", count)->clone());
      result->spectra.push_back(net.output("stft", "OUTPUT", count)->clone());
    });
    return result;
  }();
  return frames;
}

FD::ParameterSet localizerParameters(bool measured, bool broadband) {
  FD::ParameterSet p("localize");
  auto i = [&](const char* n, int v) { p.add(n, FD::ObjectRef(new FD::Int(v))); };
  auto f = [&](const char* n, float v) { p.add(n, FD::ObjectRef(new FD::Float(v))); };
  auto s = [&](const char* n, const std::string& v) { p.add(n, FD::ObjectRef(new FD::String(v))); };
  i("SAMPLING_RATE", kRate);
  i("ADVANCE", kAdvance);
  s("BGNOISE_METHOD", "INTERNAL");
  i("PAUSE_LENGTH", 1000);
  f("MIN_SRC_INTERVAL", 20.0f);
  f("PEAK_FMIN", 100.0f);
  f("PEAK_FMAX", 1500.0f);
  s("LOCALIZE_CHANNEL", "LEFT");
  i("HARMONIC_THRESHOLD", 1);
  f("PEAK_THRESHOLD", 20.0f);
  f("EVENT_RATIO_THRESHOLD", 3.0f);
  f("CLUSTERING_THRESHOLD", 50.0f);
  s("LOCALIZE_METHOD", measured ? "HRTFMESURED" : "EPIPOLAR");
  f("DIRPROB_THRESHOLD", 0.0f);
  i("ROUND_COUNT", 0);
  s("VELK_DAT", std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk");
  p.add("VELK_DAT_CHANNELS", FD::ObjectRef(new FD::Vector<int>{0, 1}));
  if (broadband) {
    s("NOISE_FLOOR", "ADAPTIVE");
    s("DIRECTIONS", "BROADBAND");
  }
  return p;
}

FD::ParameterSet trackerParameters() {
  FD::ParameterSet p("track");
  p.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(kRate)));
  p.add("ADVANCE", FD::ObjectRef(new FD::Int(kAdvance)));
  return p;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One node driven over the scene's frames: `make` builds a fresh node, `frame` pulls frame c.
struct Stage {
  std::function<void()> make;
  std::function<void(int)> frame;
};

struct StageTimes {
  double usPerFrame = 0.0, setupUs = 0.0;
};

// Drives every stage over every frame of the scene once per iteration, the stages one after the
// other, and returns each one's mean processor time per frame, which the other work on a shared
// machine does not inflate as it does the wall-clock time. Frame 0 runs before the clock starts:
// it carries the one-time set-up (tables read, transform planned), returned apart. Timing the
// stages in the same iterations keeps their ratio steady when the machine's speed is not.
std::vector<StageTimes> timeStages(benchmark::State& state, const std::vector<Stage>& stages) {
  std::vector<StageTimes> times(stages.size());
  const SceneFrames* frames = sceneFrames();
  if (!frames) {
    state.SkipWithError("the two-talker scene is not in VELK_SCENES_DIR");
    return times;
  }
  // The localiser announces new sources on standard output; keep the report clean.
  std::ostringstream discard;
  std::streambuf* saved = std::cout.rdbuf(discard.rdbuf());
  const int count = static_cast<int>(frames->audio.size());
  for (auto _ : state) {
    for (size_t k = 0; k < stages.size(); ++k) {
      stages[k].make();
      const double start = threadCpuSeconds();
      stages[k].frame(0);
      const double first = threadCpuSeconds();
      for (int c = 1; c < count; ++c) stages[k].frame(c);
      times[k].usPerFrame += 1e6 * (threadCpuSeconds() - first);
      times[k].setupUs += 1e6 * (first - start);
    }
  }
  std::cout.rdbuf(saved);
  const double iterations = static_cast<double>(state.iterations());
  for (StageTimes& t : times) {
    t.usPerFrame /= static_cast<double>(count - 1) * iterations;
    t.setupUs /= iterations;
  }
  state.counters["frames"] = count;
  return times;
}

// The short-time spectrum of the scene's frames.
Stage stftStage(std::unique_ptr<PreparedFrames>& audio, std::unique_ptr<FD::MultiFFT>& stft) {
  return Stage{[&] {
                 stft.reset();
                 audio.reset(new PreparedFrames(sceneFrames()->audio));
                 FD::ParameterSet p("stft");
                 p.add("LENGTH", FD::ObjectRef(new FD::Int(kLength)));
                 stft.reset(new FD::MultiFFT("stft", p));
                 stft->connectInput(0, audio.get(), 0);
                 stft->initialize();
               },
               [&](int c) { benchmark::DoNotOptimize(stft->getOutput(0, c)); }};
}

void StftFrame(benchmark::State& state) {
  std::unique_ptr<PreparedFrames> audio;
  std::unique_ptr<FD::MultiFFT> stft;
  const std::vector<StageTimes> t = timeStages(state, {stftStage(audio, stft)});
  state.counters["cpu_us_per_frame"] = t[0].usPerFrame;
  state.counters["setup_us"] = t[0].setupUs;
}

// Arguments: 0 head model, 1 measured tables; 0 harmonic events, 1 broadband directions and the
// talker tracker after the localiser. "times_stft" is the localiser's (and tracker's) cost of a
// frame over the STFT's, both timed in the same iterations.
void LocalizeFrame(benchmark::State& state) {
  const bool measured = state.range(0) != 0;
  const bool broadband = state.range(1) != 0;
  std::unique_ptr<PreparedFrames> audio, spectra, stftAudio;
  std::unique_ptr<LocalizeBinaural> node;
  std::unique_ptr<TrackTalkers> tracker;
  std::unique_ptr<FD::MultiFFT> stft;
  const Stage localize{[&] {
                         tracker.reset();
                         node.reset();
                         audio.reset(new PreparedFrames(sceneFrames()->audio));
                         spectra.reset(new PreparedFrames(sceneFrames()->spectra));
                         node.reset(new LocalizeBinaural("localize", localizerParameters(measured, broadband)));
                         node->connectInput(node->inputId("AUDIO"), audio.get(), 0);
                         node->connectInput(node->inputId("SPECTRUM"), spectra.get(), 0);
                         node->initialize();
                         if (broadband) {
                           tracker.reset(new TrackTalkers("track", trackerParameters()));
                           tracker->connectInput(tracker->inputId("INPUT"), node.get(), 0);
                           tracker->initialize();
                         }
                       },
                       [&](int c) {
                         FD::Node* last = tracker ? static_cast<FD::Node*>(tracker.get()) : node.get();
                         benchmark::DoNotOptimize(last->getOutput(0, c));
                       }};
  const std::vector<StageTimes> t = timeStages(state, {localize, stftStage(stftAudio, stft)});
  state.counters["cpu_us_per_frame"] = t[0].usPerFrame;
  state.counters["setup_us"] = t[0].setupUs;
  state.counters["stft_us_per_frame"] = t[1].usPerFrame;
  state.counters["times_stft"] = t[1].usPerFrame > 0.0 ? t[0].usPerFrame / t[1].usPerFrame : 0.0;
}

// Argument: events issued before the timed pass. The localiser (measured tables) runs over the
// scene again and again until it has issued that many ids, finishes the pass it is in, and then
// one more pass is timed. "events_held" is what its event history holds at the end.
void LocalizeAfterEvents(benchmark::State& state) {
  const SceneFrames* frames = sceneFrames();
  if (!frames) {
    state.SkipWithError("the two-talker scene is not in VELK_SCENES_DIR");
    return;
  }
  const int issued = static_cast<int>(state.range(0));
  const int pass = static_cast<int>(frames->audio.size());
  std::ostringstream discard;
  std::streambuf* saved = std::cout.rdbuf(discard.rdbuf());
  double usPerFrame = 0.0;
  size_t held = 0;
  for (auto _ : state) {
    PreparedFrames audio(frames->audio), spectra(frames->spectra);
    LocalizeBinaural node("localize", localizerParameters(true, false));
    node.connectInput(node.inputId("AUDIO"), &audio, 0);
    node.connectInput(node.inputId("SPECTRUM"), &spectra, 0);
    node.initialize();
    int count = 0;
    // The pipeline exists from the first frame on.
    auto issuedSoFar = [&] { return node.Pipeline() ? node.Pipeline()->History().lastEID : 0; };
    while (issuedSoFar() < issued || count % pass != 0) benchmark::DoNotOptimize(node.getOutput(0, count++));
    const double start = threadCpuSeconds();
    for (const int end = count + pass; count < end;) benchmark::DoNotOptimize(node.getOutput(0, count++));
    const double seconds = threadCpuSeconds() - start;
    state.SetIterationTime(seconds);
    usPerFrame += 1e6 * seconds / pass;
    held = node.Pipeline()->History().events.size();
  }
  std::cout.rdbuf(saved);
  state.counters["cpu_us_per_frame"] = usPerFrame / static_cast<double>(state.iterations());
  state.counters["events_held"] = static_cast<double>(held);
}

// What a finished child used: processor time (user and system) and peak resident memory.
struct ChildUsage {
  bool ok = false;
  double cpuSeconds = 0.0, maxRssMb = 0.0;
};

// Runs `command` with /bin/sh and waits for it, taking the usage of that one child.
ChildUsage runMeasured(const std::string& command) {
  ChildUsage result;
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.maxRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  return result;
}

// Arguments: copies of the scene (10: about 1 minute, 572: about 60 minutes), method (0 head
// model, 1 measured). The long input is made in a scratch folder with sox and removed after.
void LocalizeCommand(benchmark::State& state) {
  const SceneFrames* frames = sceneFrames();
  if (!frames) {
    state.SkipWithError("the two-talker scene is not in VELK_SCENES_DIR");
    return;
  }
  const long copies = state.range(0);
  TempDir scratch;
  if (scratch.path().empty()) {
    state.SkipWithError("cannot create a temporary directory");
    return;
  }
  const std::string& dir = scratch.path();
  const std::string input = dir + "/in.wav";
  const std::string make = "sox '" + scenePath() + "' '" + input + "' repeat " + std::to_string(copies - 1) + " 2>/dev/null";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("sox could not make the input");
    return;
  }
  const double seconds = static_cast<double>(frames->audio.size()) * kAdvance / kRate * static_cast<double>(copies);
  const std::string command = "exec '" + toolPath() + "' localize '" + input + "' --method " +
                              (state.range(1) ? "measured" : "epipolar") + " --json '" + dir +
                              "/sources.jsonl' --quiet >/dev/null 2>&1";
  double cpu = 0.0, maxRssMb = 0.0;
  for (auto _ : state) {
    const ChildUsage usage = runMeasured(command);
    if (!usage.ok) {
      state.SkipWithError(("the command failed: " + command).c_str());
      break;
    }
    cpu += usage.cpuSeconds;
    maxRssMb = std::max(maxRssMb, usage.maxRssMb);
  }
  const double audio = seconds * static_cast<double>(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
  // Audio seconds per second of processor time used by the command (user and system): what one
  // otherwise idle core would achieve.
  state.counters["x_realtime_cpu"] = cpu > 0 ? audio / cpu : 0.0;
  state.counters["audio_s"] = seconds;
  state.counters["max_rss_mb"] = maxRssMb;
}

BENCHMARK(StftFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(LocalizeFrame)
    ->ArgNames({"measured", "broadband"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LocalizeAfterEvents)->ArgName("events")->Arg(10)->Arg(10000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LocalizeCommand)
    ->ArgNames({"copies", "measured"})
    ->ArgsProduct({{10, 572}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
