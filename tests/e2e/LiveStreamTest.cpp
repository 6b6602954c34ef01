// The tool listening live: a scene trickled through a pipe at the pace it was recorded is localised
// as it arrives and exactly as the file is, and Ctrl-C (or SIGTERM) in the middle of a stream ends
// the run with every output complete.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "E2ESupport.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The tool started with `args`, its standard input a pipe this test writes, its standard output a
// pipe this test reads (or the file `stdoutFile` when given), standard error the file `errFile`.
class LiveTool {
 public:
  LiveTool(const std::vector<std::string>& args, const std::string& errFile, const std::string& stdoutFile = "") {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      const int outFd = stdoutFile.empty() ? out[1] : open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(outFd, STDOUT_FILENO);
      const int errFd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(errFd, STDERR_FILENO);
      for (int fd : {in[0], in[1], out[0], out[1], outFd, errFd}) close(fd);
      std::vector<char*> argv{const_cast<char*>(VELK_TOOL)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(VELK_TOOL, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~LiveTool() {
    closeInput();
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Writes all of `bytes`; false when the tool stopped reading.
  bool write(const char* bytes, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(in_, bytes, n);
      if (w <= 0) return false;
      bytes += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  void closeInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  // The next complete line of standard output (without its newline), false at its end.
  bool readLine(std::string& line) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      char buffer[4096];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) {
        line = pending_;  // an incomplete last line, if any
        pending_.clear();
        return !line.empty();
      }
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }
  void signal(int number) { kill(pid_, number); }
  // Waits until the tool catches `number` (instead of dying of it); false after 60 s.
  bool catches(int number) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
      for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (number - 1)) & 1) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // The exit status; -1 when the tool did not exit by itself.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string pending_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

// A recording as `sox FILE -t wav -` streams it.
std::string soxStream(const std::string& path) {
  FILE* pipe = popen(("sox '" + path + "' -t wav - 2>/dev/null").c_str(), "r");
  if (!pipe) return "";
  std::string bytes;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) bytes.append(buffer, n);
  return pclose(pipe) == 0 ? bytes : "";
}

// The two-talker scene when it is there, else the first one; "" without scenes.
std::string sceneMix() {
  const std::vector<std::string> ids = sceneIds();
  if (ids.empty()) return "";
  for (const std::string& id : ids)
    if (id.rfind("pair", 0) == 0) return readScene(id).mixPath;
  return readScene(ids.front()).mixPath;
}

constexpr size_t kHeaderBytes = 44;     // of the WAV streams sox writes
constexpr size_t kFrameBytes = 4;       // 2 channels of 16 bits
constexpr size_t kBlockFrames = 160;    // written every 10 ms
constexpr int kSampleRate = 16000;

// A scene's recording and the WAV stream sox makes of it; the test is skipped without them.
class SceneStream : public ::testing::Test {
 protected:
  void SetUp() override {
    mix = sceneMix();
    if (mix.empty()) GTEST_SKIP() << "no scenes in " << VELK_SCENES_DIR;
    stream = soxStream(mix);
    if (stream.empty()) GTEST_SKIP() << "sox is not installed";
  }
  std::string mix, stream;
};

// Frames whose lines are consecutive, complete JSON objects from frame 0; the count.
long checkCompleteLines(const std::vector<std::string>& all) {
  long frame = 0;
  for (const std::string& line : all) {
    nlohmann::json parsed;
    EXPECT_NO_THROW(parsed = nlohmann::json::parse(line)) << "line " << frame << ": " << line;
    if (!parsed.is_object()) return frame;
    EXPECT_EQ(parsed.value("frame", -1L), frame) << line;
    EXPECT_TRUE(parsed.contains("sources")) << line;
    ++frame;
  }
  return frame;
}

// A consumer of `localize - --json -` hears the first talker while the recording is still being
// made (here: written at the pace it was recorded), and the whole run gives exactly the lines of
// the run over the file.
TEST_F(SceneStream, ThrottledToRealTimeIsLocalisedAsItArrivesAndAsTheFileIs) {
  TempDir dir;
  const RunResult fromFile = runTool({"localize", mix, "--json", dir.file("file.jsonl")});
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;

  LiveTool tool({"localize", "-", "--json", "-"}, dir.file("err"));
  Clock::time_point writerDone;
  std::thread writer([&] {
    const Clock::time_point start = Clock::now();
    tool.write(stream.data(), kHeaderBytes);
    const size_t block = kBlockFrames * kFrameBytes;
    for (size_t at = kHeaderBytes, i = 1; at < stream.size(); at += block, ++i) {
      if (!tool.write(stream.data() + at, std::min(block, stream.size() - at))) break;
      std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * i));
    }
    writerDone = Clock::now();
    tool.closeInput();
  });
  std::vector<std::string> live;
  Clock::time_point firstTalker{};
  for (std::string line; tool.readLine(line);) {
    if (firstTalker == Clock::time_point{} && line.find("\"id\"") != std::string::npos) firstTalker = Clock::now();
    live.push_back(line);
  }
  writer.join();
  EXPECT_EQ(tool.wait(), 0) << slurp(dir.file("err"));

  ASSERT_NE(firstTalker, Clock::time_point{}) << "no talker was reported";
  const double secondsEarly = std::chrono::duration<double>(writerDone - firstTalker).count();
  EXPECT_GT(secondsEarly, 0.0) << "the first talker's line came only after the whole recording was written";
  EXPECT_EQ(live, lines(slurp(dir.file("file.jsonl"))));
  EXPECT_NE(slurp(dir.file("err")).find("standard input: "), std::string::npos)
      << "the summary goes to standard error when standard output carries the lines";
}

// Ctrl-C in the middle of a stream: the lines written so far are whole and consecutive, and the
// run ends with status 0, its summary counting exactly those frames.
TEST_F(SceneStream, InterruptedLocalisationLeavesCompleteLines) {
  TempDir dir;
  LiveTool tool({"localize", "-", "--json", "-"}, dir.file("err"));
  // Two seconds of sound, and the stream is kept open: only the signal can end the run.
  ASSERT_TRUE(tool.write(stream.data(), kHeaderBytes + 2 * kSampleRate * kFrameBytes));
  std::vector<std::string> got;
  for (std::string line; got.size() < 100 && tool.readLine(line);) got.push_back(line);
  tool.signal(SIGINT);
  for (std::string line; tool.readLine(line);) got.push_back(line);
  EXPECT_EQ(tool.wait(), 0) << slurp(dir.file("err"));

  const long frames = checkCompleteLines(got);
  EXPECT_EQ(frames, static_cast<long>(got.size()));
  EXPECT_GE(frames, 100);
  EXPECT_LE(frames, 200);
  EXPECT_NE(slurp(dir.file("err")).find(", " + std::to_string(frames) + " frames, "), std::string::npos)
      << slurp(dir.file("err"));
}

// A capture device runs until Ctrl-C and then ends as a stream does. ALSA's null device, which
// captures silence as fast as it is read, stands in for a sound card.
TEST(LiveStream, InterruptedCaptureLeavesCompleteLines) {
  TempDir dir;
  LiveTool tool({"localize", "--device", "null", "--json", "-"}, dir.file("err"));
  std::vector<std::string> got;
  for (std::string line; got.size() < 50 && tool.readLine(line);) got.push_back(line);
  if (got.empty()) GTEST_SKIP() << "ALSA's null device cannot be opened here: " << slurp(dir.file("err"));
  tool.signal(SIGINT);
  for (std::string line; tool.readLine(line);) got.push_back(line);
  EXPECT_EQ(tool.wait(), 0) << slurp(dir.file("err"));
  EXPECT_EQ(checkCompleteLines(got), static_cast<long>(got.size()));
  EXPECT_NE(slurp(dir.file("err")).find("ALSA device null: "), std::string::npos) << slurp(dir.file("err"));
}

// Frames of a WAV file as libsndfile reads it; -1 when it cannot. A header whose lengths disagree
// with the file's size reads as a different length (or not at all).
long wavFrames(const std::string& path, long long* bytesOnDisk = nullptr) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return -1;
  sf_close(f);
  if (bytesOnDisk) *bytesOnDisk = static_cast<long long>(slurp(path).size());
  return info.frames;
}

// SIGTERM in the middle of a separation: the files per source, the source list and the sound on
// standard output (a file here, so its header can be completed) are all whole and equally long.
TEST_F(SceneStream, TerminatedSeparationLeavesValidWavs) {
  TempDir dir;
  LiveTool tool({"separate", "-", "--directions", "40", "--out-dir", dir.file("out"), "--out", "-"}, dir.file("err"),
                dir.file("stdout.wav"));
  ASSERT_TRUE(tool.write(stream.data(), kHeaderBytes + 2 * kSampleRate * kFrameBytes));
  // Until the run has taken some of the stream; the summary would say if it had failed.
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  while (slurp(dir.file("stdout.wav")).size() < kHeaderBytes + kSampleRate && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  tool.signal(SIGTERM);
  EXPECT_EQ(tool.wait(), 0) << slurp(dir.file("err"));

  long long bytes = 0;
  const long streamed = wavFrames(dir.file("stdout.wav"), &bytes);
  EXPECT_GE(streamed, kSampleRate / 2);
  EXPECT_LE(streamed, 2 * kSampleRate);
  EXPECT_EQ(bytes, static_cast<long long>(kHeaderBytes) + 2 * streamed) << "the header's length is the file's";
  EXPECT_EQ(wavFrames(dir.file("out/source_0.wav")), streamed);
  nlohmann::json list;
  EXPECT_NO_THROW(list = nlohmann::json::parse(slurp(dir.file("out/sources.json"))));
  EXPECT_EQ(list.size(), 1u) << list.dump();
}

// Ctrl-C before the stream's header came: no sound was heard, so the run is abandoned (status
// 130) and leaves nothing behind, neither the output folder nor a file beside --out.
TEST(LiveStream, InterruptedBeforeAnySoundLeavesNothing) {
  TempDir dir;
  LiveTool tool({"separate", "-", "--directions", "40", "--out-dir", dir.file("out"), "--out", dir.file("one.wav")},
                dir.file("err"));
  ASSERT_TRUE(tool.write("RIFF", 4));
  ASSERT_TRUE(tool.catches(SIGINT));
  tool.signal(SIGINT);
  EXPECT_EQ(tool.wait(), 130) << slurp(dir.file("err"));
  EXPECT_EQ(slurp(dir.file("err")), "velk-binaural: interrupted; no output was written\n");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename() != "err") left.push_back(entry.path().filename());
  EXPECT_TRUE(left.empty()) << left.front();
}

struct Contradiction {
  std::vector<std::string> args;  // "MIX" stands for a scene's recording
  int exitCode;
  std::string expected;
};

// Options that contradict each other, or a stream that is not sound, are refused before anything
// is written: usage errors with status 2, a stream that cannot be read with status 1, each on one
// line of standard error.
TEST(LiveOptions, ContradictionsAreRefusedOnOneLine) {
  const std::string mix = sceneMix();
  if (mix.empty()) GTEST_SKIP() << "no scenes in " << VELK_SCENES_DIR;
  const std::vector<Contradiction> cases{
      {{"localize", "MIX", "--raw", "S16_LE"}, 2, "--raw S16_LE describes headerless samples on standard input"},
      {{"localize", "-", "--rate", "16000"}, 2, "--rate is for headerless samples (--raw) and devices (--device)"},
      {{"localize", "-", "--raw", "S16_LE", "--rate", "8000"}, 2, "--rate 8000 differs from the 16000 Hz"},
      {{"localize"}, 2, "give a recording (IN), - for standard input, or --device NAME"},
      {{"localize", "-", "--device", "null"}, 2, "give either a recording (IN) or --device null, not both"},
      {{"localize", "-", "--plot", "-"}, 2, "--plot -: the plot is written to a file"},
      {{"separate", "-", "--directions", "40"}, 2, "give --out-dir DIR (a file per source), --out FILE or -"},
      {{"separate", "-", "--directions", "40,-20", "--out", "o.wav"}, 2, "--out writes one source: choose it"},
      {{"separate", "-", "--directions", "40", "--out", "o.wav", "--source", "3"}, 2, "--source 3 is not a source"},
      {{"separate", "-", "--directions", "40", "--out-dir", "d", "--source", "0"}, 2, "--source chooses what --out"},
      {{"separate", "MIX", "--directions", "40", "--out", "MIX"}, 2, "is the same file as the input recording"},
      {{"localize", "-", "--json", "-"}, 1, "standard input is not a WAV stream this program reads: it is empty"},
  };
  for (Contradiction c : cases) {
    for (std::string& a : c.args)
      if (a == "MIX") a = mix;
    const RunResult r = runTool(c.args);
    std::string command;
    for (const std::string& a : c.args) command += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << command << r.err;
    EXPECT_EQ(r.err.find("velk-binaural: "), 0u) << command << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << command << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << command << r.err;
    EXPECT_EQ(r.out, "") << command;
  }
}

}  // namespace
}  // namespace e2e
