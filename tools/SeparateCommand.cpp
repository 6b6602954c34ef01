// `velk-binaural separate IN.wav --out-dir DIR`: one sound file per talker of a two-ear recording.
//
// Builds the separation network in code and runs it. The talkers are either given
// (--directions 30,-30: one source per direction, ids 0, 1, ... in the order given) or found by
// the localiser and the talker tracker (--localize, optionally with the look-ahead filter of
// --delay that drops short-lived sources). For every source id the separator (--separator: soft
// masks over the whole band, or the pass band that keeps the bins whose interaural differences
// fit the direction) gives the spectrum of the ear on the source's side, and the result is
// written as DIR/source_<id>.wav, aligned with the input (silence where the source was absent).
// DIR/sources.json says which id is which direction. One source's sound can also be written as it
// is made (--out FILE, or - for standard output). Standard output carries a short summary
// (standard error when the sound goes to standard output); progress, the localiser's
// announcements and library diagnostics go to standard error.
#include <unistd.h>

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
#include "fd/SaveSeparatedStream.h"
#include "fd/Warning.h"
#include "fd/Plugin.h"
#include "fd/Values.h"

namespace velktool {

namespace {

const char* const kPassBandNode = "SeparateBinaural";
const char* const kMaskNode = "SeparateSoftMask";
const char* const kLocalizer = "LocalizeBinaural";
const char* const kFixedSources = "SourceMaker";
const char* const kDelayFilter = "DelaySourceFilter";
// The talker tracker's look-ahead for recordings, in frames (0.25 s at the default shift). Mean
// gain of the soft masks with localised directions, wide / room scenes, measured tables, two and
// three talkers (dB): 0 frames 8.51 7.99 / 2.81 2.10; 10: 9.70 9.53 / 3.37 2.42; 25: 9.92 9.69 /
// 3.55 2.71; 50: 9.93 9.80 / 3.55 2.79 (with the true directions: 10.04 10.18 / 3.42 4.23).
const int kRecordingLookaheadFrames = 25;

// The head-model pass band judges bins by interaural phase only, and only below this frequency,
// where the phase of a head-sized microphone pair is unambiguous; its output holds nothing above.
constexpr double kHeadModelMaxFrequencyHz = 1500.0;
// Frames at the start of a run that only teach the pass band the background noise; it outputs
// nothing for them.
constexpr int kNoiseLearningFrames = 10;

bool passBand(const SeparateOptions& options) { return options.separator == kPassBandSeparator; }

// The node type of the separator the options choose.
const char* separatorNode(const SeparateOptions& options) { return passBand(options) ? kPassBandNode : kMaskNode; }

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
  const char* separator = separatorNode(options);
  params.addNode(separator);
  const bool measured = options.method == "measured";
  const std::string table = options.table.empty() ? defaultTable() : options.table;
  params.set(separator, "SEPARATE_METHOD", measured ? "HRTFMESURED" : "EPIPOLAR");
  if (passBand(options)) {
    params.set(separator, "RANGE_MIN", decimal(options.rangeMinDeg));
    params.set(separator, "RANGE_MAX", decimal(options.rangeMaxDeg));
    // The pass band reads the table on its first frame whatever the method.
    params.set(separator, "VELK_DAT", table);
  } else if (measured) {
    params.set(separator, "VELK_DAT", table);
  }
  if (options.localize) {
    params.addNode(kLocalizer);
    params.addNode(kTalkerTracker);
    chooseCommandLineStages(params, kLocalizer);
    // A recording is separated from each talker's first direction on, not from when the tracker
    // had evidence enough; live sound is not held back.
    if (!options.input.live()) params.set(kTalkerTracker, "LOOKAHEAD", std::to_string(kRecordingLookaheadFrames));
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

// Integer parameter `name` of a node type as set, or as declared when it is not set.
int intOrDefault(const NetworkParameters& params, const std::string& nodeType, const std::string& name) {
  if (params.of(nodeType).exist(name)) return intParameter(params.of(nodeType), name);
  return std::get<int>(declaredDefault(nodeType, name));
}

// Refuses a setting of the separator that differs from the localiser's.
void checkShared(const NetworkParameters& params, const char* separator, const std::string& name, int separatorValue) {
  const int localizerValue = intParameter(params.of(kLocalizer), name);
  if (localizerValue != separatorValue)
    throw std::invalid_argument(name + " differs between " + std::string(kLocalizer) + " (" +
                                std::to_string(localizerValue) + ") and " + separator + " (" +
                                std::to_string(separatorValue) + "); set both with --param " + name + "=...");
}

Timing networkTiming(const SeparateOptions& options, const NetworkParameters& params) {
  const char* separator = separatorNode(options);
  // The pass band has no frame shift of its own; the soft masks turn times into frames with it.
  Timing timing{intOrDefault(params, separator, "SAMPLING_RATE"),
                passBand(options) ? std::get<int>(declaredDefault(kLocalizer, "ADVANCE"))
                                  : intOrDefault(params, separator, "ADVANCE")};
  if (options.localize) {
    checkShared(params, separator, "SAMPLING_RATE", timing.samplingRate);
    if (passBand(options))
      timing.advance = intParameter(params.of(kLocalizer), "ADVANCE");
    else
      checkShared(params, separator, "ADVANCE", timing.advance);
  }
  return timing;
}

// ---- the network ------------------------------------------------------------------------------------

// Node names of the network built here.
const char* const kSourceNode = "source";
const char* const kStftNode = "stft";
const char* const kSeparatorNode = "separate";
const char* const kSaveNode = "save";
const char* const kStreamNode = "out";

// Where a network's source lists come out.
struct Port {
  std::string node, output;
};

// The source id --out writes: --source, or the only direction given.
int chosenSource(const SeparateOptions& options) { return options.sourceId >= 0 ? options.sourceId : 0; }

// audio source -> STFT -> separator -> WAV writer and/or the writer of one source's sound, with the
// separator's sources from the fixed directions or from the localiser -> talker tracker
// (-> look-ahead filter). Returns the port of the source lists, which is a network output when the
// localiser finds the sources.
Port buildNetwork(FD::Network& net, const SeparateOptions& options, const NetworkParameters& params,
                  const Timing& timing) {
  addSourceNode(net, kSourceNode, options.input, timing.samplingRate, timing.advance, kFrameLength, "separate");
  FD::ParameterSet stft;
  stft.add("LENGTH", intValue(kFrameLength));
  stft.add("WINDOW", textValue("HANN"));
  FD::ParameterSet save;
  save.add("SAMPLING_RATE", intValue(timing.samplingRate));
  save.add("LENGTH", intValue(kFrameLength));
  save.add("ADVANCE", intValue(timing.advance));
  save.add("WINDOW", textValue("HANN"));

  net.addNode("MultiFFT", kStftNode, stft);
  net.connect(kSourceNode, "AUDIO", kStftNode, "INPUT");

  std::string sourcesNode;
  if (options.localize) {
    net.addNode(kLocalizer, "localize", params.of(kLocalizer));
    net.connect(kSourceNode, "AUDIO", "localize", "AUDIO");
    net.connect(kStftNode, "OUTPUT", "localize", "SPECTRUM");
    net.addNode(kTalkerTracker, "track", params.of(kTalkerTracker));
    net.connect("localize", "SOURCES", "track", "INPUT");
    sourcesNode = "track";
    if (options.delay >= 0) {
      net.addNode(kDelayFilter, "filter", params.of(kDelayFilter));
      net.connect("track", "OUTPUT", "filter", "INPUT");
      sourcesNode = "filter";
    }
  } else {
    net.addNode(kFixedSources, "directions", params.of(kFixedSources));
    sourcesNode = "directions";
  }
  const std::string sourcesOutput = "OUTPUT";  // of every node that may give the sources

  net.addNode(separatorNode(options), kSeparatorNode, params.of(separatorNode(options)));
  net.connect(kStftNode, "OUTPUT", kSeparatorNode, "SPECTRUM");
  net.connect(sourcesNode, sourcesOutput, kSeparatorNode, "SOURCES");
  if (!options.outDir.empty()) {
    FD::ParameterSet files = save;
    files.add("PREFIX", textValue(options.outDir + "/source"));
    net.addNode("SaveSeparatedWaves", kSaveNode, files);
    net.connect(kSeparatorNode, "OUTPUT", kSaveNode, "INPUT");
    net.addOutput(kSaveNode, "OUTPUT");
  }
  if (!options.out.empty()) {
    FD::ParameterSet stream = save;
    stream.add("FILENAME", textValue(options.out));
    stream.add("SOURCE_ID", intValue(chosenSource(options)));
    stream.add("CONTAINER", textValue(options.outFormat == "WAV" ? "WAV" : "RAW"));
    stream.add("SAMPLE_FORMAT", textValue(options.outFormat == "F32_LE" ? "FLOAT" : "PCM16"));
    net.addNode("SaveSeparatedStream", kStreamNode, stream);
    net.connect(kSeparatorNode, "OUTPUT", kStreamNode, "INPUT");
    net.addOutput(kStreamNode, "OUTPUT");
  }
  if (options.localize) net.addOutput(sourcesNode, sourcesOutput);
  return Port{sourcesNode, sourcesOutput};
}

// ---- what was separated ---------------------------------------------------------------------------

// The ear a separated spectrum comes from: the one on the source's side, the right one straight
// ahead (as both separators choose it).
const char* earOf(double azimuthDeg) { return azimuthDeg > 0.0 ? "left" : "right"; }

// Per id, the frames on which the separator output it and the direction it had there (from the
// source lists as recorded), gathered frame by frame. Ids of a list that the separator did not
// output (the pass band while it was still learning the noise) are not counted.
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
  char line[512];
  std::snprintf(line, sizeof line, "%s: %.2f s, %ld frames, separator %s, method %s, %s\n",
                options.input.describe().c_str(), durationSec, frames, options.separator.c_str(),
                options.method.c_str(), options.localize ? "localised sources" : "given directions");
  out << line;
  if (sources.empty()) {
    out << "no source found\n";
  } else {
    const bool files = !options.outDir.empty();
    std::snprintf(line, sizeof line, "%4s %9s %8s %8s %7s  %s\n", "id", "azimuth", "from_s", "to_s", "frames",
                  files ? "file" : "");
    out << line;
    for (const SeparatedSource& s : sources) {
      const std::string file = files ? options.outDir + "/" + s.file : "";
      std::snprintf(line, sizeof line, "%4d %+9.1f %8.2f %8.2f %7ld  %s\n", s.id, s.azimuthDeg, s.firstSec, s.lastSec,
                    s.frames, file.c_str());
      out << line;
    }
  }
  if (!options.outDir.empty()) out << "sources: " << options.outDir << "/sources.json\n";
  if (!options.out.empty())
    out << "source " << chosenSource(options) << ": " << (options.out == "-" ? "standard output" : options.out) << "\n";
}

// Whether `name` is one of the files a run writes into the output folder.
bool isOutputName(const std::string& name) {
  static const std::regex pattern("source_-?[0-9]+\\.wav|sources\\.json");
  return std::regex_match(name, pattern);
}

// What --out, --source and --out-format need.
void checkStreamOptions(const SeparateOptions& options) {
  if (options.outDir.empty() && options.out.empty())
    throw UsageError("give --out-dir DIR (a file per source), --out FILE or - (one source's sound), or both");
  if (options.out.empty()) {
    for (const char* option : {"--source", "--out-format"})
      if (options.given.has(option)) throw UsageError(std::string(option) + " chooses what --out writes; give --out");
    return;
  }
  if (options.sourceId < 0 && (options.localize || options.directionsDeg.size() != 1))
    throw UsageError("--out writes one source: choose it with --source ID" +
                     std::string(options.localize ? " (an id of the localiser; the first talker found gets 1)"
                                                  : " (0 for the first of --directions)") +
                     ", or give exactly one direction");
  if (!options.localize && options.sourceId >= static_cast<int>(options.directionsDeg.size()))
    throw UsageError("--source " + std::to_string(options.sourceId) + " is not a source: --directions gives ids 0 to " +
                     std::to_string(options.directionsDeg.size() - 1));
  if (options.out == "-" && isatty(STDOUT_FILENO))
    throw UsageError("--out - writes sound to standard output, which is a terminal; redirect it to a file or a pipe");
}

// The options that contradict each other or the files, before anything is run.
void checkOptions(const SeparateOptions& options) {
  for (const char* option : {"--range-min", "--range-max"})
    if (options.given.has(option) && !passBand(options))
      throw UsageError(std::string(option) + " sets the pass band's width; it needs --separator " + kPassBandSeparator);
  // The soft masks of the head model read no table: a --tf given there would be ignored.
  if (options.given.has("--tf") && !passBand(options) && options.method != "measured")
    throw UsageError("--tf is used only with --method measured (or --separator " + std::string(kPassBandSeparator) + ")");
  if (options.rangeMinDeg > options.rangeMaxDeg)
    throw UsageError("--range-min " + plainNumber(options.rangeMinDeg) + " is above --range-max " +
                     plainNumber(options.rangeMaxDeg) + (options.given.has("--range-max") ? "" : " (the default)") +
                     ": the pass band straight ahead may be at most as wide as at the sides");
  checkStreamOptions(options);
  std::vector<NamedFile> inputs;
  if (!options.input.live()) inputs.push_back({"input recording", options.input.path});
  if (!options.table.empty()) inputs.push_back({"table (--tf)", options.table});
  if (!options.out.empty() && options.out != "-") {
    refuseInputsAsOutputs({{"--out", options.out}}, inputs);
    refuseUnwritable({{"--out", options.out}});
  }
  if (options.outDir.empty()) return;
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
  // Standard output carries the sound when asked to; the summary then goes to standard error.
  std::ostream& report = options.out == "-" ? std::cerr : std::cout;
  printSummary(report, options, run.frames, run.durationSec, run.sources);
  report.flush();
  return 0;
}

}  // namespace

SeparationRun runSeparation(const SeparateOptions& options) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = nodeParameters(options);
  const Timing timing = networkTiming(options, params);
  checkInput(options.input, timing.samplingRate);
  // From here on Ctrl-C ends a stream, even one whose header has not arrived yet.
  StopOnSignals signals;
  // Made here, removed again if the run fails.
  std::unique_ptr<CreatedFolder> folder;
  if (!options.outDir.empty()) folder = std::make_unique<CreatedFolder>(options.outDir);
  InputWarnings warnings(options.diagnostics.strict);

  const double frameSec = static_cast<double>(timing.advance) / timing.samplingRate;
  SeparatedTally tally(options, frameSec);
  SeparationRun run;
  FD::Network net;
  const Port lists = buildNetwork(net, options, params, timing);
  run.frames = runWithProgress(net, options.diagnostics, [&](long count) {
    const int frame = static_cast<int>(count);
    // Both writers pass the separated spectra on.
    const FD::ObjectRef separated = net.output(options.outDir.empty() ? kStreamNode : kSaveNode, "OUTPUT", frame);
    const auto* map = dynamic_cast<const FD::Map<int, FD::ObjectRef>*>(separated.get());
    if (!options.localize) {
      tally.add(count, map, nullptr);
      return;
    }
    // The directions of localised sources come from the source lists the network outputs.
    const FrameSources list = frameSources(net.output(lists.node, lists.output, frame), count, count * frameSec);
    tally.add(count, map, &list);
  });
  if (passBand(options) && !options.localize && tally.empty())
    throw std::runtime_error(options.input.describe() + " is too short to separate: its first " +
                             std::to_string(kNoiseLearningFrames) + " frames (" + decimal(kNoiseLearningFrames * frameSec) +
                             " s) only teach the separator the background noise");
  run.durationSec = run.frames * frameSec;
  run.sources = tally.sources();
  const bool lowBandOnly = passBand(options) && options.method != "measured";
  const double maxFrequencyHz =
      lowBandOnly ? std::min(kHeadModelMaxFrequencyHz, timing.samplingRate / 2.0) : timing.samplingRate / 2.0;
  if (!options.out.empty()) {
    const auto* stream = dynamic_cast<const FD::SaveSeparatedStream*>(net.node(kStreamNode));
    if (stream && stream->framesHeard() == 0)
      FD::warn("source " + std::to_string(chosenSource(options)) + " was never separated: --out " + options.out +
               " holds silence");
  }
  // The separated files and the list take their places together, once all of them are written.
  std::unique_ptr<StagedText> list;
  if (folder) list = std::make_unique<StagedText>(options.outDir + "/sources.json", sourcesJson(run.sources, maxFrequencyHz));
  net.commit();
  if (list) list->commit();
  if (folder) folder->keep();
  return run;
}

void addSeparateCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<SeparateOptions>();
  CLI::App* cmd = app.add_subcommand(
      "separate",
      "Separate the talkers of a 2-channel recording (channel 0 = left ear): writes one WAV per source, "
      "DIR/source_<id>.wav, aligned with the input, and DIR/sources.json (id, azimuth, file), and/or one source's "
      "sound as it is made (--out). IN - (or --device) is heard as it arrives.");
  addInputOptions(*cmd, options->input);
  cmd->add_option("--out-dir,-o", options->outDir, "folder for the separated WAVs and sources.json (made if missing)");
  cmd->add_option("--out", options->out,
                  "write one source's sound to this file, or to standard output with -, as it is made (the summary "
                  "then goes to standard error)");
  cmd->add_option("--source", options->sourceId, "the source --out writes (default: the only one of --directions)")
      ->check(WholeNumber({0, 1e9}, "a source id"));
  cmd->add_option("--out-format", options->outFormat,
                  "what --out writes: WAV (16-bit, a streaming header on a pipe), or headerless S16_LE or F32_LE")
      ->check(CLI::IsMember({"WAV", "S16_LE", "F32_LE"}))
      ->capture_default_str();
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
  cmd->add_option("--separator", options->separator,
                  "soft masks over the whole band, learnt from the recording (mask), or the bins that fit a band of "
                  "directions around each talker (passband)")
      ->check(CLI::IsMember({kMaskSeparator, kPassBandSeparator}))
      ->capture_default_str();
  cmd->add_option("--method", options->method, "direction model: spherical head (epipolar) or measured tables")
      ->check(CLI::IsMember({"epipolar", "measured"}))
      ->capture_default_str();
  cmd->add_option("--tf", options->table,
                  "transfer-function table (default: " + defaultTable() +
                      "); read with the measured method, and by the pass band with either");
  cmd->add_option("--range-min", options->rangeMinDeg,
                  "with --separator passband: pass-band half-width for a talker straight ahead, degrees")
      ->check(RealNumber({0, 90}, "a pass-band half-width in degrees"))
      ->capture_default_str();
  cmd->add_option("--range-max", options->rangeMaxDeg,
                  "with --separator passband: pass-band half-width for a talker at +-90 degrees, degrees (at least "
                  "--range-min)")
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
