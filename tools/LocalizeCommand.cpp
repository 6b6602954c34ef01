// `velk-binaural localize IN.wav`: finds who spoke from where, and when, in a two-ear recording.
//
// Builds the standard localisation network in code (audio file -> STFT -> LocalizeBinaural ->
// TrackTalkers -> source recorder), runs it, and summarises the sources found: one line per source id with its
// median direction and when it was heard. Given the talkers' true directions (--truth), it says
// which track found each talker and how well, which talkers were not found, and which tracks
// match no talker. The per-frame sources can be kept as JSON lines (--json) and drawn as azimuth
// against time (--plot). Standard output carries only the summary; progress, the localiser's
// announcements and library diagnostics go to standard error. IN "-" (or --device) is heard as it
// arrives; with --json - the JSON lines go to standard output as each frame is done, and the
// summary to standard error.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AzimuthPlot.h"
#include "SoundFile.h"
#include "Commands.h"
#include "NodeParameterBuilder.h"
#include "LocalizeRun.h"
#include "OptionChecks.h"
#include "Outputs.h"
#include "SourceTracks.h"
#include "ToolSupport.h"

namespace velktool {

// `velk-binaural render`, the companion that makes two-ear test recordings (RenderCommand.cpp).
void addRenderCommand(CLI::App& app, Status& status);

namespace {

struct LocalizeOptions {
  LocalizeSettings run;
  std::string jsonOut, plotOut;
  std::vector<double> truthDeg;
};

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

// Each true direction with the track that stands for it, how many tracks belong to it, and the
// tracks that match no talker (see compareWithTruth).
void printAgainstTruth(std::ostream& out, const std::vector<Track>& tracks, const std::vector<double>& truthDeg) {
  const TruthComparison comparison = compareWithTruth(tracks, truthDeg);
  char line[160];
  std::snprintf(line, sizeof line, "%8s %9s %5s %7s %8s %5s\n", "true", "found", "id", "error", "frames", "ids");
  out << "\n" << line;
  size_t found = 0, ids = 0;
  for (size_t t = 0; t < comparison.talkers.size(); ++t) {
    const TalkerMatch& talker = comparison.talkers[t];
    ids += talker.tracks.size();
    if (!talker.found) {
      std::snprintf(line, sizeof line, "%8s %9s %5s %7s %8s %5d  not found\n", signedDeg(talker.truthDeg).c_str(), "-",
                    "-", "-", "-", 0);
    } else {
      ++found;
      std::snprintf(line, sizeof line, "%8s %9s %5d %7.1f %8ld %5zu\n", signedDeg(talker.truthDeg).c_str(),
                    signedDeg(talker.found->medianAzimuthDeg).c_str(), talker.found->id,
                    std::fabs(talker.found->medianAzimuthDeg - talker.truthDeg), talker.found->framesNearTruth[t],
                    talker.tracks.size());
    }
    out << line;
  }
  std::snprintf(line, sizeof line, "talkers found: %zu of %zu; ids per talker: %.2f; tracks matching no talker: %zu\n",
                found, truthDeg.size(), truthDeg.empty() ? 0.0 : static_cast<double>(ids) / truthDeg.size(),
                comparison.unmatched.size());
  out << line;
  for (const Track* track : comparison.unmatched) {
    std::snprintf(line, sizeof line, "  id %d at %s, %ld frames, %.2f-%.2f s\n", track->id,
                  signedDeg(track->medianAzimuthDeg).c_str(), track->frames, track->firstSec, track->lastSec);
    out << line;
  }
}

std::string baseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// Why a run may have found no source, judged from the recording itself (a stream is gone by now:
// only from its length).
std::string likelyReason(const AudioInput& input, double durationSec) {
  const SoundPeak peak = input.live() ? SoundPeak{1.0f, false} : scanSound(input.path);
  if (peak.notANumber && peak.peak == 0.0f) return "the recording holds nothing but values that are not numbers";
  if (peak.peak == 0.0f) return "the recording is digital silence";
  char text[256];
  if (durationSec < 1.0) {
    std::snprintf(text, sizeof text, "the recording lasts %.2f s; a talker needs to be heard for a good part of a "
                                     "second", durationSec);
    return text;
  }
  if (input.live())
    return "no voice stood out of the noise for long enough: the talkers may be too quiet, unvoiced, or drowned in "
           "noise or reverberation";
  std::snprintf(text, sizeof text,
                "no voice stood out of the noise for long enough (the loudest sample is %.0f dB below full scale): "
                "the talkers may be too quiet, unvoiced, or drowned in noise or reverberation",
                -20.0 * std::log10(peak.peak));
  return text;
}

// The options that contradict each other or the files, before anything is run.
void checkOptions(const LocalizeOptions& options) {
  for (const char* option : {"--tf", "--channels"})
    if (options.run.given.has(option) && options.run.method != "measured")
      throw UsageError(std::string(option) + " is used only with --method measured (the head model reads no table)");
  if (options.plotOut == "-") throw UsageError("--plot -: the plot is written to a file; name one");
  std::vector<NamedFile> inputs;
  if (!options.run.input.live()) inputs.push_back({"input recording", options.run.input.path});
  if (!options.run.table.empty()) inputs.push_back({"table (--tf)", options.run.table});
  std::vector<NamedFile> outputs;
  if (!options.jsonOut.empty() && options.jsonOut != "-") outputs.push_back({"--json", options.jsonOut});
  if (!options.plotOut.empty()) outputs.push_back({"--plot", options.plotOut});
  refuseInputsAsOutputs(outputs, inputs);
  if (options.jsonOut == options.plotOut && !options.jsonOut.empty())
    throw UsageError("--json and --plot name the same file " + options.jsonOut);
  refuseUnwritable(outputs);
}

int localize(const LocalizeOptions& options) {
  checkOptions(options);
  // The summary and the plot are gathered frame by frame as the network runs.
  TrackSummary summary(options.truthDeg);
  DecimatedFrames plotFrames;
  const bool plot = !options.plotOut.empty();
  // The plot is staged before the JSON lines take their place, and takes its own right after.
  std::unique_ptr<StagedText> plotFile;
  const LocalizeRunInfo run = runLocalization(
      options.run, options.jsonOut,
      [&](const FrameSources& frame) {
        summary.add(frame);
        if (plot) plotFrames.add(frame);
      },
      [&](const LocalizeRunInfo& info) {
        if (!plot) return;
        PlotOptions plotOptions;
        plotOptions.title = "Sources in " + baseName(options.run.input.describe()) + " (" + info.method + ")";
        plotOptions.durationSec = info.durationSec;
        plotOptions.referenceAzimuthsDeg = options.truthDeg;
        plotOptions.frameStride = plotFrames.stride();
        std::ostringstream picture;
        writeAzimuthPlot(picture, plotFrames.frames(), plotOptions);
        plotFile = std::make_unique<StagedText>(options.plotOut, picture.str());
      });
  if (plotFile) plotFile->commit();

  const std::vector<Track> tracks = summary.tracks();
  // Standard output carries the JSON lines when asked to; the summary then goes to standard error.
  std::ostream& report = options.jsonOut == "-" ? std::cerr : std::cout;
  char line[512];
  std::snprintf(line, sizeof line, "%s: %.2f s, %ld frames, method %s\n", options.run.input.describe().c_str(),
                run.durationSec, run.frames, run.method.c_str());
  report << line;
  printTracks(report, tracks);
  if (tracks.empty() && !options.run.diagnostics.quiet)
    std::cerr << "no source found: " << likelyReason(options.run.input, run.durationSec) << "\n";
  if (!options.truthDeg.empty()) printAgainstTruth(report, tracks, options.truthDeg);
  report.flush();
  return 0;
}

}  // namespace

void addLocalizeCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<LocalizeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "localize",
      "Find the talkers of a 2-channel recording (channel 0 = left ear): prints each source id with its median "
      "azimuth (degrees, positive to the left) and when it was heard.");
  addInputOptions(*cmd, options->run.input);
  cmd->add_option("--method", options->run.method, "direction method: head model or measured tables")
      ->check(CLI::IsMember({"epipolar", "measured"}))
      ->capture_default_str();
  cmd->add_option("--tf", options->run.table, "transfer-function table for --method measured (default: " +
                                              defaultTable() + ")");
  cmd->add_option("--channels", options->run.channels, "channels of the table used as left and right ear")
      ->delimiter(',')
      ->expected(2)
      ->check(WholeNumber({0, 1023}, "a channel number of the table"))
      ->capture_default_str();
  addTracksOption(*cmd, options->run.tracks);
  cmd->add_option("--param", options->run.params,
                  "set a LocalizeBinaural or TrackTalkers parameter, NAME=VALUE or NODE.NAME=VALUE (repeatable; see "
                  "`velk-binaural nodes`)");
  cmd->add_option("--json", options->jsonOut,
                  "write the sources of every frame as JSON lines to this file, or to standard output with - (each "
                  "line as soon as its frame is done; the summary then goes to standard error)");
  cmd->add_option("--plot", options->plotOut, "draw azimuth against time into this SVG file");
  cmd->add_option("--truth", options->truthDeg,
                  "true talker directions in degrees, e.g. 40,-30: each is matched with the track reported near it "
                  "(within 20 degrees) on the most frames, and marked on the plot")
      ->delimiter(',')
      ->check(RealNumber({-180, 180}, "a talker azimuth in degrees"));
  addDiagnosticOptions(*cmd, options->run.diagnostics);
  cmd->callback([options, cmd, &status] {
    options->run.given.record(*cmd);
    status.code = reportFailures([&] { return localize(*options); }, options->run.diagnostics.verbose);
  });
  addRenderCommand(app, status);
}

}  // namespace velktool
