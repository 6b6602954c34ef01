// Writing sound files in large blocks: the file is complete once it is closed (or its writer
// destroyed), the network closes its writers after the last frame, and a write that fails then
// fails the run with the node and the file named.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <complex>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "fd/AudioFile.h"
#include "fd/NetworkFile.h"
#include "fd/Node.h"

namespace hostio {
namespace {

std::string q(const std::string& s) { return "\"" + s + "\""; }

// While it lives, files this process writes may not grow past `bytes`: a write beyond fails with
// "File too large", as it would on a full disk, instead of the process being stopped by SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

// `frames` two-channel samples, distinct and exactly representable in 16 bits.
std::vector<float> ramp(long frames) {
  std::vector<float> x(static_cast<size_t>(frames) * 2);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(static_cast<int>(i % 60000) - 30000) / 32768.0f;
  return x;
}

// Writes `x` in frames of 160 samples, as SaveWave does.
void writeFrames(FD::AudioFileWriter& writer, const std::vector<float>& x) {
  const long frames = static_cast<long>(x.size() / 2);
  for (long n = 0; n < frames; n += 160) writer.write(x.data() + 2 * n, std::min(160L, frames - n));
}

// ---- the writer -------------------------------------------------------------------------------

TEST(BlockWriter, FileHoldsEverySampleOnceCommitted) {
  TempDir dir;
  const long frames = FD::AudioFileWriter::kWriteBlock * 2 + 1234;  // whole blocks and a rest
  const std::vector<float> x = ramp(frames);
  for (FD::SampleFormat format : {FD::SampleFormat::Float, FD::SampleFormat::Pcm16}) {
    const std::string path = dir.file(format == FD::SampleFormat::Float ? "float.wav" : "pcm.wav");
    FD::AudioFileWriter writer(path, 16000, 2, format);
    writeFrames(writer, x);
    writer.writeSilence(5);
    EXPECT_EQ(writer.written(), frames + 5);
    writer.close();
    EXPECT_TRUE(writer.closed());
    EXPECT_NO_THROW(writer.close()) << "closing twice does nothing";
    EXPECT_FALSE(std::filesystem::exists(path)) << "a closed file is not yet in place";
    writer.commit();
    const Sound y = readWav(path);
    ASSERT_EQ(y.frames, frames + 5) << path;
    ASSERT_EQ(y.channels, 2);
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y.samples[i], x[i]) << path << ", value " << i;
    for (size_t i = x.size(); i < y.samples.size(); ++i) ASSERT_EQ(y.samples[i], 0.0f) << path << ", value " << i;
    try {
      writer.write(x.data(), 1);
      ADD_FAILURE() << "a closed writer accepted samples";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  // 16-bit samples are rounded to the nearest step, halfway cases to the even one.
  {
    FD::AudioFileWriter writer(dir.file("halves.wav"), 16000, 1, FD::SampleFormat::Pcm16);
    const std::vector<float> halves = {0.5f / 32768, 1.5f / 32768, -2.5f / 32768, 2.4f / 32768, -0.6f / 32768};
    writer.write(halves.data(), static_cast<long>(halves.size()));
    writer.commit();
    EXPECT_EQ(readPcm16(dir.file("halves.wav")), (std::vector<short>{0, 2, -2, 2, -1}));
  }
  // A writer destroyed without commit() (a run that stopped early) leaves no file, and an older
  // file of that name as it was.
  { FD::AudioFileWriter(dir.file("early.wav"), 16000, 2, FD::SampleFormat::Float).write(x.data(), 500); }
  EXPECT_FALSE(std::filesystem::exists(dir.file("early.wav")));
  { FD::AudioFileWriter(dir.file("halves.wav"), 16000, 2, FD::SampleFormat::Float).write(x.data(), 500); }
  EXPECT_EQ(readPcm16(dir.file("halves.wav")).size(), 5u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no temporary file is left";
}

TEST(BlockWriter, WriteFailuresAreReportedWithTheFileNamed) {
  TempDir dir;
  try {
    FD::AudioFileWriter writer("/dev/full", 16000, 1, FD::SampleFormat::Pcm16);
    ADD_FAILURE() << "/dev/full was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("\"/dev/full\""), std::string::npos) << e.what();
  }
  const std::vector<float> x = ramp(FD::AudioFileWriter::kWriteBlock);
  const std::string path = dir.file("limited.wav");
  FileSizeLimit limit(4096);
  {
    // Less than a block: nothing reaches the file before close(), which must say it failed.
    FD::AudioFileWriter writer(path, 16000, 2, FD::SampleFormat::Float);
    writer.write(x.data(), 2000);
    try {
      writer.close();
      ADD_FAILURE() << "a failed write passed as a success";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("cannot write to \"" + path + "\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("File too large"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(writer.closed());
    EXPECT_NO_THROW(writer.close());
  }
  // The write that completes a block writes it, and fails there.
  FD::AudioFileWriter writer(path, 16000, 2, FD::SampleFormat::Float);
  writer.write(x.data(), FD::AudioFileWriter::kWriteBlock - 1);
  EXPECT_THROW(writer.write(x.data(), 1), std::runtime_error);
}

// ---- writer nodes in a network ------------------------------------------------------------------

// Passes the left ear's spectrum on as source id 3, as a separator would.
class LeftEarAsSource : public FD::BufferedNode {
 public:
  LeftEarAsSource(std::string name, const FD::ParameterSet& p) : BufferedNode(std::move(name), p) {
    in_ = addInput("INPUT");
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    const auto& spectrum = FD::object_cast<FD::Matrix<std::complex<float>>>(getInput(in_, count));
    auto map = FD::make<FD::Map<int, FD::ObjectRef>>();
    (*map)[3] = FD::ObjectRef(new FD::Vector<std::complex<float>>(spectrum.row(0), spectrum.row(0) + spectrum.cols()));
    out[count] = map;
  }

 private:
  int in_;
};

class WriterNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    FD::Node::addFactory("TestLeftEarAsSource", new FD::NodeFactory<LeftEarAsSource>("TestLeftEarAsSource"));
    writeWav(dir.file("in.wav"), 16000, 2, testSignal(kSamples, 3));
  }
  // in.wav -> spectrum, then the sound -> SaveWave "sink" and/or id 3 -> SaveSeparatedWaves "save".
  std::string network(bool sound = true, bool separated = true) const {
    const std::string framing = R"("LENGTH": 512, "ADVANCE": 160)";
    std::string nodes = R"({"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": )" +
                        q(dir.file("in.wav")) + R"(, "SAMPLING_RATE": 16000, "CHANNELS": 2, )" + framing + R"(}},
      {"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512}, "inputs": {"INPUT": "source:AUDIO"}})";
    std::string outputs;
    if (sound) {
      nodes += R"(,
      {"name": "istft", "type": "Synthesize", "parameters": {)" + framing + R"(}, "inputs": {"INPUT": "stft:OUTPUT"}},
      {"name": "sink", "type": "SaveWave", "parameters": {"FILENAME": )" + q(dir.file("out.wav")) +
               R"(, "SAMPLING_RATE": 16000}, "inputs": {"INPUT": "istft:OUTPUT"}})";
      outputs += R"("sink:OUTPUT")";
    }
    if (separated) {
      nodes += R"(,
      {"name": "separate", "type": "TestLeftEarAsSource", "inputs": {"INPUT": "stft:OUTPUT"}},
      {"name": "save", "type": "SaveSeparatedWaves", "parameters": {"PREFIX": )" + q(dir.file("sep")) +
               R"(, "SAMPLING_RATE": 16000, )" + framing + R"(}, "inputs": {"INPUT": "separate:OUTPUT"}})";
      outputs += std::string(outputs.empty() ? "" : ", ") + R"("save:OUTPUT")";
    }
    return R"({"nodes": [)" + nodes + R"(], "outputs": [)" + outputs + "]}";
  }
  static constexpr long kSamples = 300 * 160 + 17;
  TempDir dir;
};

// Read while the network still exists: run() itself must have completed the files.
TEST_F(WriterNodes, FilesAreCompleteWhenTheRunReturns) {
  FD::NetworkSpec plan = FD::parseNetwork(network(), "test.json", dir.path());
  FD::Network net;
  FD::buildNetwork(plan, net);
  long frames = 0;
  try {
    frames = net.run();
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    FAIL() << e->text();
  }
  ASSERT_EQ(frames, (kSamples + 159) / 160);
  EXPECT_EQ(readWav(dir.file("out.wav")).frames, kSamples);
  EXPECT_EQ(readWav(dir.file("sep_3.wav")).frames, kSamples);
}

// Both files stay below a block, so nothing fails before the network finishes its nodes.
TEST_F(WriterNodes, AWriteFailureAfterTheLastFrameFailsTheRunNamingNodeAndFile) {
  FileSizeLimit limit(8192);
  const std::string sound = networkError(network(true, false), dir.path());
  EXPECT_NE(sound.find("Node \"sink\": after the last frame: cannot write to " + q(dir.file("out.wav"))),
            std::string::npos)
      << sound;
  EXPECT_NE(sound.find("File too large"), std::string::npos) << sound;
  const std::string separated = networkError(network(false, true), dir.path());
  EXPECT_NE(separated.find("Node \"save\": after the last frame: cannot write to " + q(dir.file("sep_3.wav"))),
            std::string::npos)
      << separated;
}

// An empty source list on every frame.
class NoSources : public FD::BufferedNode {
 public:
  NoSources(std::string name, const FD::ParameterSet& p) : BufferedNode(std::move(name), p) { addOutput("OUTPUT"); }
  void calculate(int, int count, FD::Buffer& out) override { out[count] = FD::make<FD::Vector<FD::ObjectRef>>(); }
};

// A full disk must fail the run, not swallow lines. A file keeps the last lines until it is
// closed, so they fail after the last frame; a device such as /dev/full gets every line as its
// frame is done (a reader may be following), so the first line fails.
TEST(SourceListFile, AFullDiskFailsTheRun) {
  FD::Node::addFactory("TestNoSources", new FD::NodeFactory<NoSources>("TestNoSources"));
  TempDir dir;
  auto network = [](const std::string& path) {
    return R"({"nodes": [{"name": "sources", "type": "TestNoSources"},
      {"name": "record", "type": "SourceRecorder", "parameters": {"FILENAME": )" + q(path) +
           R"(, "SAMPLING_RATE": 16000, "ADVANCE": 160}, "inputs": {"INPUT": "sources:OUTPUT"}}],
      "outputs": ["record:OUTPUT"]})";
  };
  EXPECT_EQ(networkError(network("/dev/full"), dir.path(), 5),
            "Node \"record\": cannot write to \"/dev/full\": No space left on device");
  EXPECT_EQ(networkError(network(dir.file("sources.jsonl")), dir.path(), 5), "");
  EXPECT_EQ(readLines(dir.file("sources.jsonl")).size(), 5u);
}

}  // namespace
}  // namespace hostio
