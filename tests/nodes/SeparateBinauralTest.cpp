// The separator nodes driven by tiny source nodes: a flat noise floor while the pass band learns
// the noise (frames 0 to 9), then harmonics with the interaural phase of a talker, and a scripted
// source list.
#include <unistd.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostError.h"
#include "velk_binaural/DirectionJudge.h"
#include "SeparateBinaural.h"
#include "SeparateSoftMask.h"
#include "fd/Source.h"
#include "velkio/HeadModel.h"

namespace {

using Spectrum = FD::Matrix<std::complex<float>>;
using Separated = FD::Map<int, FD::ObjectRef>;
constexpr int kBins = 257, kNoiseFrames = 10;
const int kVoiceBins[] = {5, 10, 15, 20, 25, 30, 35, 40};  // 156 .. 1250 Hz

class FrameSource : public FD::BufferedNode {
 public:
  explicit FrameSource(std::function<FD::ObjectRef(int)> make) : BufferedNode("src", {}), make_(std::move(make)) {
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override { out[count] = make_(count); }

 private:
  std::function<FD::ObjectRef(int)> make_;
};

FD::ObjectRef Noise(int rows = 2, int bins = kBins) { return FD::ObjectRef(new Spectrum(rows, bins, {1.0f, 0.0f})); }

// Harmonics 40 dB over the floor with the head model's phase for `degrees`; the right ear twice
// as loud as the left, so that the output tells which ear it came from.
FD::ObjectRef Voice(double degrees) {
  FD::ObjectRef ref = Noise();
  auto& s = static_cast<Spectrum&>(*ref);
  const NSVelkBinaural::Epipolar model(NSDimensionPromise::LengthBase<double>(1.0),
                                       NSDimensionPromise::LengthBase<double>(0.09));
  const double dl = model.LRDifferenceRevised(NSDimensionPromise::AngleBase<double>(degrees * M_PI / 180)).Value();
  for (int k : kVoiceBins) {
    s(0, k) = std::polar(100.0f, 0.3f * k);
    s(1, k) = std::polar(200.0f, static_cast<float>(0.3 * k + 2 * M_PI * k * 16000.0 / 512 * dl / 340));
  }
  return ref;
}

FD::ObjectRef At(int id, double degrees) {
  auto* s = new FD::Source;
  s->id = id;
  s->x[0] = static_cast<float>(std::cos(degrees * M_PI / 180)),
  s->x[1] = static_cast<float>(std::sin(degrees * M_PI / 180));
  return FD::ObjectRef(s);
}
FD::ObjectRef List(std::vector<FD::ObjectRef> items) { return FD::ObjectRef(new FD::Vector<FD::ObjectRef>(items)); }

using nodetest::HostError;

const std::string kTable = std::string(VELK_SOURCE_DIR) + "/examples/sphere_front_16k_512.velk";

struct Rig {
  explicit Rig(const std::string& table = kTable, const std::string& method = "EPIPOLAR")
      : node("separate", Params(table, method)) {
    node.connectInput(node.inputId("SPECTRUM"), &spectrumSource, 0);
    node.connectInput(node.inputId("SOURCES"), &sourcesSource, 0);
    node.initialize();
  }
  static FD::ParameterSet Params(const std::string& table, const std::string& method) {
    FD::ParameterSet p;
    p.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(16000)));
    p.add("RANGE_MIN", FD::ObjectRef(new FD::Float(20.0f)));
    p.add("RANGE_MAX", FD::ObjectRef(new FD::Float(30.0f)));
    p.add("SEPARATE_METHOD", FD::ObjectRef(new FD::String(method)));
    p.add("VELK_DAT", FD::ObjectRef(new FD::String(table)));
    return p;
  }
  const Separated& Frame(int count) { return FD::object_cast<Separated>(last = node.getOutput(0, count)); }
  const std::vector<std::complex<float>>& Of(int id) {
    return FD::object_cast<FD::Vector<std::complex<float>>>(FD::object_cast<Separated>(last).at(id));
  }
  // Noise frames, then a talker at `degrees`.
  void TalkerAt(double degrees) {
    spectrum = [degrees](int c) { return c < kNoiseFrames ? Noise() : Voice(degrees); };
  }

  std::function<FD::ObjectRef(int)> spectrum = [](int) { return Noise(); };
  std::function<FD::ObjectRef(int)> sources = [](int) { return List({}); };
  FrameSource spectrumSource{[this](int c) { return spectrum(c); }};
  FrameSource sourcesSource{[this](int c) { return sources(c); }};
  SeparateBinaural node;
  FD::ObjectRef last;
};

TEST(SeparateBinaural, NoiseFramesAreEmptyThenEachIdGetsTheEarOnItsTalkersSide) {
  for (double degrees : {30.0, -30.0, 0.0}) {
    Rig rig;
    rig.TalkerAt(degrees);
    // The second record of id 7 (the mirror direction, whose bins would all be cut) is dropped.
    rig.sources = [&](int c) {
      return c > kNoiseFrames ? FD::ObjectRef() : List({At(7, degrees), At(2, 60), At(7, -degrees - 1)});
    };
    for (int c = 0; c < kNoiseFrames; ++c) EXPECT_TRUE(rig.Frame(c).empty()) << "frame " << c;
    ASSERT_EQ(rig.Frame(kNoiseFrames).size(), 2u);
    const FD::ObjectRef voiceRef = Voice(degrees);
    const Spectrum& voice = static_cast<const Spectrum&>(*voiceRef);
    const int row = degrees > 0 ? 0 : 1;
    for (int k : kVoiceBins) EXPECT_EQ(rig.Of(7)[k], voice(row, k)) << degrees << " deg, bin " << k;
    EXPECT_EQ(rig.Of(7)[100], std::complex<float>()) << "nothing passes above 1500 Hz";
    EXPECT_TRUE(rig.Frame(kNoiseFrames + 1).empty()) << "a nil list is an empty list";
  }
}

TEST(SeparateBinaural, RefusesMalformedInputsClearly) {
  Rig threeRows;
  threeRows.spectrum = [](int) { return Noise(3); };
  EXPECT_EQ(HostError([&] { threeRows.Frame(0); }), "Input matrix is not 2ch, but 3ch");
  Rig notASource;
  notASource.sources = [](int) { return List({At(0, 30), FD::ObjectRef(new FD::Float(3))}); };
  EXPECT_EQ(HostError([&] { notASource.Frame(0); }),
            "separate: element 1 of SOURCES on frame 0 is float, not a source record");
}

TEST(SeparateBinaural, TablesAreReadOnFrameZeroAndMustFitTheSpectrumForTheMeasuredMethod) {
  Rig missing("/nonexistent/table.velk");
  EXPECT_NE(HostError([&] { missing.Frame(0); }).find("VELK_DAT: transfer-function file \"/nonexistent/table.velk\""),
            std::string::npos);
  velkio::HeadModelOptions options;
  options.nfft = 256;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("velk-sep-" + std::to_string(getpid()) + ".velk")).string();
  velkio::makeHeadModel(options).writeFile(path);
  Rig measured(path, "HRTFMESURED"), epipolar(path, "EPIPOLAR");
  EXPECT_NE(HostError([&] { measured.Frame(0); })
                .find("transform length: the tables are for a 256-point transform (129 bins), expected 512 points "
                      "(257 bins, that of the spectra)"),
            std::string::npos);
  EXPECT_TRUE(epipolar.Frame(0).empty()) << "the head-model method does not use the tables";
  std::filesystem::remove(path);
}

// ---- the soft masks -------------------------------------------------------------------------------

struct SoftMaskRig {
  explicit SoftMaskRig(const std::string& method = "EPIPOLAR", const std::string& table = kTable)
      : node("masks", Params(method, table)) {
    node.connectInput(node.inputId("SPECTRUM"), &spectrumSource, 0);
    node.connectInput(node.inputId("SOURCES"), &sourcesSource, 0);
    node.initialize();
  }
  static FD::ParameterSet Params(const std::string& method, const std::string& table) {
    FD::ParameterSet p;
    p.add("SEPARATE_METHOD", FD::ObjectRef(new FD::String(method)));
    p.add("VELK_DAT", FD::ObjectRef(new FD::String(table)));
    return p;
  }
  const Separated& Frame(int count) { return FD::object_cast<Separated>(last = node.getOutput(0, count)); }
  const std::vector<std::complex<float>>& Of(int id) {
    return FD::object_cast<FD::Vector<std::complex<float>>>(FD::object_cast<Separated>(last).at(id));
  }

  std::function<FD::ObjectRef(int)> spectrum = [](int) { return Noise(); };
  std::function<FD::ObjectRef(int)> sources = [](int) { return List({}); };
  FrameSource spectrumSource{[this](int c) { return spectrum(c); }};
  FrameSource sourcesSource{[this](int c) { return sources(c); }};
  SeparateSoftMask node;
  FD::ObjectRef last;
};

// Harmonics as Voice() makes them but equally loud in both ears, as a talker near the front is.
FD::ObjectRef EvenVoice(double degrees) {
  FD::ObjectRef ref = Voice(degrees);
  auto& s = static_cast<Spectrum&>(*ref);
  for (int k : kVoiceBins) s(1, k) *= 0.5f;
  return ref;
}

// Outputs from the first frame, each id once (its first record) with the ear on its side; once
// its talker speaks (after frames of noise alone), most of the talker's harmonics and little of
// them for a talker elsewhere.
TEST(SeparateSoftMask, EachIdGetsTheEarOnItsTalkersSideFromTheFirstFrame) {
  for (double degrees : {30.0, -30.0}) {
    SoftMaskRig rig;
    rig.spectrum = [degrees](int c) { return c < kNoiseFrames ? Noise() : EvenVoice(degrees); };
    rig.sources = [&](int c) {
      return c > kNoiseFrames + 3 ? FD::ObjectRef() : List({At(7, degrees), At(2, -degrees), At(7, -degrees - 1)});
    };
    EXPECT_EQ(rig.Frame(0).size(), 2u);
    for (int c = 1; c < kNoiseFrames; ++c) rig.Frame(c);
    const FD::ObjectRef voiceRef = EvenVoice(degrees);
    const Spectrum& voice = static_cast<const Spectrum&>(*voiceRef);
    const int row = degrees > 0 ? 0 : 1;
    for (int c = kNoiseFrames; c <= kNoiseFrames + 3; ++c) {
      ASSERT_EQ(rig.Frame(c).size(), 2u) << "frame " << c;
      for (int k : kVoiceBins) {
        EXPECT_GT(std::abs(rig.Of(7)[k]), 0.7f * std::abs(voice(row, k))) << degrees << " deg, frame " << c << ", bin " << k;
        EXPECT_LT(std::abs(rig.Of(2)[k]), 0.3f * std::abs(voice(1 - row, k))) << degrees << " deg, frame " << c << ", bin " << k;
        // A real gain on one ear: the output has that ear's phase.
        EXPECT_NEAR(std::arg(rig.Of(7)[k] * std::conj(voice(row, k))), 0.0, 1e-4) << "bin " << k;
      }
    }
    EXPECT_TRUE(rig.Frame(kNoiseFrames + 4).empty()) << "a nil list is an empty list";
  }
}

TEST(SeparateSoftMask, RefusesSpectraOfAnotherSizeAndUnreadableTablesByName) {
  SoftMaskRig resized;
  resized.spectrum = [](int c) { return c == 0 ? Noise() : Noise(2, 129); };
  resized.Frame(0);
  EXPECT_EQ(HostError([&] { resized.Frame(1); }), "masks: SPECTRUM on frame 1 has 129 bins but 257 on frame 0");
  SoftMaskRig threeRows;
  threeRows.spectrum = [](int) { return Noise(3); };
  EXPECT_EQ(HostError([&] { threeRows.Frame(0); }), "Input matrix is not 2ch, but 3ch");
  SoftMaskRig missing("HRTFMESURED", "/nonexistent/table.velk");
  EXPECT_NE(HostError([&] { missing.Frame(0); }).find("VELK_DAT: transfer-function file \"/nonexistent/table.velk\""),
            std::string::npos);
  SoftMaskRig headModel("EPIPOLAR", "/nonexistent/table.velk");
  EXPECT_TRUE(headModel.Frame(0).empty()) << "the head model reads no table";
}

}  // namespace
