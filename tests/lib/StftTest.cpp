// The streaming STFT and its inverse: known frames, blocks of any size, the frame count at the end
// of a signal, and the signal back exactly from unchanged spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "velk_binaural/Stft.h"

namespace {

using NSVelkBinaural::Istft;
using NSVelkBinaural::Stft;
using NSVelkBinaural::StftConfig;
using NSVelkBinaural::StftFrame;

std::vector<float> Noise(size_t samples, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> x(samples);
  for (float& v : x) v = uniform(random);
  return x;
}

// Every frame of `interleaved`, pushed in blocks of the given sizes (cycled), then finished.
std::vector<StftFrame> Frames(const StftConfig& config, const std::vector<float>& interleaved,
                              const std::vector<size_t>& blocks) {
  Stft stft(config);
  std::vector<StftFrame> frames;
  StftFrame frame;
  const size_t total = interleaved.size() / static_cast<size_t>(config.channels);
  for (size_t at = 0, b = 0; at < total; ++b) {
    const size_t n = std::min(blocks[b % blocks.size()], total - at);
    stft.Push(interleaved.data() + at * static_cast<size_t>(config.channels), n);
    at += n;
    while (stft.Next(frame)) frames.push_back(frame);
  }
  stft.Finish();
  while (stft.Next(frame)) frames.push_back(frame);
  return frames;
}

// Frame 0 is centred on sample 0: an impulse there, under the Hann window's peak (1 at n = L/2),
// transforms to (-1)^k.
TEST(Stft, FrameZeroIsCentredOnTheFirstSample) {
  StftConfig config;
  config.channels = 1;
  std::vector<float> impulse(1000, 0.0f);
  impulse[0] = 1.0f;
  const std::vector<StftFrame> frames = Frames(config, impulse, {1000});
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].index, 0);
  ASSERT_EQ(frames[0].bins, 257u);
  for (size_t k = 0; k < 257; ++k) {
    EXPECT_NEAR(frames[0].data[k].real(), k % 2 ? -1.0 : 1.0, 1e-5) << k;
    EXPECT_NEAR(frames[0].data[k].imag(), 0.0, 1e-5) << k;
  }
}

TEST(Stft, BlocksOfAnySizeGiveTheSameFramesAndTheEndGivesCeilOfSamplesOverAdvance) {
  StftConfig config;
  const std::vector<float> x = Noise(2 * 4321, 1);
  const std::vector<StftFrame> whole = Frames(config, x, {4321});
  const std::vector<StftFrame> pieces = Frames(config, x, {1, 7, 160, 333, 2});
  ASSERT_EQ(whole.size(), 28u);  // ceil(4321 / 160)
  ASSERT_EQ(pieces.size(), whole.size());
  for (size_t f = 0; f < whole.size(); ++f) {
    EXPECT_EQ(pieces[f].index, static_cast<long>(f));
    for (size_t i = 0; i < whole[f].data.size(); ++i) ASSERT_EQ(pieces[f].data[i], whole[f].data[i]) << f << " " << i;
  }
}

// A frame is ready once its last sample is in: frame k needs samples up to k * advance + length/2.
TEST(Stft, AFrameIsReadyWhenItsLastSampleHasArrived) {
  StftConfig config;
  config.channels = 1;
  Stft stft(config);
  StftFrame frame;
  const std::vector<float> x(255, 0.1f);
  stft.Push(x.data(), x.size());
  EXPECT_FALSE(stft.Next(frame));
  stft.Push(x.data(), 1);  // sample 255, the last of frame 0
  ASSERT_TRUE(stft.Next(frame));
  EXPECT_EQ(frame.index, 0);
  EXPECT_FALSE(stft.Next(frame));
  EXPECT_EQ(frame.Stereo().bins, 257u);
}

struct Framing {
  int length, advance;
};

class RoundTrip : public testing::TestWithParam<Framing> {};

// Unchanged spectra give the signal back, to float rounding, from its first sample to its last.
TEST_P(RoundTrip, UnchangedSpectraRebuildTheSignal) {
  StftConfig config;
  config.length = GetParam().length;
  config.advance = GetParam().advance;
  const size_t samples = 3000;
  const std::vector<float> x = Noise(2 * samples, 2);
  Istft istft(config);
  std::vector<float> y;
  for (const StftFrame& frame : Frames(config, x, {97})) {
    istft.Push(frame);
    istft.Pull(y);
  }
  istft.Finish();
  istft.Pull(y);
  ASSERT_EQ(y.size(), 2 * static_cast<size_t>(config.advance) * ((samples + config.advance - 1) / config.advance));
  for (size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y[i], x[i], 1e-5) << "sample " << i / 2 << " channel " << i % 2;
}

INSTANTIATE_TEST_SUITE_P(Framings, RoundTrip, testing::Values(Framing{512, 160}, Framing{512, 256}, Framing{64, 16}));

TEST(Stft, RefusesFramingsThatCannotWork) {
  for (StftConfig bad : {StftConfig{511, 160, 2}, StftConfig{512, 0, 2}, StftConfig{512, 600, 2}, StftConfig{512, 160, 0}})
    EXPECT_THROW(Stft{bad}, std::invalid_argument) << bad.length << " " << bad.advance << " " << bad.channels;
  EXPECT_THROW(Istft(StftConfig{512, 500, 2}), std::invalid_argument) << "samples left without weight";
  Stft stft{StftConfig()};
  stft.Finish();
  const float x[2] = {0, 0};
  EXPECT_THROW(stft.Push(x, 1), std::logic_error);
}

}  // namespace
