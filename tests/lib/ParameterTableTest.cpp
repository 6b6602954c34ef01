// Parameter declarations: what an entry accepts and says it accepts, the typing of values given
// as text or as another number type, the keyword fallbacks of the pipelines' tables, and the
// configurations built from the tables.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "velk_binaural/Localizer.h"
#include "velk_binaural/PassBandSeparator.h"
#include "velk_binaural/SoftMaskSeparator.h"
#include "velk_binaural/TalkerTracker.h"
#include "velkparam/Parameter.h"

namespace {

using velkparam::Declaration;
using velkparam::Value;

std::string ProblemOf(const Declaration& decl, const Value& value) { return velkparam::Problem(decl, value); }

TEST(ParameterSpec, AcceptedTextSaysEveryLimit) {
  EXPECT_EQ(velkparam::Accepted(Declaration::Int("N", 1, "", "").AtLeast(1)), "an int of at least 1");
  EXPECT_EQ(velkparam::Accepted(Declaration::Int("N", 2, "", "").AtLeast(2).AtMost(8).Even()),
            "an even int of at least 2 and at most 8");
  EXPECT_EQ(velkparam::Accepted(Declaration::Float("F", 1, "", "").Above(0)), "a float above 0");
  EXPECT_EQ(velkparam::Accepted(Declaration::Float("F", 1, "", "").AtMost(0.5)), "a float of at most 0.5");
  EXPECT_EQ(velkparam::Accepted(Declaration::Float("F", 1, "", "")), "a float");
  EXPECT_EQ(velkparam::Accepted(Declaration::IntList("L", {0, 1}, "", "").Size(2).AtLeast(0)),
            "a list of 2 ints, each at least 0");
  EXPECT_EQ(velkparam::Accepted(Declaration::Text("S", "A", "").Keywords({"A", "B", "C"})), "\"A\", \"B\" or \"C\"");
  EXPECT_EQ(velkparam::Accepted(Declaration::Text("S", "A", "").Keywords({"A", "B"}, "B")),
            "\"A\" or \"B\" (any other text acts as \"B\")");
  EXPECT_EQ(velkparam::Accepted(Declaration::Text("S", "x", "")), "any text");
}

// Each side of each limit: the limit itself where it is included, the next value where it is not.
TEST(ParameterSpec, ValuesAreCheckedAgainstBothSidesOfTheirLimits) {
  const Declaration count = Declaration::Int("N", 2, "", "").AtLeast(2).AtMost(8).Even();
  EXPECT_EQ(ProblemOf(count, 2), "");
  EXPECT_EQ(ProblemOf(count, 8), "");
  EXPECT_NE(ProblemOf(count, 0), "");
  EXPECT_NE(ProblemOf(count, 10), "");
  EXPECT_EQ(ProblemOf(count, 5), "expected an even int of at least 2 and at most 8");
  const Declaration above = Declaration::Float("F", 1, "", "").Above(0);
  EXPECT_NE(ProblemOf(above, 0.0f), "");
  EXPECT_EQ(ProblemOf(above, 1e-30f), "");
  EXPECT_NE(ProblemOf(above, NAN), "") << "not a number is never in range";
  EXPECT_NE(ProblemOf(Declaration::Float("F", 1, "", ""), INFINITY), "");
  const Declaration pair = Declaration::IntList("L", {0, 1}, "", "").Size(2).AtLeast(0);
  EXPECT_EQ(ProblemOf(pair, std::vector<int>{2, 3}), "");
  EXPECT_NE(ProblemOf(pair, std::vector<int>{0}), "");
  EXPECT_NE(ProblemOf(pair, std::vector<int>{0, -1}), "");
  EXPECT_EQ(ProblemOf(Declaration::Text("S", "A", "").Keywords({"A"}), std::string("a")), "expected \"A\"");
  EXPECT_EQ(ProblemOf(Declaration::Text("S", "A", "").Keywords({"A"}, "A"), std::string("a")), "");
  EXPECT_EQ(ProblemOf(count, std::string("4")), "expected an even int of at least 2 and at most 8, got a string");
}

// Values given as another number type take the declared type when nothing is lost.
TEST(ParameterSpec, NumbersAreConvertedToTheDeclaredTypeOnlyWithoutLoss) {
  std::string why;
  EXPECT_EQ(velkparam::Converted(Declaration::Float("F", 1, "", ""), 20, &why), Value(20.0f));
  EXPECT_EQ(velkparam::Converted(Declaration::Int("N", 1, "", ""), 512.0f, &why), Value(512));
  EXPECT_FALSE(velkparam::Converted(Declaration::Int("N", 1, "", ""), 2.5f, &why));
  EXPECT_EQ(why, "2.5 is not a whole number; expected an int");
  EXPECT_FALSE(velkparam::Converted(Declaration::Int("N", 1, "", ""), 3e9f, &why)) << "beyond the range of an int";
  EXPECT_EQ(velkparam::Converted(Declaration::FloatList("L", {}, "", ""), std::vector<int>{30, -30}, &why),
            Value(std::vector<float>{30.0f, -30.0f}));
  EXPECT_EQ(velkparam::Converted(Declaration::IntList("L", {}, "", ""), std::vector<float>{0, 1}, &why),
            Value(std::vector<int>{0, 1}));
  EXPECT_FALSE(velkparam::Converted(Declaration::Text("S", "", ""), 3, &why));
  EXPECT_EQ(why, "expected any text, got an int");
}

TEST(ParameterSpec, TextIsReadAsTheDeclaredType) {
  EXPECT_EQ(velkparam::Parse(Declaration::Float("F", 1, "", ""), "20"), Value(20.0f));
  EXPECT_EQ(velkparam::Parse(Declaration::Int("N", 1, "", ""), " 7 "), Value(7));
  EXPECT_EQ(velkparam::Parse(Declaration::IntList("L", {}, "", ""), "[0, 1]"), Value(std::vector<int>{0, 1}));
  EXPECT_EQ(velkparam::Parse(Declaration::FloatList("L", {}, "", ""), "30,-30.5"), Value(std::vector<float>{30.0f, -30.5f}));
  EXPECT_EQ(velkparam::Parse(Declaration::FloatList("L", {}, "", ""), ""), Value(std::vector<float>{}));
  EXPECT_EQ(velkparam::Parse(Declaration::Text("S", "", ""), " a b "), Value(std::string(" a b ")));
  for (const char* bad : {"1.5", "", "12x", "99999999999"}) {
    try {
      velkparam::Parse(Declaration::Int("HARMONIC_THRESHOLD", 1, "", ""), bad);
      ADD_FAILURE() << bad << " was read as an int";
    } catch (const velkparam::ParameterError& e) {
      EXPECT_EQ(std::string(e.what()), "parameter \"HARMONIC_THRESHOLD\" = \"" + std::string(bad) +
                                           "\": does not read as an int");
    }
  }
  EXPECT_THROW(velkparam::Parse(Declaration::Float("F", 1, "", ""), "nan"), velkparam::ParameterError);
}

TEST(ParameterSpec, ValuesAreWrittenAsInANetworkFile) {
  EXPECT_EQ(velkparam::ToText(16000), "16000");
  EXPECT_EQ(velkparam::ToText(20.0f), "20.0");
  EXPECT_EQ(velkparam::ToText(0.1f), "0.1");
  EXPECT_EQ(velkparam::ToText(std::string("LEFT")), "\"LEFT\"");
  EXPECT_EQ(velkparam::ToText(std::vector<int>{0, 1}), "[0, 1]");
  EXPECT_EQ(velkparam::ToText(std::vector<float>{30, -30}), "[30.0, -30.0]");
}

// The keyword parameters whose other texts select another branch, pinned here in the one place
// that decides it: a text is compared exactly, case included.
TEST(ParameterSpec, TextsThatMatchNoKeywordSelectTheFallbackBranch) {
  const auto& localizer = NSVelkBinaural::LocalizerConfig::Parameters();
  auto selected = [](const std::vector<Declaration>& table, const char* name, const char* text) {
    return velkparam::SelectedKeyword(*velkparam::Find(table, name), text);
  };
  EXPECT_EQ(selected(localizer, "BGNOISE_METHOD", "INTERNAL"), "INTERNAL");
  EXPECT_EQ(selected(localizer, "BGNOISE_METHOD", "internal"), "EXTERNAL");
  EXPECT_EQ(selected(localizer, "LOCALIZE_CHANNEL", "LEFT"), "LEFT");
  EXPECT_EQ(selected(localizer, "LOCALIZE_CHANNEL", "Left"), "RIGHT");
  EXPECT_THROW(velkparam::SelectedKeyword(Declaration::Text("S", "A", "").Keywords({"A"}), "B"), velkparam::ParameterError);
}

// The methods of both separators take the measured method in both spellings; any other text is
// refused with the accepted ones listed, not run as the head model.
TEST(ParameterSpec, SeparatorMethodsTakeBothSpellingsOfTheMeasuredMethodAndRefuseOthers) {
  using NSVelkBinaural::PassBandSeparatorConfig;
  using NSVelkBinaural::SoftMaskSeparatorConfig;
  for (const char* text : {"HRTFMESURED", "HRTFMEASURED"}) {
    EXPECT_EQ(PassBandSeparatorConfig::FromParameters({{"SEPARATE_METHOD", std::string(text)}}).method,
              PassBandSeparatorConfig::Method::MeasuredTables)
        << text;
    EXPECT_EQ(SoftMaskSeparatorConfig::FromParameters({{"SEPARATE_METHOD", std::string(text)}}).cues,
              SoftMaskSeparatorConfig::Cues::MeasuredTables)
        << text;
  }
  for (const std::vector<Declaration>* table : {&PassBandSeparatorConfig::Parameters(), &SoftMaskSeparatorConfig::Parameters()}) {
    for (const char* text : {"", "hrtfmesured", "MEASURED"}) {
      try {
        velkparam::SelectedKeyword(*velkparam::Find(*table, "SEPARATE_METHOD"), text);
        ADD_FAILURE() << "accepted \"" << text << "\"";
      } catch (const velkparam::ParameterError& e) {
        EXPECT_NE(std::string(e.what()).find("\"HRTFMEASURED\""), std::string::npos) << e.what();
      }
    }
  }
}

// ---- configurations from the tables ---------------------------------------------------------------

TEST(LocalizerConfig, DefaultsComeFromTheTable) {
  const NSVelkBinaural::LocalizerConfig c;
  EXPECT_EQ(c.samplingRateHz, 16000);
  EXPECT_EQ(c.advanceSamples, 160);
  EXPECT_EQ(c.noise, NSVelkBinaural::LocalizerConfig::Noise::Internal);
  EXPECT_EQ(c.pauseLengthMs, 1000);
  EXPECT_DOUBLE_EQ(c.peakFmaxHz, 1500.0);
  EXPECT_EQ(c.channel, NSVelkBinaural::Channel::LEFT);
  EXPECT_FLOAT_EQ(c.peakThresholdDb, 20.0f);
  EXPECT_EQ(c.method, NSVelkBinaural::LocalizerConfig::Method::HeadModel);
  EXPECT_EQ(c.tables.leftChannel, 0);
  EXPECT_EQ(c.tables.rightChannel, 1);
  EXPECT_DOUBLE_EQ(c.FrameTime(100), 1.0);
}

TEST(LocalizerConfig, ValuesAreMappedAndRefusedWithTheirNames) {
  const NSVelkBinaural::LocalizerConfig c = NSVelkBinaural::LocalizerConfig::FromParameters(
      {{"BGNOISE_METHOD", std::string("internal")}, {"LOCALIZE_CHANNEL", std::string("RIGHT")},
       {"LOCALIZE_METHOD", std::string("HRTFMESURED")}, {"VELK_DAT_CHANNELS", std::vector<int>{2, 3}},
       {"MIN_SRC_INTERVAL", 12.0f}});
  EXPECT_EQ(c.noise, NSVelkBinaural::LocalizerConfig::Noise::External);
  EXPECT_EQ(c.channel, NSVelkBinaural::Channel::RIGHT);
  EXPECT_EQ(c.method, NSVelkBinaural::LocalizerConfig::Method::MeasuredTables);
  EXPECT_EQ(c.tables.leftChannel, 2);
  EXPECT_DOUBLE_EQ(c.minSourceIntervalDeg, 12.0);

  auto refusal = [](const velkparam::Values& values) {
    try {
      NSVelkBinaural::LocalizerConfig::FromParameters(values);
    } catch (const velkparam::ParameterError& e) {
      return std::string(e.what());
    }
    return std::string("(accepted)");
  };
  EXPECT_EQ(refusal({{"PAUSE_LENGTH", -1}}), "parameter \"PAUSE_LENGTH\" = -1: expected an int of at least 0");
  EXPECT_EQ(refusal({{"PEAK_FMAX", 8000.5f}}),
            "parameter \"PEAK_FMAX\" = 8000.5: expected at most half of SAMPLING_RATE (16000 / 2)");
  EXPECT_EQ(refusal({{"PEAK_FMAX", 8000.0f}}), "(accepted)");
  EXPECT_EQ(refusal({{"PEAK_FMIN", 1500.0f}}), "parameter \"PEAK_FMIN\" = 1500.0: expected a frequency below PEAK_FMAX (1500.0)");
  EXPECT_EQ(refusal({{"PEAK_THRESHOLD", 20}}),
            "parameter \"PEAK_THRESHOLD\" = 20: expected a float, got an int")
      << "typing is the entry point's job";
  EXPECT_EQ(refusal({{"PEAK_TRESHOLD", 20.0f}}).find("parameter \"PEAK_TRESHOLD\" = 20.0: unknown"), 0u);
  // The stage keywords have no fallback: another text is a mistake.
  EXPECT_EQ(refusal({{"DIRECTIONS", std::string("broadband")}}),
            "parameter \"DIRECTIONS\" = \"broadband\": expected \"HARMONIC\" or \"BROADBAND\"");
  EXPECT_EQ(refusal({{"HEAD_RADIUS", 0.2f}, {"SOURCE_DISTANCE", 0.1f}}),
            "parameter \"SOURCE_DISTANCE\" = 0.1: expected a distance beyond HEAD_RADIUS (0.2)");
}

TEST(LocalizerConfig, StagesAreChosenByTheirKeywords) {
  const NSVelkBinaural::LocalizerConfig absent;
  EXPECT_EQ(absent.noiseFloor, NSVelkBinaural::LocalizerConfig::NoiseFloor::FirstFrames);
  EXPECT_EQ(absent.directions, NSVelkBinaural::LocalizerConfig::Directions::Harmonic);
  EXPECT_NEAR(absent.headRadiusM, 0.09, 1e-7);
  const auto chosen = NSVelkBinaural::LocalizerConfig::FromParameters(
      {{"NOISE_FLOOR", std::string("ADAPTIVE")}, {"DIRECTIONS", std::string("BROADBAND")},
       {"HEAD_RADIUS", 0.0925f}});
  EXPECT_EQ(chosen.noiseFloor, NSVelkBinaural::LocalizerConfig::NoiseFloor::Adaptive);
  EXPECT_EQ(chosen.directions, NSVelkBinaural::LocalizerConfig::Directions::Broadband);
  EXPECT_NEAR(chosen.headRadiusM, 0.0925, 1e-7);
}

// The measured method keeps the spelling stored networks use and takes the spelled-out one; any
// other text is a mistake, refused with what is accepted, not a silent switch to the head model.
TEST(LocalizerConfig, EachMethodTokenIsAcceptedAndAnyOtherRefused) {
  auto method = [](const char* text) {
    return NSVelkBinaural::LocalizerConfig::FromParameters({{"LOCALIZE_METHOD", std::string(text)}}).method;
  };
  EXPECT_EQ(method("EPIPOLAR"), NSVelkBinaural::LocalizerConfig::Method::HeadModel);
  EXPECT_EQ(method("HRTFMESURED"), NSVelkBinaural::LocalizerConfig::Method::MeasuredTables);
  EXPECT_EQ(method("HRTFMEASURED"), NSVelkBinaural::LocalizerConfig::Method::MeasuredTables);
  for (const char* refused : {"hrtfmesured", "MEASURED", ""}) {
    try {
      method(refused);
      ADD_FAILURE() << "accepted \"" << refused << "\"";
    } catch (const velkparam::ParameterError& e) {
      EXPECT_EQ(std::string(e.what()), "parameter \"LOCALIZE_METHOD\" = \"" + std::string(refused) +
                                           "\": expected \"EPIPOLAR\", \"HRTFMESURED\" or \"HRTFMEASURED\"");
    }
  }
}

TEST(TalkerTrackerConfig, DefaultsComeFromTheTableAndPairsAreChecked) {
  const NSVelkBinaural::TalkerTrackerConfig c;
  EXPECT_DOUBLE_EQ(c.gateDeg, 10.0);
  EXPECT_DOUBLE_EQ(c.confirmEvidence, 3.0);
  EXPECT_DOUBLE_EQ(c.hangoverSec, 2.0);
  EXPECT_NEAR(c.smoothing, 0.1, 1e-7);
  EXPECT_EQ(c.maxTalkers, 8u);
  EXPECT_EQ(c.maxRemembered, 16u);
  const auto other = NSVelkBinaural::TalkerTrackerConfig::FromParameters(
      {{"HANGOVER", 1.5f}, {"REPORT_HOLD", 1.5f}, {"MAX_TALKERS", 2}});
  EXPECT_DOUBLE_EQ(other.hangoverSec, 1.5);
  EXPECT_EQ(other.maxTalkers, 2u);
  EXPECT_THROW(NSVelkBinaural::TalkerTrackerConfig::FromParameters({{"REPORT_HOLD", 2.5f}}), velkparam::ParameterError);
  EXPECT_THROW(NSVelkBinaural::TalkerTrackerConfig::FromParameters({{"SMOOTHING", 0.0f}}), velkparam::ParameterError);
  EXPECT_THROW(NSVelkBinaural::TalkerTrackerConfig::FromParameters({{"GATE", 5.0f}}), velkparam::ParameterError)
      << "an unknown name";
  // What the table accepts, the tracker accepts.
  EXPECT_NO_THROW(NSVelkBinaural::TalkerTracker{other});
}

TEST(PassBandSeparatorConfig, DefaultsAndChannelsComeFromTheTable) {
  const NSVelkBinaural::PassBandSeparatorConfig c;
  EXPECT_DOUBLE_EQ(c.rangeMinDeg, 20.0);
  EXPECT_DOUBLE_EQ(c.rangeMaxDeg, 40.0);
  EXPECT_EQ(c.method, NSVelkBinaural::PassBandSeparatorConfig::Method::HeadModel);
  const auto other = NSVelkBinaural::PassBandSeparatorConfig::FromParameters(
      {{"VELK_DAT_CHANNELS", std::vector<int>{1, 0}}, {"SEPARATE_METHOD", std::string("HRTFMESURED")}});
  EXPECT_EQ(other.tables.leftChannel, 1);
  EXPECT_EQ(other.tables.rightChannel, 0);
  EXPECT_EQ(other.method, NSVelkBinaural::PassBandSeparatorConfig::Method::MeasuredTables);
  EXPECT_THROW(NSVelkBinaural::PassBandSeparatorConfig::FromParameters({{"RANGE_MIN", -1.0f}}),
               velkparam::ParameterError);
}

}  // namespace
