// `velk-binaural score SCENE_DIR SEPARATED_DIR`: how much a separation run helps each talker of a
// simulated scene.
//
// A scene folder holds the mixture and, for every talker, the talker's own two-ear image
// (truth.json names the files and the directions). A separation run leaves one mono WAV per
// source and a sources.json that gives each file's direction and ear. Each talker is paired with
// the separated source nearest to its direction, and scored at the ear that source was taken
// from: the scale-invariant signal-to-distortion ratio (SI-SDR) of the separated signal against
// the talker's image at that ear, next to the SI-SDR of the unprocessed mixture at the same ear.
// The improvement (separated minus mixture) is what separation gained for that talker.
//
// A separator may keep only part of the spectrum (the head-model separator keeps what lies below
// 1500 Hz, where interaural phase is unambiguous); sources.json then gives "max_frequency_hz",
// and the scores are taken in that band, with the reference, the mixture and the separated signal
// all passed through the same low-pass filter, so that the comparison is about the talkers and
// not about the band. The whole-band scores are reported next to them.
//
// SI-SDR of an estimate e against a reference s: with the projection t = (<e, s> / <s, s>) s,
// 10 log10(|t|^2 / |e - t|^2). It ignores the overall gain, which the separation does not try
// to keep. The separated signal is searched over small time shifts (--max-lag) so that a run
// whose output is displaced in time is scored fairly and the shift is reported: a correct run
// is aligned with its input and reports 0.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "SoundFile.h"

namespace velktool {

namespace {

using nlohmann::json;

// Scores are bounded so that a silent or a perfect output still gives a finite number.
constexpr double kSdrBoundDb = 300.0;

struct ScoreOptions {
  std::string sceneDir, separatedDir, jsonOut;
  int maxLag = 512;
  double nearDeg = 20.0;
};

struct SdrResult {
  double sdrDb = -kSdrBoundDb;
  int lag = 0;  // the estimate's sample n + lag matches the reference's sample n
};

// SI-SDR from the normalised correlation rho^2 = <e, s>^2 / (|e|^2 |s|^2).
double sdrFromCorrelation(double rho2) {
  rho2 = std::clamp(rho2, 0.0, 1.0);
  const double tiny = std::pow(10.0, -kSdrBoundDb / 10.0);
  return std::clamp(10.0 * std::log10(std::max(rho2, tiny) / std::max(1.0 - rho2, tiny)), -kSdrBoundDb, kSdrBoundDb);
}

// The best SI-SDR of `estimate` against `reference` over shifts -maxLag..maxLag; samples of the
// estimate outside its length count as silence. Ties go to the smallest shift.
SdrResult scaleInvariantSdr(const std::vector<double>& reference, const std::vector<double>& estimate, int maxLag) {
  double refEnergy = 0.0;
  for (double s : reference) refEnergy += s * s;
  // prefix[i]: energy of estimate[0, i).
  std::vector<double> prefix(estimate.size() + 1, 0.0);
  for (size_t i = 0; i < estimate.size(); ++i) prefix[i + 1] = prefix[i] + estimate[i] * estimate[i];
  const long n = static_cast<long>(reference.size());
  const long m = static_cast<long>(estimate.size());
  SdrResult best;
  double bestRho2 = -1.0;
  for (int absLag = 0; absLag <= maxLag; ++absLag) {
    for (int sign : {1, -1}) {
      if (absLag == 0 && sign < 0) continue;
      const long lag = static_cast<long>(sign) * absLag;
      // Samples n of the reference with 0 <= n + lag < m.
      const long first = std::max(0L, -lag), last = std::min(n, m - lag);
      double cross = 0.0;
      for (long i = first; i < last; ++i) cross += reference[i] * estimate[i + lag];
      const double estEnergy = last > first ? prefix[last + lag] - prefix[first + lag] : 0.0;
      const double rho2 = estEnergy > 0.0 ? cross * cross / (estEnergy * refEnergy) : 0.0;
      if (rho2 > bestRho2) {
        bestRho2 = rho2;
        best.lag = static_cast<int>(lag);
      }
    }
  }
  best.sdrDb = sdrFromCorrelation(std::max(bestRho2, 0.0));
  return best;
}

enum class Ear { Left = 0, Right = 1 };

const char* earName(Ear ear) { return ear == Ear::Left ? "left" : "right"; }

Ear earFromName(const std::string& name, const std::string& where) {
  if (name == "left") return Ear::Left;
  if (name == "right") return Ear::Right;
  throw std::runtime_error(where + ": ear \"" + name + "\" is neither \"left\" nor \"right\"");
}

// One channel of a sound file, in double precision.
std::vector<double> channelOf(const Sound& sound, int channel) {
  std::vector<double> samples(static_cast<size_t>(sound.info.frames));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = sound.samples[i * static_cast<size_t>(sound.info.channels) + static_cast<size_t>(channel)];
  return samples;
}

json readJsonFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  try {
    return json::parse(in);
  } catch (const json::exception& e) {
    throw std::runtime_error(path + " is not valid JSON: " + e.what());
  }
}

struct Talker {
  int index = 0;
  double azimuthDeg = 0.0;
  std::string imagePath;
};

struct Scene {
  std::string mixPath;
  std::vector<Talker> talkers;
};

Scene readScene(const std::string& dir) {
  const std::string truthPath = dir + "/truth.json";
  const json truth = readJsonFile(truthPath);
  Scene scene;
  try {
    scene.mixPath = dir + "/" + truth.at("mixture_file").get<std::string>();
    for (const json& source : truth.at("sources")) {
      Talker talker;
      talker.index = source.at("index").get<int>();
      talker.azimuthDeg = source.at("azimuth_deg").get<double>();
      talker.imagePath = dir + "/" + source.at("image_file").get<std::string>();
      scene.talkers.push_back(talker);
    }
  } catch (const json::exception& e) {
    throw std::runtime_error(truthPath + ": " + e.what());
  }
  return scene;
}

struct Separated {
  int id = 0;
  double azimuthDeg = 0.0;
  std::string file;  // relative to the separated folder
  Ear ear = Ear::Right;
  // Highest frequency the separator keeps, Hz; 0: the whole band.
  double maxFrequencyHz = 0.0;
};

// The ear a separator keeps for a direction when sources.json does not say: the one on the
// talker's side, the right ear straight ahead.
Ear earForAzimuth(double azimuthDeg) { return azimuthDeg > 0.0 ? Ear::Left : Ear::Right; }

std::vector<Separated> readSeparated(const std::string& dir) {
  const std::string path = dir + "/sources.json";
  const json list = readJsonFile(path);
  if (!list.is_array()) throw std::runtime_error(path + ": expected a list of sources");
  std::vector<Separated> sources;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = path + " entry " + std::to_string(i);
    try {
      Separated s;
      s.id = list[i].at("id").get<int>();
      s.azimuthDeg = list[i].at("azimuth").get<double>();
      s.file = list[i].at("file").get<std::string>();
      s.ear = list[i].contains("ear") ? earFromName(list[i].at("ear").get<std::string>(), where)
                                      : earForAzimuth(s.azimuthDeg);
      if (list[i].contains("max_frequency_hz")) s.maxFrequencyHz = list[i].at("max_frequency_hz").get<double>();
      sources.push_back(s);
    } catch (const json::exception& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
  }
  return sources;
}

// Pairs talkers with separated sources, nearest directions first, each at most once and only
// within `nearDeg`. Returns, per talker, the index of its source or -1.
std::vector<int> pairTalkers(const Scene& scene, const std::vector<Separated>& sources, double nearDeg) {
  struct Candidate {
    double distance;
    size_t talker, source;
  };
  std::vector<Candidate> candidates;
  for (size_t t = 0; t < scene.talkers.size(); ++t)
    for (size_t s = 0; s < sources.size(); ++s) {
      const double d = std::fabs(scene.talkers[t].azimuthDeg - sources[s].azimuthDeg);
      if (d <= nearDeg) candidates.push_back({d, t, s});
    }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  std::vector<int> sourceOf(scene.talkers.size(), -1);
  std::vector<bool> taken(sources.size(), false);
  for (const Candidate& c : candidates) {
    if (sourceOf[c.talker] >= 0 || taken[c.source]) continue;
    sourceOf[c.talker] = static_cast<int>(c.source);
    taken[c.source] = true;
  }
  return sourceOf;
}

void requireStereo(const Sound& sound, const std::string& path, int sampleRate) {
  if (sound.info.channels != 2)
    throw std::runtime_error(path + " has " + std::to_string(sound.info.channels) + " channels, expected 2 (left, right)");
  if (sound.info.sampleRate != sampleRate)
    throw std::runtime_error(path + " is sampled at " + std::to_string(sound.info.sampleRate) + " Hz, the mixture at " +
                             std::to_string(sampleRate) + " Hz");
}

// The separated signal: a mono file, or the ear's channel of a two-channel one.
std::vector<double> readEstimate(const std::string& path, Ear ear, int sampleRate) {
  const Sound sound = readSound(path);
  if (sound.info.sampleRate != sampleRate)
    throw std::runtime_error(path + " is sampled at " + std::to_string(sound.info.sampleRate) + " Hz, the mixture at " +
                             std::to_string(sampleRate) + " Hz");
  if (sound.info.channels == 1) return channelOf(sound, 0);
  if (sound.info.channels == 2) return channelOf(sound, static_cast<int>(ear));
  throw std::runtime_error(path + " has " + std::to_string(sound.info.channels) + " channels, expected 1 or 2");
}

// Zero-phase low-pass filter: a windowed sinc (Blackman window, 2 x kHalfTaps + 1 taps, about
// 170 Hz of transition at 16 kHz) centred on each sample; samples outside the signal are zero.
constexpr int kHalfTaps = 256;

std::vector<double> lowPass(const std::vector<double>& x, double cutoffHz, int sampleRate) {
  const double fc = cutoffHz / sampleRate;  // cycles per sample
  std::vector<double> taps(2 * kHalfTaps + 1);
  double sum = 0.0;
  for (int k = -kHalfTaps; k <= kHalfTaps; ++k) {
    const double sinc = k == 0 ? 2.0 * fc : std::sin(2.0 * M_PI * fc * k) / (M_PI * k);
    const double phase = M_PI * (k + kHalfTaps) / kHalfTaps;
    const double blackman = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
    taps[static_cast<size_t>(k + kHalfTaps)] = sinc * blackman;
    sum += sinc * blackman;
  }
  for (double& t : taps) t /= sum;  // unit gain at 0 Hz
  const long n = static_cast<long>(x.size());
  std::vector<double> y(x.size(), 0.0);
  for (long i = 0; i < n; ++i) {
    const long first = std::max(-static_cast<long>(kHalfTaps), i - (n - 1));
    const long last = std::min(static_cast<long>(kHalfTaps), i);
    double acc = 0.0;
    for (long k = first; k <= last; ++k) acc += taps[static_cast<size_t>(k + kHalfTaps)] * x[static_cast<size_t>(i - k)];
    y[static_cast<size_t>(i)] = acc;
  }
  return y;
}

// The SI-SDR of the mixture and of the separated signal against the reference, and the gain.
json scoreSignals(const std::vector<double>& reference, const std::vector<double>& mixture,
                  const std::vector<double>& separated, int maxLag) {
  // The mixture is aligned with the images by construction: no shift.
  const SdrResult mix = scaleInvariantSdr(reference, mixture, 0);
  const SdrResult sep = scaleInvariantSdr(reference, separated, maxLag);
  return {{"sdr_mixture_db", mix.sdrDb},
          {"sdr_separated_db", sep.sdrDb},
          {"improvement_db", sep.sdrDb - mix.sdrDb},
          {"lag_samples", sep.lag}};
}

json scoreTalker(const Talker& talker, const Separated* source, const Sound& mix, const ScoreOptions& options) {
  json row = {{"talker", talker.index}, {"azimuth", talker.azimuthDeg}};
  if (!source) {
    row["id"] = nullptr;
    return row;
  }
  const Sound image = readSound(talker.imagePath);
  requireStereo(image, talker.imagePath, mix.info.sampleRate);
  const int ear = static_cast<int>(source->ear);
  const std::vector<double> reference = channelOf(image, ear);
  bool silent = true;
  for (double s : reference) silent = silent && s == 0.0;
  if (silent)
    throw std::runtime_error(talker.imagePath + " is silent at the " + earName(source->ear) + " ear; nothing to score against");
  const std::string estimatePath = options.separatedDir + "/" + source->file;
  const std::vector<double> estimate = readEstimate(estimatePath, source->ear, mix.info.sampleRate);
  if (estimate.size() < reference.size())
    std::cerr << "velk-binaural: warning: " << estimatePath << " has " << estimate.size()
              << " samples, fewer than the scene's " << reference.size() << "; the rest counts as silence\n";
  const std::vector<double> mixture = channelOf(mix, ear);

  const json fullBand = scoreSignals(reference, mixture, estimate, options.maxLag);
  const double nyquist = mix.info.sampleRate / 2.0;
  const bool limited = source->maxFrequencyHz > 0.0 && source->maxFrequencyHz < nyquist;
  row["id"] = source->id;
  row["file"] = source->file;
  row["source_azimuth"] = source->azimuthDeg;
  row["ear"] = earName(source->ear);
  row["band_hz"] = {0.0, limited ? source->maxFrequencyHz : nyquist};
  row.update(limited ? scoreSignals(lowPass(reference, source->maxFrequencyHz, mix.info.sampleRate),
                                    lowPass(mixture, source->maxFrequencyHz, mix.info.sampleRate),
                                    lowPass(estimate, source->maxFrequencyHz, mix.info.sampleRate), options.maxLag)
                     : fullBand);
  row["full_band"] = fullBand;
  row["reference_samples"] = reference.size();
  row["separated_samples"] = estimate.size();
  return row;
}

// One line per talker: the scores in the band the separator keeps, then the whole-band gain.
void printTable(const json& report, std::ostream& out) {
  char line[256];
  std::snprintf(line, sizeof line, "%6s %8s %4s %5s %9s %14s %14s %12s %11s %4s  %s\n", "talker", "azimuth", "id",
                "ear", "band_Hz", "mixture_dB", "separated_dB", "gain_dB", "full_gain", "lag", "file");
  out << line;
  for (const json& row : report.at("talkers")) {
    if (row.at("id").is_null()) {
      std::snprintf(line, sizeof line, "%6d %+8.1f  no separated source within %.1f degrees\n", row.at("talker").get<int>(),
                    row.at("azimuth").get<double>(), report.at("near_deg").get<double>());
      out << line;
      continue;
    }
    const std::string band = "0-" + std::to_string(std::lround(row.at("band_hz").at(1).get<double>()));
    std::snprintf(line, sizeof line, "%6d %+8.1f %4d %5s %9s %14.2f %14.2f %+12.2f %+11.2f %4d  %s\n",
                  row.at("talker").get<int>(), row.at("azimuth").get<double>(), row.at("id").get<int>(),
                  row.at("ear").get<std::string>().c_str(), band.c_str(), row.at("sdr_mixture_db").get<double>(),
                  row.at("sdr_separated_db").get<double>(), row.at("improvement_db").get<double>(),
                  row.at("full_band").at("improvement_db").get<double>(), row.at("lag_samples").get<int>(),
                  row.at("file").get<std::string>().c_str());
    out << line;
  }
  for (const json& extra : report.at("unpaired")) {
    std::snprintf(line, sizeof line, "source %d (%+.1f degrees, %s) is paired with no talker\n", extra.at("id").get<int>(),
                  extra.at("azimuth").get<double>(), extra.at("file").get<std::string>().c_str());
    out << line;
  }
}

int score(const ScoreOptions& options) {
  const Scene scene = readScene(options.sceneDir);
  const std::vector<Separated> sources = readSeparated(options.separatedDir);
  const Sound mix = readSound(scene.mixPath);
  requireStereo(mix, scene.mixPath, mix.info.sampleRate);
  const std::vector<int> sourceOf = pairTalkers(scene, sources, options.nearDeg);

  json report = {{"scene", options.sceneDir},
                 {"separated", options.separatedDir},
                 {"near_deg", options.nearDeg},
                 {"max_lag_samples", options.maxLag},
                 {"talkers", json::array()},
                 {"unpaired", json::array()}};
  std::vector<bool> paired(sources.size(), false);
  for (size_t t = 0; t < scene.talkers.size(); ++t) {
    const Separated* source = sourceOf[t] >= 0 ? &sources[static_cast<size_t>(sourceOf[t])] : nullptr;
    if (source) paired[static_cast<size_t>(sourceOf[t])] = true;
    report["talkers"].push_back(scoreTalker(scene.talkers[t], source, mix, options));
  }
  for (size_t s = 0; s < sources.size(); ++s)
    if (!paired[s])
      report["unpaired"].push_back({{"id", sources[s].id}, {"azimuth", sources[s].azimuthDeg}, {"file", sources[s].file}});

  printTable(report, std::cout);
  if (!options.jsonOut.empty()) {
    std::ofstream out(options.jsonOut);
    out << report.dump(2) << "\n";
    if (!out) throw std::runtime_error("cannot write " + options.jsonOut);
  }
  return 0;
}

}  // namespace

void addScoreCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<ScoreOptions>();
  CLI::App* cmd = app.add_subcommand(
      "score",
      "Score a separation run on a simulated scene: per talker, the SI-SDR of the separated source nearest to "
      "the talker's direction against the talker's own image at the same ear, and the SI-SDR of the "
      "unprocessed mixture at that ear.");
  cmd->add_option("scene", options->sceneDir, "scene folder (truth.json, the mixture and the talkers' images)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("separated", options->separatedDir, "folder of the separation run (sources.json and its WAVs)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("--json", options->jsonOut, "also write the scores as a JSON object to this file");
  cmd->add_option("--max-lag", options->maxLag, "largest time shift of a separated signal to search, in samples")
      ->check(CLI::Range(0, 16000))
      ->capture_default_str();
  cmd->add_option("--near", options->nearDeg, "how far a separated source may lie from a talker and still be paired, degrees")
      ->check(CLI::Range(0.0, 360.0))
      ->capture_default_str();
  cmd->callback([options, &status] {
    try {
      status.code = score(*options);
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

}  // namespace velktool
