// `velk-binaural score SCENE_DIR SEPARATED_DIR`: how much a separation run helps the talkers of a
// simulated scene.
//
// A scene folder holds the mixture and, for every talker, the talker's own two-ear image
// (truth.json names the files and the directions). A separation run leaves one mono WAV per
// source and a sources.json that gives each file's direction, ear and the span in which it holds
// sound. Every separated source is paired with the talker nearest to its direction (within
// --near; a localiser may split one talker over several sources, so several may share a talker)
// and scored at its ear over its span: the scale-invariant signal-to-distortion ratio (SI-SDR)
// of the separated signal against the talker's image, next to the SI-SDR of the unprocessed
// mixture at the same ear over the same span. The improvement (separated minus mixture) is what
// separation gained for that talker there. Where a talker speaks alone the mixture is already
// clean and a span that covers only that can show a loss; so each talker is also scored as a
// listener would hear its sources played together: merged into one signal (in every 10 ms block
// the mean of the talker's sources that sound there) and scored over the whole file.
//
// A separator may keep only part of the spectrum (the head-model separator keeps what lies below
// 1500 Hz, where interaural phase is unambiguous); sources.json then gives "max_frequency_hz",
// and the scores are taken in that band, with the reference, the mixture and the separated signal
// all passed through the same low-pass filter, so that the comparison is about the talkers and
// not about the band. The whole-band scores are reported next to them.
//
// SI-SDR of an estimate e against a reference s: with the projection t = (<e, s> / <s, s>) s,
// 10 log10(|t|^2 / |e - t|^2). It ignores the overall gain, which separation does not try to
// keep. The separated signal is searched over small time shifts (--max-lag) so that a run whose
// output is displaced in time is scored fairly and the shift is reported: a correct run is
// aligned with its input and reports 0.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "OptionChecks.h"
#include "Outputs.h"
#include "SoundFile.h"
#include "ToolSupport.h"

namespace velktool {

namespace {

using nlohmann::json;
using Samples = std::vector<double>;

// Scores are bounded so that a silent or a perfect output still gives a finite number.
constexpr double kSdrBoundDb = 300.0;
// A source's span is widened by this much on each side: a frame reaches half its length beyond
// the time it is stamped with.
constexpr double kSpanMarginSec = 0.016;

struct ScoreOptions {
  std::string sceneDir, separatedDir, jsonOut;
  int maxLag = 512;
  double nearDeg = 20.0;
};

// ---- SI-SDR -------------------------------------------------------------------------------------

// Samples [begin, end) of a signal.
struct Span {
  long begin = 0, end = 0;
  long length() const { return end - begin; }
};

// SI-SDR from the normalised correlation rho^2 = <e, s>^2 / (|e|^2 |s|^2).
double sdrFromCorrelation(double rho2) {
  rho2 = std::clamp(rho2, 0.0, 1.0);
  const double tiny = std::pow(10.0, -kSdrBoundDb / 10.0);
  return std::clamp(10.0 * std::log10(std::max(rho2, tiny) / std::max(1.0 - rho2, tiny)), -kSdrBoundDb, kSdrBoundDb);
}

double energy(const Samples& x, Span span) {
  double e = 0.0;
  for (long i = span.begin; i < span.end; ++i) e += x[static_cast<size_t>(i)] * x[static_cast<size_t>(i)];
  return e;
}

// rho^2 of the reference over `span` and the estimate shifted by `lag` (estimate sample i + lag
// against reference sample i); estimate samples outside the estimate count as silence.
double correlationAt(const Samples& reference, const Samples& estimate, Span span, long lag, double refEnergy) {
  const long first = std::max(span.begin, -lag);
  const long last = std::min(span.end, static_cast<long>(estimate.size()) - lag);
  double cross = 0.0, estEnergy = 0.0;
  for (long i = first; i < last; ++i) {
    const double e = estimate[static_cast<size_t>(i + lag)];
    cross += reference[static_cast<size_t>(i)] * e;
    estEnergy += e * e;
  }
  return estEnergy > 0.0 && refEnergy > 0.0 ? cross * cross / (estEnergy * refEnergy) : 0.0;
}

// The shift in -maxLag..maxLag at which the estimate best matches the reference over `span`;
// ties go to the smallest shift.
long bestLag(const Samples& reference, const Samples& estimate, Span span, int maxLag) {
  const double refEnergy = energy(reference, span);
  long best = 0;
  double bestRho2 = correlationAt(reference, estimate, span, 0, refEnergy);
  for (long absLag = 1; absLag <= maxLag; ++absLag)
    for (long lag : {absLag, -absLag}) {
      const double rho2 = correlationAt(reference, estimate, span, lag, refEnergy);
      if (rho2 > bestRho2) {
        bestRho2 = rho2;
        best = lag;
      }
    }
  return best;
}

double scaleInvariantSdr(const Samples& reference, const Samples& estimate, Span span, long lag) {
  return sdrFromCorrelation(correlationAt(reference, estimate, span, lag, energy(reference, span)));
}

// Zero-phase low-pass filter: a windowed sinc (Blackman window, 2 x kHalfTaps + 1 taps, about
// 170 Hz of transition at 16 kHz) centred on each sample; samples outside the signal are zero.
// Only the output samples in `span` are computed (the others stay 0).
constexpr int kHalfTaps = 256;

Samples lowPass(const Samples& x, double cutoffHz, int sampleRate, Span span) {
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
  Samples y(x.size(), 0.0);
  for (long i = std::max(0L, span.begin); i < std::min(n, span.end); ++i) {
    const long first = std::max(-static_cast<long>(kHalfTaps), i - (n - 1));
    const long last = std::min(static_cast<long>(kHalfTaps), i);
    double acc = 0.0;
    for (long k = first; k <= last; ++k) acc += taps[static_cast<size_t>(k + kHalfTaps)] * x[static_cast<size_t>(i - k)];
    y[static_cast<size_t>(i)] = acc;
  }
  return y;
}

// ---- inputs -------------------------------------------------------------------------------------

enum class Ear { Left = 0, Right = 1 };

const char* earName(Ear ear) { return ear == Ear::Left ? "left" : "right"; }

Ear earFromName(const std::string& name, const std::string& where) {
  if (name == "left") return Ear::Left;
  if (name == "right") return Ear::Right;
  throw std::runtime_error(where + ": ear \"" + name + "\" is neither \"left\" nor \"right\"");
}

// One channel of a sound file, in double precision.
Samples channelOf(const Sound& sound, int channel) {
  Samples samples(static_cast<size_t>(sound.info.frames));
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

void requireStereo(const Sound& sound, const std::string& path, int sampleRate) {
  if (sound.info.channels != 2)
    throw std::runtime_error(path + " has " + std::to_string(sound.info.channels) + " channels, expected 2 (left, right)");
  if (sound.info.sampleRate != sampleRate)
    throw std::runtime_error(path + " is sampled at " + std::to_string(sound.info.sampleRate) + " Hz, the mixture at " +
                             std::to_string(sampleRate) + " Hz");
}

struct Talker {
  int index = 0;
  double azimuthDeg = 0.0;
  std::string imagePath;
  Samples ears[2];
};

struct Scene {
  int sampleRate = 0;
  Samples mixture[2];
  std::vector<Talker> talkers;
};

Scene readScene(const std::string& dir) {
  const std::string truthPath = dir + "/truth.json";
  const json truth = readJsonFile(truthPath);
  Scene scene;
  std::string mixPath;
  try {
    mixPath = dir + "/" + truth.at("mixture_file").get<std::string>();
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
  const Sound mix = readSound(mixPath);
  scene.sampleRate = mix.info.sampleRate;
  requireStereo(mix, mixPath, scene.sampleRate);
  for (int ear : {0, 1}) scene.mixture[ear] = channelOf(mix, ear);
  for (Talker& talker : scene.talkers) {
    const Sound image = readSound(talker.imagePath);
    requireStereo(image, talker.imagePath, scene.sampleRate);
    if (image.info.frames != mix.info.frames)
      throw std::runtime_error(talker.imagePath + " has " + std::to_string(image.info.frames) + " samples, the mixture " +
                               std::to_string(mix.info.frames));
    for (int ear : {0, 1}) talker.ears[ear] = channelOf(image, ear);
  }
  return scene;
}

struct Separated {
  int id = 0;
  double azimuthDeg = 0.0;
  std::string file;  // relative to the separated folder
  Ear ear = Ear::Right;
  double maxFrequencyHz = 0.0;        // highest frequency the separator keeps; 0: the whole band
  double fromSec = -1.0, toSec = -1.0;  // where it holds sound; negative: the whole file
};

// The ear a separator keeps for a direction when sources.json does not say: the one on the
// talker's side, the right ear straight ahead.
Ear earForAzimuth(double azimuthDeg) { return azimuthDeg > 0.0 ? Ear::Left : Ear::Right; }

Separated parseSeparated(const json& entry, const std::string& where) {
  Separated s;
  s.id = entry.at("id").get<int>();
  s.azimuthDeg = entry.at("azimuth").get<double>();
  s.file = entry.at("file").get<std::string>();
  s.ear = entry.contains("ear") ? earFromName(entry.at("ear").get<std::string>(), where) : earForAzimuth(s.azimuthDeg);
  if (entry.contains("max_frequency_hz")) s.maxFrequencyHz = entry.at("max_frequency_hz").get<double>();
  if (entry.contains("from_s") && entry.contains("to_s")) {
    s.fromSec = entry.at("from_s").get<double>();
    s.toSec = entry.at("to_s").get<double>();
    if (!(s.fromSec >= 0.0 && s.toSec >= s.fromSec))
      throw std::runtime_error(where + ": from_s and to_s do not make a span");
  }
  return s;
}

std::vector<Separated> readSeparated(const std::string& dir) {
  const std::string path = dir + "/sources.json";
  const json list = readJsonFile(path);
  if (!list.is_array()) throw std::runtime_error(path + ": expected a list of sources");
  std::vector<Separated> sources;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = path + " entry " + std::to_string(i);
    try {
      sources.push_back(parseSeparated(list[i], where));
    } catch (const json::exception& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
  }
  return sources;
}

// The separated signal: a mono file, or the ear's channel of a two-channel one.
Samples readEstimate(const std::string& path, Ear ear, int sampleRate) {
  const Sound sound = readSound(path);
  if (sound.info.sampleRate != sampleRate)
    throw std::runtime_error(path + " is sampled at " + std::to_string(sound.info.sampleRate) + " Hz, the mixture at " +
                             std::to_string(sampleRate) + " Hz");
  if (sound.info.channels == 1) return channelOf(sound, 0);
  if (sound.info.channels == 2) return channelOf(sound, static_cast<int>(ear));
  throw std::runtime_error(path + " has " + std::to_string(sound.info.channels) + " channels, expected 1 or 2");
}

// ---- scoring ------------------------------------------------------------------------------------

// The talker nearest to `azimuthDeg` within `nearDeg`, or -1.
int nearestTalker(const Scene& scene, double azimuthDeg, double nearDeg) {
  int best = -1;
  for (size_t t = 0; t < scene.talkers.size(); ++t) {
    const double d = std::fabs(scene.talkers[t].azimuthDeg - azimuthDeg);
    if (d <= nearDeg && (best < 0 || d < std::fabs(scene.talkers[static_cast<size_t>(best)].azimuthDeg - azimuthDeg)))
      best = static_cast<int>(t);
  }
  return best;
}

Span spanOf(const Separated& source, int sampleRate, long samples) {
  if (source.fromSec < 0.0) return Span{0, samples};
  const long begin = std::lround((source.fromSec - kSpanMarginSec) * sampleRate);
  const long end = std::lround((source.toSec + kSpanMarginSec) * sampleRate);
  return Span{std::clamp(begin, 0L, samples), std::clamp(end, 0L, samples)};
}

json scores(const Samples& reference, const Samples& mixture, const Samples& estimate, Span span, long lag) {
  const double mix = scaleInvariantSdr(reference, mixture, span, 0);  // aligned by construction
  const double sep = scaleInvariantSdr(reference, estimate, span, lag);
  return {{"sdr_mixture_db", mix}, {"sdr_separated_db", sep}, {"improvement_db", sep - mix}};
}

// Low-passed copies of the scene's signals, made once per talker, ear and band.
class BandCache {
 public:
  explicit BandCache(const Scene& scene) : scene_(scene) {}
  const Samples& talker(int t, int ear, double cutoffHz) {
    return get(std::make_tuple(t, ear, cutoffHz), scene_.talkers[static_cast<size_t>(t)].ears[ear], cutoffHz);
  }
  const Samples& mixture(int ear, double cutoffHz) {
    return get(std::make_tuple(-1, ear, cutoffHz), scene_.mixture[ear], cutoffHz);
  }

 private:
  using Key = std::tuple<int, int, double>;
  const Samples& get(const Key& key, const Samples& x, double cutoffHz) {
    auto it = cache_.find(key);
    if (it == cache_.end())
      it = cache_.emplace(key, lowPass(x, cutoffHz, scene_.sampleRate, Span{0, static_cast<long>(x.size())})).first;
    return it->second;
  }
  const Scene& scene_;
  std::map<Key, Samples> cache_;
};

// The scores of `estimate` against talker `t` at `ear` over `span`, in the band up to
// `maxFrequencyHz` (0: the whole band) and over the whole band, with the shift found.
json scoreAgainst(const Samples& estimate, int t, int ear, double maxFrequencyHz, Span span, const Scene& scene,
                  BandCache& bands, int maxLag) {
  const Samples& reference = scene.talkers[static_cast<size_t>(t)].ears[ear];
  const long lag = bestLag(reference, estimate, span, maxLag);
  const json fullBand = scores(reference, scene.mixture[ear], estimate, span, lag);
  const double nyquist = scene.sampleRate / 2.0;
  const bool limited = maxFrequencyHz > 0.0 && maxFrequencyHz < nyquist;
  json result = {{"band_hz", {0.0, limited ? maxFrequencyHz : nyquist}}};
  if (limited) {
    const Span around{span.begin - maxLag - kHalfTaps, span.end + maxLag + kHalfTaps};
    result.update(scores(bands.talker(t, ear, maxFrequencyHz), bands.mixture(ear, maxFrequencyHz),
                         lowPass(estimate, maxFrequencyHz, scene.sampleRate, around), span, lag));
  } else {
    result.update(fullBand);
  }
  result["full_band"] = fullBand;
  result["lag_samples"] = lag;
  return result;
}

// A separated source with its signal and the talker it is paired with (-1: none).
struct ScoredSource {
  Separated source;
  Samples estimate;
  int talker = -1;
  json row;
};

ScoredSource scoreSource(const Separated& source, const Scene& scene, BandCache& bands, const ScoreOptions& options) {
  ScoredSource scored{source, {}, nearestTalker(scene, source.azimuthDeg, options.nearDeg), json()};
  json& row = scored.row;
  row = {{"id", source.id}, {"azimuth", source.azimuthDeg}, {"file", source.file}, {"ear", earName(source.ear)}};
  const std::string estimatePath = options.separatedDir + "/" + source.file;
  scored.estimate = readEstimate(estimatePath, source.ear, scene.sampleRate);
  const long samples = static_cast<long>(scene.mixture[0].size());
  if (static_cast<long>(scored.estimate.size()) < samples)
    std::cerr << "velk-binaural: warning: " << estimatePath << " has " << scored.estimate.size()
              << " samples, fewer than the scene's " << samples << "; the rest counts as silence\n";
  row["separated_samples"] = scored.estimate.size();
  row["reference_samples"] = samples;
  if (scored.talker < 0) {
    row["talker"] = nullptr;
    return scored;
  }
  const Talker& talker = scene.talkers[static_cast<size_t>(scored.talker)];
  const int ear = static_cast<int>(source.ear);
  const Span span = spanOf(source, scene.sampleRate, samples);
  row["talker"] = talker.index;
  row["talker_azimuth"] = talker.azimuthDeg;
  row["span_s"] = {static_cast<double>(span.begin) / scene.sampleRate, static_cast<double>(span.end) / scene.sampleRate};
  if (energy(talker.ears[ear], span) == 0.0) {
    row["talker_silent"] = true;  // nothing of the talker to recover there
    return scored;
  }
  row.update(scoreAgainst(scored.estimate, scored.talker, ear, source.maxFrequencyHz, span, scene, bands, options.maxLag));
  return scored;
}

// Length of the blocks in which a talker's sources are merged, seconds.
constexpr double kMergeBlockSec = 0.01;

// The talker's sources at `ear` as one signal: per block, the mean of those that sound there.
Samples mergeSources(const std::vector<const ScoredSource*>& sources, long samples, int blockLength) {
  Samples merged(static_cast<size_t>(samples), 0.0);
  for (long begin = 0; begin < samples; begin += blockLength) {
    const long end = std::min(samples, begin + blockLength);
    std::vector<const Samples*> sounding;
    for (const ScoredSource* s : sources) {
      const long available = std::min(end, static_cast<long>(s->estimate.size()));
      if (available > begin && energy(s->estimate, Span{begin, available}) > 0.0) sounding.push_back(&s->estimate);
    }
    for (const Samples* x : sounding)
      for (long i = begin; i < std::min(end, static_cast<long>(x->size())); ++i)
        merged[static_cast<size_t>(i)] += (*x)[static_cast<size_t>(i)] / static_cast<double>(sounding.size());
  }
  return merged;
}

// The talker's sources merged and scored over the whole file, at the ear most of them use (on a
// tie, the ear on the talker's side) and in the widest band any of them keeps.
json scoreMerged(const Scene& scene, int t, const std::vector<ScoredSource>& all, BandCache& bands, int maxLag) {
  const Talker& talker = scene.talkers[static_cast<size_t>(t)];
  int votes[2] = {0, 0};
  for (const ScoredSource& s : all)
    if (s.talker == t) ++votes[static_cast<int>(s.source.ear)];
  if (votes[0] + votes[1] == 0) return nullptr;
  const Ear ear = votes[0] != votes[1] ? (votes[0] > votes[1] ? Ear::Left : Ear::Right) : earForAzimuth(talker.azimuthDeg);
  std::vector<const ScoredSource*> chosen;
  double maxFrequencyHz = -1.0;
  for (const ScoredSource& s : all) {
    if (s.talker != t || s.source.ear != ear) continue;
    chosen.push_back(&s);
    const double keeps = s.source.maxFrequencyHz > 0.0 ? s.source.maxFrequencyHz : scene.sampleRate / 2.0;
    maxFrequencyHz = std::max(maxFrequencyHz, keeps);
  }
  const long samples = static_cast<long>(scene.mixture[0].size());
  const int block = std::max(1, static_cast<int>(std::lround(kMergeBlockSec * scene.sampleRate)));
  json merged = {{"ear", earName(ear)}, {"sources", chosen.size()}};
  merged.update(scoreAgainst(mergeSources(chosen, samples, block), t, static_cast<int>(ear), maxFrequencyHz,
                             Span{0, samples}, scene, bands, maxLag));
  return merged;
}

// Per talker: its sources, their improvements averaged with their spans' lengths as weights, and
// the score of the sources merged.
json summarizeTalkers(const Scene& scene, const std::vector<ScoredSource>& scored, BandCache& bands, int maxLag) {
  json rows = json::array();
  for (const ScoredSource& s : scored) rows.push_back(s.row);
  json talkers = json::array();
  for (size_t t = 0; t < scene.talkers.size(); ++t) {
    const Talker& talker = scene.talkers[t];
    json ids = json::array();
    double weighted = 0.0, seconds = 0.0, worst = INFINITY;
    for (const json& row : rows) {
      if (row.at("talker").is_null() || row.at("talker").get<int>() != talker.index) continue;
      ids.push_back(row.at("id"));
      if (!row.contains("improvement_db")) continue;
      const double length = row.at("span_s")[1].get<double>() - row.at("span_s")[0].get<double>();
      const double gain = row.at("improvement_db").get<double>();
      weighted += gain * length;
      seconds += length;
      worst = std::min(worst, gain);
    }
    json entry = {{"talker", talker.index}, {"azimuth", talker.azimuthDeg}, {"ids", ids}, {"scored_s", seconds}};
    entry["mean_improvement_db"] = seconds > 0.0 ? json(weighted / seconds) : json(nullptr);
    entry["min_improvement_db"] = seconds > 0.0 ? json(worst) : json(nullptr);
    entry["merged"] = scoreMerged(scene, static_cast<int>(t), scored, bands, maxLag);
    talkers.push_back(entry);
  }
  return talkers;
}

// ---- report -------------------------------------------------------------------------------------

void printReport(const json& report, std::ostream& out) {
  char line[256];
  std::snprintf(line, sizeof line, "%4s %8s %5s %6s %11s %9s %12s %14s %9s %10s %4s  %s\n", "id", "azimuth", "ear",
                "talker", "span_s", "band_Hz", "mixture_dB", "separated_dB", "gain_dB", "full_gain", "lag", "file");
  out << line;
  for (const json& row : report.at("sources")) {
    const int id = row.at("id").get<int>();
    const double azimuth = row.at("azimuth").get<double>();
    const std::string ear = row.at("ear").get<std::string>(), file = row.at("file").get<std::string>();
    if (row.at("talker").is_null()) {
      std::snprintf(line, sizeof line, "%4d %+8.1f %5s %6s  no talker within %.1f degrees  %s\n", id, azimuth,
                    ear.c_str(), "-", report.at("near_deg").get<double>(), file.c_str());
    } else if (!row.contains("improvement_db")) {
      std::snprintf(line, sizeof line, "%4d %+8.1f %5s %6d  the talker is silent over this span  %s\n", id, azimuth,
                    ear.c_str(), row.at("talker").get<int>(), file.c_str());
    } else {
      char span[32];
      std::snprintf(span, sizeof span, "%.2f-%.2f", row.at("span_s")[0].get<double>(), row.at("span_s")[1].get<double>());
      const std::string band = "0-" + std::to_string(std::lround(row.at("band_hz")[1].get<double>()));
      std::snprintf(line, sizeof line, "%4d %+8.1f %5s %6d %11s %9s %12.2f %14.2f %+9.2f %+10.2f %4d  %s\n", id, azimuth,
                    ear.c_str(), row.at("talker").get<int>(), span, band.c_str(),
                    row.at("sdr_mixture_db").get<double>(), row.at("sdr_separated_db").get<double>(),
                    row.at("improvement_db").get<double>(), row.at("full_band").at("improvement_db").get<double>(),
                    row.at("lag_samples").get<int>(), file.c_str());
    }
    out << line;
  }
  out << "\n";
  for (const json& talker : report.at("talkers")) {
    const json& merged = talker.at("merged");
    if (merged.is_null()) {
      std::snprintf(line, sizeof line, "talker %d (%+.1f degrees): no separated source\n", talker.at("talker").get<int>(),
                    talker.at("azimuth").get<double>());
      out << line;
      continue;
    }
    std::snprintf(line, sizeof line,
                  "talker %d (%+.1f degrees): %zu source(s) merged at the %s ear, 0-%ld Hz: mixture %.2f dB, "
                  "separated %.2f dB, gain %+.2f dB (whole band %+.2f dB)",
                  talker.at("talker").get<int>(), talker.at("azimuth").get<double>(), merged.at("sources").get<size_t>(),
                  merged.at("ear").get<std::string>().c_str(), std::lround(merged.at("band_hz")[1].get<double>()),
                  merged.at("sdr_mixture_db").get<double>(), merged.at("sdr_separated_db").get<double>(),
                  merged.at("improvement_db").get<double>(), merged.at("full_band").at("improvement_db").get<double>());
    out << line;
    if (!talker.at("mean_improvement_db").is_null()) {
      std::snprintf(line, sizeof line, "; per source over its span: mean %+.2f dB, least %+.2f dB",
                    talker.at("mean_improvement_db").get<double>(), talker.at("min_improvement_db").get<double>());
      out << line;
    }
    out << "\n";
  }
}

int score(const ScoreOptions& options) {
  const Scene scene = readScene(options.sceneDir);
  const std::vector<Separated> sources = readSeparated(options.separatedDir);
  BandCache bands(scene);
  std::vector<ScoredSource> scored;
  json rows = json::array();
  for (const Separated& source : sources) {
    scored.push_back(scoreSource(source, scene, bands, options));
    rows.push_back(scored.back().row);
  }
  const json report = {{"scene", options.sceneDir},
                       {"separated", options.separatedDir},
                       {"near_deg", options.nearDeg},
                       {"max_lag_samples", options.maxLag},
                       {"sources", rows},
                       {"talkers", summarizeTalkers(scene, scored, bands, options.maxLag)}};
  if (!options.jsonOut.empty()) StagedText(options.jsonOut, report.dump(2) + "\n").commit();
  printReport(report, std::cout);
  return 0;
}

}  // namespace

void addScoreCommands(CLI::App& app, Status& status) {
  auto options = std::make_shared<ScoreOptions>();
  CLI::App* cmd = app.add_subcommand(
      "score",
      "Score a separation run on a simulated scene: for every separated source, the SI-SDR against the image of "
      "the nearest talker at the source's ear over the span it covers, and that of the unprocessed mixture.");
  cmd->add_option("scene", options->sceneDir, "scene folder (truth.json, the mixture and the talkers' images)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("separated", options->separatedDir, "folder of the separation run (sources.json and its WAVs)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("--json", options->jsonOut, "also write the scores as a JSON object to this file");
  cmd->add_option("--max-lag", options->maxLag, "largest time shift of a separated signal to search, in samples")
      ->check(WholeNumber({0, 16000}, "a time shift in samples"))
      ->capture_default_str();
  cmd->add_option("--near", options->nearDeg, "how far a separated source may lie from a talker and still be paired, degrees")
      ->check(RealNumber({0, 360}, "an angle in degrees"))
      ->capture_default_str();
  cmd->callback([options, &status] {
    status.code = reportFailures([&] {
      refuseInputsAsOutputs({{"--json", options->jsonOut}},
                            {{"scene's truth", options->sceneDir + "/truth.json"},
                             {"separation's source list", options->separatedDir + "/sources.json"}});
      return score(*options);
    });
  });
}

}  // namespace velktool
