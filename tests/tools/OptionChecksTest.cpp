// The command line's number checks: what counts as a plain decimal number, and how ranges read.
#include <gtest/gtest.h>

#include <limits>

#include "OptionChecks.h"

namespace {

using velktool::NumberRange;
using velktool::numberProblem;

TEST(NumberOptions, OnlyPlainDecimalNumbersInRangePass) {
  const NumberRange degrees{-90, 90};
  for (const char* good : {"30", "-30", "+30", "0", "-0", "90", "-90", "30.5", ".5", "5.", "3e1", "-9E+1", "1e-300"})
    EXPECT_EQ(numberProblem(good, degrees, false, "an azimuth"), "") << good;
  EXPECT_EQ(numberProblem("nan", degrees, false, "an azimuth"),
            "\"nan\" is not a finite number (accepted: an azimuth, from -90 to 90)");
  for (const char* nonFinite : {"NaN", "-inf", "Infinity", "nan(0x1)"})
    EXPECT_NE(numberProblem(nonFinite, degrees, false, "x").find("is not a finite number"), std::string::npos) << nonFinite;
  for (const char* text : {"", "abc", "0x10", "0X1p4", "30;40", "30 40", " 30", "30,", "1e", "--5", "5-", "."})
    EXPECT_NE(numberProblem(text, degrees, false, "x").find("is not a decimal number"), std::string::npos) << text;
  EXPECT_EQ(numberProblem("90.0001", degrees, false, "an azimuth"), "90.0001 is out of range (accepted: an azimuth, from -90 to 90)");
  EXPECT_NE(numberProblem("1e400", degrees, false, "x").find("out of range"), std::string::npos);
}

TEST(NumberOptions, WholeNumbersHaveNoFractionOrExponent) {
  const NumberRange frames{0, 100};
  EXPECT_EQ(numberProblem("12", frames, true, "frames"), "");
  EXPECT_EQ(numberProblem("1.5", frames, true, "frames"), "\"1.5\" is not a whole number (accepted: frames, from 0 to 100)");
  EXPECT_NE(numberProblem("1e2", frames, true, "frames").find("is not a whole number"), std::string::npos);
  EXPECT_NE(numberProblem("99999999999999999999999", frames, true, "frames").find("out of range"), std::string::npos);
}

TEST(NumberOptions, RangesReadInWordsWithoutHugeNumbers) {
  const double lowest = std::numeric_limits<double>::lowest(), highest = std::numeric_limits<double>::max();
  EXPECT_EQ(velktool::rangeInWords({0, 1, true}), "above 0 and at most 1");
  EXPECT_EQ(velktool::rangeInWords({0, 1, false, true}), "at least 0 and below 1");
  EXPECT_EQ(velktool::rangeInWords({0, highest, true}), "above 0");
  EXPECT_EQ(velktool::rangeInWords({lowest, 0.09}), "at most 0.09");
  EXPECT_EQ(numberProblem("0", {0, highest, true}, false, "a radius"), "0 is out of range (accepted: a radius, above 0)");
}

}  // namespace
