// `velk-binaural localize IN.wav`: finds who spoke from where, and when, in a two-ear recording.
//
// Builds the standard localisation network in code (audio file -> STFT -> LocalizeBinaural ->
// source recorder), runs it, and summarises the sources found: one line per source id with its
// median direction and when it was heard. The per-frame sources can be kept as JSON lines
// (--json) and drawn as azimuth against time (--plot). Standard output carries only the summary;
// progress, the localiser's announcements and library diagnostics go to standard error.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AzimuthPlot.h"
#include "SoundFile.h"
#include "Commands.h"
#include "LocalizeDefaults.h"
#include "SourceTracks.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/Plugin.h"

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
  bool quiet = false;
};

// The localiser's parameters: the defaults, the method, then --param overrides, each typed as
// the node's description says.
NetworkParameters localizerParameters(const LocalizeOptions& options) {
  NetworkParameters params;
  params.addNode(kNodeType);
  for (const DefaultParameter& d : localizeDefaults()) params.set(kNodeType, d.name, d.value);
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

// Why a run may have found no source, judged from the recording itself.
std::string likelyReason(const std::string& path, double durationSec) {
  const SoundPeak peak = scanSound(path);
  if (peak.notANumber && peak.peak == 0.0f) return "the recording holds nothing but values that are not numbers";
  if (peak.peak == 0.0f) return "the recording is digital silence";
  char text[256];
  if (durationSec < 1.0) {
    std::snprintf(text, sizeof text, "the recording lasts %.2f s; a talker needs to be heard for a good part of a "
                                     "second", durationSec);
    return text;
  }
  std::snprintf(text, sizeof text,
                "no voice stood out of the noise for long enough (the loudest sample is %.0f dB below full scale): "
                "the talkers may be too quiet, unvoiced, or drowned in noise or reverberation",
                -20.0 * std::log10(peak.peak));
  return text;
}

int localize(const LocalizeOptions& options) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = localizerParameters(options);
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const std::string problem = recordingProblem(options.input, fs, "localize");
  if (!problem.empty()) return fail(problem);

  std::unique_ptr<ScratchFile> scratch;
  if (options.jsonOut.empty()) scratch = std::make_unique<ScratchFile>("velk-localize");
  const std::string jsonPath = scratch ? scratch->path() : options.jsonOut;
  FD::Network net;
  buildNetwork(net, options.input, localizer, jsonPath);
  // The summary is taken from the network as it runs, not read back from the JSON lines; the frames
  // themselves are kept only for a plot, so that a long recording does not fill the memory.
  const int advance = intParameter(localizer, "ADVANCE");
  TrackSummary summary;
  std::vector<FrameSources> perFrame;
  const long frames = runWithProgress(net, options.quiet, [&](long frame) {
    FrameSources sources = frameSources(net.output("recorder", "OUTPUT", static_cast<int>(frame)), frame,
                                        static_cast<double>(frame) * advance / fs);
    summary.add(sources);
    if (!options.plotOut.empty()) perFrame.push_back(std::move(sources));
  });

  const std::vector<Track> tracks = summary.tracks();
  const double durationSec = static_cast<double>(frames) * advance / fs;
  std::printf("%s: %.2f s, %ld frames, method %s\n", options.input.c_str(), durationSec, frames,
              options.method.c_str());
  std::fflush(stdout);
  printTracks(std::cout, tracks);
  if (tracks.empty() && !options.quiet) std::cerr << "no source found: " << likelyReason(options.input, durationSec) << "\n";
  if (!options.truthDeg.empty()) printAgainstTruth(std::cout, tracks, options.truthDeg);
  if (!options.plotOut.empty()) {
    PlotOptions plot;
    plot.title = "Sources in " + baseName(options.input) + " (" + options.method + ")";
    plot.durationSec = durationSec;
    plot.referenceAzimuthsDeg = options.truthDeg;
    writeAzimuthPlotFile(options.plotOut, perFrame, plot);
  }
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
      ->capture_default_str();
  cmd->add_option("--param", options->params,
                  "set a LocalizeBinaural parameter, NAME=VALUE (repeatable; see `velk-binaural nodes`)");
  cmd->add_option("--json", options->jsonOut, "write the sources of every frame as JSON lines to this file");
  cmd->add_option("--plot", options->plotOut, "draw azimuth against time into this SVG file");
  cmd->add_option("--truth", options->truthDeg, "true talker directions in degrees, to compare with and to mark")
      ->delimiter(',');
  cmd->add_flag("--quiet,-q", options->quiet, "no progress bar and no diagnostics on standard error");
  cmd->callback([options, &status] { status.code = reportFailures([&] { return localize(*options); }); });
  addRenderCommand(app, status);
}

}  // namespace velktool
