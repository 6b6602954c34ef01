// `velk-binaural evaluate localize|separate --scenes DIR`: how well localisation and separation do
// on a folder of simulated scenes with ground truth (truth.json, the mixture and each talker's own
// image; the format of the scene generator).
//
// Every scene is run in this process through the same code as `localize --json` and
// `separate --directions <the true directions>` (or `separate --localize`), with the same
// defaults, then scored by the rules of velkeval/Scoring.h: per talker a row, then a line per kind of scene (single, pair, triple)
// and a summary. Standard output carries the table, --json OUT the same as one JSON object;
// progress goes to standard error. A scene that cannot be run is reported as failed and the
// command then ends with status 1 after printing the rest.
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "LocalizeRun.h"
#include "SeparateRun.h"
#include "SoundFile.h"
#include "ToolSupport.h"
#include "fd/Exception.h"
#include "velkeval/SceneTruth.h"
#include "velkeval/Scoring.h"

namespace velktool {

namespace {

using nlohmann::json;
using velkeval::SceneTruth;

struct EvaluateOptions {
  std::string scenesDir, method = "epipolar", table, kind, jsonOut;
  std::string tracks = "talkers";  // localisation: talker tracks, or the localiser's own sources
  std::string separator = kMaskSeparator;
  std::vector<std::string> params;
  bool trimLead = false, quiet = false;
  bool localize = false;  // separation: the talkers' directions from the localiser, not the truth
};

struct Failure {
  std::string scene, message;
};

// Runs `body`, turning what it throws into the message of a failed scene.
bool attempt(const std::function<void()>& body, std::string& message) {
  try {
    body();
    return true;
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    message = describeHostError(e);
  } catch (const std::exception& e) {
    message = e.what();
  }
  return false;
}

// The scenes of the folder, of the kind asked for (all when none is).
std::vector<SceneTruth> chooseScenes(const EvaluateOptions& options, size_t minTalkers) {
  std::vector<SceneTruth> scenes;
  for (const std::string& name : velkeval::sceneFolders(options.scenesDir)) {
    SceneTruth scene = velkeval::readSceneTruth(options.scenesDir + "/" + name);
    if (scene.talkers.size() < minTalkers || (!options.kind.empty() && scene.kind() != options.kind)) continue;
    scenes.push_back(std::move(scene));
  }
  if (scenes.empty())
    throw std::runtime_error("no " + (options.kind.empty() ? std::string() : options.kind + " ") + "scene" +
                             (minTalkers > 1 ? " of two or more talkers" : "") + " with a truth.json in " +
                             options.scenesDir);
  return scenes;
}

void progress(const EvaluateOptions& options, size_t done, size_t total, const std::string& scene,
              const std::string& outcome) {
  if (options.quiet) return;
  std::cerr << "evaluate: " << done << "/" << total << " " << scene << ": " << outcome << std::endl;
}

json nullable(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

std::string signedOrDash(const std::optional<double>& value, const char* format) {
  if (!value) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, *value);
  return text;
}

// Prints the failed scenes, writes the report and gives the exit status.
int finish(const EvaluateOptions& options, const std::vector<Failure>& failures, json report) {
  for (const Failure& f : failures) std::printf("failed: %s: %s\n", f.scene.c_str(), f.message.c_str());
  std::fflush(stdout);
  if (!options.jsonOut.empty()) writeTextFile(options.jsonOut, report.dump(1) + "\n");
  if (failures.empty()) return 0;
  return fail(std::to_string(failures.size()) + " scene" + (failures.size() == 1 ? "" : "s") +
              " could not be evaluated; the first: " + failures.front().scene + ": " + failures.front().message);
}

// ---- the report ----------------------------------------------------------------------------------

json toJson(const velkeval::LocalizationRow& r) {
  return {{"scene", r.scene},
          {"kind", r.kind},
          {"truth", r.truthDeg},
          {"err", nullable(r.errorDeg)},
          {"hit", r.hit},
          {"spur", r.spurious},
          {"spur_tol", r.spuriousTolerant},
          {"ids", r.ids},
          {"ids10_per_talker", r.ids10PerTalker}};
}

json toJson(const velkeval::LocalizationKindSummary& k) {
  return {{"kind", k.kind},
          {"talkers", k.talkers},
          {"missed", k.missed},
          {"median_err", k.medianErrorDeg},
          {"within5", k.within5},
          {"within10", k.within10},
          {"hit", k.hit},
          {"spur_tol", k.spuriousTolerant},
          {"ids10_per_talker", k.ids10PerTalker}};
}

json toJson(const velkeval::SeparationRow& r) {
  return {{"scene", r.scene}, {"kind", r.kind}, {"truth", r.truthDeg}, {"ear", r.ear},
          {"len_ok", r.lengthOk}, {"si_sdr_i", r.siSdrGainDb}};
}

json toJson(const velkeval::SeparationKindSummary& k) {
  return {{"kind", k.kind}, {"outputs", k.outputs}, {"mean_si_sdr_i", k.meanGainDb}, {"median", k.medianGainDb},
          {"min", k.minGainDb}, {"len_ok", k.lengthOk}};
}

// The rows of every scene that could be scored, and the scenes that could not.
template <class Row>
struct Scored {
  std::vector<Row> rows;
  std::vector<Failure> failures;
};

// Scores the scenes one after the other, with a line of progress for each (`unit`: what a row is).
template <class Row>
Scored<Row> scoreEach(const std::vector<SceneTruth>& scenes, const EvaluateOptions& options,
                      const std::function<std::vector<Row>(const SceneTruth&)>& score, const std::string& unit) {
  Scored<Row> scored;
  for (size_t i = 0; i < scenes.size(); ++i) {
    std::vector<Row> rows;
    std::string message;
    if (attempt([&] { rows = score(scenes[i]); }, message)) {
      scored.rows.insert(scored.rows.end(), rows.begin(), rows.end());
      progress(options, i + 1, scenes.size(), scenes[i].id, std::to_string(rows.size()) + " " + unit + " scored");
    } else {
      scored.failures.push_back({scenes[i].id, message});
      progress(options, i + 1, scenes.size(), scenes[i].id, "failed: " + message);
    }
  }
  return scored;
}

// The report: `head`, the rows (the failed scenes as rows with their error, as the scene
// generator's scorer lists them), the kinds and the summary.
template <class Row, class Kind>
json reportOf(json head, const Scored<Row>& scored, const std::vector<Kind>& kinds, json summary) {
  json rows = json::array(), kindRows = json::array();
  for (const Row& r : scored.rows) rows.push_back(toJson(r));
  for (const Failure& f : scored.failures) rows.push_back({{"scene", f.scene}, {"error", f.message}});
  for (const Kind& k : kinds) kindRows.push_back(toJson(k));
  head["rows"] = rows;
  head["kinds"] = kindRows;
  head["summary"] = std::move(summary);
  return head;
}

// ---- localisation ---------------------------------------------------------------------------------

// The reports of every frame of a localisation run over the scene, in the scene's time.
std::vector<velkeval::FrameReports> localizeScene(const SceneTruth& scene, const EvaluateOptions& options) {
  LocalizeSettings settings;
  settings.input.path = scene.path(scene.mixtureFile);
  settings.method = options.method;
  settings.table = options.table;
  settings.params = options.params;
  settings.tracks = options.tracks;
  settings.diagnostics.quiet = true;
  // A recording that starts with speech: the mixture from 50 ms before the first talker on, its
  // frame times shifted back into the scene's time.
  std::unique_ptr<ScratchFile> trimmed;
  double shiftSec = 0.0;
  if (options.trimLead) {
    shiftSec = scene.speechStartSec();
    trimmed = std::make_unique<ScratchFile>("velk-evaluate");
    const long first = static_cast<long>(shiftSec * probeSound(settings.input.path).sampleRate);
    writePcm16From(settings.input.path, first, trimmed->path());
    settings.input.path = trimmed->path();
  }
  std::vector<velkeval::FrameReports> frames;
  runLocalization(settings, "", [&](const FrameSources& f) {
    velkeval::FrameReports reports;
    reports.timeSec = f.timeSec + shiftSec;
    for (const SourceAt& s : f.sources) reports.reports.push_back({s.id, s.azimuthDeg});
    frames.push_back(std::move(reports));
  });
  return frames;
}

void printLocalizationRows(const std::vector<velkeval::LocalizationRow>& rows) {
  std::printf("%-30s %-7s %7s %6s %5s %5s %8s %4s %13s\n", "scene", "kind", "truth", "err", "hit", "spur", "spur_tol",
              "ids", "ids10/talker");
  for (const velkeval::LocalizationRow& r : rows)
    std::printf("%-30s %-7s %+7.1f %6s %5.2f %5.2f %8.2f %4ld %13.2f\n", r.scene.c_str(), r.kind.c_str(), r.truthDeg,
                signedOrDash(r.errorDeg, "%.1f").c_str(), r.hit, r.spurious, r.spuriousTolerant, r.ids,
                r.ids10PerTalker);
}

// The kind and summary lines, worded as the scene generator's scorer prints them so that the two
// can be compared line by line.
void printLocalizationSummary(const std::vector<velkeval::LocalizationKindSummary>& kinds,
                              const velkeval::LocalizationSummary& all, const std::string& method) {
  for (const velkeval::LocalizationKindSummary& k : kinds)
    std::printf("KIND %s: talkers=%zu missed=%zu median_err=%.1f within5=%.2f within10=%.2f hit=%.2f spur_tol=%.2f "
                "ids10_per_talker=%.2f\n",
                k.kind.c_str(), k.talkers, k.missed, k.medianErrorDeg, k.within5, k.within10, k.hit, k.spuriousTolerant,
                k.ids10PerTalker);
  std::printf("SUMMARY localize %s: sources=%zu failed=%zu median_err=%.1f within5=%.2f within10=%.2f mean_hit=%.2f "
              "mean_spur=%.2f\n",
              method.c_str(), all.talkers + all.failedScenes, all.failedScenes, all.medianErrorDeg, all.within5,
              all.within10, all.meanHit, all.meanSpurious);
}

int evaluateLocalization(const EvaluateOptions& options) {
  const Scored<velkeval::LocalizationRow> scored = scoreEach<velkeval::LocalizationRow>(
      chooseScenes(options, 1), options,
      [&](const SceneTruth& scene) { return velkeval::scoreLocalization(scene, localizeScene(scene, options)); },
      "talker(s)");
  const std::vector<velkeval::LocalizationKindSummary> kinds = velkeval::summarizeByKind(scored.rows);
  const velkeval::LocalizationSummary all = velkeval::summarize(scored.rows, scored.failures.size());
  printLocalizationRows(scored.rows);
  printLocalizationSummary(kinds, all, options.method);
  const json summary = {{"sources", all.talkers + all.failedScenes},
                        {"failed", all.failedScenes},
                        {"median_err", all.medianErrorDeg},
                        {"within5", all.within5},
                        {"within10", all.within10},
                        {"mean_hit", all.meanHit},
                        {"mean_spur", all.meanSpurious}};
  const json head = {{"evaluate", "localize"}, {"scenes", options.scenesDir}, {"method", options.method},
                     {"trim_lead", options.trimLead}};
  return finish(options, scored.failures, reportOf(head, scored, kinds, summary));
}

// ---- separation -----------------------------------------------------------------------------------

std::vector<double> channelOf(const Sound& sound, int channel) {
  std::vector<double> samples(static_cast<size_t>(sound.info.frames));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = sound.samples[i * static_cast<size_t>(sound.info.channels) + static_cast<size_t>(channel)];
  return samples;
}

Sound readStereo(const std::string& path) {
  Sound sound = readSound(path);
  if (sound.info.channels != 2)
    throw std::runtime_error(path + " has " + std::to_string(sound.info.channels) + " channels, expected 2 (left, right)");
  return sound;
}

// Separates the scene with its true directions given (or the localised ones) and scores every
// talker's output: the output whose direction is nearest the talker's.
std::vector<velkeval::SeparationRow> separateScene(const SceneTruth& scene, const EvaluateOptions& options) {
  ScratchFolder outputs("velk-evaluate");
  SeparateOptions separate;
  separate.input.path = scene.path(scene.mixtureFile);
  separate.outDir = outputs.path();
  separate.localize = options.localize;
  if (!options.localize)
    for (const velkeval::TalkerTruth& t : scene.talkers) separate.directionsDeg.push_back(t.azimuthDeg);
  separate.separator = options.separator;
  separate.method = options.method;
  separate.table = options.table;
  separate.params = options.params;
  separate.diagnostics.quiet = true;
  const SeparationRun run = runSeparation(separate);

  std::vector<double> outputAzimuths;
  for (const SeparatedSource& s : run.sources) outputAzimuths.push_back(s.azimuthDeg);
  const Sound mixture = readStereo(separate.input.path);
  std::vector<velkeval::SeparationRow> rows;
  for (const velkeval::TalkerTruth& talker : scene.talkers) {
    const int chosen = velkeval::nearestOutput(outputAzimuths, talker.azimuthDeg);
    if (chosen < 0) throw std::runtime_error("the separation gave no output");
    const Sound output = readSound(outputs.path() + "/" + run.sources[static_cast<size_t>(chosen)].file);
    const Sound image = readStereo(scene.path(talker.imageFile));
    const int ear = velkeval::outputEar(talker.azimuthDeg);
    velkeval::SeparationRow row =
        velkeval::scoreSeparatedTalker(channelOf(output, 0), channelOf(mixture, ear), channelOf(image, ear));
    row.scene = scene.id;
    row.kind = scene.kind();
    row.truthDeg = talker.azimuthDeg;
    row.ear = ear;
    rows.push_back(row);
  }
  return rows;
}

const char* pythonBool(bool b) { return b ? "True" : "False"; }

void printSeparation(const std::vector<velkeval::SeparationRow>& rows,
                     const std::vector<velkeval::SeparationKindSummary>& kinds, const velkeval::SeparationSummary& all,
                     const std::string& method) {
  std::printf("%-30s %-7s %7s %5s %8s %6s\n", "scene", "kind", "truth", "ear", "gain_dB", "len_ok");
  for (const velkeval::SeparationRow& r : rows)
    std::printf("%-30s %-7s %+7.1f %5s %+8.2f %6s\n", r.scene.c_str(), r.kind.c_str(), r.truthDeg,
                r.ear == 0 ? "left" : "right", r.siSdrGainDb, r.lengthOk ? "yes" : "no");
  for (const velkeval::SeparationKindSummary& k : kinds)
    std::printf("KIND %s: outputs=%zu mean_si_sdr_i=%.2f median=%.2f min=%.2f len_ok=%s\n", k.kind.c_str(), k.outputs,
                k.meanGainDb, k.medianGainDb, k.minGainDb, pythonBool(k.lengthOk));
  std::printf("SUMMARY separate %s: outputs=%zu failed=%zu mean_si_sdr_i=%.2f min_si_sdr_i=%.2f len_ok=%s\n",
              method.c_str(), all.outputs + all.failedScenes, all.failedScenes, all.meanGainDb, all.minGainDb,
              pythonBool(all.lengthOk));
}

int evaluateSeparation(const EvaluateOptions& options) {
  const Scored<velkeval::SeparationRow> scored = scoreEach<velkeval::SeparationRow>(
      chooseScenes(options, 2), options, [&](const SceneTruth& scene) { return separateScene(scene, options); },
      "output(s)");
  const std::vector<velkeval::SeparationKindSummary> kinds = velkeval::summarizeByKind(scored.rows);
  const velkeval::SeparationSummary all = velkeval::summarize(scored.rows, scored.failures.size());
  printSeparation(scored.rows, kinds, all, options.method);
  const json summary = {{"outputs", all.outputs + all.failedScenes},
                        {"failed", all.failedScenes},
                        {"mean_si_sdr_i", all.meanGainDb},
                        {"min_si_sdr_i", all.minGainDb},
                        {"len_ok", all.lengthOk}};
  const json head = {{"evaluate", "separate"},
                     {"scenes", options.scenesDir},
                     {"method", options.method},
                     {"separator", options.separator},
                     {"localize", options.localize}};
  return finish(options, scored.failures, reportOf(head, scored, kinds, summary));
}

// ---- the command ----------------------------------------------------------------------------------

// The options both evaluations share.
void addCommonOptions(CLI::App* cmd, EvaluateOptions& options, const std::vector<std::string>& kinds) {
  cmd->add_option("--scenes", options.scenesDir, "folder of scene folders (each with truth.json)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("--method", options.method, "direction model: spherical head (epipolar) or measured tables")
      ->check(CLI::IsMember({"epipolar", "measured"}))
      ->capture_default_str();
  cmd->add_option("--tf", options.table, "transfer-function table (default: " + defaultTable() + ")");
  cmd->add_option("--kind", options.kind, "only the scenes of this kind (by number of talkers)")
      ->check(CLI::IsMember(kinds));
  cmd->add_option("--json", options.jsonOut, "also write the rows, kinds and summary as one JSON object to this file");
  cmd->add_option("--param", options.params,
                  "set a node parameter, NAME=VALUE or NODE.NAME=VALUE (repeatable; see `velk-binaural nodes`)");
  cmd->add_flag("--quiet,-q", options.quiet, "no progress on standard error");
}

}  // namespace

void addEvaluateCommands(CLI::App& app, Status& status) {
  CLI::App* evaluate = app.add_subcommand(
      "evaluate",
      "Score localisation or separation on a folder of simulated scenes with ground truth: a row per talker, a "
      "line per kind of scene and a summary.");
  evaluate->require_subcommand(1);

  auto localize = std::make_shared<EvaluateOptions>();
  CLI::App* loc = evaluate->add_subcommand(
      "localize",
      "Localise every scene as `localize` does and score it per talker: error (median distance of the nearest "
      "report over its active frames), hit (share of those frames with a report within 10 degrees), spurious "
      "reports (farther than 20 degrees from every active talker) and ids per talker (ids on 10 frames or more).");
  addCommonOptions(loc, *localize, {"single", "pair", "triple"});
  loc->add_flag("--trim-lead", localize->trimLead,
                "cut each recording's noise-only start (from 50 ms before the first talker): a recording that starts "
                "with speech");
  addTracksOption(*loc, localize->tracks);
  loc->callback([localize, &status] { status.code = reportFailures([&] { return evaluateLocalization(*localize); }); });

  auto separate = std::make_shared<EvaluateOptions>();
  CLI::App* sep = evaluate->add_subcommand(
      "separate",
      "Separate every scene of two or more talkers as `separate --directions` does with the true directions (or "
      "as `separate --localize` does), and score each talker's output (the one nearest its direction): whole-band "
      "SI-SDR against the talker's own image at the output ear (left for azimuth > 0, else right) minus that of "
      "the mixture at the same ear.");
  addCommonOptions(sep, *separate, {"pair", "triple"});
  sep->add_option("--separator", separate->separator, "the separator, as for `separate`")
      ->check(CLI::IsMember({kMaskSeparator, kPassBandSeparator}))
      ->capture_default_str();
  sep->add_flag("--localize", separate->localize,
                "take the talkers' directions from the localiser instead of the truth, as `separate --localize`");
  sep->callback([separate, &status] { status.code = reportFailures([&] { return evaluateSeparation(*separate); }); });
}

}  // namespace velktool
