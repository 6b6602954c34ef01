// `velk-binaural score` on a made-up scene whose scores are known in closed form, and
// `velk-binaural separate` on a synthetic two-talker recording: its outputs, their alignment,
// and its input checks.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "E2ESupport.h"

namespace {

using nlohmann::json;

constexpr int kRate = 16000;

using Signal = std::vector<double>;

// Sines of whole hertz over whole seconds are orthogonal, so every score below has a closed form.
Signal sine(double hz, double amplitude, int samples, double delaySec = 0.0) {
  Signal s(static_cast<size_t>(samples));
  for (int n = 0; n < samples; ++n) s[n] = amplitude * std::sin(2.0 * M_PI * hz * (n / double(kRate) - delaySec));
  return s;
}

Signal operator+(Signal a, const Signal& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] += b[i];
  return a;
}

Signal scaled(Signal a, double gain) {
  for (double& v : a) v *= gain;
  return a;
}

// The signal later by `samples` (zeros in front), same length.
Signal delayed(const Signal& a, int samples) {
  Signal out(a.size(), 0.0);
  for (size_t i = static_cast<size_t>(samples); i < a.size(); ++i) out[i] = a[i - static_cast<size_t>(samples)];
  return out;
}

void writeWav(const std::string& path, const std::vector<Signal>& channels, int rate = kRate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = static_cast<int>(channels.size());
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<float> interleaved;
  for (size_t n = 0; n < channels[0].size(); ++n)
    for (const Signal& c : channels) interleaved.push_back(static_cast<float>(c[n]));
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(channels[0].size()));
  sf_close(file);
}

std::vector<Signal> readWav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, interleaved.data(), info.frames);
  sf_close(file);
  std::vector<Signal> channels(static_cast<size_t>(info.channels), Signal(static_cast<size_t>(info.frames)));
  for (size_t n = 0; n < static_cast<size_t>(info.frames); ++n)
    for (size_t c = 0; c < channels.size(); ++c) channels[c][n] = interleaved[n * channels.size() + c];
  return channels;
}

void writeJson(const std::string& path, const json& value) { std::ofstream(path) << value.dump(2); }

json readJson(const std::string& path) {
  std::ifstream in(path);
  return json::parse(in);
}

// A scene folder as the test scenes have it: talker images, their mixture (with `noise` when
// given) and truth.json.
void writeScene(const e2e::TempDir& dir, const std::vector<std::vector<Signal>>& images,
                const std::vector<double>& azimuthsDeg, std::vector<Signal> noise = {}) {
  std::vector<Signal> mix = noise.empty() ? std::vector<Signal>(2, Signal(images[0][0].size(), 0.0)) : noise;
  json sources = json::array();
  for (size_t i = 0; i < images.size(); ++i) {
    for (size_t c = 0; c < 2; ++c) mix[c] = mix[c] + images[i][c];
    const std::string file = "src" + std::to_string(i) + ".wav";
    writeWav(dir.file(file), images[i]);
    sources.push_back({{"index", i}, {"azimuth_deg", azimuthsDeg[i]}, {"image_file", file}});
  }
  writeWav(dir.file("mix.wav"), mix);
  writeJson(dir.file("truth.json"), {{"mixture_file", "mix.wav"}, {"sources", sources}});
}

const json* sourceRow(const json& report, int id) {
  for (const json& row : report.at("sources"))
    if (row.at("id").get<int>() == id) return &row;
  return nullptr;
}

const json* talkerRow(const json& report, int talker) {
  for (const json& row : report.at("talkers"))
    if (row.at("talker").get<int>() == talker) return &row;
  return nullptr;
}

double dB(double powerRatio) { return 10.0 * std::log10(powerRatio); }

// ---- score --------------------------------------------------------------------------------------

class ScoreTest : public ::testing::Test {
 protected:
  // Talker 0 at +30 degrees, louder in the left ear; talker 1 at -30 degrees, louder in the right
  // ear and with a component (4 kHz) above the band that one separated source keeps.
  void SetUp() override {
    const int n = kRate;  // 1 s
    talker0Left = sine(200, 1.0, n) + sine(3000, 0.5, n);
    talker1Right = sine(300, 0.8, n) + sine(4000, 0.4, n);
    writeScene(scene, {{talker0Left, sine(200, 0.5, n)}, {sine(300, 0.25, n), talker1Right}}, {30.0, -30.0});
  }

  e2e::RunResult score(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"score", scene.path(), run.path(), "--json", run.file("report.json")};
    args.insert(args.end(), extra.begin(), extra.end());
    return e2e::runTool(args);
  }

  e2e::TempDir scene, run;
  Signal talker0Left, talker1Right;
};

TEST_F(ScoreTest, GivesClosedFormScoresPairsSourcesWithNearestTalkersAndFindsTheShift) {
  const int n = kRate;
  // Talker 0's left-ear image with a 500 Hz error 20 dB down, at another gain, 5 samples late.
  writeWav(run.file("a.wav"), {delayed(scaled(talker0Left + sine(500, 0.1, n), 0.3), 5)});
  // Talker 1's right-ear image without its 4 kHz part, from a separator that keeps up to 1 kHz.
  writeWav(run.file("b.wav"), {sine(300, 0.8, n)});
  // Talker 0's 200 Hz part alone.
  writeWav(run.file("c.wav"), {sine(200, 1.0, n)});
  writeJson(run.file("sources.json"),
            json::array({{{"id", 4}, {"azimuth", 29.0}, {"file", "a.wav"}},
                         {{"id", 7}, {"azimuth", -33.0}, {"file", "b.wav"}, {"max_frequency_hz", 1000.0}},
                         {{"id", 5}, {"azimuth", 45.0}, {"file", "c.wav"}},
                         {{"id", 9}, {"azimuth", 80.0}, {"file", "c.wav"}}}));

  const e2e::RunResult result = score();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json report = readJson(run.file("report.json"));

  const json* a = sourceRow(report, 4);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->at("talker").get<int>(), 0);
  EXPECT_EQ(a->at("ear").get<std::string>(), "left");  // the talker's side, from the azimuth
  EXPECT_EQ(a->at("lag_samples").get<int>(), 5);
  // Reference power 1.25/2, mixture error 0.0625/2, separated error 0.01/2.
  EXPECT_NEAR(a->at("sdr_mixture_db").get<double>(), dB(1.25 / 0.0625), 0.05);
  EXPECT_NEAR(a->at("sdr_separated_db").get<double>(), dB(1.25 / 0.01), 0.05);
  EXPECT_NEAR(a->at("improvement_db").get<double>(), dB(0.0625 / 0.01), 0.1);
  EXPECT_NEAR(a->at("band_hz").at(1).get<double>(), 8000.0, 1e-9);

  const json* b = sourceRow(report, 7);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->at("talker").get<int>(), 1);
  EXPECT_EQ(b->at("ear").get<std::string>(), "right");
  EXPECT_EQ(b->at("lag_samples").get<int>(), 0);
  // Below 1 kHz the source is the talker exactly, and the mixture holds talker 0's 200 Hz part.
  EXPECT_NEAR(b->at("band_hz").at(1).get<double>(), 1000.0, 1e-9);
  EXPECT_GT(b->at("sdr_separated_db").get<double>(), 30.0);
  EXPECT_NEAR(b->at("sdr_mixture_db").get<double>(), dB(0.64 / 0.25), 0.1);
  // Over the whole band the missing 4 kHz part counts against it.
  EXPECT_NEAR(b->at("full_band").at("sdr_separated_db").get<double>(), dB(0.64 / 0.16), 0.05);
  EXPECT_NEAR(b->at("full_band").at("sdr_mixture_db").get<double>(), dB(0.80 / 0.25), 0.05);

  // 45 degrees is nearer talker 0 (30) than talker 1 (-30), within 20 degrees: a second source of
  // talker 0, missing its 3 kHz part.
  const json* c = sourceRow(report, 5);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->at("talker").get<int>(), 0);
  EXPECT_NEAR(c->at("sdr_separated_db").get<double>(), dB(1.0 / 0.25), 0.05);
  EXPECT_TRUE(sourceRow(report, 9)->at("talker").is_null());
  EXPECT_NE(result.out.find("no talker within 20.0 degrees"), std::string::npos) << result.out;

  const json* talker0 = talkerRow(report, 0);
  ASSERT_NE(talker0, nullptr);
  EXPECT_EQ(talker0->at("ids"), json::array({4, 5}));
  EXPECT_NEAR(talker0->at("min_improvement_db").get<double>(), dB(1.0 / 0.25) - dB(1.25 / 0.0625), 0.1);
  EXPECT_NEAR(talker0->at("mean_improvement_db").get<double>(),
              (dB(0.0625 / 0.01) + dB(1.0 / 0.25) - dB(1.25 / 0.0625)) / 2.0, 0.1);
  // Merged, both of talker 0's sources (left ear) sound everywhere and are averaged.
  EXPECT_EQ(talker0->at("merged").at("sources").get<int>(), 2);
  EXPECT_EQ(talker0->at("merged").at("ear").get<std::string>(), "left");
  // A talker with one source over the whole file scores the same merged.
  const json& merged1 = talkerRow(report, 1)->at("merged");
  EXPECT_NEAR(merged1.at("improvement_db").get<double>(), b->at("improvement_db").get<double>(), 1e-6);
  EXPECT_NEAR(merged1.at("band_hz").at(1).get<double>(), 1000.0, 1e-9);
}

TEST_F(ScoreTest, ScoresEachSourceOverItsOwnSpan) {
  // Talker 1 speaks only in the second half; talker 0 throughout.
  const int n = kRate;
  Signal late = sine(300, 0.8, n);
  for (int i = 0; i < n / 2; ++i) late[static_cast<size_t>(i)] = 0.0;
  writeScene(scene, {{talker0Left, sine(200, 0.5, n)}, {scaled(late, 0.3), late}}, {30.0, -30.0});
  // Talker 0 recovered exactly from 0.5 s on, silence before.
  Signal secondHalf = talker0Left;
  for (int i = 0; i < n / 2; ++i) secondHalf[static_cast<size_t>(i)] = 0.0;
  writeWav(run.file("a.wav"), {secondHalf});
  writeWav(run.file("b.wav"), {late});
  writeJson(run.file("sources.json"),
            json::array({{{"id", 1}, {"azimuth", 30.0}, {"file", "a.wav"}, {"from_s", 0.5}, {"to_s", 0.984}},
                         {{"id", 2}, {"azimuth", 30.0}, {"file", "a.wav"}},
                         {{"id", 3}, {"azimuth", -30.0}, {"file", "b.wav"}, {"from_s", 0.1}, {"to_s", 0.4}}}));
  const e2e::RunResult result = score();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json report = readJson(run.file("report.json"));
  // Over 0.484-1.0 s only the first 16 ms are missed: about 0.5 / 0.016 in power.
  EXPECT_GT(sourceRow(report, 1)->at("sdr_separated_db").get<double>(), 12.0);
  EXPECT_NEAR(sourceRow(report, 1)->at("span_s")[0].get<double>(), 0.484, 1e-3);
  // Over the whole second half of the talker is missing.
  EXPECT_NEAR(sourceRow(report, 2)->at("sdr_separated_db").get<double>(), 0.0, 0.1);
  // Talker 1 is silent over source 3's span: nothing to score, and no failure.
  EXPECT_TRUE(sourceRow(report, 3)->at("talker_silent").get<bool>());
  EXPECT_FALSE(sourceRow(report, 3)->contains("improvement_db"));
  EXPECT_TRUE(talkerRow(report, 1)->at("mean_improvement_db").is_null());
  // Merged over the whole file, source 3 holds all of talker 1 (which only speaks late).
  EXPECT_GT(talkerRow(report, 1)->at("merged").at("sdr_separated_db").get<double>(), 100.0);
}

TEST_F(ScoreTest, SilentOrMissingOutputsScoreAtTheFloorOrFailByName) {
  writeWav(run.file("a.wav"), {Signal(kRate, 0.0)});
  writeJson(run.file("sources.json"), json::array({{{"id", 0}, {"azimuth", 30.0}, {"file", "a.wav"}}}));
  e2e::RunResult result = score();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json report = readJson(run.file("report.json"));
  EXPECT_LE(report.at("sources")[0].at("sdr_separated_db").get<double>(), -100.0);
  EXPECT_TRUE(talkerRow(report, 1)->at("merged").is_null());  // no source near -30 degrees
  EXPECT_NE(result.out.find("no separated source"), std::string::npos) << result.out;

  writeJson(run.file("sources.json"), json::array({{{"id", 0}, {"azimuth", 30.0}, {"file", "gone.wav"}}}));
  result = score();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("gone.wav"), std::string::npos) << result.err;

  writeWav(run.file("slow.wav"), {Signal(kRate / 2, 0.1)}, kRate / 2);
  writeJson(run.file("sources.json"), json::array({{{"id", 0}, {"azimuth", 30.0}, {"file", "slow.wav"}}}));
  result = score();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("8000 Hz"), std::string::npos) << result.err;

  writeJson(run.file("sources.json"),
            json::array({{{"id", 0}, {"azimuth", 30.0}, {"file", "a.wav"}, {"from_s", 0.5}, {"to_s", 0.2}}}));
  result = score();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("entry 0"), std::string::npos) << result.err;

  std::remove(run.file("sources.json").c_str());
  result = score();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("sources.json"), std::string::npos) << result.err;
}

// ---- separate -----------------------------------------------------------------------------------

// Path to the left ear minus path to the right ear for a source at `deg` (within +-90) at 1 m
// from a spherical head of radius 9 cm, the sound bending round the head to the far ear.
double pathDifference(double deg) {
  const double d = 1.0, r = 0.09, a = std::fabs(deg) * M_PI / 180.0;
  const double alpha = std::acos(r / d), tangent = std::sqrt(d * d - r * r);
  const double far = tangent + r * (M_PI / 2 + a - alpha);
  const double near = a < M_PI / 2 - alpha ? tangent + r * (M_PI / 2 - a - alpha)
                                           : std::sqrt(d * d + r * r - 2 * d * r * std::sin(a));
  return deg >= 0 ? near - far : far - near;
}

// The two-ear image of a harmonic tone (harmonics of `f0` below 1400 Hz) from `azimuthDeg`,
// sounding from `onsetSec` on: each ear hears it with the head model's delay, the far ear 3 dB
// weaker.
std::vector<Signal> harmonicImage(double f0, double azimuthDeg, int samples, double onsetSec) {
  const double leftDelay = pathDifference(azimuthDeg) / 340.0 / 2.0;  // left ear's delay about the centre
  const double nearGain = 0.1, farGain = 0.1 * std::pow(10.0, -3.0 / 20.0);
  std::vector<Signal> image(2, Signal(static_cast<size_t>(samples), 0.0));
  for (double f = f0; f < 1400.0; f += f0) {
    const double amplitude = f0 / f;
    const Signal left = sine(f, amplitude * (azimuthDeg > 0 ? nearGain : farGain), samples, leftDelay);
    const Signal right = sine(f, amplitude * (azimuthDeg > 0 ? farGain : nearGain), samples, -leftDelay);
    image[0] = image[0] + left;
    image[1] = image[1] + right;
  }
  for (Signal& ear : image)
    for (int n = 0; n < static_cast<int>(onsetSec * kRate); ++n) ear[static_cast<size_t>(n)] = 0.0;
  return image;
}

class SeparateTest : public ::testing::Test {
 protected:
  // 2 s: faint noise in both ears, a tone on 218.75 Hz from +40 degrees and one on 156.25 Hz from
  // -40 degrees, both from 0.3 s on.
  void SetUp() override {
    const int n = 2 * kRate;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1e-4);
    Signal hiss(static_cast<size_t>(n));
    for (double& v : hiss) v = noise(random);
    writeScene(scene, {harmonicImage(218.75, 40.0, n, 0.3), harmonicImage(156.25, -40.0, n, 0.3)}, {40.0, -40.0},
               {hiss, delayed(hiss, 3)});
  }

  e2e::RunResult separate(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"separate", scene.file("mix.wav"), "--out-dir", out.path(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return e2e::runTool(args);
  }

  e2e::TempDir scene, out;
};

// Both separators: one file per direction on the talker's side, exactly the input's length, that
// leaves its talker cleaner than the mixture. The pass band is silent while it learns the noise;
// the soft masks separate from the first frame.
TEST_F(SeparateTest, EachGivenDirectionGetsAnAlignedFileThatHelpsItsTalker) {
  for (const char* separator : {"mask", "passband"}) {
    SCOPED_TRACE(separator);
    const bool passBand = std::string(separator) == "passband";
    const e2e::RunResult result = separate({"--directions", "40,-40", "--separator", separator});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("source_0.wav"), std::string::npos) << result.out;

    const json sources = readJson(out.file("sources.json"));
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].at("id").get<int>(), 0);
    EXPECT_DOUBLE_EQ(sources[0].at("azimuth").get<double>(), 40.0);
    EXPECT_EQ(sources[0].at("file").get<std::string>(), "source_0.wav");
    EXPECT_EQ(sources[0].at("ear").get<std::string>(), "left");
    EXPECT_EQ(sources[1].at("id").get<int>(), 1);
    EXPECT_DOUBLE_EQ(sources[1].at("azimuth").get<double>(), -40.0);
    EXPECT_EQ(sources[1].at("ear").get<std::string>(), "right");
    EXPECT_EQ(sources[0].at("max_frequency_hz").get<double>(), passBand ? 1500.0 : 8000.0);

    const size_t inputSamples = readWav(scene.file("mix.wav"))[0].size();
    for (const char* file : {"source_0.wav", "source_1.wav"}) {
      const std::vector<Signal> wav = readWav(out.file(file));
      ASSERT_EQ(wav.size(), 1u) << file;
      EXPECT_EQ(wav[0].size(), inputSamples) << file;
      // The pass band's first ten frames only learn the noise: silence up to where frame 10
      // (centred on sample 1600, 512 long) begins. The masks pass the faint noise from the start.
      double early = 0.0;
      for (size_t i = 0; i < 1600 - 256; ++i) early = std::max(early, std::fabs(wav[0][i]));
      if (passBand)
        EXPECT_EQ(early, 0.0) << file;
      else
        EXPECT_GT(early, 0.0) << file;
    }

    // The tones are periodic, so a shift by whole periods would score alike: no shift search here.
    const e2e::RunResult scored =
        e2e::runTool({"score", scene.path(), out.path(), "--max-lag", "0", "--json", out.file("score.json")});
    ASSERT_EQ(scored.exitCode, 0) << scored.err;
    const json report = readJson(out.file("score.json"));
    for (int id : {0, 1}) {
      const json* row = sourceRow(report, id);
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(row->at("talker").get<int>(), id);
      EXPECT_GT(row->at("improvement_db").get<double>(), 3.0) << "source " << id << "\n" << scored.out;
    }
  }
}

std::string slurpBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The example network files are the command's networks: same files, byte for byte.
TEST_F(SeparateTest, ExampleNetworksWriteWhatTheCommandWrites) {
  const std::string examples = std::string(VELK_SOURCE_DIR) + "/examples/";
  e2e::RunResult r;
  for (const char* separator : {"mask", "passband"}) {
    const bool passBand = std::string(separator) == "passband";
    ASSERT_EQ(separate({"--directions", "40,-40", "--separator", separator}).exitCode, 0);
    r = e2e::runTool({"run", examples + (passBand ? "separate_passband.json" : "separate.json"), "--quiet", "--set",
                      "INPUT=" + scene.file("mix.wav"), "--set", "PREFIX=" + out.file("net"), "--set",
                      "DIRECTIONS=[40.0, -40.0]"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* id : {"0", "1"}) {
      const std::string fromCommand = slurpBytes(out.file(std::string("source_") + id + ".wav"));
      EXPECT_FALSE(fromCommand.empty());
      EXPECT_EQ(slurpBytes(out.file(std::string("net_") + id + ".wav")), fromCommand) << separator << " id " << id;
    }
  }

  e2e::TempDir localised;
  r = e2e::runTool({"separate", scene.file("mix.wav"), "--out-dir", localised.path(), "--localize", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = e2e::runTool({"run", examples + "localize_separate.json", "--quiet", "--set", "INPUT=" + scene.file("mix.wav"),
                    "--set", "PREFIX=" + localised.file("net"), "--set", "SOURCES=" + localised.file("net.jsonl")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json sources = readJson(localised.file("sources.json"));
  ASSERT_FALSE(sources.empty()) << "the localiser finds the two tones";
  for (const json& source : sources) {
    const int id = source.at("id").get<int>();
    EXPECT_EQ(slurpBytes(localised.file("net_" + std::to_string(id) + ".wav")),
              slurpBytes(localised.file(source.at("file").get<std::string>())))
        << "id " << id;
  }
}

TEST_F(SeparateTest, NobodyFoundIsAnEmptyListNotAFailure) {
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0.0, 1e-3);
  std::vector<Signal> hiss(2, Signal(kRate));
  for (Signal& ear : hiss)
    for (double& v : ear) v = noise(random);
  writeWav(scene.file("hiss.wav"), hiss);
  const e2e::RunResult r =
      e2e::runTool({"separate", scene.file("hiss.wav"), "-o", out.path(), "--localize", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("no source found"), std::string::npos) << r.out;
  EXPECT_EQ(readJson(out.file("sources.json")), json::array());
}

TEST_F(SeparateTest, RefusesInputsAndOptionsItCannotHonour) {
  e2e::RunResult r = separate({});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--localize"), std::string::npos) << r.err;

  r = separate({"--directions", "30", "--delay", "3"});
  EXPECT_EQ(r.exitCode, 2) << "--delay needs --localize";

  r = separate({"--directions", "120"});
  EXPECT_EQ(r.exitCode, 2) << "directions lie in the front half-plane";

  r = separate({"--directions", "30", "--param", "NO_SUCH=1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("NO_SUCH"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("SeparateSoftMask.CUE_SPREAD"), std::string::npos) << "lists what is accepted: " << r.err;

  r = separate({"--directions", "30", "--separator", "passband", "--param", "NO_SUCH=1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("SeparateBinaural.RANGE_MIN"), std::string::npos) << "lists what is accepted: " << r.err;

  r = separate({"--directions", "30", "--separator", "binary"});
  EXPECT_EQ(r.exitCode, 2) << "mask or passband";

  r = separate({"--directions", "30", "--param", "LocalizeBinaural.PEAK_THRESHOLD=5"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("no node of type LocalizeBinaural"), std::string::npos) << r.err;

  r = separate({"--directions", "30", "--separator", "passband", "--param", "RANGE_MIN=wide"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("RANGE_MIN"), std::string::npos) << r.err;

  r = separate({"--directions", "30", "--method", "measured", "--tf", scene.file("missing.velk")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.velk"), std::string::npos) << r.err;

  writeWav(scene.file("mono.wav"), {Signal(kRate, 0.0)});
  r = e2e::runTool({"separate", scene.file("mono.wav"), "-o", out.path(), "--directions", "30"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("2-channel"), std::string::npos) << r.err;

  writeWav(scene.file("cd.wav"), {Signal(4410, 0.0), Signal(4410, 0.0)}, 44100);
  r = e2e::runTool({"separate", scene.file("cd.wav"), "-o", out.path(), "--directions", "30"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("sox"), std::string::npos) << r.err;

  // Shorter than the pass band's ten frames of noise learning: it could separate nothing. The
  // masks separate it, to the sample (803: not a whole number of frame shifts).
  writeWav(scene.file("short.wav"), {Signal(803, 0.01), Signal(803, 0.01)});
  r = e2e::runTool({"separate", scene.file("short.wav"), "-o", out.path(), "--directions", "30", "--separator",
                    "passband"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("too short"), std::string::npos) << r.err;
  r = e2e::runTool({"separate", scene.file("short.wav"), "-o", out.path(), "--directions", "30", "--quiet"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readWav(out.file("source_0.wav"))[0].size(), 803u);

  r = e2e::runTool({"separate", scene.file("mix.wav"), "-o", scene.file("mix.wav"), "--directions", "30"});
  EXPECT_EQ(r.exitCode, 1) << "the output folder is a file";
  EXPECT_NE(r.err.find("output folder"), std::string::npos) << r.err;
}

}  // namespace
