// `velk-binaural localize` and `render` as a user meets them: a synthetic talker with a known
// direction, the input checks, the outputs (summary, JSON lines, plot) and the network file that
// does the same job.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "E2ESupport.h"

namespace {

constexpr int kRate = 16000;

void writeWav(const std::string& path, int rate, int channels, const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(file);
}

std::vector<float> readWav(const std::string& path, int& channels) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  channels = info.channels;
  return samples;
}

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

// 0.5 s of faint noise, 1.2 s of a ten-harmonic tone on 218.75 Hz (exactly on a bin of a
// 512-point transform) arriving from `azimuthDeg`, then 0.3 s of noise. The far ear hears the
// tone later and 3 dB weaker.
std::vector<float> syntheticTalker(double azimuthDeg) {
  const int total = 2 * kRate, onset = kRate / 2, offset = onset + 6 * kRate / 5;
  const double leftLead = -pathDifference(azimuthDeg) / 340.0;  // seconds the left ear is ahead
  const double nearGain = 1.0, farGain = std::pow(10.0, -3.0 / 20.0);
  const double gainLeft = azimuthDeg >= 0 ? nearGain : farGain, gainRight = azimuthDeg >= 0 ? farGain : nearGain;
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 1e-3);
  std::vector<float> stereo(2 * total);
  for (int n = 0; n < total; ++n) {
    double left = noise(rng), right = noise(rng);
    if (n >= onset && n < offset) {
      const double t = static_cast<double>(n) / kRate;
      for (int h = 1; h <= 10; ++h) {
        const double w = 2 * M_PI * 218.75 * h;
        left += 0.03 * gainLeft * std::sin(w * (t + leftLead / 2));
        right += 0.03 * gainRight * std::sin(w * (t - leftLead / 2));
      }
    }
    stereo[2 * n] = static_cast<float>(left);
    stereo[2 * n + 1] = static_cast<float>(right);
  }
  return stereo;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class LocalizeCommandTest : public testing::Test {
 protected:
  e2e::TempDir dir;
};

// ---- a talker with a known direction ------------------------------------------------------------

TEST_F(LocalizeCommandTest, SyntheticTalkerIsFoundOnItsSide) {
  for (double azimuth : {30.0, -30.0}) {
    const std::string wav = dir.file("talker.wav"), json = dir.file("talker.jsonl"), svg = dir.file("talker.svg");
    writeWav(wav, kRate, 2, syntheticTalker(azimuth));
    const e2e::RunResult run = e2e::runTool(
        {"localize", wav, "--json", json, "--plot", svg, "--truth", std::to_string(azimuth), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;

    const std::vector<e2e::Frame> frames = e2e::readJsonLines(json);
    ASSERT_EQ(frames.size(), 200u);  // one line per frame: 32000 samples / 160
    EXPECT_EQ(frames[150].frame, 150);
    EXPECT_NEAR(frames[150].timeSec, 1.5, 1e-9);
    e2e::Scene scene;
    e2e::Talker talker;
    talker.azimuthDeg = azimuth;
    talker.activeSec = {{0.6, 1.7}};
    scene.talkers = {talker};
    const e2e::TalkerScore score = e2e::scoreTalker(frames, scene, 0, 10.0);
    EXPECT_NEAR(score.medianAzimuthDeg, azimuth, 5.0);
    EXPECT_GT(score.coverage, 0.9);
    EXPECT_EQ(score.spuriousShare, 0.0);

    // The summary names the source and compares it with the given truth.
    EXPECT_TRUE(contains(run.out, "id")) << run.out;
    EXPECT_TRUE(contains(run.out, "true")) << run.out;
    std::ifstream plot(svg);
    std::stringstream picture;
    picture << plot.rdbuf();
    EXPECT_TRUE(contains(picture.str(), "id " + std::to_string(score.dominantId) + " (")) << "track label";
    EXPECT_TRUE(contains(picture.str(), "time (s)"));
    EXPECT_TRUE(contains(picture.str(), "</svg>"));
  }
}

// The summary is gathered as the run goes, without keeping the frames: each id's row must still
// agree with the JSON lines (median to the 0.1 degree it is counted at).
TEST_F(LocalizeCommandTest, SummaryRowsAgreeWithTheJsonLines) {
  const std::string wav = dir.file("talker.wav"), json = dir.file("talker.jsonl");
  writeWav(wav, kRate, 2, syntheticTalker(-40.0));
  const e2e::RunResult run = e2e::runTool({"localize", wav, "--json", json, "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::map<int, std::vector<double>> azimuths;
  std::map<int, std::pair<double, double>> span;
  for (const e2e::Frame& f : e2e::readJsonLines(json))
    for (const auto& [id, azimuth] : f.sources) {
      if (!span.count(id)) span[id].first = f.timeSec;
      span[id].second = f.timeSec;
      azimuths[id].push_back(azimuth);
    }
  ASSERT_FALSE(azimuths.empty());
  std::istringstream lines(run.out);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    int id = 0;
    double median = 0.0, from = 0.0, to = 0.0;
    long frames = 0;
    if (std::sscanf(line.c_str(), "%d %lf %lf %lf %ld", &id, &median, &from, &to, &frames) != 5) continue;
    ++rows;
    std::vector<double>& a = azimuths[id];
    std::sort(a.begin(), a.end());
    const double expected = a.size() % 2 ? a[a.size() / 2] : 0.5 * (a[a.size() / 2 - 1] + a[a.size() / 2]);
    EXPECT_EQ(frames, static_cast<long>(a.size())) << line;
    EXPECT_NEAR(median, expected, 0.11) << line;
    EXPECT_NEAR(from, span[id].first, 0.006) << line;
    EXPECT_NEAR(to, span[id].second, 0.006) << line;
  }
  EXPECT_EQ(rows, static_cast<int>(azimuths.size())) << run.out;
}

// A run that finds nobody says so, and why it may be, on standard error.
TEST_F(LocalizeCommandTest, NoSourceFoundIsExplained) {
  const std::string silent = dir.file("silent.wav"), noise = dir.file("noise.wav");
  writeWav(silent, kRate, 2, std::vector<float>(2 * 3 * kRate, 0.0f));
  std::vector<float> hiss(2 * 3 * kRate);
  std::mt19937 rng(9);
  std::normal_distribution<float> normal(0.0f, 0.01f);
  for (float& x : hiss) x = normal(rng);  // independent in the two ears: it points nowhere
  writeWav(noise, kRate, 2, hiss);

  e2e::RunResult run = e2e::runTool({"localize", silent});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "no source found")) << run.out;
  EXPECT_TRUE(contains(run.err, "no source found: the recording is digital silence")) << run.err;
  run = e2e::runTool({"localize", noise});
  EXPECT_TRUE(contains(run.err, "no source found: no voice stood out of the noise")) << run.err;
  run = e2e::runTool({"localize", noise, "--quiet"});
  EXPECT_TRUE(run.err.empty()) << run.err;
}

// Standard output carries the summary only; standard error warnings, errors and progress, and
// with --verbose the localiser's announcements and information lines.
TEST_F(LocalizeCommandTest, DiagnosticsGoToStandardErrorAndTheSummaryToStandardOutput) {
  const std::string wav = dir.file("talker.wav");
  writeWav(wav, kRate, 2, syntheticTalker(30.0));
  const e2e::RunResult run = e2e::runTool({"localize", wav, "--method", "measured"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no announcement, no information line";
  EXPECT_TRUE(contains(run.out, "azimuth")) << run.out;
  EXPECT_FALSE(contains(run.out, "SOURCE ID")) << run.out;

  const e2e::RunResult verbose = e2e::runTool({"localize", wav, "--method", "measured", "--verbose"});
  ASSERT_EQ(verbose.exitCode, 0) << verbose.err;
  EXPECT_TRUE(contains(verbose.err, "SOURCE ID 1 DIR")) << verbose.err;
  EXPECT_TRUE(contains(verbose.err, "INFO: iipds:")) << verbose.err;
  EXPECT_EQ(verbose.out, run.out);
}

TEST_F(LocalizeCommandTest, TruthComparisonFindsTheTalkerAndSaysWhenItIsNotThere) {
  const std::string wav = dir.file("talker.wav");
  writeWav(wav, kRate, 2, syntheticTalker(30.0));
  e2e::RunResult run = e2e::runTool({"localize", wav, "--truth", "30", "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "talkers found: 1 of 1")) << run.out;
  EXPECT_FALSE(contains(run.out, "not found")) << run.out;

  // A second talker that is not in the recording, and the ears swapped: the talker at +30 is
  // heard at -30, so it is not found and its track matches no talker.
  run = e2e::runTool({"localize", wav, "--truth", "30,-70", "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "talkers found: 1 of 2")) << run.out;
  EXPECT_TRUE(contains(run.out, "   -70.0         -")) << run.out;
  writeWav(wav, kRate, 2, syntheticTalker(-30.0));
  run = e2e::runTool({"localize", wav, "--truth", "30", "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "not found")) << run.out;
  EXPECT_TRUE(contains(run.out, "talkers found: 0 of 1")) << run.out;
  EXPECT_TRUE(contains(run.out, "tracks matching no talker: 1")) << run.out;

  for (const char* bad : {"nan", "inf", "200", "30,x"}) {
    run = e2e::runTool({"localize", wav, "--truth", bad});
    EXPECT_EQ(run.exitCode, 2) << bad << ": " << run.err;
  }
}

// ---- input checks -------------------------------------------------------------------------------

TEST_F(LocalizeCommandTest, InputsThatCannotBeLocalisedAreRefusedWithTheReason) {
  const std::string mono = dir.file("mono.wav"), fast = dir.file("fast.wav"), text = dir.file("text.wav");
  writeWav(mono, kRate, 1, std::vector<float>(1600));
  writeWav(fast, 44100, 2, std::vector<float>(8820));
  std::ofstream(text) << "not a sound file";

  e2e::RunResult run = e2e::runTool({"localize", mono});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "1 channel;") && contains(run.err, "2-channel")) << run.err;

  run = e2e::runTool({"localize", fast});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "44100 Hz") && contains(run.err, "sox " + fast + " -r 16000")) << run.err;

  run = e2e::runTool({"localize", text});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "cannot read " + text)) << run.err;

  run = e2e::runTool({"localize", dir.file("absent.wav")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, dir.file("absent.wav"))) << run.err;
}

TEST_F(LocalizeCommandTest, ParametersAreCheckedByName) {
  const std::string wav = dir.file("talker.wav");
  writeWav(wav, kRate, 2, syntheticTalker(30.0));
  e2e::RunResult run = e2e::runTool({"localize", wav, "--param", "PEAK_TRESHOLD=12"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "PEAK_TRESHOLD") && contains(run.err, "PEAK_THRESHOLD")) << run.err;

  run = e2e::runTool({"localize", wav, "--param", "ADVANCE=fast"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "ADVANCE") && contains(run.err, "int")) << run.err;

  run = e2e::runTool({"localize", wav, "--param", "HARMONIC_THRESHOLD=1.5"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "parameter \"HARMONIC_THRESHOLD\" = \"1.5\": does not read as an int")) << run.err;

  // Values are checked against what the parameter accepts, as in a network file.
  run = e2e::runTool({"localize", wav, "--param", "PAUSE_LENGTH=-5"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "parameter \"PAUSE_LENGTH\" = -5: expected an int of at least 0")) << run.err;

  // A whole number is a fine value for a float parameter.
  run = e2e::runTool({"localize", wav, "--param", "PEAK_THRESHOLD=12", "--quiet"});
  EXPECT_EQ(run.exitCode, 0) << run.err;

  // The method tokens: the stored spelling, the spelled-out one, nothing else. Chosen by --param,
  // the measured method reads the command's table as --method measured does, with the channels
  // assigned beside it (swapped ears: the talker on the other side).
  run = e2e::runTool({"localize", wav, "--param", "LOCALIZE_METHOD=HRTFMEASURED", "--truth", "30", "--quiet"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "method measured")) << run.out;
  EXPECT_TRUE(contains(run.out, "talkers found: 1 of 1")) << run.out;
  run = e2e::runTool({"localize", wav, "--param", "LOCALIZE_METHOD=HRTFMESURED", "--param", "VELK_DAT_CHANNELS=1,0",
                      "--truth", "-30", "--quiet"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "talkers found: 1 of 1")) << run.out;
  run = e2e::runTool({"localize", wav, "--param", "LOCALIZE_METHOD=MEASURED"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "parameter \"LOCALIZE_METHOD\" = \"MEASURED\": expected \"EPIPOLAR\", "
                                "\"HRTFMESURED\" or \"HRTFMEASURED\"")) << run.err;

  // The tracker's parameters reach the tracker, and only when it runs.
  run = e2e::runTool({"localize", wav, "--param", "TrackTalkers.HANGOVER=0.1"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "parameter \"HANGOVER\" = 0.1: expected at least REPORT_HOLD (0.5)")) << run.err;
  run = e2e::runTool({"localize", wav, "--tracks", "events", "--param", "GATE_ANGLE=5"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, "GATE_ANGLE")) << run.err;
  EXPECT_EQ(e2e::runTool({"localize", wav, "--tracks", "talker"}).exitCode, 2);

  run = e2e::runTool({"localize", wav, "--method", "guess"});
  EXPECT_NE(run.exitCode, 0);
}

// --tracks events shows what the localiser reports frame by frame: with the broadband directions,
// each frame's directions numbered by rank, on only a part of the talker's frames; the talker
// tracks (the default) hold one id over the talker's whole span.
TEST_F(LocalizeCommandTest, TracksEventsShowsTheLocalisersOwnSources) {
  const std::string wav = dir.file("talker.wav"), events = dir.file("events.jsonl"), talkers = dir.file("talkers.jsonl");
  writeWav(wav, kRate, 2, syntheticTalker(-30.0));
  ASSERT_EQ(e2e::runTool({"localize", wav, "--tracks", "events", "--json", events, "--quiet"}).exitCode, 0);
  ASSERT_EQ(e2e::runTool({"localize", wav, "--json", talkers, "--quiet"}).exitCode, 0);
  auto count = [](const std::vector<e2e::Frame>& frames, std::map<int, long>& ids) {
    long reported = 0;
    for (const e2e::Frame& f : frames) {
      reported += !f.sources.empty();
      for (const auto& s : f.sources) ++ids[s.first];
    }
    return reported;
  };
  std::map<int, long> eventIds, talkerIds;
  const long eventFrames = count(e2e::readJsonLines(events), eventIds);
  const long talkerFrames = count(e2e::readJsonLines(talkers), talkerIds);
  ASSERT_FALSE(eventIds.empty());
  EXPECT_LE(eventIds.rbegin()->first, 3) << "ranks in the frame";
  EXPECT_EQ(talkerIds.size(), 1u);
  EXPECT_GT(talkerFrames, eventFrames) << "the talker is held between the frames it is heard on";
}

TEST_F(LocalizeCommandTest, MissingMeasuredTableIsNamed) {
  const std::string wav = dir.file("talker.wav");
  writeWav(wav, kRate, 2, syntheticTalker(30.0));
  const e2e::RunResult run = e2e::runTool({"localize", wav, "--method", "measured", "--tf", dir.file("none.velk")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, dir.file("none.velk"))) << run.err;
}

// ---- the network file ---------------------------------------------------------------------------

TEST_F(LocalizeCommandTest, NetworkFileGivesTheSameSourcesAsTheCommand) {
  const std::string wav = dir.file("talker.wav");
  writeWav(wav, kRate, 2, syntheticTalker(-30.0));
  const std::string fromCommand = dir.file("command.jsonl"), fromNetwork = dir.file("network.jsonl");
  ASSERT_EQ(e2e::runTool({"localize", wav, "--json", fromCommand, "--quiet"}).exitCode, 0);
  const e2e::RunResult run = e2e::runTool({"run", std::string(VELK_SOURCE_DIR) + "/examples/localize.json", "--quiet",
                                           "--set", "INPUT=" + wav, "--set", "OUTPUT=" + fromNetwork});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::stringstream a, b;
  a << std::ifstream(fromCommand).rdbuf();
  b << std::ifstream(fromNetwork).rdbuf();
  EXPECT_FALSE(a.str().empty());
  EXPECT_EQ(a.str(), b.str());
}

// ---- render -------------------------------------------------------------------------------------

TEST_F(LocalizeCommandTest, RenderPutsTheLouderEarOnTheSourceSide) {
  const std::string sofa = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa";
  if (!std::ifstream(sofa)) GTEST_SKIP() << "no KEMAR set at " << sofa;
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<float> mono(kRate / 4);
  for (float& x : mono) x = noise(rng);
  const std::string in = dir.file("mono.wav");
  writeWav(in, kRate, 1, mono);
  for (double azimuth : {60.0, -60.0}) {
    const std::string out = dir.file("rendered.wav");
    const e2e::RunResult run = e2e::runTool({"render", in, out, "--azimuth", std::to_string(azimuth)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int channels = 0;
    const std::vector<float> stereo = readWav(out, channels);
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(stereo.size(), 2 * mono.size()) << "as long as the input";
    ASSERT_EQ(e2e::runTool({"render", in, dir.file("tail.wav"), "--azimuth", "0", "--tail"}).exitCode, 0);
    EXPECT_GT(readWav(dir.file("tail.wav"), channels).size(), 2 * mono.size()) << "--tail keeps the responses' tail";
    double left = 0, right = 0;
    for (size_t i = 0; i + 1 < stereo.size(); i += 2) {
      left += stereo[i] * stereo[i];
      right += stereo[i + 1] * stereo[i + 1];
    }
    const double ildDb = 10 * std::log10(left / right);
    if (azimuth > 0)
      EXPECT_GT(ildDb, 3.0);
    else
      EXPECT_LT(ildDb, -3.0);
  }
  const e2e::RunResult stereoIn = e2e::runTool({"render", dir.file("rendered.wav"), dir.file("x.wav"), "--azimuth", "0"});
  EXPECT_EQ(stereoIn.exitCode, 1);
  EXPECT_TRUE(contains(stereoIn.err, "mono")) << stereoIn.err;
}

}  // namespace
