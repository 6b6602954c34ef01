// The host's audio nodes: framing of audio files, the spectrum convention, exact analysis and
// synthesis, writing WAV files, one file per separated source and the source recorder.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <nlohmann/json.hpp>

#include "fd/Source.h"
#include "TestSupport.h"
#include "fd/Node.h"

namespace hostio {
namespace {

using Complex = std::complex<float>;

std::string q(const std::string& s) { return "\"" + s + "\""; }

// source -> MultiFFT -> Synthesize -> SaveWave (float samples), all framings configurable.
std::string passThrough(const std::string& in, const std::string& out, int length, int advance,
                        const std::string& window, int channels = 2, int rate = 16000) {
  const std::string common = "\"LENGTH\": " + std::to_string(length) + ", ";
  return R"({"nodes": [
    {"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": )" + q(in) + ", " + common +
         "\"ADVANCE\": " + std::to_string(advance) + ", \"SAMPLING_RATE\": " + std::to_string(rate) +
         ", \"CHANNELS\": " + std::to_string(channels) + R"(}},
    {"name": "stft", "type": "MultiFFT", "parameters": {)" + common + "\"WINDOW\": " + q(window) + R"(},
     "inputs": {"INPUT": "source:AUDIO"}},
    {"name": "istft", "type": "Synthesize", "parameters": {)" + common + "\"ADVANCE\": " + std::to_string(advance) +
         ", \"WINDOW\": " + q(window) + R"(}, "inputs": {"INPUT": "stft:OUTPUT"}},
    {"name": "sink", "type": "SaveWave", "parameters": {"FILENAME": )" + q(out) +
         R"(, "SAMPLING_RATE": 16000, "SAMPLE_FORMAT": "FLOAT"}, "inputs": {"INPUT": "istft:OUTPUT"}}
  ], "outputs": ["sink:OUTPUT"]})";
}

// ---- analysis and synthesis --------------------------------------------------------------------

struct Framing {
  int length, advance;
  const char* window;
};

class RoundTrip : public ::testing::TestWithParam<Framing> {};

// Unchanged spectra give the input back everywhere, including the first samples (covered by
// fewer frames) and the last ones (finished by frames past the end of the stream), for shifts
// that divide the frame length and shifts that do not. The output is exactly as long as the input,
// whatever the shift.
TEST_P(RoundTrip, UnchangedSpectraRebuildTheInputExactly) {
  const Framing f = GetParam();
  TempDir dir;
  const long samples = 16000 + 37;  // not a multiple of any shift
  const std::vector<float> x = testSignal(samples);
  writeWav(dir.file("in.wav"), 16000, 2, x);
  const long frames = runNetworkText(passThrough(dir.file("in.wav"), dir.file("out.wav"), f.length, f.advance, f.window),
                                     dir.path());
  EXPECT_EQ(frames, (samples + f.advance - 1) / f.advance);

  const Sound y = readWav(dir.file("out.wav"));
  ASSERT_EQ(y.channels, 2);
  ASSERT_EQ(y.frames, samples);
  double worst = 0.0;
  for (long n = 0; n < samples; ++n)
    for (int c = 0; c < 2; ++c) worst = std::max(worst, std::fabs(double(y.at(n, c)) - x[2 * n + c]));
  EXPECT_LT(worst, 1e-5) << "largest error of any sample";
}

INSTANTIATE_TEST_SUITE_P(Framings, RoundTrip,
                         ::testing::Values(Framing{512, 160, "HANN"}, Framing{512, 256, "HANN"},
                                           Framing{400, 100, "HAMMING"}, Framing{256, 256, "RECTANGLE"},
                                           Framing{64, 7, "HANN"}));

TEST(Synthesis, RefusesAShiftThatLeavesSamplesWithoutWeight) {
  TempDir dir;
  writeWav(dir.file("in.wav"), 16000, 2, testSignal(4000));
  // A Hann window shifted by its full length gives the samples at the frame edges weight 0.
  const std::string error = networkError(passThrough(dir.file("in.wav"), dir.file("out.wav"), 512, 512, "HANN"), dir.path());
  EXPECT_NE(error.find("\"istft\""), std::string::npos) << error;
  EXPECT_NE(error.find("parameter \"ADVANCE\""), std::string::npos) << error;
}

// Row r is channel r, and X[k] = sum x[n] e^(-j2 pi kn/N): a sine at bin 8 gives -j N/2 there, a
// cosine N/2.
TEST(Spectrum, FollowsTheForwardSignConventionAndChannelOrder) {
  TempDir dir;
  const int n = 64;
  std::vector<float> x(2 * 3 * n, 0.0f);
  for (int i = 0; i < 3 * n; ++i) {
    x[2 * i] = static_cast<float>(std::sin(2 * M_PI * 8 * i / n));
    x[2 * i + 1] = static_cast<float>(0.5 * std::cos(2 * M_PI * 8 * i / n));
  }
  writeWav(dir.file("in.wav"), 16000, 2, x);
  FD::Network network;
  FD::ParameterSet src, fft;
  src.add("FILENAME", FD::make<FD::String>(dir.file("in.wav")));
  src.add("SAMPLING_RATE", FD::make<FD::Int>(16000));
  src.add("CHANNELS", FD::make<FD::Int>(2));
  src.add("LENGTH", FD::make<FD::Int>(n));
  src.add("ADVANCE", FD::make<FD::Int>(n / 2));
  fft.add("LENGTH", FD::make<FD::Int>(n));
  fft.add("WINDOW", FD::make<FD::String>("RECTANGLE"));
  network.addNode("AudioFileSource", "source", src);
  network.addNode("MultiFFT", "stft", fft);
  network.connect("source", "AUDIO", "stft", "INPUT");
  network.addOutput("stft", "OUTPUT");
  network.initialize();
  // Frame 1 is centred on sample n/2: it holds samples 0 .. n-1, a whole number of periods.
  network.process(0);
  network.process(1);
  const auto& spectrum = FD::object_cast<FD::Matrix<Complex>>(network.output("stft", "OUTPUT", 1));
  ASSERT_EQ(spectrum.rows(), 2);
  ASSERT_EQ(spectrum.cols(), n / 2 + 1);
  EXPECT_NEAR(spectrum(0, 8).real(), 0.0f, 1e-4f);
  EXPECT_NEAR(spectrum(0, 8).imag(), -n / 2.0f, 1e-4f);
  EXPECT_NEAR(spectrum(1, 8).real(), n / 4.0f, 1e-4f);
  EXPECT_NEAR(std::abs(spectrum(0, 7)), 0.0f, 1e-4f);
}

// ---- audio files in ------------------------------------------------------------------------------

class AudioSource : public ::testing::Test {
 protected:
  // A mono ramp x[n] = (n + 1) / 2048 of `samples` samples.
  void SetUp() override {
    std::vector<float> ramp(samples);
    for (long n = 0; n < samples; ++n) ramp[n] = (n + 1) / 2048.0f;
    writeWav(dir.file("ramp.wav"), 8000, 1, ramp);
  }
  FD::ParameterSet params(const std::string& file, int rate = 8000, int channels = 1) {
    FD::ParameterSet p;
    p.add("FILENAME", FD::make<FD::String>(file));
    p.add("SAMPLING_RATE", FD::make<FD::Int>(rate));
    p.add("CHANNELS", FD::make<FD::Int>(channels));
    p.add("LENGTH", FD::make<FD::Int>(8));
    p.add("ADVANCE", FD::make<FD::Int>(3));
    return p;
  }
  std::string creationError(const FD::ParameterSet& p) {
    FD::Network network;
    try {
      network.addNode("AudioFileSource", "source", p);
    } catch (FD::BaseException* e) {
      std::unique_ptr<FD::BaseException> owner(e);
      return e->text();
    }
    return "";
  }
  const long samples = 1000;
  TempDir dir;
};

// Frame k holds samples [3k - 4, 3k + 4): zeros before the file, the tail and then zeros past it;
// the stream has ceil(1000 / 3) frames, and frames past them can still be read.
TEST_F(AudioSource, FramesAreCentredAndZeroPaddedAtBothEnds) {
  FD::Network network;
  FD::Node& node = network.addNode("AudioFileSource", "source", params(dir.file("ramp.wav")));
  network.addOutput("source", "AUDIO");
  network.initialize();
  EXPECT_EQ(node.streamLength(), 334);
  auto frame = [&](int k) { return FD::object_cast<FD::Matrix<float>>(network.output("source", "AUDIO", k)); };
  auto expected = [&](long n) { return n < 0 || n >= samples ? 0.0f : (n + 1) / 2048.0f; };
  for (int k : {0, 1, 2, 100, 333, 334, 335, 400}) {
    const FD::Matrix<float> m = frame(k);
    ASSERT_EQ(m.rows(), 1);
    ASSERT_EQ(m.cols(), 8);
    for (int c = 0; c < 8; ++c) EXPECT_FLOAT_EQ(m(0, c), expected(3L * k - 4 + c)) << "frame " << k << " column " << c;
  }
}

// (A missing file and a wrong sampling rate are checked through the command-line tool.)
TEST_F(AudioSource, RefusesFilesThatDoNotFitTheNetwork) {
  const std::string channels = creationError(params(dir.file("ramp.wav"), 8000, 2));
  EXPECT_NE(channels.find("1 channel"), std::string::npos) << channels;
  EXPECT_NE(channels.find("CHANNELS is 2"), std::string::npos) << channels;

  writeText(dir.file("noise.wav"), "this is not a sound file");
  EXPECT_NE(creationError(params(dir.file("noise.wav"))).find("noise.wav"), std::string::npos);

  writeWav(dir.file("empty.wav"), 8000, 1, {});
  EXPECT_NE(creationError(params(dir.file("empty.wav"))).find("no samples"), std::string::npos);
}

TEST_F(AudioSource, NamesTheParameterThatHasTheWrongType) {
  FD::ParameterSet p = params(dir.file("ramp.wav"));
  p.add("LENGTH", FD::make<FD::Float>(8.0f));
  const std::string error = creationError(p);
  EXPECT_NE(error.find("\"source\""), std::string::npos) << error;
  EXPECT_NE(error.find("parameter \"LENGTH\": expected an int, got float"), std::string::npos) << error;

  p = params(dir.file("ramp.wav"));
  p.add("ADVANCE", FD::make<FD::Int>(0));
  EXPECT_NE(creationError(p).find("at least 1"), std::string::npos);

  p = params(dir.file("ramp.wav"));
  p.add("LENGTH", FD::make<FD::Int>(1 << 30));  // refused before anything is allocated for it
  EXPECT_NE(creationError(p).find("parameter \"LENGTH\" = 1073741824: expected an int of at least 1 and at most 1048576"),
            std::string::npos);
}

// ---- audio files out -------------------------------------------------------------------------------

// 16-bit files store x * 32768 rounded, so they read back as what was written, and loud samples
// clip to the 16-bit range instead of wrapping round to the other sign. NaN, which 16 bits cannot
// carry, is written as 0.
TEST(WaveWriter, SixteenBitSamplesRoundTripAndClip) {
  TempDir dir;
  const std::vector<float> x = {0.5f, -0.5f, 32767 / 32768.0f, -1.0f, 1.5f, -1.5f, 1 / 32768.0f, 0.25f, 0.0f, NAN};
  writeWav(dir.file("in.wav"), 16000, 1, x);
  const std::string text = R"({"nodes": [
    {"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": )" + q(dir.file("in.wav")) +
                           R"(, "SAMPLING_RATE": 16000, "CHANNELS": 1, "LENGTH": 2, "ADVANCE": 1}},
    {"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 2, "WINDOW": "RECTANGLE"}, "inputs": {"INPUT": "source:AUDIO"}},
    {"name": "istft", "type": "Synthesize", "parameters": {"LENGTH": 2, "ADVANCE": 1, "WINDOW": "RECTANGLE"}, "inputs": {"INPUT": "stft:OUTPUT"}},
    {"name": "sink", "type": "SaveWave", "parameters": {"FILENAME": )" + q(dir.file("out.wav")) +
                           R"(, "SAMPLING_RATE": 16000}, "inputs": {"INPUT": "istft:OUTPUT"}}
  ], "outputs": ["sink:OUTPUT"]})";
  runNetworkText(text, dir.path());
  const std::vector<short> y = readPcm16(dir.file("out.wav"));
  // Sample 8 shares a frame with the NaN, so it comes out as NaN too.
  const std::vector<short> expected = {16384, -16384, 32767, -32768, 32767, -32768, 1, 8192, 0, 0};
  ASSERT_EQ(y.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(y[i], expected[i]) << "sample " << i;
}

// ---- separated sources -------------------------------------------------------------------------

// Turns a two-channel spectrum into a separator-like map: id 1 is channel 0 on every frame, id 7
// channel 1 on frames 50 .. 119 only.
class TestSeparator : public FD::BufferedNode {
 public:
  TestSeparator(std::string name, const FD::ParameterSet& p) : BufferedNode(std::move(name), p) {
    in_ = addInput("INPUT");
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    const auto& spectrum = FD::object_cast<FD::Matrix<Complex>>(getInput(in_, count));
    auto map = FD::make<FD::Map<int, FD::ObjectRef>>();
    auto row = [&](int r) {
      return FD::ObjectRef(new FD::Vector<Complex>(spectrum.row(r), spectrum.row(r) + spectrum.cols()));
    };
    (*map)[1] = row(0);
    if (count >= 50 && count < 120) (*map)[7] = row(1);
    out[count] = map;
  }

 private:
  int in_;
};

TEST(SeparatedWaves, OneFilePerIdOnTheInputTimeline) {
  FD::Node::addFactory("TestSeparator", new FD::NodeFactory<TestSeparator>("TestSeparator"));
  TempDir dir;
  const long samples = 200 * 160 + 11;
  const std::vector<float> x = testSignal(samples, 7);
  writeWav(dir.file("in.wav"), 16000, 2, x);
  const std::string text = R"({"nodes": [
    {"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": )" + q(dir.file("in.wav")) +
                           R"(, "SAMPLING_RATE": 16000, "CHANNELS": 2, "LENGTH": 512, "ADVANCE": 160}},
    {"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512}, "inputs": {"INPUT": "source:AUDIO"}},
    {"name": "separate", "type": "TestSeparator", "inputs": {"INPUT": "stft:OUTPUT"}},
    {"name": "save", "type": "SaveSeparatedWaves", "parameters": {"PREFIX": )" + q(dir.file("sep")) +
                           R"(, "SAMPLING_RATE": 16000, "LENGTH": 512, "ADVANCE": 160, "SAMPLE_FORMAT": "FLOAT"},
     "inputs": {"INPUT": "separate:OUTPUT"}}
  ], "outputs": ["save:OUTPUT"]})";
  const long frames = runNetworkText(text, dir.path());

  const Sound one = readWav(dir.file("sep_1.wav"));
  const Sound seven = readWav(dir.file("sep_7.wav"));
  EXPECT_EQ(one.channels, 1);
  EXPECT_EQ(frames, 201);
  EXPECT_EQ(one.frames, samples);
  EXPECT_EQ(seven.frames, samples);
  for (long n = 0; n < samples; ++n) ASSERT_NEAR(one.at(n, 0), x[2 * n], 1e-5f) << "id 1, sample " << n;
  // Samples that only frames 50 .. 119 cover are channel 1; samples no such frame covers are silent.
  for (long n = 50 * 160 + 96; n < 119 * 160 - 256; ++n) ASSERT_NEAR(seven.at(n, 0), x[2 * n + 1], 1e-5f) << "id 7, sample " << n;
  for (long n = 0; n < 50 * 160 - 256; ++n) ASSERT_EQ(seven.at(n, 0), 0.0f) << "id 7 before its first frame, sample " << n;
  for (long n = 119 * 160 + 256; n < seven.frames; ++n) ASSERT_EQ(seven.at(n, 0), 0.0f) << "id 7 after its last frame, sample " << n;
}

// ---- source lists --------------------------------------------------------------------------------

// Frame 0: no source; frame 1: id 1 at 30 degrees (left) and id 2 at -90 (right); frame 2: nil;
// frame 3: a list holding something that is not a source.
class TestSources : public FD::BufferedNode {
 public:
  TestSources(std::string name, const FD::ParameterSet& p) : BufferedNode(std::move(name), p) { addOutput("OUTPUT"); }
  void calculate(int, int count, FD::Buffer& out) override {
    if (count == 2) {
      out[count] = FD::ObjectRef();
      return;
    }
    auto list = FD::make<FD::Vector<FD::ObjectRef>>();
    if (count == 1) {
      list->push_back(source(1, 30.0));
      list->push_back(source(2, -90.0));
    }
    if (count == 3) list->push_back(FD::ObjectRef(new FD::Int(3)));
    out[count] = list;
  }

 private:
  static FD::ObjectRef source(int id, double degrees) {
    auto* s = new FD::Source;
    s->x[0] = static_cast<float>(std::cos(degrees * M_PI / 180));
    s->x[1] = static_cast<float>(std::sin(degrees * M_PI / 180));
    s->id = id;
    return FD::ObjectRef(s);
  }
};

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override { FD::Node::addFactory("TestSources", new FD::NodeFactory<TestSources>("TestSources")); }
  std::string network() const {
    return R"({"nodes": [{"name": "sources", "type": "TestSources"},
      {"name": "record", "type": "SourceRecorder", "parameters": {"FILENAME": )" +
           q(dir.file("sources.jsonl")) + R"(, "SAMPLING_RATE": 16000, "ADVANCE": 160},
       "inputs": {"INPUT": "sources:OUTPUT"}}], "outputs": ["record:OUTPUT"]})";
  }
  TempDir dir;
};

TEST_F(Recorder, WritesOneJsonObjectPerFrame) {
  runNetworkText(network(), dir.path(), 3);
  const std::vector<std::string> lines = readLines(dir.file("sources.jsonl"));
  ASSERT_EQ(lines.size(), 3u);
  std::vector<nlohmann::json> frames;
  for (const std::string& line : lines) frames.push_back(nlohmann::json::parse(line));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(frames[k]["frame"], k);
    EXPECT_DOUBLE_EQ(frames[k]["time"].get<double>(), k * 0.01);
  }
  EXPECT_TRUE(frames[0]["sources"].empty());
  EXPECT_TRUE(frames[2]["sources"].empty()) << "a nil list is written as an empty one";
  ASSERT_EQ(frames[1]["sources"].size(), 2u);
  EXPECT_EQ(frames[1]["sources"][0]["id"], 1);
  EXPECT_NEAR(frames[1]["sources"][0]["azimuth"].get<double>(), 30.0, 1e-4);
  EXPECT_EQ(frames[1]["sources"][1]["id"], 2);
  EXPECT_NEAR(frames[1]["sources"][1]["azimuth"].get<double>(), -90.0, 1e-4);
  // The documented form, to the character.
  EXPECT_EQ(lines[0], "{\"frame\": 0, \"time\": 0.0, \"sources\": []}");
  EXPECT_EQ(lines[1], "{\"frame\": 1, \"time\": 0.01, \"sources\": [{\"id\": 1, \"azimuth\": 30.0}, "
                      "{\"id\": 2, \"azimuth\": -90.0}]}");
}

TEST_F(Recorder, RefusesAListElementThatIsNotASource) {
  const std::string error = networkError(network(), dir.path(), 4);
  EXPECT_NE(error.find("\"record\""), std::string::npos) << error;
  EXPECT_NE(error.find("frame 3"), std::string::npos) << error;
  EXPECT_NE(error.find("element 0"), std::string::npos) << error;
}

}  // namespace
}  // namespace hostio
