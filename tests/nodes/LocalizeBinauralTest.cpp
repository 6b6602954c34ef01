// The localiser node driven frame by frame by tiny source nodes that emit chosen matrices: a
// flat noise floor, and a voice-like harmonic spectrum whose interaural phase is that of a
// source at a chosen azimuth.
#include <gtest/gtest.h>

#include <sys/time.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HostError.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/DirectionJudge.h"
#include "InvalidInputException.h"
#include "LogCapture.h"
#include "LocalizeBinaural.h"
#include "TrackTalkers.h"
#include "fd/Source.h"
#include "velkio/VELK.h"
#include "velkio/SofaImport.h"

namespace {

using NSVelkBinaural::DirectionConverter;
using NSVelkBinaural::gDirConv;
using Spectrum = FD::Matrix<std::complex<float>>;

constexpr int kBins = 257;  // a 512-point transform
constexpr float kNoise = 512.0f * 1e-3f;  // bin magnitude of the noise floor before the node's 1/nfft
constexpr int kNoiseFrames = 10;          // frames the node's estimator averages

// A source node whose output at frame `count` is whatever `make(count)` returns (nil included).
class FrameSource : public FD::BufferedNode {
 public:
  explicit FrameSource(std::function<FD::ObjectRef(int)> make)
      : BufferedNode("source", FD::ParameterSet()), make_(std::move(make)) {
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override { out[count] = make_(count); }

 private:
  std::function<FD::ObjectRef(int)> make_;
};

FD::ObjectRef NoiseSpectrum(int rows = 2, int bins = kBins) {
  return FD::ObjectRef(new Spectrum(rows, bins, std::complex<float>(kNoise, 0.0f)));
}

// Harmonics of band 5 (156 Hz) up to `lastBand` (band 40: all below 1500 Hz, so that the phase
// alone decides), 40 dB above the noise floor, with the interaural phase of a spherical head of
// `radius` (the head model's, 0.09 m) at `azimuthDeg`.
FD::ObjectRef VoiceSpectrum(double azimuthDeg, double radius = 0.09, int lastBand = 40) {
  FD::ObjectRef ref = NoiseSpectrum();
  auto& s = static_cast<Spectrum&>(*ref);
  const NSVelkBinaural::Epipolar model(NSDimensionPromise::LengthBase<double>(1.0),
                                       NSDimensionPromise::LengthBase<double>(radius));
  const double dl = model.LRDifferenceRevised(NSDimensionPromise::AngleBase<double>(azimuthDeg * M_PI / 180.0)).Value();
  for (int band = 5; band <= lastBand; band += 5) {
    const double f = band * 16000.0 / 512.0;
    const double rightMinusLeft = 2.0 * M_PI * f * dl / 340.0f;
    s(0, band) = std::complex<float>(100.0f * kNoise, 0.0f);
    s(1, band) = std::polar(100.0f * kNoise, static_cast<float>(rightMinusLeft));
  }
  return ref;
}

FD::ObjectRef Audio(int rows = 2) { return FD::ObjectRef(new FD::Matrix<float>(rows, 512)); }

FD::ParameterSet DefaultParams() {
  FD::ParameterSet p("localize");
  auto i = [&](const char* n, int v) { p.add(n, FD::ObjectRef(new FD::Int(v))); };
  auto f = [&](const char* n, float v) { p.add(n, FD::ObjectRef(new FD::Float(v))); };
  auto s = [&](const char* n, const char* v) { p.add(n, FD::ObjectRef(new FD::String(v))); };
  i("SAMPLING_RATE", 16000);
  i("ADVANCE", 160);
  s("BGNOISE_METHOD", "INTERNAL");
  i("PAUSE_LENGTH", 1000);
  f("MIN_SRC_INTERVAL", 20.0f);
  f("PEAK_FMIN", 100.0f);
  f("PEAK_FMAX", 3000.0f);
  s("LOCALIZE_CHANNEL", "LEFT");
  i("HARMONIC_THRESHOLD", 1);
  f("PEAK_THRESHOLD", 10.0f);
  f("EVENT_RATIO_THRESHOLD", 0.0f);
  f("CLUSTERING_THRESHOLD", 50.0f);
  s("LOCALIZE_METHOD", "EPIPOLAR");
  f("DIRPROB_THRESHOLD", 0.0f);
  i("ROUND_COUNT", 0);
  return p;
}

using nodetest::HostError;

// Collects what is written to standard output while it lives.
class StdoutCapture {
 public:
  StdoutCapture() : saved_(std::cout.rdbuf(out_.rdbuf())) {}
  ~StdoutCapture() { std::cout.rdbuf(saved_); }
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
  std::streambuf* saved_;
};

struct SourceView {
  int id;
  double azimuthDeg;
  float power;
};

std::vector<SourceView> ViewOf(const FD::ObjectRef& list) {
  std::vector<SourceView> result;
  for (const auto& ref : FD::object_cast<FD::Vector<FD::ObjectRef>>(list)) {
    const auto& s = FD::object_cast<FD::Source>(ref);
    result.push_back({s.id, std::atan2(s.x[1], s.x[0]) * 180.0 / M_PI, s.power});
  }
  return result;
}

// A localiser fed by test sources; `spectrum(count)`, `audio(count)` and `noise(count)` choose
// each frame's inputs.
class LocalizerRig {
 public:
  explicit LocalizerRig(FD::ParameterSet params = DefaultParams(), bool connectNoise = false)
      : node("localize", params) {
    node.connectInput(node.inputId("AUDIO"), &audioSource, 0);
    node.connectInput(node.inputId("SPECTRUM"), &spectrumSource, 0);
    if (connectNoise) node.connectInput(node.inputId("BGNOISE"), &noiseSource, 0);
    node.verifyConnect();
    node.initialize();
  }

  std::vector<SourceView> Frame(int count) { return ViewOf(node.getOutput(0, count)); }

  std::function<FD::ObjectRef(int)> audio = [](int) { return Audio(); };
  std::function<FD::ObjectRef(int)> spectrum = [](int) { return NoiseSpectrum(); };
  std::function<FD::ObjectRef(int)> noise = [](int) { return FD::ObjectRef(); };

  FrameSource audioSource{[this](int c) { return audio(c); }};
  FrameSource spectrumSource{[this](int c) { return spectrum(c); }};
  FrameSource noiseSource{[this](int c) { return noise(c); }};
  LocalizeBinaural node;
};

// The noise level of the flat floor, in dB, as the node's own estimator finds it.
FD::ObjectRef ExternalNoise() {
  const float db = static_cast<float>(20.0 * std::log10(kNoise / 512.0f));
  return FD::ObjectRef(new FD::Matrix<float>(2, kBins, db));
}

class LocalizeBinauralTest : public testing::Test {
 protected:
  void SetUp() override { gDirConv = DirectionConverter(-5, 90); }
  void TearDown() override { gDirConv = DirectionConverter(-5, 90); }
};

// ---- construction -----------------------------------------------------------------------------

TEST_F(LocalizeBinauralTest, MethodSetsTheDirectionGrid) {
  gDirConv = DirectionConverter(7, 3);
  LocalizeBinaural epipolar("l", DefaultParams());
  EXPECT_EQ(gDirConv.step, -5);
  EXPECT_EQ(gDirConv.origin, 90);
  EXPECT_EQ(gDirConv.ToDegree(36), -90);

  FD::ParameterSet measured = DefaultParams();
  measured.add("LOCALIZE_METHOD", FD::ObjectRef(new FD::String("HRTFMESURED")));
  measured.add("VELK_DAT", FD::ObjectRef(new FD::String("table.velk")));  // read on the first frame
  measured.add("VELK_DAT_CHANNELS", FD::ObjectRef(new FD::Vector<int>{0, 1}));
  LocalizeBinaural m("l", measured);
  EXPECT_EQ(gDirConv.step, 0);  // placeholder until the tables are read

  gDirConv = DirectionConverter(7, 3);
  measured.add("LOCALIZE_METHOD", FD::ObjectRef(new FD::String("HRTFMEASURED")));
  LocalizeBinaural spelledOut("l", measured);
  EXPECT_EQ(gDirConv.step, 0);
  EXPECT_EQ(spelledOut.Config().method, NSVelkBinaural::LocalizerConfig::Method::MeasuredTables);

  // Any other text is refused, and leaves the grid alone.
  gDirConv = DirectionConverter(7, 3);
  measured.add("LOCALIZE_METHOD", FD::ObjectRef(new FD::String("HRTF_MEASURED")));
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", measured); }),
            "Node \"l\": parameter \"LOCALIZE_METHOD\" = \"HRTF_MEASURED\": expected \"EPIPOLAR\", \"HRTFMESURED\" or "
            "\"HRTFMEASURED\"");
  EXPECT_EQ(gDirConv.step, 7);
  EXPECT_EQ(gDirConv.origin, 3);
}

// The node's parameters reach the event history of the pipeline it runs.
TEST_F(LocalizeBinauralTest, EventTimingComesFromParameters) {
  FD::ParameterSet p = DefaultParams();
  p.add("PAUSE_LENGTH", FD::ObjectRef(new FD::Int(1500)));
  p.add("MIN_SRC_INTERVAL", FD::ObjectRef(new FD::Float(12.0f)));
  p.add("EVENT_RATIO_THRESHOLD", FD::ObjectRef(new FD::Float(2.5f)));
  const NSVelkBinaural::Localizer pipeline(LocalizeBinaural("l", p).Config());
  EXPECT_EQ(pipeline.History().pauseLength.tv_sec, 1);
  EXPECT_EQ(pipeline.History().pauseLength.tv_usec, 500000);
  EXPECT_NEAR(pipeline.History().nearAngle.Value(), 0.10471975511965977, 1e-12);
  EXPECT_DOUBLE_EQ(pipeline.History().ratioThreshold, 2.5);

  p.add("PAUSE_LENGTH", FD::ObjectRef(new FD::Int(250)));
  const NSVelkBinaural::Localizer shortPause(LocalizeBinaural("l", p).Config());
  EXPECT_EQ(shortPause.History().pauseLength.tv_sec, 0);
  EXPECT_EQ(shortPause.History().pauseLength.tv_usec, 250000);
}

TEST_F(LocalizeBinauralTest, ParametersAreRequiredAndTyped) {
  FD::ParameterSet p = DefaultParams();
  p.add("HARMONIC_THRESHOLD", FD::ObjectRef(new FD::Float(1.0f)));
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", p); }),
            "Cast error: Trying to cast ObjectRef (N2FD11GenericTypeIfEE) into i");
  FD::ParameterSet missing("l");
  missing.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(16000)));
  EXPECT_NE(HostError([&] { LocalizeBinaural("l", missing); }).find("ADVANCE"), std::string::npos);
  // The unused parameters must still be there.
  FD::ParameterSet noRound = DefaultParams();
  FD::ParameterSet copy("l");
  for (const auto& name : noRound.names())
    if (name != "ROUND_COUNT") copy.add(name, noRound.get(name));
  EXPECT_NE(HostError([&] { LocalizeBinaural("l", copy); }).find("ROUND_COUNT"), std::string::npos);
}

TEST_F(LocalizeBinauralTest, NoiseInputIsNeededOnlyForExternalNoise) {
  LocalizeBinaural internal("l", DefaultParams());
  FrameSource src([](int) { return Audio(); });
  internal.connectInput(internal.inputId("AUDIO"), &src, 0);
  internal.connectInput(internal.inputId("SPECTRUM"), &src, 0);
  EXPECT_EQ(HostError([&] { internal.verifyConnect(); }), "(no error)");

  FD::ParameterSet p = DefaultParams();
  p.add("BGNOISE_METHOD", FD::ObjectRef(new FD::String("internal")));  // case matters: external
  LocalizeBinaural external("l", p);
  external.connectInput(external.inputId("AUDIO"), &src, 0);
  external.connectInput(external.inputId("SPECTRUM"), &src, 0);
  EXPECT_NE(HostError([&] { external.verifyConnect(); }).find("BGNOISE"), std::string::npos);
}

// ---- input checks -----------------------------------------------------------------------------

TEST_F(LocalizeBinauralTest, InputsMustHaveTwoRowsAndNothingIsSetUpOtherwise) {
  LocalizerRig rig;
  rig.audio = [](int) { return Audio(1); };
  EXPECT_EQ(HostError([&] { rig.Frame(0); }), "Input matrix is not 2ch, but 1ch");
  EXPECT_FALSE(rig.node.Pipeline());

  LocalizerRig spectrumRig;
  spectrumRig.spectrum = [](int) { return NoiseSpectrum(3); };
  EXPECT_EQ(HostError([&] { spectrumRig.Frame(0); }), "Input matrix is not 2ch, but 3ch");
  EXPECT_FALSE(spectrumRig.node.Pipeline());
}

TEST_F(LocalizeBinauralTest, InputOfTheWrongTypeNamesThePort) {
  LocalizerRig rig;
  rig.audio = [](int) { return NoiseSpectrum(); };
  const std::string error = HostError([&] { rig.Frame(0); });
  EXPECT_NE(error.find("AUDIO"), std::string::npos) << error;
  EXPECT_NE(error.find("Matrix<complex<float>>"), std::string::npos) << error;
  LocalizerRig nilRig;
  nilRig.audio = [](int) { return FD::ObjectRef(); };
  EXPECT_NE(HostError([&] { nilRig.Frame(0); }).find("AUDIO is empty"), std::string::npos);
}

TEST_F(LocalizeBinauralTest, PeakWindowOutsideTheSpectrumIsRefusedWhenTheNodeIsMade) {
  FD::ParameterSet p = DefaultParams();
  p.add("PEAK_FMAX", FD::ObjectRef(new FD::Float(9000.0f)));  // above half of 16 kHz
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", p); }),
            "Node \"l\": parameter \"PEAK_FMAX\" = 9000.0: expected at most half of SAMPLING_RATE (16000 / 2)");
  p.add("PEAK_FMAX", FD::ObjectRef(new FD::Float(100.0f)));  // not above PEAK_FMIN
  EXPECT_NE(HostError([&] { LocalizeBinaural("l", p); }).find("parameter \"PEAK_FMIN\" = 100.0"), std::string::npos);
}

// A window narrower than a bin passes the parameter checks but leaves the peak search nothing to
// examine: the frame stops with the reason.
TEST_F(LocalizeBinauralTest, PeakWindowWithinOneBinStopsTheFrame) {
  FD::ParameterSet p = DefaultParams();
  p.add("PEAK_FMAX", FD::ObjectRef(new FD::Float(110.0f)));  // 100 and 110 Hz are both bin 3
  LocalizerRig rig(p);
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::WARNING);
  for (int c = 0; c < kNoiseFrames; ++c) rig.Frame(c);
  const std::string error = HostError([&] { rig.Frame(kNoiseFrames); });
  EXPECT_NE(error.find("PEAK_FMAX 110 Hz"), std::string::npos) << error;
  EXPECT_TRUE(log.contains("SEVERE: peak detection rejected the frame")) << log.text();
}

// ---- first frame and frame time ---------------------------------------------------------------

TEST_F(LocalizeBinauralTest, FirstFrameTakesTheTransformLengthFromTheSpectrum) {
  LocalizerRig rig;
  rig.Frame(0);
  ASSERT_TRUE(rig.node.Pipeline());
  EXPECT_EQ(rig.node.Pipeline()->Nfft(), 512);
  EXPECT_EQ(rig.node.Pipeline()->Config().samplingRateHz, 16000);
}

TEST_F(LocalizeBinauralTest, NothingIsOutputWhileTheNoiseIsLearnt) {
  LocalizerRig rig;
  rig.spectrum = [](int) { return VoiceSpectrum(30.0); };  // a voice from the very first frame
  for (int c = 0; c < kNoiseFrames; ++c) {
    EXPECT_TRUE(rig.Frame(c).empty()) << "frame " << c;
    EXPECT_TRUE(rig.node.Pipeline()->History().events.empty()) << "frame " << c;
  }
}

TEST_F(LocalizeBinauralTest, EventsAreStampedWithTheFrameTime) {
  LocalizerRig rig;
  rig.spectrum = [](int c) { return c < 100 ? NoiseSpectrum() : VoiceSpectrum(30.0); };
  StdoutCapture quiet;
  for (int c = 0; c < 100; ++c) EXPECT_TRUE(rig.Frame(c).empty());
  EXPECT_TRUE(rig.Frame(100).empty());  // 100 x 160 / 16000 = 1.0 s: the event opens, not yet output
  ASSERT_EQ(rig.Frame(101).size(), 1u);
  ASSERT_EQ(rig.node.Pipeline()->History().events.size(), 1u);
  const timeval begin = rig.node.Pipeline()->History().events.front().begin;
  EXPECT_EQ(begin.tv_sec, 1);
  EXPECT_EQ(begin.tv_usec, 0);
}

// ---- sources and announcements ----------------------------------------------------------------

TEST_F(LocalizeBinauralTest, VoiceIsFoundAtItsDirectionAndAnnouncedOnce) {
  LocalizerRig rig;
  rig.spectrum = [](int c) { return c <= kNoiseFrames ? NoiseSpectrum() : VoiceSpectrum(90.0); };
  StdoutCapture out;
  for (int c = 0; c <= kNoiseFrames; ++c) rig.Frame(c);
  // A new event is output from its second frame on, once it has been heard again.
  EXPECT_TRUE(rig.Frame(kNoiseFrames + 1).empty());
  for (int c = kNoiseFrames + 2; c < kNoiseFrames + 30; ++c) {
    const auto sources = rig.Frame(c);
    ASSERT_EQ(sources.size(), 1u) << "frame " << c;
    EXPECT_EQ(sources[0].id, 1);
    EXPECT_NEAR(sources[0].azimuthDeg, 90.0, 1e-4);
  }
  int id = 0;
  double direction = 0.0;
  ASSERT_EQ(std::sscanf(out.text().c_str(), "SOURCE ID %d DIR %lf", &id, &direction), 2) << out.text();
  EXPECT_EQ(id, 1);
  EXPECT_NEAR(direction, 90.0, 1e-4);
  EXPECT_EQ(out.text().find("SOURCE ID", 1), std::string::npos) << "announced more than once:\n" << out.text();
}

// Talkers that speak briefly, pause for less than the pause length, speak again, then fall
// silent for good, one after another: each id is announced exactly once, also after its pause,
// however many ids came before.
TEST_F(LocalizeBinauralTest, EveryIdIsAnnouncedOnceOverManyIds) {
  constexpr int kTalkers = 60, kCycle = 200;  // per talker: 5 frames, 50 silent, 5 frames, 140 silent
  LocalizerRig rig;
  rig.spectrum = [](int c) {
    const int t = c - kNoiseFrames - 1;
    const int phase = t % kCycle;
    const bool speaks = t >= 0 && (phase < 5 || (phase >= 55 && phase < 60));
    return speaks ? VoiceSpectrum(t / kCycle % 2 ? 30.0 : -40.0) : NoiseSpectrum();
  };
  StdoutCapture out;
  std::set<int> output;
  for (int c = 0; c < kNoiseFrames + 1 + kTalkers * kCycle; ++c)
    for (const SourceView& s : rig.Frame(c)) output.insert(s.id);
  EXPECT_EQ(output.size(), static_cast<size_t>(kTalkers));
  std::istringstream lines(out.text());
  std::multiset<int> announced;
  int id = 0;
  double direction = 0.0;
  for (std::string line; std::getline(lines, line);)
    if (std::sscanf(line.c_str(), "SOURCE ID %d DIR %lf", &id, &direction) == 2) announced.insert(id);
  EXPECT_EQ(announced, std::multiset<int>(output.begin(), output.end()));
}

TEST_F(LocalizeBinauralTest, SourcesOnBothSidesKeepTheirSign) {
  for (double azimuth : {-60.0, -20.0, 0.0, 45.0}) {
    LocalizerRig rig;
    rig.spectrum = [&](int c) { return c <= kNoiseFrames ? NoiseSpectrum() : VoiceSpectrum(azimuth); };
    StdoutCapture quiet;
    for (int c = 0; c <= kNoiseFrames + 1; ++c) rig.Frame(c);
    const auto sources = rig.Frame(kNoiseFrames + 2);
    ASSERT_EQ(sources.size(), 1u) << azimuth;
    EXPECT_NEAR(sources[0].azimuthDeg, azimuth, 1e-4);
  }
}

// A head larger than the model's hears a lateral talker with a larger phase difference; with its
// radius given, the talker is found where it is, and a radius that is not a head is refused.
TEST_F(LocalizeBinauralTest, HeadRadiusOfTheModelIsAParameter) {
  auto found = [](FD::ParameterSet p) {
    LocalizerRig rig(p);
    rig.spectrum = [](int c) { return c <= kNoiseFrames ? NoiseSpectrum() : VoiceSpectrum(50.0, 0.11); };
    StdoutCapture quiet;
    for (int c = 0; c <= kNoiseFrames + 1; ++c) rig.Frame(c);
    const auto sources = rig.Frame(kNoiseFrames + 2);
    return sources.size() == 1 ? sources[0].azimuthDeg : -999.0;
  };
  EXPECT_GE(found(DefaultParams()), 65.0);  // the default 0.09 m sphere puts it too far out
  FD::ParameterSet p = DefaultParams();
  p.add("HEAD_RADIUS", FD::ObjectRef(new FD::Float(0.11f)));
  EXPECT_NEAR(found(p), 50.0, 1e-4);

  p.add("HEAD_RADIUS", FD::ObjectRef(new FD::Float(0.0f)));
  EXPECT_NE(HostError([&] { LocalizeBinaural("localize", p); })
                .find("parameter \"HEAD_RADIUS\" = 0.0: expected a float above 0 and at most 0.5"),
            std::string::npos);
  p.add("HEAD_RADIUS", FD::ObjectRef(new FD::Float(0.1f)));
  p.add("SOURCE_DISTANCE", FD::ObjectRef(new FD::Float(0.05f)));
  EXPECT_NE(HostError([&] { LocalizeBinaural("localize", p); }).find("parameter \"SOURCE_DISTANCE\" = 0.05"),
            std::string::npos);
}

// ---- stages beyond the event pipeline ----------------------------------------------------------

FD::ParameterSet WithStages(FD::ParameterSet p, const char* noiseFloor, const char* directions) {
  p.add("NOISE_FLOOR", FD::ObjectRef(new FD::String(noiseFloor)));
  p.add("DIRECTIONS", FD::ObjectRef(new FD::String(directions)));
  return p;
}

// A talker tracker fed by a localiser rig's node.
struct TrackedRig {
  explicit TrackedRig(FD::ParameterSet localizer) : rig(std::move(localizer)), tracker("track", TrackerParams()) {
    tracker.connectInput(tracker.inputId("INPUT"), &rig.node, 0);
    tracker.initialize();
  }
  static FD::ParameterSet TrackerParams() {
    FD::ParameterSet p("track");
    p.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(16000)));
    p.add("ADVANCE", FD::ObjectRef(new FD::Int(160)));
    return p;
  }
  std::vector<SourceView> Frame(int count) { return ViewOf(tracker.getOutput(0, count)); }

  LocalizerRig rig;
  TrackTalkers tracker;
};

TEST_F(LocalizeBinauralTest, StageKeywordsAreCheckedAtConstruction) {
  FD::ParameterSet p = DefaultParams();
  p.add("DIRECTIONS", FD::ObjectRef(new FD::String("broadband")));
  EXPECT_NE(HostError([&] { LocalizeBinaural("localize", p); })
                .find("parameter \"DIRECTIONS\" = \"broadband\": expected \"HARMONIC\" or \"BROADBAND\""),
            std::string::npos);
  EXPECT_EQ(HostError([&] { LocalizeBinaural("localize", WithStages(DefaultParams(), "FIRST_FRAMES", "HARMONIC")); }),
            "(no error)");
}

// A voice from the first frame, a pause, the voice again: the first frames' estimate learns the
// voice and never finds it; the adaptive floor learns the noise in the pause.
TEST_F(LocalizeBinauralTest, AdaptiveNoiseFloorFindsAVoiceThatStartsTheRecording) {
  for (const char* floor : {"FIRST_FRAMES", "ADAPTIVE"}) {
    LocalizerRig rig(WithStages(DefaultParams(), floor, "HARMONIC"));
    rig.spectrum = [](int c) { return c < 30 || c >= 60 ? VoiceSpectrum(30.0) : NoiseSpectrum(); };
    StdoutCapture quiet;
    int found = 0;
    for (int c = 0; c < 100; ++c)
      for (const SourceView& s : rig.Frame(c)) found += c >= 60 && std::fabs(s.azimuthDeg - 30.0) < 1e-3;
    if (std::string(floor) == "ADAPTIVE")
      EXPECT_GT(found, 35);
    else
      EXPECT_EQ(found, 0);
  }
}

// The broadband directions of a talker, through the tracker: one talker with one id, output from
// a few frames in and for the 0.5 s hold after it falls silent.
TEST_F(LocalizeBinauralTest, BroadbandDirectionsThroughTheTrackerAreOneTalker) {
  TrackedRig tracked(WithStages(DefaultParams(), "ADAPTIVE", "BROADBAND"));
  tracked.rig.spectrum = [](int c) { return c >= 20 && c < 100 ? VoiceSpectrum(40.0, 0.09, 150) : NoiseSpectrum(); };
  StdoutCapture out;
  for (int c = 0; c < 200; ++c) {
    const auto sources = tracked.Frame(c);
    if (c >= 30 && c < 150) {  // heard from a few frames in, and for the 0.5 s hold after
      ASSERT_EQ(sources.size(), 1u) << "frame " << c;
      EXPECT_EQ(sources[0].id, 1);
      EXPECT_NEAR(sources[0].azimuthDeg, 40.0, 1.0);
    } else if (c < 20 || c >= 151) {
      EXPECT_TRUE(sources.empty()) << "frame " << c;
    }
  }
  int id = 0;
  double direction = 0.0;
  ASSERT_EQ(std::sscanf(out.text().c_str(), "SOURCE ID %d DIR %lf", &id, &direction), 2) << out.text();
  EXPECT_EQ(id, 1);
  EXPECT_EQ(out.text().find("SOURCE ID", 1), std::string::npos) << out.text();
}

// The sound events carry the probability of their direction as power, which the tracker weighs,
// and NaN on frames they are not heard on, which it ignores: an event that the history keeps
// outputting after its voice stopped does not keep the talker alive.
TEST_F(LocalizeBinauralTest, SoundEventsCarryTheirStrengthToTheTracker) {
  LocalizerRig events;
  events.spectrum = [](int c) { return c <= kNoiseFrames || c > 60 ? NoiseSpectrum() : VoiceSpectrum(-45.0); };
  StdoutCapture quiet;
  for (int c = 0; c <= 30; ++c) events.Frame(c);
  const auto heard = events.Frame(31);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_GT(heard[0].power, 0.0f);
  EXPECT_LE(heard[0].power, 1.0f);
  for (int c = 32; c <= 61; ++c) events.Frame(c);
  const auto silent = events.Frame(62);  // the voice stopped after frame 60; the event is still output
  ASSERT_EQ(silent.size(), 1u);
  EXPECT_TRUE(std::isnan(silent[0].power));

  TrackedRig tracked(WithStages(DefaultParams(), "FIRST_FRAMES", "HARMONIC"));
  tracked.rig.spectrum = events.spectrum;
  std::vector<SourceView> last;
  for (int c = 0; c <= 60; ++c) last = tracked.Frame(c);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].id, 1);
  EXPECT_NEAR(last[0].azimuthDeg, -45.0, 0.5);
  for (int c = 61; c < 200; ++c) last = tracked.Frame(c);
  EXPECT_TRUE(last.empty()) << "an event not heard does not keep the talker output";
}

// The broadband finder's directions are output frame by frame, each with its rank as id and the
// share of the frame's bins it explains as power.
TEST_F(LocalizeBinauralTest, BroadbandDirectionsOfTheFrameCarryTheirRankAndShare) {
  LocalizerRig rig(WithStages(DefaultParams(), "ADAPTIVE", "BROADBAND"));
  rig.spectrum = [](int c) { return c < 20 ? NoiseSpectrum() : VoiceSpectrum(-20.0, 0.09, 150); };
  StdoutCapture quiet;
  for (int c = 0; c < 20; ++c) EXPECT_TRUE(rig.Frame(c).empty());
  const auto sources = rig.Frame(25);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(sources[0].id, 1);
  EXPECT_NEAR(sources[0].azimuthDeg, -20.0, 1.0);
  EXPECT_GT(sources[0].power, 0.5f);
  EXPECT_LE(sources[0].power, 1.0f);
}

TEST_F(LocalizeBinauralTest, ExternalNoiseFramesWithoutNoiseOutputNothing) {
  FD::ParameterSet p = DefaultParams();
  p.add("BGNOISE_METHOD", FD::ObjectRef(new FD::String("EXTERNAL")));
  LocalizerRig rig(p, true);
  // Noise on every frame but 2; a voice on frames 0 and 1 only.
  rig.noise = [](int c) { return c == 2 ? FD::ObjectRef() : ExternalNoise(); };
  rig.spectrum = [](int c) { return c < 2 ? VoiceSpectrum(-30.0) : NoiseSpectrum(); };
  StdoutCapture quiet;
  EXPECT_TRUE(rig.Frame(0).empty());   // no learning phase: the event opens at once
  ASSERT_EQ(rig.Frame(1).size(), 1u);
  EXPECT_TRUE(rig.Frame(2).empty());
  EXPECT_EQ(rig.node.Pipeline()->History().events.size(), 1u);  // the history still holds the event
  const auto again = rig.Frame(3);                  // noise, no sound: the event is output again
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].id, 1);
  EXPECT_NEAR(again[0].azimuthDeg, -30.0, 1e-4);
}

TEST_F(LocalizeBinauralTest, ExternalNoiseNeedsTwoRows) {
  FD::ParameterSet p = DefaultParams();
  p.add("BGNOISE_METHOD", FD::ObjectRef(new FD::String("EXTERNAL")));
  LocalizerRig rig(p, true);
  rig.noise = [](int) { return FD::ObjectRef(new FD::Matrix<float>(1, kBins)); };
  EXPECT_THROW(rig.Frame(0), std::out_of_range);
}

// ---- measured tables ----------------------------------------------------------------------------

// A measured-format file whose tables hold exactly the head model's phase at -90, -85, ... 90
// degrees, so that the measured judge and the head model agree.
std::string WriteModelTable(const std::string& path, int fs = 16000) {
  const NSVelkBinaural::Epipolar model(NSDimensionPromise::LengthBase<double>(1.0),
                                       NSDimensionPromise::LengthBase<double>(0.09));
  velkio::PositionList positions;
  auto tf = std::make_shared<velkio::TransferFunctions>();
  for (int deg = -90; deg <= 90; deg += 5) {
    positions.push_back({velkio::horizontalPosition(deg, 1.0)});
    const double dl = model.LRDifferenceRevised(NSDimensionPromise::AngleBase<double>(deg * M_PI / 180.0)).Value();
    velkio::Bins left(kBins, {1.0f, 0.0f}), right(kBins);
    for (int k = 0; k < kBins; ++k) right[k] = std::polar(1.0f, static_cast<float>(2.0 * M_PI * k * 16000.0 / 512.0 * dl / 340.0f));
    tf->push_back({left, right});
  }
  velkio::VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(velkio::FMT::MEASURED, fs, 512, 512));
  file.addChunk(std::make_shared<velkio::M2PG>(positions, tf));
  file.writeFile(path);
  return path;
}

class MeasuredTablesTest : public LocalizeBinauralTest {
 protected:
  FD::ParameterSet Params(std::vector<int> channels, int tableFs = 16000) {
    FD::ParameterSet p = DefaultParams();
    p.add("LOCALIZE_METHOD", FD::ObjectRef(new FD::String("HRTFMESURED")));
    p.add("VELK_DAT", FD::ObjectRef(new FD::String(WriteModelTable(path_, tableFs))));
    p.add("VELK_DAT_CHANNELS", FD::ObjectRef(new FD::Vector<int>(channels)));
    return p;
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    LocalizeBinauralTest::TearDown();
  }
  std::string path_ = (std::filesystem::temp_directory_path() / ("velk-model-" + std::to_string(getpid()) + ".velk")).string();
};

TEST_F(MeasuredTablesTest, TablesSetTheGridAndLocaliseTheVoice) {
  LocalizerRig rig(Params({0, 1}));
  rig.spectrum = [](int c) { return c <= kNoiseFrames ? NoiseSpectrum() : VoiceSpectrum(40.0); };
  StdoutCapture quiet;
  for (int c = 0; c <= kNoiseFrames + 1; ++c) rig.Frame(c);
  EXPECT_EQ(gDirConv.step, 5);
  EXPECT_EQ(gDirConv.origin, -90);
  const auto sources = rig.Frame(kNoiseFrames + 2);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_NEAR(sources[0].azimuthDeg, 40.0, 1e-4);
}

TEST_F(MeasuredTablesTest, TheBroadbandFinderReadsTheTablesPhases) {
  LocalizerRig rig(WithStages(Params({0, 1}), "ADAPTIVE", "BROADBAND"));
  rig.spectrum = [](int c) { return c < 20 ? NoiseSpectrum() : VoiceSpectrum(65.0, 0.09, 150); };
  StdoutCapture quiet;
  std::vector<SourceView> last;
  for (int c = 0; c < 60; ++c) last = rig.Frame(c);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_NEAR(last[0].azimuthDeg, 65.0, 1.0);
}

TEST_F(MeasuredTablesTest, ChannelListMustHoldTwoEntriesAndTheTablesAreNeeded) {
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", Params({0, 1, 1})); }),
            "Node \"l\": parameter \"VELK_DAT_CHANNELS\" = [0, 1, 1]: expected a list of 2 ints, each at least 0");
  EXPECT_NE(HostError([&] { LocalizeBinaural("l", Params({0})); }).find("VELK_DAT_CHANNELS\" = [0]"), std::string::npos);
  // With the measured method the file must be named; with the head model it is not needed.
  FD::ParameterSet p = DefaultParams();
  p.add("LOCALIZE_METHOD", FD::ObjectRef(new FD::String("HRTFMESURED")));
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", p); }), "Node \"l\": missing parameter \"VELK_DAT\"");
  EXPECT_EQ(HostError([&] { LocalizeBinaural("l", DefaultParams()); }), "(no error)");
}

TEST_F(MeasuredTablesTest, FileProblemsStopTheFirstFrameWithTheirReason) {
  LocalizerRig badChannel(Params({0, 2}));
  EXPECT_NE(HostError([&] { badChannel.Frame(0); }).find("channel number is out of range"), std::string::npos);

  FD::ParameterSet p = Params({0, 1});
  p.add("VELK_DAT", FD::ObjectRef(new FD::String("/nonexistent/table.velk")));
  LocalizerRig missing(p);
  EXPECT_NE(HostError([&] { missing.Frame(0); }).find("/nonexistent/table.velk"), std::string::npos);
}

TEST_F(MeasuredTablesTest, TablesOfAnotherRateAreRefused) {
  LocalizerRig rig(Params({0, 1}, 44100));
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::INFO);
  const std::string error = HostError([&] { rig.Frame(0); });
  EXPECT_NE(error.find("44100 Hz"), std::string::npos) << error;
  EXPECT_TRUE(log.contains("INFO: iipds: fs = 44100, nfft=512, nfreq=512, dirtick=5, ndir=37, begindeg=-90"))
      << log.text();
}

}  // namespace
