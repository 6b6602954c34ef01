// Signal containers and their conversions to and from host values.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "LogCapture.h"
#include "velk_binaural/Signal.h"

namespace {

using namespace NSVelkBinaural;

TEST(Signal, AccessIsTestedEvenOnAnEmptySignal) {
  FloatSignal empty(0, 0.0f);
  EXPECT_THROW(empty.At(0), std::out_of_range);
  FloatSignal three(3, 1.5f);
  EXPECT_FLOAT_EQ(three.At(2), 1.5f);
  try {
    three.At(3);
    FAIL();
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "index is out of range");
  }
}

TEST(Signal, EqualSizeNeedsBothChannels) {
  FloatSignalPtr left(new FloatSignal(0, 0.0f)), none;
  EXPECT_FALSE(IsEqualSignalSize<float>(FloatPairPtr()));
  EXPECT_FALSE(IsEqualSignalSize<float>(FloatPairPtr(new FloatPair(left, none))));
  FloatSignalPtr other(new FloatSignal(0, 0.0f));
  EXPECT_TRUE(IsEqualSignalSize<float>(FloatPairPtr(new FloatPair(left, other))));
  FloatSignalPtr longer(new FloatSignal(2, 0.0f));
  EXPECT_FALSE(IsEqualSignalSize<float>(FloatPairPtr(new FloatPair(left, longer))));
}

TEST(Signal, FactoryTracesTwoSignalsThenThePair) {
  testsupport::LogCapture capture(LogLevel::FINEST);
  FloatPairPtr pair = LRSignalFactory<float>::Create(4);
  std::string t = capture.text();
  size_t first = t.find("SignalBase::SignalBase(size_t, const T&)");
  size_t second = t.find("SignalBase::SignalBase(size_t, const T&)", first + 1);
  size_t holder = t.find("ChannelHolder::ChannelHolder");
  EXPECT_TRUE(first < second && second < holder && holder != std::string::npos) << t;
  EXPECT_EQ(pair->left->size, 4u);
  EXPECT_EQ(pair->right->At(3), 0.0f);
}

// Signals of a frame's length are made and dropped on every frame; their arrays are kept and
// served again. A reused array must have the length asked for, and a new signal must not see
// what the previous owner left in it.
TEST(Signal, ArraysGivenBackAreServedAgainOnlyForTheirLength) {
  const float* first = nullptr;
  {
    FloatSignal a(257, 7.0f);
    first = a.data;
  }
  FloatSignal other(100, 0.0f);
  EXPECT_NE(other.data, first) << "an array of 257 served for 100";
  FloatSignal again(257, 0.0f);
  EXPECT_EQ(again.data, first) << "the array given back is reused";
  for (size_t i = 0; i < again.size; ++i) ASSERT_EQ(again.data[i], 0.0f) << i;
  // Far more arrays than the store keeps: the surplus goes back to the heap (no leak under ASan).
  std::vector<std::unique_ptr<ComplexSignal>> many;
  for (int i = 0; i < 100; ++i) many.emplace_back(new ComplexSignal(33, std::complex<float>(1.0f, 0.0f)));
  many.clear();
}

}  // namespace
