// Hostile input and careless output paths on every command, as a user meets them: outputs that
// would destroy inputs or devices, runs that fail half-way, damaged recordings, numbers that are
// not numbers, options that contradict each other, and the messages that say so.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "E2ESupport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 16000;
const std::string kSofa = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// `samples` frames of a two-channel recording: a harmonic tone, louder and earlier on the left,
// over faint noise.
std::vector<float> recording(long samples) {
  std::vector<float> x(static_cast<size_t>(samples) * 2);
  unsigned seed = 12345;
  auto noise = [&] { return ((seed = seed * 1103515245u + 12345u) >> 16 & 0x7fff) / 32768.0f - 0.5f; };
  auto tone = [](long n) {
    double sum = 0.0;
    for (int h = 1; h <= 8; ++h) sum += std::sin(2 * M_PI * 218.75 * h * n / kRate) / h;
    return sum;
  };
  for (long n = 0; n < samples; ++n) {
    x[2 * n] = static_cast<float>(0.1 * tone(n)) + 0.002f * noise();
    x[2 * n + 1] = static_cast<float>(0.05 * tone(n - 6)) + 0.002f * noise();
  }
  return x;
}

void writeSound(const std::string& path, const std::vector<float>& interleaved, int channels = 2,
                int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(f);
}

long samplesOf(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return -1;
  sf_close(f);
  return static_cast<long>(info.frames);
}

void cutInHalf(const std::string& path) { fs::resize_file(path, fs::file_size(path) / 2); }

std::string passThrough() { return std::string(VELK_SOURCE_DIR) + "/examples/passthrough.json"; }

class SafeInputOutput : public testing::Test {
 protected:
  void SetUp() override { writeSound(rec, recording(3 * kRate + 37)); }
  e2e::TempDir dir;
  const std::string rec = dir.file("rec.wav");
};

// ---- destination safety ---------------------------------------------------------------------------

TEST_F(SafeInputOutput, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
  const std::string original = bytesOf(rec);
  fs::create_symlink(rec, dir.file("alias.wav"));
  e2e::RunResult r = e2e::runTool({"localize", rec, "--json", rec, "--quiet"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "velk-binaural: --json " + rec + " is the same file as the input recording " + rec +
                       ", which writing it would destroy; choose another file for --json\n");
  r = e2e::runTool({"localize", rec, "--plot", dir.file("alias.wav"), "--quiet"});
  EXPECT_EQ(r.exitCode, 2) << "found by identity, not by name: " << r.err;

  r = e2e::runTool({"run", passThrough(), "--quiet", "--set", "INPUT=" + rec, "--set", "OUTPUT=" + dir.file("alias.wav")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(contains(r.err, "it is the input " + rec + " (the same file)")) << r.err;

  fs::create_directory(dir.file("out"));
  fs::copy_file(rec, dir.file("out/source_0.wav"));
  r = e2e::runTool({"separate", dir.file("out/source_0.wav"), "--out-dir", dir.file("out"), "--directions", "30"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(contains(r.err, "lies in --out-dir")) << r.err;
  EXPECT_EQ(bytesOf(dir.file("out/source_0.wav")), original);

  writeSound(dir.file("mono.wav"), std::vector<float>(1600, 0.1f), 1);
  r = e2e::runTool({"render", dir.file("mono.wav"), dir.file("mono.wav"), "--azimuth", "30"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  if (fs::exists(kSofa)) {
    fs::copy_file(kSofa, dir.file("set.sofa"));
    r = e2e::runTool({"tf", "import-sofa", dir.file("set.sofa"), dir.file("set.sofa")});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(bytesOf(dir.file("set.sofa")), bytesOf(kSofa));
  }
  EXPECT_EQ(bytesOf(rec), original);
}

TEST_F(SafeInputOutput, DevicesFifosAndLinksAreWrittenThroughNeverReplaced) {
  e2e::RunResult r = e2e::runTool({"tf", "model", "/dev/null", "--directions", "7"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null is still a device";

  EXPECT_EQ(e2e::runTool({"tf", "model", "/dev/full"}).exitCode, 1) << "a full device is a failure, not a success";

  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = bytesOf(fifo); });
  r = e2e::runTool({"tf", "model", fifo, "--directions", "7"});
  reader.join();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(received.substr(0, 4), "VELK");
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  writeText(dir.file("table.velk"), "old");
  fs::create_symlink(dir.file("table.velk"), dir.file("link.velk"));
  EXPECT_EQ(e2e::runTool({"tf", "model", dir.file("link.velk"), "--directions", "7"}).exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.velk")));
  EXPECT_EQ(bytesOf(dir.file("table.velk")).substr(0, 4), "VELK") << "the link's target holds the table";

  r = e2e::runTool({"tf", "model", dir.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(contains(r.err, "cannot write " + dir.path() + ": it is a folder")) << r.err;
  EXPECT_EQ(e2e::runTool({"localize", rec, "--json", "/dev/null", "--quiet"}).exitCode, 0);
}

// ---- partial outputs ------------------------------------------------------------------------------

TEST_F(SafeInputOutput, AFailedRunLeavesEveryOutputAsItWas) {
  // A table that is not one fails the localiser on its first frame.
  writeText(dir.file("bad.velk"), "VELK and nothing else");
  writeText(dir.file("old.jsonl"), "old");
  writeText(dir.file("old.svg"), "old");
  e2e::RunResult r = e2e::runTool({"localize", rec, "--method", "measured", "--tf", dir.file("bad.velk"), "--json",
                                   dir.file("old.jsonl"), "--plot", dir.file("old.svg"), "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(bytesOf(dir.file("old.jsonl")), "old");
  EXPECT_EQ(bytesOf(dir.file("old.svg")), "old");

  // A failure after the last frame (a warning made an error) leaves nothing either.
  std::vector<float> x = recording(kRate);
  x[501] = std::numeric_limits<float>::quiet_NaN();
  writeSound(dir.file("nan.wav"), x);
  r = e2e::runTool({"localize", dir.file("nan.wav"), "--json", dir.file("new.jsonl"), "--strict", "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("new.jsonl")));
  r = e2e::runTool({"run", passThrough(), "--quiet", "--strict", "--set", "INPUT=" + dir.file("nan.wav"), "--set",
                    "OUTPUT=" + dir.file("copy.wav")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("copy.wav")));

  // separate removes the output folder it made, and leaves one that was there as it was.
  r = e2e::runTool({"separate", rec, "-o", dir.file("made/sep"), "--directions", "30", "--method", "measured", "--tf",
                    dir.file("bad.velk"), "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("made")));
  writeSound(dir.file("header.wav"), {});
  r = e2e::runTool({"separate", dir.file("header.wav"), "-o", dir.file("made"), "--directions", "30", "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("made")));
  fs::create_directory(dir.file("kept"));
  writeText(dir.file("kept/sources.json"), "old");
  r = e2e::runTool({"separate", dir.file("nan.wav"), "-o", dir.file("kept"), "--directions", "30", "--strict", "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(bytesOf(dir.file("kept/sources.json")), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("kept")), {}), 1) << "no new or temporary file";
}

TEST_F(SafeInputOutput, ACutRecordingIsReadUpToTheCutWithAWarningOrRefusedWithStrict) {
  writeSound(dir.file("cut.wav"), recording(3 * kRate), 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  cutInHalf(dir.file("cut.wav"));
  e2e::RunResult r = e2e::runTool({"localize", dir.file("cut.wav"), "--quiet"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "velk-binaural: warning: \"" + dir.file("cut.wav") +
                       "\" is shorter than its header says: it holds 23994 samples (1.50 s), its header announces "
                       "48000 samples (3.00 s); only what it holds is read\n");
  EXPECT_TRUE(contains(r.out, "1.50 s")) << r.out;
  r = e2e::runTool({"localize", dir.file("cut.wav"), "--quiet", "--strict"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(contains(r.err, "is shorter than its header says") && contains(r.err, "(an error with --strict)")) << r.err;

  // A FLAC file cut in half decodes up to its last whole block: that is what is read and written.
  writeSound(dir.file("cut.flac"), recording(3 * kRate), 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  cutInHalf(dir.file("cut.flac"));
  r = e2e::runTool({"separate", dir.file("cut.flac"), "-o", dir.file("sep"), "--directions", "30", "--quiet"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const long held = samplesOf(dir.file("sep/source_0.wav"));
  EXPECT_GT(held, kRate / 2);
  EXPECT_LT(held, 3 * kRate);
  EXPECT_TRUE(contains(r.err, "it holds " + std::to_string(held) + " samples")) << "the real length: " << r.err;
  r = e2e::runTool({"separate", dir.file("cut.flac"), "-o", dir.file("strict"), "--directions", "30", "--strict"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("strict")));
}

TEST_F(SafeInputOutput, AudioOutputsAreExactlyAsLongAsTheInput) {
  const long samples = samplesOf(rec);
  ASSERT_NE(samples % 160, 0);
  ASSERT_EQ(e2e::runTool({"separate", rec, "-o", dir.file("sep"), "--directions", "30,-30", "--quiet"}).exitCode, 0);
  EXPECT_EQ(samplesOf(dir.file("sep/source_0.wav")), samples);
  EXPECT_EQ(samplesOf(dir.file("sep/source_1.wav")), samples);
  ASSERT_EQ(e2e::runTool({"run", passThrough(), "--quiet", "--set", "INPUT=" + rec, "--set", "OUTPUT=" + dir.file("copy.wav")})
                .exitCode,
            0);
  EXPECT_EQ(samplesOf(dir.file("copy.wav")), samples);
}

// ---- value parsing --------------------------------------------------------------------------------

// Every number option of every command: NaN, infinities, hexadecimal, text and values out of range
// are usage errors that name the option, the value and what is accepted, in a short line.
TEST_F(SafeInputOutput, EveryNumberOptionRefusesWhatIsNotAPlainNumberInRange) {
  struct Case {
    std::vector<std::string> command;
    std::string option;
    std::vector<std::string> bad;
  };
  const std::string out = dir.file("out");
  const std::vector<std::string> nonNumbers{"nan", "inf", "-infinity", "0x10", "abc", "30;40", "30 40", "1e400"};
  const std::vector<Case> cases{
      {{"localize", rec}, "--truth", {"500", "-181"}},
      {{"localize", rec, "--method", "measured"}, "--channels", {"-1,0", "0.5,1", "0,70000"}},
      {{"separate", rec, "-o", out}, "--directions", {"91", "-90.5"}},
      {{"separate", rec, "-o", out, "--localize"}, "--delay", {"-1", "1001", "2.5"}},
      {{"separate", rec, "-o", out, "--directions", "30"}, "--range-min", {"-1", "95"}},
      {{"separate", rec, "-o", out, "--directions", "30"}, "--range-max", {"-1", "95"}},
      {{"run", passThrough()}, "--frames", {"-1", "1.5", "99999999999"}},
      {{"tf", "model", out}, "--radius", {"0", "-0.1", "2"}},
      {{"tf", "model", out}, "--distance", {"0", "1000"}},
      {{"tf", "model", out}, "--directions", {"0", "8", "182"}},
      {{"tf", "model", out}, "--fs", {"0", "16000.5", "2000000"}},
      {{"tf", "model", out}, "--nfft", {"0", "511", "4194304"}},
      {{"tf", "import-sofa", kSofa, out}, "--fs", {"1", "7999"}},
      {{"tf", "import-sofa", kSofa, out}, "--step", {"0", "181"}},
      {{"render", rec, out}, "--azimuth", {"181", "-500"}},
      {{"score", dir.path(), dir.path()}, "--max-lag", {"-1", "16001"}},
      {{"score", dir.path(), dir.path()}, "--near", {"-1", "361"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> values = c.bad;
    if (c.option != "--channels") values.insert(values.end(), nonNumbers.begin(), nonNumbers.end());
    for (const std::string& value : values) {
      std::vector<std::string> args = c.command;
      args.push_back(c.option);
      args.push_back(value);
      const e2e::RunResult r = e2e::runTool(args);
      const std::string what = c.command[0] + " " + c.option + " " + value;
      EXPECT_EQ(r.exitCode, 2) << what << ": " << r.err;
      EXPECT_TRUE(contains(r.err, c.option + ": ")) << what << ": " << r.err;
      EXPECT_TRUE(contains(r.err, "accepted: ")) << what << ": " << r.err;
      EXPECT_LT(r.err.size(), 300u) << what << ": " << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(SafeInputOutput, ContradictingOptionsAreUsageErrors) {
  const std::string out = dir.file("out");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"separate", rec, "-o", out, "--directions", "30,-45", "--param", "DIRECTIONS=[10.0]"},
       "--param DIRECTIONS=[10.0] contradicts --directions, which sets DIRECTIONS; give one of them"},
      {{"localize", rec, "--method", "measured", "--param", "LOCALIZE_METHOD=EPIPOLAR"},
       "--param LOCALIZE_METHOD=EPIPOLAR contradicts --method measured, which sets LOCALIZE_METHOD"},
      {{"separate", rec, "-o", out, "--directions", "30", "--separator", "passband", "--range-min", "80", "--range-max",
        "10"},
       "--range-min 80 is above --range-max 10"},
      {{"separate", rec, "-o", out, "--directions", "30", "--separator", "passband", "--range-min", "50"},
       "--range-min 50 is above --range-max 40 (the default)"},
      {{"separate", rec, "-o", out, "--directions", "30", "--separator", "passband", "--param",
        "SeparateBinaural.RANGE_MIN=5", "--range-min", "5"},
       "contradicts --range-min"},
      // The soft masks have no pass band, and read no table with the head model.
      {{"separate", rec, "-o", out, "--directions", "30", "--range-max", "50"},
       "--range-max sets the pass band's width; it needs --separator passband"},
      {{"separate", rec, "-o", out, "--directions", "30", "--tf", dir.file("t.velk")},
       "--tf is used only with --method measured (or --separator passband)"},
      {{"localize", rec, "--tf", dir.file("t.velk")}, "--tf is used only with --method measured"},
  };
  for (const auto& [args, message] : cases) {
    const e2e::RunResult r = e2e::runTool(args);
    EXPECT_EQ(r.exitCode, 2) << message << ": " << r.err;
    EXPECT_TRUE(contains(r.err, message)) << r.err;
  }
  // Without the option, --param is what sets the parameter, and the summary says so.
  const e2e::RunResult r = e2e::runTool({"localize", rec, "--quiet", "--param", "LOCALIZE_METHOD=HRTFMESURED", "--param",
                                         "VELK_DAT=" + std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk",
                                         "--param", "VELK_DAT_CHANNELS=0,1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "method measured")) << r.out;
  EXPECT_FALSE(fs::exists(out));
}

// Samples that are not numbers are read as 0 (with a warning that counts them), so that one NaN
// in the first 50 ms no longer silences the whole file.
TEST_F(SafeInputOutput, NonFiniteSamplesAreReadAsZeroWithAWarning) {
  std::vector<float> x = recording(2 * kRate);
  x[2 * 300] = std::numeric_limits<float>::quiet_NaN();
  x[2 * 301 + 1] = std::numeric_limits<float>::infinity();
  writeSound(dir.file("nan.wav"), x);
  const e2e::RunResult r = e2e::runTool({"separate", dir.file("nan.wav"), "-o", dir.file("sep"), "--directions", "60", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "velk-binaural: warning: \"" + dir.file("nan.wav") +
                       "\" holds 2 samples that are not finite numbers (NaN or infinite), the first at sample 300 "
                       "(0.019 s) of channel 0; they were read as 0\n");
  SF_INFO info{};
  SNDFILE* f = sf_open(dir.file("sep/source_0.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  std::vector<float> y(static_cast<size_t>(info.frames));
  sf_readf_float(f, y.data(), info.frames);
  sf_close(f);
  double energy = 0;
  for (float v : y) {
    ASSERT_TRUE(std::isfinite(v));
    energy += double(v) * v;
  }
  EXPECT_GT(energy, 1.0) << "the talker comes through";
}

// ---- messages -------------------------------------------------------------------------------------

TEST_F(SafeInputOutput, MessagesNameWhatIsWrongInPlainWords) {
  auto err = [](const std::vector<std::string>& args) { return e2e::runTool(args).err; };
  const std::string unknown = err({"frobnicate"});
  EXPECT_EQ(unknown.rfind("velk-binaural: \"frobnicate\" is not a command of velk-binaural; the commands are tf, ", 0), 0u)
      << unknown;
  EXPECT_TRUE(contains(unknown, " localize, ") && contains(unknown, "(see velk-binaural --help)\n")) << unknown;
  EXPECT_TRUE(contains(err({"tf", "frob"}), "\"frob\" is not a command of velk-binaural tf"));
  EXPECT_EQ(err({"run", dir.path()}), "velk-binaural: cannot read the network file \"" + dir.path() + "\": it is a folder\n");
  EXPECT_TRUE(contains(err({"tf", "model", dir.file("m.velk"), "--radius", "nan"}), "--radius: \"nan\" is not a finite number"));
  EXPECT_TRUE(contains(err({"tf", "model", dir.file("m.velk"), "--radius", "0"}),
                       "--radius: 0 is out of range (accepted: a head radius in metres, above 0 and at most 1)"));
  EXPECT_TRUE(contains(err({"separate", rec, "-o", dir.file("o"), "--directions", "30;40"}),
                       "--directions: \"30;40\" is not a decimal number (accepted: a talker azimuth in degrees, from -90 to 90)"));
  EXPECT_TRUE(contains(err({"run", passThrough(), "--frames", "-1"}),
                       "--frames: -1 is out of range (accepted: a number of frames, from 0 to 2147483647)"));
}

// The one-line error is for users; where in the source it was raised only with --verbose.
TEST_F(SafeInputOutput, ErrorLinesKeepSourceLocationsForVerbose) {
  ASSERT_EQ(e2e::runTool({"tf", "model", dir.file("8k.velk"), "--fs", "8000"}).exitCode, 0);
  const std::vector<std::string> args{"separate", rec, "-o", dir.file("sep"), "--directions", "30",
                                      "--method", "measured", "--tf", dir.file("8k.velk"), "--quiet"};
  const e2e::RunResult plain = e2e::runTool(args);
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_TRUE(contains(plain.err, "the tables are for 8000 Hz")) << plain.err;
  EXPECT_FALSE(contains(plain.err, ".cpp") || contains(plain.err, ", line ")) << plain.err;
  std::vector<std::string> verboseArgs = args;
  verboseArgs.push_back("--verbose");
  const e2e::RunResult verbose = e2e::runTool(verboseArgs);
  EXPECT_EQ(verbose.exitCode, 1);
  EXPECT_TRUE(contains(verbose.err, "SeparateSoftMask.cpp, line ")) << verbose.err;
}

}  // namespace
