// Recordings that are damaged: cut short of what their header announces (WAV and FLAC), holding
// no samples, or holding samples that are not numbers. Each is read as far as it is sound, with a
// warning that names the file and what is wrong; the warning handler decides whether that stops
// the run.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "fd/AudioFile.h"
#include "fd/Warning.h"

namespace hostio {
namespace {

namespace fs = std::filesystem;

// Collects the warnings given while it lives, or turns them into errors (as --strict does).
class Warnings {
 public:
  explicit Warnings(bool strict = false)
      : previous_(FD::setWarningHandler([this, strict](const std::string& message) {
          if (strict) throw std::runtime_error(message);
          messages.push_back(message);
        })) {}
  ~Warnings() { FD::setWarningHandler(previous_); }
  std::vector<std::string> messages;

 private:
  FD::WarningHandler previous_;
};

void cutInHalf(const std::string& path) { fs::resize_file(path, fs::file_size(path) / 2); }

void writeFlac(const std::string& path, const std::vector<float>& stereo) {
  SF_INFO info{};
  info.samplerate = 16000;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  sf_writef_float(f, stereo.data(), static_cast<sf_count_t>(stereo.size() / 2));
  sf_close(f);
}

// The pass-through network from `in` to `out`; its output is as long as what the input holds.
std::string passThrough(const std::string& in, const std::string& out) {
  return R"({"nodes": [
    {"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": ")" + in +
         R"(", "SAMPLING_RATE": 16000, "CHANNELS": 2, "LENGTH": 512, "ADVANCE": 160}},
    {"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512}, "inputs": {"INPUT": "source:AUDIO"}},
    {"name": "istft", "type": "Synthesize", "parameters": {"LENGTH": 512, "ADVANCE": 160}, "inputs": {"INPUT": "stft:OUTPUT"}},
    {"name": "sink", "type": "SaveWave", "parameters": {"FILENAME": ")" + out +
         R"(", "SAMPLING_RATE": 16000, "SAMPLE_FORMAT": "FLOAT"}, "inputs": {"INPUT": "istft:OUTPUT"}}
  ], "outputs": ["sink:OUTPUT"]})";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CutRecording, AWavIsReadUpToTheCutWithAWarningGivingBothLengths) {
  TempDir dir;
  const std::string in = dir.file("cut.wav"), out = dir.file("out.wav");
  writeWav(in, 16000, 2, testSignal(48000), SF_FORMAT_PCM_16);
  cutInHalf(in);
  Warnings warnings;
  runNetworkText(passThrough(in, out), dir.path());
  ASSERT_EQ(warnings.messages.size(), 1u);
  const std::string& w = warnings.messages[0];
  EXPECT_TRUE(contains(w, "\"" + in + "\" is shorter than its header says")) << w;
  EXPECT_TRUE(contains(w, "it holds 23994 samples (1.50 s)")) << w;
  EXPECT_TRUE(contains(w, "its header announces 48000 samples (3.00 s)")) << w;
  EXPECT_EQ(readWav(out).frames, 23994);
}

TEST(CutRecording, AFlacIsReadUpToTheLastSampleThatDecodes) {
  TempDir dir;
  const std::string in = dir.file("cut.flac"), out = dir.file("out.wav");
  const std::vector<float> x = testSignal(48000);
  writeFlac(in, x);
  cutInHalf(in);
  Warnings warnings;
  runNetworkText(passThrough(in, out), dir.path());
  ASSERT_EQ(warnings.messages.size(), 1u);
  EXPECT_TRUE(contains(warnings.messages[0], "its header announces 48000 samples (3.00 s)")) << warnings.messages[0];
  const Sound y = readWav(out);
  EXPECT_GT(y.frames, 10000);
  EXPECT_LT(y.frames, 48000);
  EXPECT_TRUE(contains(warnings.messages[0], "it holds " + std::to_string(y.frames) + " samples"))
      << "the warning gives the real length: " << warnings.messages[0];
  // What was read is the recording, to 16-bit precision, up to the cut.
  for (long n = 0; n < y.frames; n += 97) ASSERT_NEAR(y.at(n, 0), x[2 * n], 1e-4f) << "sample " << n;
}

TEST(CutRecording, AStrictHandlerMakesTheCutAnErrorBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string in = dir.file("cut.wav"), out = dir.file("out.wav");
  writeWav(in, 16000, 2, testSignal(48000), SF_FORMAT_PCM_16);
  cutInHalf(in);
  Warnings strict(true);
  const std::string error = networkError(passThrough(in, out), dir.path());
  EXPECT_TRUE(contains(error, "is shorter than its header says")) << error;
  EXPECT_FALSE(fs::exists(out));
}

TEST(CutRecording, AHeaderWithoutSamplesIsRefused) {
  TempDir dir;
  const std::string in = dir.file("header.wav");
  writeWav(in, 16000, 2, testSignal(1000), SF_FORMAT_PCM_16);
  fs::resize_file(in, 44);
  try {
    FD::AudioFileReader reader(in);
    FAIL() << "a file of nothing but a header was read";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "\"" + in + "\" holds no samples although its header announces 1000 samples (0.06 s)");
  }
}

TEST(NonFiniteSamples, AreReadAsZeroAndCountedWithTheFirstPosition) {
  TempDir dir;
  const std::string in = dir.file("nan.wav"), out = dir.file("out.wav");
  std::vector<float> x = testSignal(16000);
  // The first 50 ms hold a NaN on the right ear; two infinities come later.
  x[2 * 400 + 1] = std::numeric_limits<float>::quiet_NaN();
  x[2 * 9000] = std::numeric_limits<float>::infinity();
  x[2 * 9001] = -std::numeric_limits<float>::infinity();
  writeWav(in, 16000, 2, x);
  Warnings warnings;
  runNetworkText(passThrough(in, out), dir.path());
  ASSERT_EQ(warnings.messages.size(), 1u);
  EXPECT_EQ(warnings.messages[0], "\"" + in +
                                      "\" holds 3 samples that are not finite numbers (NaN or infinite), the first at "
                                      "sample 400 (0.025 s) of channel 1; they were read as 0");
  // The rest of the recording comes through: only the bad samples' own frames are touched.
  const Sound y = readWav(out);
  ASSERT_EQ(y.frames, 16000);
  for (long n = 0; n < y.frames; ++n) ASSERT_TRUE(std::isfinite(y.at(n, 0)) && std::isfinite(y.at(n, 1))) << n;
  EXPECT_NEAR(y.at(400, 1), 0.0f, 1e-5f);
  EXPECT_NEAR(y.at(5000, 0), x[2 * 5000], 1e-5f);
  EXPECT_NEAR(y.at(12000, 1), x[2 * 12000 + 1], 1e-5f);
}

TEST(NonFiniteSamples, AStrictHandlerFailsTheRunAndNothingIsWritten) {
  TempDir dir;
  const std::string in = dir.file("nan.wav"), out = dir.file("out.wav");
  std::vector<float> x = testSignal(4000);
  x[100] = std::numeric_limits<float>::quiet_NaN();
  writeWav(in, 16000, 2, x);
  Warnings strict(true);
  EXPECT_TRUE(contains(networkError(passThrough(in, out), dir.path()), "not finite numbers"));
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace hostio
