// The localiser's parameters, declared once: the node, the command-line tool and embedding code
// all read, check and document them from this table.
#include <string>

#include "velk_binaural/Localizer.h"

namespace NSVelkBinaural {

using velkparam::Declaration;

namespace {

// The measured method is spelled HRTFMESURED by every stored network that uses it, which must keep
// working; HRTFMEASURED is accepted beside it.
const char* const kMeasured = "HRTFMESURED";
const char* const kMeasuredSpelledOut = "HRTFMEASURED";
const char* const kInternal = "INTERNAL";
const char* const kNeededForTables = "with LOCALIZE_METHOD HRTFMESURED or HRTFMEASURED";
// Keywords of the stage parameters; the first of each pair is the harmonic-event pipeline.
const char* const kFirstFrames = "FIRST_FRAMES";
const char* const kAdaptive = "ADAPTIVE";
const char* const kHarmonic = "HARMONIC";
const char* const kBroadband = "BROADBAND";

// The defaults were chosen on the binaural test scenes (16 kHz, one to three talkers, 10 and 20 dB
// SNR) with both direction methods; each value is the one that found every talker with the fewest
// spurious reports. What the neighbouring values did:
//   PEAK_THRESHOLD 20 dB     15: 23-47% of a single talker's frames also report a false source;
//                            25: the talker at 10 dB SNR is never found.
//   PEAK_FMAX 1500 Hz        3000: more false sources (6% of frames at +20 degrees).
//   EVENT_RATIO_THRESHOLD 3  0: short-lived false events survive (15% of frames at +50 degrees).
//   MIN_SRC_INTERVAL 20 deg  10: one talker splits into many ids (19% false frames);
//                            30: neighbouring talkers merge (-50 degrees found 15 degrees off).
//   PAUSE_LENGTH 1000 ms     300-600: a talker keeps its id over fewer of its frames (43% vs 91%).
//   HARMONIC_THRESHOLD 1     4: the talker at 10 dB SNR is never found.
//   CLUSTERING_THRESHOLD 50  0 (no merging): up to 50% false frames; above 100 everything merges
//                            into one cluster and nothing is found.
//   LOCALIZE_CHANNEL LEFT    RIGHT: more false reports for talkers on the left.
// The limits refuse only values the pipeline cannot work with (a negative pause or frequency, a
// shift of no samples); every value a working network has used is accepted.
//
// The optional stage parameters leave the harmonic-event pipeline when absent; the command line
// chooses other stages (RecommendedStages.h; the measurements behind that choice are with its definition).
std::vector<Declaration> MakeTable() {
  return {
      Declaration::Int("SAMPLING_RATE", 16000, "Hz", "sampling rate of the input").AtLeast(1),
      Declaration::Int("ADVANCE", 160, "samples", "frame shift; frame k is at k x ADVANCE / SAMPLING_RATE seconds")
          .AtLeast(1),
      Declaration::Text("BGNOISE_METHOD", kInternal,
                 "INTERNAL learns the noise from the first 10 frames; EXTERNAL takes it from input BGNOISE")
          .Keywords({kInternal, "EXTERNAL"}, "EXTERNAL"),
      Declaration::Int("PAUSE_LENGTH", 1000, "ms", "how long a talker may pause and keep its id").AtLeast(0),
      Declaration::Float("MIN_SRC_INTERVAL", 20.0f, "degrees",
                  "smallest angle between two talkers (a sound within half of it joins an event)")
          .AtLeast(0),
      Declaration::Float("PEAK_FMIN", 100.0f, "Hz", "lowest frequency of the peak search").AtLeast(0),
      Declaration::Float("PEAK_FMAX", 1500.0f, "Hz",
                  "upper edge of the peak search (not included); above PEAK_FMIN, at most SAMPLING_RATE / 2")
          .Above(0),
      Declaration::Text("LOCALIZE_CHANNEL", "LEFT", "the ear whose peaks are clustered")
          .Keywords({"LEFT", "RIGHT"}, "RIGHT"),
      Declaration::Int("HARMONIC_THRESHOLD", 1, "", "smallest voice score of a harmonic structure (scores run -4 .. 4)"),
      Declaration::Float("PEAK_THRESHOLD", 20.0f, "dB", "margin above the noise a band needs in both ears to be a peak"),
      Declaration::Float("EVENT_RATIO_THRESHOLD", 3.0f, "1/s", "a talker heard this many times per second or fewer is dropped")
          .AtLeast(0),
      Declaration::Float("CLUSTERING_THRESHOLD", 50.0f, "",
                  "merge cost limit of neighbouring peak bands (0 or less: no merging; above 100: all merge)"),
      Declaration::Text("LOCALIZE_METHOD", "EPIPOLAR",
                 "EPIPOLAR judges directions with a spherical head model; HRTFMESURED (or HRTFMEASURED) with the "
                 "tables of VELK_DAT")
          .Keywords({"EPIPOLAR", kMeasured, kMeasuredSpelledOut}),
      Declaration::Float("DIRPROB_THRESHOLD", 0.0f, "", "accepted for compatibility; no effect"),
      Declaration::Int("ROUND_COUNT", 0, "", "accepted for compatibility; no effect"),
      Declaration::Text("VELK_DAT", "examples/kemar_front_16k_512.velk",
                 "transfer-function file of the head, read on the first frame")
          .NeededWhen(kNeededForTables),
      Declaration::IntList("VELK_DAT_CHANNELS", {0, 1}, "", "the file's channels used as the left and the right ear")
          .Size(2)
          .AtLeast(0)
          .NeededWhen(kNeededForTables),
      Declaration::Text("NOISE_FLOOR", kFirstFrames,
                 "with BGNOISE_METHOD INTERNAL: FIRST_FRAMES learns the noise from the first 10 frames and keeps "
                 "it; ADAPTIVE follows it all along (minimum statistics)")
          .Keywords({kFirstFrames, kAdaptive})
          .Optional(),
      Declaration::Text("DIRECTIONS", kHarmonic,
                 "HARMONIC judges harmonic sounds below PEAK_FMAX; BROADBAND steers the interaural phase of every "
                 "coherent bin above the noise up to 5 kHz, several talkers per frame")
          .Keywords({kHarmonic, kBroadband})
          .Optional(),
      Declaration::Float("HEAD_RADIUS", 0.09f, "m", "radius of the spherical head of EPIPOLAR").Above(0).AtMost(0.5).Optional(),
      Declaration::Float("SOURCE_DISTANCE", 1.0f, "m",
                  "distance of the sources from the head centre for EPIPOLAR; beyond HEAD_RADIUS")
          .Above(0)
          .Optional(),
  };
}

// The checks that involve two parameters.
void CheckPairs(const LocalizerConfig& c, const velkparam::Values& values) {
  auto text = [&](const char* name) { return velkparam::ToText(values.at(name)); };
  if (!(c.sourceDistanceM > c.headRadiusM))
    throw velkparam::ParameterError("SOURCE_DISTANCE", text("SOURCE_DISTANCE"),
                                    "expected a distance beyond HEAD_RADIUS (" + text("HEAD_RADIUS") + ")");
  const double nyquist = c.samplingRateHz / 2.0;
  if (c.peakFmaxHz > nyquist)
    throw velkparam::ParameterError("PEAK_FMAX", text("PEAK_FMAX"),
                                    "expected at most half of SAMPLING_RATE (" + text("SAMPLING_RATE") + " / 2)");
  if (c.peakFminHz >= c.peakFmaxHz)
    throw velkparam::ParameterError("PEAK_FMIN", text("PEAK_FMIN"),
                                    "expected a frequency below PEAK_FMAX (" + text("PEAK_FMAX") + ")");
}

}  // namespace

const std::vector<Declaration>& LocalizerConfig::Parameters() {
  static const std::vector<Declaration> table = MakeTable();
  return table;
}

LocalizerConfig::LocalizerConfig() { *this = FromParameters({}); }

LocalizerConfig LocalizerConfig::FromParameters(const velkparam::Values& given) {
  const std::vector<Declaration>& table = Parameters();
  const velkparam::Values values = velkparam::Completed(table, given);
  auto keyword = [&](const char* name) { return velkparam::KeywordOf(table, values, name); };

  LocalizerConfig c(Uninitialised{});
  c.samplingRateHz = velkparam::IntOf(table, values, "SAMPLING_RATE");
  c.advanceSamples = velkparam::IntOf(table, values, "ADVANCE");
  c.noise = keyword("BGNOISE_METHOD") == kInternal ? Noise::Internal : Noise::External;
  c.noiseFrames = 10;
  c.pauseLengthMs = velkparam::IntOf(table, values, "PAUSE_LENGTH");
  c.minSourceIntervalDeg = velkparam::FloatOf(table, values, "MIN_SRC_INTERVAL");
  c.peakFminHz = velkparam::FloatOf(table, values, "PEAK_FMIN");
  c.peakFmaxHz = velkparam::FloatOf(table, values, "PEAK_FMAX");
  c.channel = keyword("LOCALIZE_CHANNEL") == "LEFT" ? Channel::LEFT : Channel::RIGHT;
  c.harmonicThreshold = velkparam::IntOf(table, values, "HARMONIC_THRESHOLD");
  c.peakThresholdDb = velkparam::FloatOf(table, values, "PEAK_THRESHOLD");
  c.eventRatioThreshold = velkparam::FloatOf(table, values, "EVENT_RATIO_THRESHOLD");
  c.clusteringThreshold = velkparam::FloatOf(table, values, "CLUSTERING_THRESHOLD");
  c.method = keyword("LOCALIZE_METHOD") == "EPIPOLAR" ? Method::HeadModel : Method::MeasuredTables;
  c.tables.path = velkparam::TextOf(table, values, "VELK_DAT");
  const std::vector<int> channels = velkparam::IntsOf(table, values, "VELK_DAT_CHANNELS");
  c.tables.leftChannel = channels.at(0);
  c.tables.rightChannel = channels.at(1);
  c.headRadiusM = velkparam::FloatOf(table, values, "HEAD_RADIUS");
  c.sourceDistanceM = velkparam::FloatOf(table, values, "SOURCE_DISTANCE");
  c.noiseFloor = keyword("NOISE_FLOOR") == kAdaptive ? NoiseFloor::Adaptive : NoiseFloor::FirstFrames;
  c.directions = keyword("DIRECTIONS") == kBroadband ? Directions::Broadband : Directions::Harmonic;
  CheckPairs(c, values);
  return c;
}

}  // namespace NSVelkBinaural
