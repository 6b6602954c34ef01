// `velk-binaural separate IN.wav --out-dir DIR`: one sound file per talker of a two-ear recording.
//
// Builds the separation network in code and runs it. The talkers are either given
// (--directions 30,-30: one source per direction, ids 0, 1, ... in the order given) or found by
// the localiser (--localize, optionally with the look-ahead filter of --delay that drops
// short-lived sources). For every source id the separator keeps the bins whose interaural
// differences fit the source's direction, in the spectrum of the ear on the source's side, and
// the result is written as DIR/source_<id>.wav, aligned with the input (silence where the source
// was absent). DIR/sources.json says which id is which direction. Standard output carries a
// short summary; progress, the localiser's announcements and library diagnostics go to standard
// error.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "LocalizeRun.h"
#include "NodeParameterBuilder.h"
#include "OptionChecks.h"
#include "Outputs.h"
#include "SeparateRun.h"
#include "SourceTracks.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/Plugin.h"
#include "fd/Values.h"

namespace velktool {

namespace {

const char* const kSeparator = "SeparateBinaural";
const char* const kLocalizer = "LocalizeBinaural";
const char* const kFixedSources = "SourceMaker";
const char* const kDelayFilter = "DelaySourceFilter";

// The head-model separator judges bins by interaural phase only, and only below this frequency,
// where the phase of a head-sized microphone pair is unambiguous; its output holds nothing above.
constexpr double kHeadModelMaxFrequencyHz = 1500.0;
// Frame length (and transform length) of the network, samples; the example tables match it.
constexpr int kFrameLength = 512;
// Frames at the start of a run that only learn the background noise; the separator outputs
// nothing for them.
constexpr int kNoiseLearningFrames = 10;

// ---- parameters -----------------------------------------------------------------------------------

std::string joinDirections(const std::vector<double>& directionsDeg) {
  std::ostringstream text;
  text.precision(9);
  for (size_t i = 0; i < directionsDeg.size(); ++i) text << (i ? "," : "") << directionsDeg[i];
  return text.str();
}

std::string decimal(double v) {
  std::ostringstream text;
  text.precision(9);
  text << std::showpoint << v;
  return text.str();
}

// The plug-in nodes' parameters: defaults, then the command's options, then --param overrides.
NetworkParameters nodeParameters(const SeparateOptions& options) {
  NetworkParameters params;
  // A --param for what an option given on the command line sets contradicts it.
  for (const auto& [option, parameter] : std::vector<std::pair<std::string, std::string>>{
           {"--method", "SEPARATE_METHOD"}, {"--method", "LOCALIZE_METHOD"}, {"--tf", "VELK_DAT"},
           {"--range-min", "RANGE_MIN"}, {"--range-max", "RANGE_MAX"}, {"--directions", "DIRECTIONS"},
           {"--delay", "DELAY"}})
    if (options.given.has(option)) params.claim(parameter, option);
  params.addNode(kSeparator);
  const bool measured = options.method == "measured";
  const std::string table = options.table.empty() ? defaultTable() : options.table;
  params.set(kSeparator, "RANGE_MIN", decimal(options.rangeMinDeg));
  params.set(kSeparator, "RANGE_MAX", decimal(options.rangeMaxDeg));
  params.set(kSeparator, "SEPARATE_METHOD", measured ? "HRTFMESURED" : "EPIPOLAR");
  // The separator reads the table on its first frame whatever the method.
  params.set(kSeparator, "VELK_DAT", table);
  if (options.localize) {
    params.addNode(kLocalizer);
    chooseCommandLineStages(params, kLocalizer);
    if (measured) {
      params.set(kLocalizer, "LOCALIZE_METHOD", "HRTFMESURED");
      params.set(kLocalizer, "VELK_DAT", table);
      params.set(kLocalizer, "VELK_DAT_CHANNELS", "0,1");
    }
    if (options.delay >= 0) {
      params.addNode(kDelayFilter);
      params.set(kDelayFilter, "DELAY", std::to_string(options.delay));
    }
  } else {
    params.addNode(kFixedSources);
    params.set(kFixedSources, "DIRECTIONS", joinDirections(options.directionsDeg));
  }
  for (const std::string& assignment : options.params) params.assign(assignment);
  return params;
}

// Sampling rate and frame shift of the whole network. With the localiser they are its own
// (possibly overridden) settings, which the separator must share.
struct Timing {
  int samplingRate, advance;
};

Timing networkTiming(const SeparateOptions& options, const NetworkParameters& params) {
  Timing timing{intParameter(params.of(kSeparator), "SAMPLING_RATE"),
                std::get<int>(declaredDefault(kLocalizer, "ADVANCE"))};
  if (options.localize) {
    const int localizerRate = intParameter(params.of(kLocalizer), "SAMPLING_RATE");
    if (localizerRate != timing.samplingRate)
      throw std::invalid_argument("SAMPLING_RATE differs between " + std::string(kLocalizer) + " (" +
                                  std::to_string(localizerRate) + ") and " + kSeparator + " (" +
                                  std::to_string(timing.samplingRate) + "); set both with --param SAMPLING_RATE=...");
    timing.advance = intParameter(params.of(kLocalizer), "ADVANCE");
  }
  return timing;
}

// ---- the network ------------------------------------------------------------------------------------

// Node names of the network built here.
const char* const kSourceNode = "source";
const char* const kStftNode = "stft";
const char* const kSeparatorNode = "separate";
const char* const kSaveNode = "save";

// Where a network's source lists come out.
struct Port {
  std::string node, output;
};

// audio file -> STFT -> separator -> WAV writer, with the separator's sources from the fixed
// directions or from the localiser (-> look-ahead filter). Returns the port of the source lists,
// which is a network output when the localiser finds the sources.
Port buildNetwork(FD::Network& net, const SeparateOptions& options, const NetworkParameters& params,
                  const Timing& timing) {
  FD::ParameterSet source;
  source.add("FILENAME", textValue(options.input));
  source.add("SAMPLING_RATE", intValue(timing.samplingRate));
  source.add("CHANNELS", intValue(2));
  source.add("LENGTH", intValue(kFrameLength));
  source.add("ADVANCE", intValue(timing.advance));
  FD::ParameterSet stft;
  stft.add("LENGTH", intValue(kFrameLength));
  stft.add("WINDOW", textValue("HANN"));
  FD::ParameterSet save;
  save.add("PREFIX", textValue(options.outDir + "/source"));
  save.add("SAMPLING_RATE", intValue(timing.samplingRate));
  save.add("LENGTH", intValue(kFrameLength));
  save.add("ADVANCE", intValue(timing.advance));
  save.add("WINDOW", textValue("HANN"));

  net.addNode("AudioFileSource", kSourceNode, source);
  net.addNode("MultiFFT", kStftNode, stft);
  net.connect(kSourceNode, "AUDIO", kStftNode, "INPUT");

  std::string sourcesNode;
  if (options.localize) {
    net.addNode(kLocalizer, "localize", params.of(kLocalizer));
    net.connect(kSourceNode, "AUDIO", "localize", "AUDIO");
    net.connect(kStftNode, "OUTPUT", "localize", "SPECTRUM");
    sourcesNode = "localize";
    if (options.delay >= 0) {
      net.addNode(kDelayFilter, "filter", params.of(kDelayFilter));
      net.connect("localize", "SOURCES", "filter", "INPUT");
      sourcesNode = "filter";
    }
  } else {
    net.addNode(kFixedSources, "directions", params.of(kFixedSources));
    sourcesNode = "directions";
  }
  const std::string sourcesOutput = sourcesNode == "localize" ? "SOURCES" : "OUTPUT";

  net.addNode(kSeparator, kSeparatorNode, params.of(kSeparator));
  net.connect(kStftNode, "OUTPUT", kSeparatorNode, "SPECTRUM");
  net.connect(sourcesNode, sourcesOutput, kSeparatorNode, "SOURCES");
  net.addNode("SaveSeparatedWaves", kSaveNode, save);
  net.connect(kSeparatorNode, "OUTPUT", kSaveNode, "INPUT");
  net.addOutput(kSaveNode, "OUTPUT");
  if (options.localize) net.addOutput(sourcesNode, sourcesOutput);
  return Port{sourcesNode, sourcesOutput};
}

// ---- what was separated ---------------------------------------------------------------------------

// The ear a separated spectrum comes from: the one on the source's side, the right one straight
// ahead (as the separator chooses it).
const char* earOf(double azimuthDeg) { return azimuthDeg > 0.0 ? "left" : "right"; }

// Per id, the frames on which the separator output it and the direction it had there (from the
// source lists as recorded), gathered frame by frame. Ids of a list that the separator did not
// output (while it was still learning the noise) are not counted.
class SeparatedTally {
 public:
  SeparatedTally(const SeparateOptions& options, double frameSec) : options_(options), frameSec_(frameSec) {}

  // The ids the separator output on frame `frame`, and the frame's source list (with --localize).
  void add(long frame, const FD::Map<int, FD::ObjectRef>* separated, const FrameSources* list) {
    if (!separated) return;
    for (const auto& entry : *separated) {
      Entry& e = entries_[entry.first];
      if (e.frames++ == 0) e.first = frame;
      e.last = frame;
      if (!list) continue;
      // The separator keeps the first record of an id in the list; so does this.
      for (const SourceAt& at : list->sources)
        if (at.id == entry.first) {
          e.azimuthSum += at.azimuthDeg;
          ++e.azimuths;
          break;
        }
    }
  }

  bool empty() const { return entries_.empty(); }

  std::vector<SeparatedSource> sources() const {
    std::vector<SeparatedSource> result;
    for (const auto& [id, e] : entries_) {
      SeparatedSource s;
      s.id = id;
      s.frames = e.frames;
      s.firstSec = e.first * frameSec_;
      s.lastSec = e.last * frameSec_;
      s.file = "source_" + std::to_string(id) + ".wav";
      if (!options_.localize && id >= 0 && static_cast<size_t>(id) < options_.directionsDeg.size())
        s.azimuthDeg = options_.directionsDeg[static_cast<size_t>(id)];
      else
        s.azimuthDeg = e.azimuths > 0 ? e.azimuthSum / e.azimuths : NAN;
      result.push_back(s);
    }
    return result;
  }

 private:
  struct Entry {
    long frames = 0, first = 0, last = 0;
    double azimuthSum = 0.0;
    long azimuths = 0;
  };
  const SeparateOptions& options_;
  double frameSec_;
  std::map<int, Entry> entries_;
};

std::string sourcesJson(const std::vector<SeparatedSource>& sources, double maxFrequencyHz) {
  nlohmann::json list = nlohmann::json::array();
  for (const SeparatedSource& s : sources)
    list.push_back({{"id", s.id},
                    {"azimuth", s.azimuthDeg},
                    {"file", s.file},
                    {"ear", earOf(s.azimuthDeg)},
                    {"frames", s.frames},
                    {"from_s", s.firstSec},
                    {"to_s", s.lastSec},
                    {"max_frequency_hz", maxFrequencyHz}});
  return list.dump(2) + "\n";
}

void printSummary(std::ostream& out, const SeparateOptions& options, long frames, double durationSec,
                  const std::vector<SeparatedSource>& sources) {
  char line[256];
  std::snprintf(line, sizeof line, "%s: %.2f s, %ld frames, method %s, %s\n", options.input.c_str(), durationSec, frames,
                options.method.c_str(), options.localize ? "localised sources" : "given directions");
  out << line;
  if (sources.empty()) {
    out << "no source found\n";
  } else {
    std::snprintf(line, sizeof line, "%4s %9s %8s %8s %7s  %s\n", "id", "azimuth", "from_s", "to_s", "frames", "file");
    out << line;
    for (const SeparatedSource& s : sources) {
      std::snprintf(line, sizeof line, "%4d %+9.1f %8.2f %8.2f %7ld  %s/%s\n", s.id, s.azimuthDeg, s.firstSec, s.lastSec,
                    s.frames, options.outDir.c_str(), s.file.c_str());
      out << line;
    }
  }
  out << "sources: " << options.outDir << "/sources.json\n";
}

// Whether `name` is one of the files a run writes into the output folder.
bool isOutputName(const std::string& name) {
  static const std::regex pattern("source_-?[0-9]+\\.wav|sources\\.json");
  return std::regex_match(name, pattern);
}

// The options that contradict each other or the files, before anything is run.
void checkOptions(const SeparateOptions& options) {
  if (options.rangeMinDeg > options.rangeMaxDeg)
    throw UsageError("--range-min " + plainNumber(options.rangeMinDeg) + " is above --range-max " +
                     plainNumber(options.rangeMaxDeg) + (options.given.has("--range-max") ? "" : " (the default)") +
                     ": the pass band straight ahead may be at most as wide as at the sides");
  std::vector<NamedFile> inputs{{"input recording", options.input}};
  if (!options.table.empty()) inputs.push_back({"table (--tf)", options.table});
  // An input inside the output folder under a name the run writes would be replaced.
  const std::optional<fileio::FileId> folder = fileio::fileId(options.outDir);
  for (const NamedFile& in : inputs) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(in.path, ec);
    if (ec || !folder || !isOutputName(real.filename().string())) continue;
    if (fileio::fileId(real.parent_path().string()) == folder)
      throw UsageError("the " + in.option + " " + in.path + " lies in --out-dir " + options.outDir +
                       " under a name separate writes there (source_<id>.wav, sources.json); choose another --out-dir");
  }
}

int separate(const SeparateOptions& options) {
  checkOptions(options);
  const SeparationRun run = runSeparation(options);
  printSummary(std::cout, options, run.frames, run.durationSec, run.sources);
  std::cout.flush();
  return 0;
}

}  // namespace

SeparationRun runSeparation(const SeparateOptions& options) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = nodeParameters(options);
  const Timing timing = networkTiming(options, params);
  const std::string problem = recordingProblem(options.input, timing.samplingRate, "separate");
  if (!problem.empty()) throw std::runtime_error(problem);
  // Made here, removed again if the run fails.
  CreatedFolder folder(options.outDir);
  InputWarnings warnings(options.diagnostics.strict);

  const double frameSec = static_cast<double>(timing.advance) / timing.samplingRate;
  SeparatedTally tally(options, frameSec);
  SeparationRun run;
  FD::Network net;
  const Port lists = buildNetwork(net, options, params, timing);
  run.frames = runWithProgress(net, options.diagnostics, [&](long count) {
    const int frame = static_cast<int>(count);
    const FD::ObjectRef separated = net.output(kSaveNode, "OUTPUT", frame);
    const auto* map = dynamic_cast<const FD::Map<int, FD::ObjectRef>*>(separated.get());
    if (!options.localize) {
      tally.add(count, map, nullptr);
      return;
    }
    // The directions of localised sources come from the source lists the network outputs.
    const FrameSources list = frameSources(net.output(lists.node, lists.output, frame), count, count * frameSec);
    tally.add(count, map, &list);
  });
  if (!options.localize && tally.empty())
    throw std::runtime_error(options.input + " is too short to separate: its first " +
                             std::to_string(kNoiseLearningFrames) + " frames (" + decimal(kNoiseLearningFrames * frameSec) +
                             " s) only teach the separator the background noise");
  run.durationSec = run.frames * frameSec;
  run.sources = tally.sources();
  const double maxFrequencyHz =
      options.method == "measured" ? timing.samplingRate / 2.0 : std::min(kHeadModelMaxFrequencyHz, timing.samplingRate / 2.0);
  // The separated files and the list take their places together, once all of them are written.
  StagedText list(options.outDir + "/sources.json", sourcesJson(run.sources, maxFrequencyHz));
  net.commit();
  list.commit();
  folder.keep();
  return run;
}

void addSeparateCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<SeparateOptions>();
  CLI::App* cmd = app.add_subcommand(
      "separate",
      "Separate the talkers of a 2-channel recording (channel 0 = left ear): writes one WAV per source, "
      "DIR/source_<id>.wav, aligned with the input, and DIR/sources.json (id, azimuth, file).");
  cmd->add_option("IN", options->input, "2-channel recording (WAV, FLAC, ...)")->required();
  cmd->add_option("--out-dir,-o", options->outDir, "folder for the separated WAVs and sources.json (made if missing)")
      ->required();
  CLI::Option* directions =
      cmd->add_option("--directions", options->directionsDeg,
                      "the talkers' azimuths in degrees, positive to the left, e.g. 30,-30 (ids 0, 1, ... in this order)")
          ->delimiter(',')
          ->check(RealNumber({-90, 90}, "a talker azimuth in degrees"));
  CLI::Option* localize =
      cmd->add_flag("--localize", options->localize, "find the talkers with the localiser instead of giving directions");
  directions->excludes(localize);
  cmd->add_option("--delay", options->delay,
                  "with --localize: drop sources that do not persist over this many look-ahead frames (off when not given)")
      ->check(WholeNumber({0, 1000}, "a number of look-ahead frames"))
      ->needs(localize);
  cmd->add_option("--method", options->method, "direction model: spherical head (epipolar) or measured tables")
      ->check(CLI::IsMember({"epipolar", "measured"}))
      ->capture_default_str();
  cmd->add_option("--tf", options->table,
                  "transfer-function table (default: " + defaultTable() + "); read with either method");
  cmd->add_option("--range-min", options->rangeMinDeg, "pass-band half-width for a talker straight ahead, degrees")
      ->check(RealNumber({0, 90}, "a pass-band half-width in degrees"))
      ->capture_default_str();
  cmd->add_option("--range-max", options->rangeMaxDeg,
                  "pass-band half-width for a talker at +-90 degrees, degrees (at least --range-min)")
      ->check(RealNumber({0, 90}, "a pass-band half-width in degrees"))
      ->capture_default_str();
  cmd->add_option("--param", options->params,
                  "set a node parameter, NAME=VALUE for every node that has it or NODE.NAME=VALUE for one node type "
                  "(repeatable; see `velk-binaural nodes`)");
  addDiagnosticOptions(*cmd, options->diagnostics);
  cmd->callback([options, cmd, &status, directions, localize] {
    if (directions->count() == 0 && localize->count() == 0)
      throw CLI::ValidationError("separate", "give the talkers' directions (--directions 30,-30) or --localize");
    options->given.record(*cmd);
    status.code = reportFailures([&] { return separate(*options); }, options->diagnostics.verbose);
  });
}

}  // namespace velktool
