// `velk-binaural localize IN.wav`: finds who spoke from where, and when, in a two-ear recording.
//
// Builds the standard localisation network in code (audio file -> STFT -> LocalizeBinaural ->
// source recorder), runs it, and summarises the sources found: one line per source id with its
// median direction and when it was heard. The per-frame sources can be kept as JSON lines
// (--json) and drawn as azimuth against time (--plot). Standard output carries only the summary;
// progress, the localiser's announcements and library diagnostics go to standard error.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AzimuthPlot.h"
#include "Commands.h"
#include "LocalizeDefaults.h"
#include "OptionChecks.h"
#include "Outputs.h"
#include "SourceTracks.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/Plugin.h"
#include "fd/Values.h"

namespace velktool {

// `velk-binaural render`, the companion that makes two-ear test recordings (RenderCommand.cpp).
void addRenderCommand(CLI::App& app, Status& status);

namespace {

const char* const kNodeType = "LocalizeBinaural";

struct LocalizeOptions {
  std::string input;
  std::string method = "epipolar";
  std::string table;  // empty: the default measured table
  std::vector<int> channels{0, 1};
  std::vector<std::string> params;
  std::string jsonOut, plotOut;
  std::vector<double> truthDeg;
  Diagnostics diagnostics;
  GivenOptions given;
};

// The localiser's parameters: the defaults, the method, then --param overrides, each typed as
// the node's description says.
NetworkParameters localizerParameters(const LocalizeOptions& options) {
  NetworkParameters params;
  params.addNode(kNodeType);
  for (const DefaultParameter& d : localizeDefaults()) params.set(kNodeType, d.name, d.value);
  if (options.given.has("--method")) params.claim("LOCALIZE_METHOD", "--method " + options.method);
  if (options.given.has("--tf")) params.claim("VELK_DAT", "--tf");
  if (options.given.has("--channels")) params.claim("VELK_DAT_CHANNELS", "--channels");
  if (options.method == "measured") {
    params.set(kNodeType, "LOCALIZE_METHOD", "HRTFMESURED");
    params.set(kNodeType, "VELK_DAT", options.table.empty() ? defaultTable() : options.table);
    params.set(kNodeType, "VELK_DAT_CHANNELS",
               std::to_string(options.channels[0]) + "," + std::to_string(options.channels[1]));
  }
  for (const std::string& assignment : options.params) params.assign(assignment);
  return params;
}

void buildNetwork(FD::Network& net, const std::string& input, const FD::ParameterSet& localizer,
                  const std::string& jsonPath) {
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const int advance = intParameter(localizer, "ADVANCE");
  FD::ParameterSet source;
  source.add("FILENAME", textValue(input));
  source.add("SAMPLING_RATE", intValue(fs));
  source.add("CHANNELS", intValue(2));
  source.add("LENGTH", intValue(kFrameLength));
  source.add("ADVANCE", intValue(advance));
  FD::ParameterSet stft;
  stft.add("LENGTH", intValue(kFrameLength));
  stft.add("WINDOW", textValue("HANN"));
  FD::ParameterSet recorder;
  recorder.add("FILENAME", textValue(jsonPath));
  recorder.add("SAMPLING_RATE", intValue(fs));
  recorder.add("ADVANCE", intValue(advance));

  net.addNode("AudioFileSource", "source", source);
  net.addNode("MultiFFT", "stft", stft);
  net.addNode(kNodeType, "localize", localizer);
  net.addNode("SourceRecorder", "recorder", recorder);
  net.connect("source", "AUDIO", "stft", "INPUT");
  net.connect("source", "AUDIO", "localize", "AUDIO");
  net.connect("stft", "OUTPUT", "localize", "SPECTRUM");
  net.connect("localize", "SOURCES", "recorder", "INPUT");
  net.addOutput("recorder", "OUTPUT");
}

// ---- the summary --------------------------------------------------------------------------------

std::string signedDeg(double deg) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f", deg);
  return text;
}

void printTracks(std::ostream& out, const std::vector<Track>& tracks) {
  if (tracks.empty()) {
    out << "no source found\n";
    return;
  }
  char line[128];
  std::snprintf(line, sizeof line, "%4s %9s %8s %8s %7s\n", "id", "azimuth", "from_s", "to_s", "frames");
  out << line;
  for (const Track& t : tracks) {
    std::snprintf(line, sizeof line, "%4d %9s %8.2f %8.2f %7ld\n", t.id, signedDeg(t.medianAzimuthDeg).c_str(),
                  t.firstSec, t.lastSec, t.frames);
    out << line;
  }
}

// For each true direction, the source whose median direction lies nearest, among the sources
// heard on at least a tenth as many frames as the longest one (short flickers are not talkers).
void printAgainstTruth(std::ostream& out, const std::vector<Track>& tracks, const std::vector<double>& truthDeg) {
  long longest = 0;
  for (const Track& t : tracks) longest = std::max(longest, t.frames);
  char line[128];
  std::snprintf(line, sizeof line, "%8s %9s %4s %7s\n", "true", "found", "id", "error");
  out << "\n" << line;
  for (double truth : truthDeg) {
    const Track* best = nullptr;
    for (const Track& t : tracks)
      if (t.frames * 10 >= longest &&
          (!best || std::fabs(t.medianAzimuthDeg - truth) < std::fabs(best->medianAzimuthDeg - truth)))
        best = &t;
    if (best)
      std::snprintf(line, sizeof line, "%8s %9s %4d %7.1f\n", signedDeg(truth).c_str(),
                    signedDeg(best->medianAzimuthDeg).c_str(), best->id, std::fabs(best->medianAzimuthDeg - truth));
    else
      std::snprintf(line, sizeof line, "%8s %9s %4s %7s\n", signedDeg(truth).c_str(), "-", "-", "-");
    out << line;
  }
}

std::string baseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The options that contradict each other or the files, before anything is run.
void checkOptions(const LocalizeOptions& options) {
  for (const char* option : {"--tf", "--channels"})
    if (options.given.has(option) && options.method != "measured")
      throw UsageError(std::string(option) + " is used only with --method measured (the head model reads no table)");
  std::vector<NamedFile> inputs{{"input recording", options.input}};
  if (!options.table.empty()) inputs.push_back({"table (--tf)", options.table});
  std::vector<NamedFile> outputs;
  if (!options.jsonOut.empty()) outputs.push_back({"--json", options.jsonOut});
  if (!options.plotOut.empty()) outputs.push_back({"--plot", options.plotOut});
  refuseInputsAsOutputs(outputs, inputs);
  if (options.jsonOut == options.plotOut && !options.jsonOut.empty())
    throw UsageError("--json and --plot name the same file " + options.jsonOut);
  refuseUnwritable(outputs);
}

// "measured" or "epipolar", as the localiser's parameters finally say.
std::string methodOf(const FD::ParameterSet& localizer) {
  const auto* method = dynamic_cast<const FD::String*>(localizer.get("LOCALIZE_METHOD").get());
  return method && method->str() == "HRTFMESURED" ? "measured" : "epipolar";
}

int localize(const LocalizeOptions& options) {
  checkOptions(options);
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = localizerParameters(options);
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const std::string problem = recordingProblem(options.input, fs, "localize");
  if (!problem.empty()) return fail(problem);
  const std::string method = methodOf(localizer);

  InputWarnings warnings(options.diagnostics.strict);
  std::unique_ptr<ScratchFile> scratch;
  if (options.jsonOut.empty()) scratch = std::make_unique<ScratchFile>("velk-localize");
  const std::string jsonPath = scratch ? scratch->path() : options.jsonOut;
  FD::Network net;
  buildNetwork(net, options.input, localizer, jsonPath);
  // The summary is taken from the network as it runs, not read back from the JSON lines.
  const int advance = intParameter(localizer, "ADVANCE");
  std::vector<FrameSources> perFrame;
  const long frames = runWithProgress(net, options.diagnostics, [&](long frame) {
    perFrame.push_back(frameSources(net.output("recorder", "OUTPUT", static_cast<int>(frame)), frame,
                                    static_cast<double>(frame) * advance / fs));
  });

  const std::vector<Track> tracks = summarizeTracks(perFrame);
  const double durationSec = static_cast<double>(frames) * advance / fs;
  // The outputs take their places together, once all of them are written.
  std::unique_ptr<StagedText> plotFile;
  if (!options.plotOut.empty()) {
    PlotOptions plot;
    plot.title = "Sources in " + baseName(options.input) + " (" + method + ")";
    plot.durationSec = durationSec;
    plot.referenceAzimuthsDeg = options.truthDeg;
    std::ostringstream picture;
    writeAzimuthPlot(picture, perFrame, plot);
    plotFile = std::make_unique<StagedText>(options.plotOut, picture.str());
  }
  net.commit();
  if (plotFile) plotFile->commit();

  std::printf("%s: %.2f s, %ld frames, method %s\n", options.input.c_str(), durationSec, frames, method.c_str());
  std::fflush(stdout);
  printTracks(std::cout, tracks);
  if (!options.truthDeg.empty()) printAgainstTruth(std::cout, tracks, options.truthDeg);
  std::cout.flush();
  return 0;
}

}  // namespace

void addLocalizeCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<LocalizeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "localize",
      "Find the talkers of a 2-channel recording (channel 0 = left ear): prints each source id with its median "
      "azimuth (degrees, positive to the left) and when it was heard.");
  cmd->add_option("IN", options->input, "2-channel recording (WAV, FLAC, ...)")->required();
  cmd->add_option("--method", options->method, "direction method: head model or measured tables")
      ->check(CLI::IsMember({"epipolar", "measured"}))
      ->capture_default_str();
  cmd->add_option("--tf", options->table, "transfer-function table for --method measured (default: " +
                                              std::string(kDefaultTablePath) + ")");
  cmd->add_option("--channels", options->channels, "channels of the table used as left and right ear")
      ->delimiter(',')
      ->expected(2)
      ->check(WholeNumber({0, 1023}, "a channel number of the table"))
      ->capture_default_str();
  cmd->add_option("--param", options->params,
                  "set a LocalizeBinaural parameter, NAME=VALUE (repeatable; see `velk-binaural nodes`)");
  cmd->add_option("--json", options->jsonOut, "write the sources of every frame as JSON lines to this file");
  cmd->add_option("--plot", options->plotOut, "draw azimuth against time into this SVG file");
  cmd->add_option("--truth", options->truthDeg, "true talker directions in degrees, to compare with and to mark")
      ->delimiter(',')
      ->check(RealNumber({-180, 180}, "a talker azimuth in degrees"));
  addDiagnosticOptions(*cmd, options->diagnostics);
  cmd->callback([options, cmd, &status] {
    options->given.record(*cmd);
    status.code = reportFailures([&] { return localize(*options); }, options->diagnostics.verbose);
  });
  addRenderCommand(app, status);
}

}  // namespace velktool
