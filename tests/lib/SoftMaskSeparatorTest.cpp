// The soft-mask separator on synthetic talkers heard through the measured dummy-head responses:
// what it keeps of a lone talker, how far it pushes down a second one, silence and broken bins,
// learning, and the checks of its configuration and input.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "velk_binaural/SoftMaskSeparator.h"
#include "velkio/HeadModel.h"
#include "velkio/VELK.h"

namespace {

using namespace NSVelkBinaural;
using Spectrum = std::vector<std::complex<float>>;

constexpr int kNfft = 512;
constexpr int kBins = kNfft / 2 + 1;
constexpr int kRate = 16000;
constexpr int kFrames = 500;  // 5 s at the default shift
constexpr double kPi = 3.14159265358979323846;

std::string kemarPath() { return std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk"; }

// The ear responses of one direction.
struct Ears {
  Spectrum left, right;
};

// The measured responses of the example table at `azimuthDeg` (one of its 5-degree directions).
Ears Kemar(double azimuthDeg) {
  velkio::VELK file;
  file.readFile(kemarPath());
  const auto m2pg = file.findFirst<velkio::M2PG>();
  for (std::size_t d = 0; d < m2pg->getSrc().size(); ++d) {
    const velkio::Position& p = m2pg->getSrc()[d][0];
    if (std::fabs(std::atan2(p.y, p.x) * 180.0 / kPi - azimuthDeg) < 0.01) {
      const velkio::ChannelResponses& ears = (*m2pg->getTF())[d];
      return {ears[0], ears[1]};
    }
  }
  throw std::logic_error("no such direction in the table");
}

std::shared_ptr<const ExpectedCues> MeasuredCues() {
  velkio::VELK file;
  file.readFile(kemarPath());
  return std::make_shared<ExpectedCues>(ExpectedCues::fromFile(file));
}

std::shared_ptr<const ExpectedCues> SphereCues() {
  return std::make_shared<ExpectedCues>(ExpectedCues::sphere(SphereHead{}, kRate, kNfft));
}

// A talker's dry spectra, frame by frame: syllables of 10 to 30 frames with pauses of 3 to 12,
// and within a syllable heavy-tailed (log-normal) bin magnitudes under a falling spectral slope,
// with random phases. Two such talkers rarely dominate one bin equally, as with speech.
std::vector<Spectrum> Talker(unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::uniform_real_distribution<float> phase(0.0f, 2.0f * static_cast<float>(kPi));
  std::uniform_int_distribution<int> syllable(10, 30), pause(3, 12);
  std::vector<Spectrum> frames(kFrames, Spectrum(kBins));
  int t = pause(rng);
  while (t < kFrames) {
    const int end = std::min(kFrames, t + syllable(rng));
    for (; t < end; ++t)
      for (int k = 1; k < kBins; ++k)
        frames[t][k] = std::polar(std::exp(1.5f * gauss(rng)) / std::sqrt(1.0f + k / 20.0f), phase(rng));
    t += pause(rng);
  }
  return frames;
}

// The two-ear image of a talker heard through `ears`.
struct Image {
  std::vector<Spectrum> left, right;
};
Image Hear(const std::vector<Spectrum>& dry, const Ears& ears) {
  Image image{std::vector<Spectrum>(kFrames, Spectrum(kBins)), std::vector<Spectrum>(kFrames, Spectrum(kBins))};
  for (int t = 0; t < kFrames; ++t)
    for (int k = 0; k < kBins; ++k) {
      image.left[t][k] = ears.left[k] * dry[t][k];
      image.right[t][k] = ears.right[k] * dry[t][k];
    }
  return image;
}

// Faint independent noise in each ear (about 40 dB below the talkers), as any microphone has.
Image Mixture(const std::vector<Image>& images, unsigned seed = 99) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> gauss(0.0f, 0.01f);
  Image mix{std::vector<Spectrum>(kFrames, Spectrum(kBins)), std::vector<Spectrum>(kFrames, Spectrum(kBins))};
  for (int t = 0; t < kFrames; ++t)
    for (int k = 0; k < kBins; ++k) {
      mix.left[t][k] = {gauss(rng), gauss(rng)};
      mix.right[t][k] = {gauss(rng), gauss(rng)};
      for (const Image& image : images) {
        mix.left[t][k] += image.left[t][k];
        mix.right[t][k] += image.right[t][k];
      }
    }
  return mix;
}

// Runs the separator over a mixture and records each talker's masks per frame.
std::vector<std::vector<std::vector<float>>> Masks(SoftMaskSeparator& separator, const Image& mix,
                                                   const std::vector<TalkerDirection>& talkers) {
  std::vector<std::vector<std::vector<float>>> masks(talkers.size());
  for (int t = 0; t < kFrames; ++t) {
    separator.process({mix.left[t].data(), mix.right[t].data(), kBins}, talkers);
    for (std::size_t i = 0; i < talkers.size(); ++i)
      masks[i].emplace_back(separator.mask(i), separator.mask(i) + kBins);
  }
  return masks;
}

// Energy of an image's ear after the masks, relative to before, in dB.
double PassedDb(const std::vector<std::vector<float>>& masks, const std::vector<Spectrum>& ear) {
  double before = 0.0, after = 0.0;
  for (std::size_t t = 0; t < masks.size(); ++t)
    for (int k = 0; k < kBins; ++k) {
      before += std::norm(ear[t][k]);
      after += std::norm(masks[t][k] * ear[t][k]);
    }
  return 10.0 * std::log10(after / before);
}

// Share of a talker's image kept in the output: the projection of the output onto the image.
double Kept(const std::vector<std::vector<float>>& masks, const std::vector<Spectrum>& ear) {
  double image = 0.0, kept = 0.0;
  for (int t = 0; t < kFrames; ++t)
    for (int k = 0; k < kBins; ++k) {
      image += std::norm(ear[t][k]);
      kept += masks[t][k] * std::norm(ear[t][k]);
    }
  return kept / image;
}

// ---- what it keeps and what it removes ---------------------------------------------------------

TEST(SoftMaskSeparator, KeepsALoneTalkerAtTheSideWithMeasuredAndModelledCues) {
  for (double azimuth : {80.0, -80.0}) {
    const Image image = Hear(Talker(1), Kemar(azimuth));
    const Image mix = Mixture({image});
    for (const auto& cues : {MeasuredCues(), SphereCues()}) {
      SoftMaskSeparator separator(cues);
      const auto masks = Masks(separator, mix, {{0, azimuth}});
      EXPECT_EQ(separator.leftEar(0), azimuth > 0);
      EXPECT_GE(Kept(masks[0], azimuth > 0 ? image.left : image.right), 0.9) << azimuth << " degrees";
    }
  }
}

// The real head (the measured responses) is not the sphere; the head-model cues must still keep a
// lone talker wherever it stands.
TEST(SoftMaskSeparator, KeepsALoneTalkerAtEveryAzimuthWithTheHeadModel) {
  const std::shared_ptr<const ExpectedCues> cues = SphereCues();
  for (double azimuth = -90.0; azimuth <= 90.0; azimuth += 15.0) {
    const Image image = Hear(Talker(2), Kemar(azimuth));
    SoftMaskSeparator separator(cues);
    const auto masks = Masks(separator, Mixture({image}), {{7, azimuth}});
    EXPECT_GE(Kept(masks[0], azimuth > 0 ? image.left : image.right), 0.9) << azimuth << " degrees";
  }
}

TEST(SoftMaskSeparator, AttenuatesTheOtherOfTwoTalkersByFifteenDecibels) {
  const Image plus = Hear(Talker(3), Kemar(30.0));
  const Image minus = Hear(Talker(4), Kemar(-30.0));
  SoftMaskSeparator separator(MeasuredCues());
  const auto masks = Masks(separator, Mixture({plus, minus}), {{0, 30.0}, {1, -30.0}});
  // Talker 0 comes out of the left ear, talker 1 out of the right one.
  EXPECT_LE(PassedDb(masks[0], minus.left), -15.0);
  EXPECT_LE(PassedDb(masks[1], plus.right), -15.0);
  EXPECT_GE(Kept(masks[0], plus.left), 0.8);
  EXPECT_GE(Kept(masks[1], minus.right), 0.8);
}

// A wall beside the head adds to each talker a reflection from another direction, so its cues
// differ from those of its direction in the table; learning them from the recording must
// separate better than keeping the table's.
// Directions given 5 degrees off (as a localiser may give them): the talkers' cues differ from
// the table's for the given directions, and learning them from the recording must separate
// better than keeping the table's.
TEST(SoftMaskSeparator, LearnsCuesThatDifferFromTheTable) {
  const Image a = Hear(Talker(5), Kemar(50.0));
  const Image b = Hear(Talker(6), Kemar(-10.0));
  const Image mix = Mixture({a, b});
  struct Result {
    double otherDb, keptA, keptB;
  };
  auto separate = [&](float learningTimeS) {
    SoftMaskSeparatorConfig config;
    config.learningTimeS = learningTimeS;
    SoftMaskSeparator separator(MeasuredCues(), config);
    const auto masks = Masks(separator, mix, {{0, 45.0}, {1, -15.0}});
    return Result{PassedDb(masks[0], b.left) + PassedDb(masks[1], a.right), Kept(masks[0], a.left),
                  Kept(masks[1], b.right)};
  };
  const Result learnt = separate(3.0f), fixed = separate(0.0f);
  EXPECT_LT(learnt.otherDb, fixed.otherDb - 1.0);
  EXPECT_GE(learnt.keptA, 0.9);
  EXPECT_GE(learnt.keptB, 0.9);
}

// ---- silence and broken input ------------------------------------------------------------------

// Masked and demixed outputs alike.
class SilenceAndBrokenBins : public ::testing::TestWithParam<bool> {
 protected:
  SoftMaskSeparatorConfig config() const {
    SoftMaskSeparatorConfig c;
    c.demix = GetParam();
    return c;
  }
};

TEST_P(SilenceAndBrokenBins, GivesSilenceForSilenceAndZeroForBinsThatAreNotNumbers) {
  SoftMaskSeparator separator(MeasuredCues(), config());
  const Spectrum zero(kBins);
  for (int t = 0; t < 50; ++t) {
    separator.process({zero.data(), zero.data(), kBins}, {{0, 30.0}, {1, -30.0}});
    for (std::size_t i = 0; i < 2; ++i)
      for (int k = 0; k < kBins; ++k) {
        ASSERT_EQ(separator.output(i)[k], std::complex<float>()) << "frame " << t << " bin " << k;
        ASSERT_EQ(separator.mask(i)[k], 0.0f);
      }
  }

  // Broken bins in the middle of a two-talker recording: zero where broken, finite elsewhere, and
  // the separation afterwards as good as ever.
  const Image plus = Hear(Talker(3), Kemar(30.0));
  const Image minus = Hear(Talker(4), Kemar(-30.0));
  Image mix = Mixture({plus, minus});
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (int t = 100; t < 110; ++t)
    for (int k = 0; k < kBins; k += 3) {
      mix.left[t][k] = {k % 2 ? nan : inf, 0.0f};
      mix.right[t][k + 1 < kBins ? k + 1 : k] = {0.0f, -inf};
    }
  mix.left[120] = Spectrum(kBins, {nan, nan});
  const std::vector<TalkerDirection> talkers{{0, 30.0}, {1, -30.0}};
  SoftMaskSeparator broken(MeasuredCues(), config());
  std::vector<std::vector<std::vector<float>>> masks(2);
  for (int t = 0; t < kFrames; ++t) {
    broken.process({mix.left[t].data(), mix.right[t].data(), kBins}, talkers);
    for (std::size_t i = 0; i < 2; ++i) {
      masks[i].emplace_back(broken.mask(i), broken.mask(i) + kBins);
      for (int k = 0; k < kBins; ++k) {
        const std::complex<float> out = broken.output(i)[k];
        ASSERT_TRUE(std::isfinite(out.real()) && std::isfinite(out.imag())) << "frame " << t << " bin " << k;
        const bool usable = std::isfinite(std::norm(mix.left[t][k]) + std::norm(mix.right[t][k]));
        if (!usable) {
          ASSERT_EQ(out, std::complex<float>()) << "frame " << t << " bin " << k;
        }
      }
    }
  }
  // After the broken frames the other talker is pushed down as far as in a run that never saw
  // them (nothing broken stays in what the separator learnt).
  SoftMaskSeparator clean(MeasuredCues(), config());
  const auto cleanMasks = Masks(clean, Mixture({plus, minus}), talkers);
  for (int from = 150; from < kFrames; from += 50) {
    auto block = [&](const std::vector<std::vector<float>>& m) {
      return std::vector<std::vector<float>>(m.begin() + from, m.begin() + from + 50);
    };
    const std::vector<Spectrum> other(minus.left.begin() + from, minus.left.begin() + from + 50);
    EXPECT_NEAR(PassedDb(block(masks[0]), other), PassedDb(block(cleanMasks[0]), other), 1.0) << "frame " << from;
  }
}

INSTANTIATE_TEST_SUITE_P(MaskedAndDemixed, SilenceAndBrokenBins, ::testing::Bool());

// Error of a talker's output against its image at the output ear, relative to the image, in dB.
double ErrorDb(const std::vector<Spectrum>& output, const std::vector<Spectrum>& image) {
  double error = 0.0, target = 0.0;
  for (int t = 0; t < kFrames; ++t)
    for (int k = 0; k < kBins; ++k) {
      error += std::norm(output[t][k] - image[t][k]);
      target += std::norm(image[t][k]);
    }
  return 10.0 * std::log10(error / target);
}

// In free field the two ears' spectra are a linear mixture of the talkers with the table's
// responses, and the per-bin Wiener filter undoes it further than any mask can.
TEST(SoftMaskSeparator, DemixingBeatsMaskingInFreeField) {
  const Image plus = Hear(Talker(3), Kemar(30.0));
  const Image minus = Hear(Talker(4), Kemar(-30.0));
  const Image mix = Mixture({plus, minus});
  auto errorDb = [&](bool demix) {
    SoftMaskSeparatorConfig config;
    config.demix = demix;
    SoftMaskSeparator separator(MeasuredCues(), config);
    std::vector<Spectrum> out0, out1;
    for (int t = 0; t < kFrames; ++t) {
      separator.process({mix.left[t].data(), mix.right[t].data(), kBins}, {{0, 30.0}, {1, -30.0}});
      out0.emplace_back(separator.output(0), separator.output(0) + kBins);
      out1.emplace_back(separator.output(1), separator.output(1) + kBins);
    }
    return std::max(ErrorDb(out0, plus.left), ErrorDb(out1, minus.right));
  };
  const double masked = errorDb(false), demixed = errorDb(true);
  EXPECT_LT(masked, -10.0);
  EXPECT_LT(demixed, masked - 2.0);
}

TEST(SoftMaskSeparator, GivesNoOutputForNoTalkersAndTakesEachFrameAlone) {
  SoftMaskSeparator separator(MeasuredCues());
  const Spectrum ones(kBins, {1.0f, 0.0f});
  separator.process({ones.data(), ones.data(), kBins}, {});
  EXPECT_EQ(separator.outputs(), 0u);
  EXPECT_THROW(separator.output(0), std::out_of_range);
  separator.process({ones.data(), ones.data(), kBins}, {{4, 0.0}});
  ASSERT_EQ(separator.outputs(), 1u);
  EXPECT_FALSE(separator.leftEar(0)) << "straight ahead comes out of the right ear";
}

// ---- configuration and input checks --------------------------------------------------------------

// A value the entry accepts other than its default: another text, or the first of its limits and
// of a few numbers near the default that it accepts.
velkparam::Value OtherValue(const velkparam::Declaration& decl) {
  // A keyword parameter's second keyword: the first is the default, later ones may spell the second
  // another way (and come back as it).
  if (decl.type == velkparam::Type::String) return decl.keywords.empty() ? "other.velk" : decl.keywords.at(1);
  if (decl.type == velkparam::Type::IntList) return std::vector<int>{3, 2};
  std::vector<double> candidates;
  if (decl.max) candidates.push_back(decl.max->value);
  if (decl.min) candidates.push_back(decl.min->value);
  const double d = decl.type == velkparam::Type::Int ? std::get<int>(decl.defaultValue) : std::get<float>(decl.defaultValue);
  for (double v : {d + 1.0, d * 0.75, d - 1.0}) candidates.push_back(v);
  for (double v : candidates) {
    const velkparam::Value value =
        decl.type == velkparam::Type::Int ? velkparam::Value(static_cast<int>(v)) : velkparam::Value(static_cast<float>(v));
    if (velkparam::Problem(decl, value).empty() && value != decl.defaultValue) return value;
  }
  throw std::logic_error("no other value for " + decl.name);
}

TEST(SoftMaskSeparatorConfig, EveryParameterReachesItsOwnFieldAndEveryFieldIsChecked) {
  const std::vector<velkparam::Declaration>& table = SoftMaskSeparatorConfig::Parameters();
  const velkparam::Values defaults = SoftMaskSeparatorConfig().ToParameters();
  ASSERT_EQ(defaults.size(), table.size()) << "every parameter has a field and every field a parameter";
  for (const velkparam::Declaration& decl : table) {
    EXPECT_EQ(defaults.at(decl.name), decl.defaultValue) << decl.name;
    // Changed alone, it comes back alone: no two parameters share a field.
    const velkparam::Value other = OtherValue(decl);
    velkparam::Values expected = defaults;
    expected[decl.name] = other;
    EXPECT_EQ(SoftMaskSeparatorConfig::FromParameters({{decl.name, other}}).ToParameters(), expected) << decl.name;
  }

  SoftMaskSeparatorConfig config;
  config.frameShift = 0;
  try {
    Validate(config);
    ADD_FAILURE() << "a frame shift of 0 was accepted";
  } catch (const velkparam::ParameterError& e) {
    EXPECT_EQ(e.parameter(), "ADVANCE");
  }
  EXPECT_THROW(SoftMaskSeparator(MeasuredCues(), config), std::invalid_argument);
  config = SoftMaskSeparatorConfig();
  config.maskFloor = std::nanf("");
  EXPECT_THROW(SoftMaskSeparator(MeasuredCues(), config), std::invalid_argument);
  config = SoftMaskSeparatorConfig();
  config.head.distanceM = config.head.radiusM;
  EXPECT_THROW(Validate(config), velkparam::ParameterError) << "a talker inside the head";
  EXPECT_THROW(SoftMaskSeparatorConfig::FromParameters({{"CUE_SPREAD", 0.0f}}), velkparam::ParameterError);
  EXPECT_THROW(SoftMaskSeparatorConfig::FromParameters({{"SEPARATE_METHOD", std::string("MEASURED")}}),
               velkparam::ParameterError)
      << "a method that is not a keyword is refused, not taken for the head model";
  EXPECT_THROW(SoftMaskSeparatorConfig::FromParameters({{"SPREAD", 0.1f}}), velkparam::ParameterError);
}

TEST(SoftMaskSeparator, RefusesInputItCannotUse) {
  SoftMaskSeparatorConfig otherRate;
  otherRate.sampleRate = 48000;
  EXPECT_THROW(SoftMaskSeparator(MeasuredCues(), otherRate), std::invalid_argument);
  EXPECT_THROW(SoftMaskSeparator(nullptr), std::invalid_argument);

  SoftMaskSeparator separator(MeasuredCues());
  const Spectrum bins(kBins), fewer(kBins - 1);
  EXPECT_THROW(separator.process({fewer.data(), fewer.data(), fewer.size()}, {{0, 10.0}}), std::invalid_argument);
  EXPECT_THROW(separator.process({nullptr, bins.data(), kBins}, {{0, 10.0}}), std::invalid_argument);
  EXPECT_THROW(separator.process({bins.data(), bins.data(), kBins}, {{0, 10.0}, {0, -10.0}}), std::invalid_argument);
  EXPECT_THROW(separator.process({bins.data(), bins.data(), kBins}, {{0, std::nan("")}}), std::invalid_argument);
}

}  // namespace
