// The soft-mask separator's parameters, declared once: the node, the command-line tool and
// embedding code all read, check and document them from this table.
#include <exception>
#include <string>

#include "velk_binaural/SoftMaskSeparator.h"
#include "velkio/VELK.h"

namespace NSVelkBinaural {

using velkparam::Declaration;

namespace {

const char* const kEpipolar = "EPIPOLAR";
// The measured method as the other nodes and stored networks spell it, and spelled out.
const char* const kMeasured = "HRTFMESURED";
const char* const kMeasuredSpelledOut = "HRTFMEASURED";
const char* const kNeededForTables = "with SEPARATE_METHOD HRTFMESURED or HRTFMEASURED";

// The defaults were chosen on the simulated two- and three-talker scenes with the true directions
// and the measured tables, in free field (24 scenes, 20 dB, 10 dB SNR and clean) and in a room
// (8 scenes, reverberation time 0.45 s, talkers 1.5-2.5 m away), by the mean gain in
// scale-invariant SDR of each talker's output over the mixture at the same ear. With every
// default: +10.1 dB free field, +3.4 dB in the room (two talkers). Each value changed alone
// (free field / room, two talkers, dB):
//   CUE_SPREAD 0.02      0.005: 10.2 / 3.3   0.05: 9.9 / 3.5   0.1: 9.7 / 3.5
//   LEARNING_TIME 3      0: 10.4 / 2.7       1: 10.2 / 3.3     10: 10.0 / 3.5
//   ANCHOR_FRAMES 20     5: 9.1 / 3.3        10: 9.6 / 3.5     50: 10.3 / 3.1
//   NEIGHBOUR_BINS 10    0: 10.0 / 2.4       3: 10.1 / 2.9     6: 10.0 / 3.3    20: 10.1 / 3.4
//   NEIGHBOUR_POWER 2    1: 10.3 / 3.1       3: 9.8 / 3.6
//   DECAY_TIME 0.45      0: 11.0 / 1.6       0.3: 10.2 / 3.1   0.6: 10.0 / 3.6  0.8: 9.9 / 3.7
//   NOISE_CLASS 1        0: 8.6 / 3.1
//   NOISE_SCALE 1        0.5: 9.8 / 3.4      0.7: 9.9 / 3.4    1.4: 10.0 / 3.3  2: 9.8 / 3.2
//   MASK_FLOOR 0.05      0: 10.1 / 3.4       0.1: 9.8 / 3.4    0.2: 8.7 / 3.2
//   DEMIX 0              1: 12.3 / 1.8
// The learning, the decay and demixing pull the two ways: in free field the cues of the tables
// hold and every frame can be decided afresh, while in a room what a talker leaves in a bin stays
// its own and the cues must be learnt. The defaults favour rooms, where recordings are made;
// DECAY_TIME 0.45 s is the reverberation time of an ordinary office (set it to the room's when
// known, 0 in free field), and DEMIX suits free field and close talkers.
// The head model's sphere: radius 0.09 m and distance 1 m gave +9.97 / +2.95 dB (two talkers);
// 0.0925 m 9.25 / 2.83, 0.095 m 8.47 / 2.67; distances of 1.4 and 2 m changed under 0.1 dB.
std::vector<Declaration> MakeTable() {
  return {
      Declaration::Int("SAMPLING_RATE", 16000, "Hz", "sampling rate of the spectrum").AtLeast(1).Optional(),
      Declaration::Int("ADVANCE", 160, "samples", "frame shift; turns the times below into frames").AtLeast(1).Optional(),
      Declaration::Text("SEPARATE_METHOD", kEpipolar,
                 "where the interaural cues expected of a direction come from: EPIPOLAR a rigid spherical head "
                 "(HEAD_RADIUS, SOURCE_DISTANCE), HRTFMESURED (or HRTFMEASURED) the measured responses of VELK_DAT")
          .Keywords({kEpipolar, kMeasured, kMeasuredSpelledOut})
          .Optional(),
      Declaration::Text("VELK_DAT", "examples/kemar_front_16k_512.velk",
                 "transfer-function file of the head, read on the first frame; made for SAMPLING_RATE and the "
                 "spectrum's transform length")
          .NeededWhen(kNeededForTables),
      Declaration::IntList("VELK_DAT_CHANNELS", {0, 1}, "", "the file's channels used as the left and the right ear")
          .Size(2)
          .AtLeast(0)
          .Optional(),
      Declaration::Float("HEAD_RADIUS", 0.09f, "m", "radius of the spherical head of EPIPOLAR").Above(0).AtMost(0.5).Optional(),
      Declaration::Float("SOURCE_DISTANCE", 1.0f, "m",
                  "distance of the talkers from the head centre for EPIPOLAR; beyond HEAD_RADIUS")
          .Above(0)
          .Optional(),
      Declaration::Float("CUE_SPREAD", 0.02f, "",
                  "how far a talker's interaural cues may stray from those expected of its direction (share of the "
                  "least-expected spatial component); larger is more tolerant and less selective")
          .AtLeast(1e-4)
          .AtMost(1)
          .Optional(),
      Declaration::Float("LEARNING_TIME", 3.0f, "s",
                  "memory of the cues learnt from the recording (forgetting time constant); 0 keeps the expected cues")
          .AtLeast(0)
          .AtMost(600)
          .Optional(),
      Declaration::Float("ANCHOR_FRAMES", 20.0f, "frames",
                  "weight of the expected cues against the learnt ones, in frames of a bin fully owned by the talker")
          .AtLeast(0.1)
          .AtMost(1e6)
          .Optional(),
      Declaration::Int("NEIGHBOUR_BINS", 10, "bins",
                "half-width of the band of neighbouring bins whose decisions bias each bin's decision; 0: none")
          .AtLeast(0)
          .AtMost(64)
          .Optional(),
      Declaration::Int("NEIGHBOUR_POWER", 2, "",
                "how strongly the neighbours bias a bin: exponent of their mean decision; 0: not at all")
          .AtLeast(0)
          .AtMost(4)
          .Optional(),
      Declaration::Float("DECAY_TIME", 0.45f, "s",
                  "60 dB decay time of the power a talker leaves in a bin (reverberation, held sounds), which stays "
                  "with that talker; 0: every frame is shared out anew")
          .AtLeast(0)
          .AtMost(10)
          .Optional(),
      Declaration::Int("NOISE_CLASS", 1, "", "1: the background noise takes its share of each bin; 0: talkers share everything")
          .AtLeast(0)
          .AtMost(1)
          .Optional(),
      Declaration::Float("NOISE_SCALE", 1.0f, "",
                  "the background noise's share of a bin: this times the noise's mean power there, which the adaptive "
                  "noise floor follows")
          .AtLeast(0)
          .AtMost(10)
          .Optional(),
      Declaration::Float("MASK_FLOOR", 0.05f, "", "least gain of a mask, so that the output does not sound chopped")
          .AtLeast(0)
          .AtMost(1)
          .Optional(),
      Declaration::Int("DEMIX", 0, "",
                "1: each output is a per-bin two-ear Wiener filter built from the masks and the learnt cues instead "
                "of the masked ear (better in free field, worse in reverberant rooms)")
          .AtLeast(0)
          .AtMost(1)
          .Optional(),
  };
}

// The check that involves two parameters.
void CheckHead(const SphereHead& head, const velkparam::Values& values) {
  if (!(head.distanceM > head.radiusM))
    throw velkparam::ParameterError("SOURCE_DISTANCE", velkparam::ToText(values.at("SOURCE_DISTANCE")),
                                    "expected a distance beyond HEAD_RADIUS (" +
                                        velkparam::ToText(values.at("HEAD_RADIUS")) + ")");
}

}  // namespace

const std::vector<Declaration>& SoftMaskSeparatorConfig::Parameters() {
  static const std::vector<Declaration> table = MakeTable();
  return table;
}

SoftMaskSeparatorConfig::SoftMaskSeparatorConfig() { *this = FromParameters({}); }

SoftMaskSeparatorConfig SoftMaskSeparatorConfig::FromParameters(const velkparam::Values& given) {
  const std::vector<Declaration>& table = Parameters();
  const velkparam::Values values = velkparam::Completed(table, given);
  auto number = [&](const char* name) { return velkparam::FloatOf(table, values, name); };
  auto whole = [&](const char* name) { return velkparam::IntOf(table, values, name); };

  SoftMaskSeparatorConfig c(Uninitialised{});
  c.sampleRate = whole("SAMPLING_RATE");
  c.frameShift = whole("ADVANCE");
  c.cues = velkparam::KeywordOf(table, values, "SEPARATE_METHOD") == kEpipolar ? Cues::HeadModel : Cues::MeasuredTables;
  c.tables.path = velkparam::TextOf(table, values, "VELK_DAT");
  const std::vector<int> channels = velkparam::IntsOf(table, values, "VELK_DAT_CHANNELS");
  c.tables.leftChannel = channels.at(0);
  c.tables.rightChannel = channels.at(1);
  c.head.radiusM = number("HEAD_RADIUS");
  c.head.distanceM = number("SOURCE_DISTANCE");
  c.cueSpread = number("CUE_SPREAD");
  c.learningTimeS = number("LEARNING_TIME");
  c.anchorFrames = number("ANCHOR_FRAMES");
  c.neighbourBins = whole("NEIGHBOUR_BINS");
  c.neighbourPower = whole("NEIGHBOUR_POWER");
  c.decayTimeS = number("DECAY_TIME");
  c.noiseClass = whole("NOISE_CLASS") != 0;
  c.noiseScale = number("NOISE_SCALE");
  c.maskFloor = number("MASK_FLOOR");
  c.demix = whole("DEMIX") != 0;
  CheckHead(c.head, values);
  return c;
}

velkparam::Values SoftMaskSeparatorConfig::ToParameters() const {
  return {
      {"SAMPLING_RATE", sampleRate},
      {"ADVANCE", frameShift},
      {"SEPARATE_METHOD", std::string(cues == Cues::MeasuredTables ? kMeasured : kEpipolar)},
      {"VELK_DAT", tables.path},
      {"VELK_DAT_CHANNELS", std::vector<int>{tables.leftChannel, tables.rightChannel}},
      {"HEAD_RADIUS", static_cast<float>(head.radiusM)},
      {"SOURCE_DISTANCE", static_cast<float>(head.distanceM)},
      {"CUE_SPREAD", cueSpread},
      {"LEARNING_TIME", learningTimeS},
      {"ANCHOR_FRAMES", anchorFrames},
      {"NEIGHBOUR_BINS", neighbourBins},
      {"NEIGHBOUR_POWER", neighbourPower},
      {"DECAY_TIME", decayTimeS},
      {"NOISE_CLASS", noiseClass ? 1 : 0},
      {"NOISE_SCALE", noiseScale},
      {"MASK_FLOOR", maskFloor},
      {"DEMIX", demix ? 1 : 0},
  };
}

void Validate(const SoftMaskSeparatorConfig& config) {
  const velkparam::Values values = config.ToParameters();
  velkparam::Check(SoftMaskSeparatorConfig::Parameters(), values);
  CheckHead(config.head, values);
}

std::shared_ptr<const ExpectedCues> LoadExpectedCues(const SoftMaskSeparatorConfig& config, int nfft) {
  if (config.cues == SoftMaskSeparatorConfig::Cues::HeadModel)
    return std::make_shared<const ExpectedCues>(ExpectedCues::sphere(config.head, config.sampleRate, nfft));
  const TableRequest& request = config.tables;
  auto refuse = [&](const std::string& what) {
    return TableError("transfer-function file \"" + request.path + "\": " + what);
  };
  velkio::VELK file;
  try {
    file.readFile(request.path);
  } catch (const std::exception& e) {
    throw refuse(e.what());
  }
  std::shared_ptr<const ExpectedCues> cues;
  try {
    cues = std::make_shared<const ExpectedCues>(ExpectedCues::fromFile(file, request.leftChannel, request.rightChannel));
  } catch (const std::invalid_argument& e) {
    throw refuse(e.what());
  }
  if (cues->sampleRate() != config.sampleRate)
    throw refuse("sampling rate: the tables are for " + std::to_string(cues->sampleRate()) + " Hz, expected " +
                 std::to_string(config.sampleRate) + " Hz (that of the spectra)");
  if (cues->nfft() != nfft)
    throw refuse("transform length: the tables are for a " + std::to_string(cues->nfft()) +
                 "-point transform, expected " + std::to_string(nfft) + " points (that of the spectra)");
  return cues;
}

}  // namespace NSVelkBinaural
