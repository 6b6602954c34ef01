// Sound that arrives as it is made: WAV streams and headerless samples read front to back in
// whatever pieces a pipe delivers, the frames a network cuts from them, sound written as a stream,
// and the stop request that ends a wait for input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>

#include "TestSupport.h"
#include "fd/AudioStream.h"
#include "fd/Network.h"
#include "fd/StopRequest.h"

namespace hostio {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void putU32(Bytes& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offset of the first chunk named `id` after the RIFF header.
size_t chunkAt(const Bytes& b, const char* id) {
  for (size_t at = 12; at + 8 <= b.size();) {
    if (std::memcmp(&b[at], id, 4) == 0) return at;
    const std::uint32_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | static_cast<std::uint32_t>(b[at + 7]) << 24;
    at += 8 + size + (size % 2);
  }
  throw std::runtime_error(std::string("no chunk ") + id);
}

// A WAV stream as a streaming writer leaves it: the data length and the RIFF length set to `length`.
Bytes withLengths(Bytes b, std::uint32_t length) {
  putU32(b, chunkAt(b, "data") + 4, length);
  putU32(b, 4, length);
  return b;
}

// Every sample of a stream, read in pieces of at most `perRead` sample frames.
std::vector<float> readAll(FD::SampleStream& stream, size_t perRead = 333) {
  std::vector<float> all, block(perRead * static_cast<size_t>(stream.channels()));
  for (size_t got; (got = stream.read(block.data(), perRead)) > 0;)
    all.insert(all.end(), block.begin(), block.begin() + static_cast<long>(got) * stream.channels());
  return all;
}

// The reader keeps reading `bytes`: they must outlive it.
std::unique_ptr<FD::PcmStreamReader> wavFrom(const Bytes& bytes, size_t chunk) {
  return FD::PcmStreamReader::wav(std::make_unique<FD::MemoryStream>(bytes.data(), bytes.size(), chunk));
}

std::string wavError(const Bytes& bytes) {
  try {
    FD::MemoryStream in(bytes.data(), bytes.size());
    FD::readWavStreamHeader(in);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

// A 2-channel 16-bit WAV header followed by `frames` sample frames of silence.
Bytes plainWav(std::uint32_t frames = 10) {
  Bytes b = FD::wavStreamHeader(16000, 2, FD::SampleFormat::Pcm16, frames * 4);
  b.resize(b.size() + frames * 4, 0);
  return b;
}

// ---- reading WAV streams ------------------------------------------------------------------------

struct Encoding {
  int subformat;
  const char* name;
};

class WavStream : public ::testing::TestWithParam<Encoding> {};

// Whatever the sample format and however the bytes are cut up by the pipe (one at a time, in
// pieces that split samples, all at once), a stream gives exactly the floats a file reader gives.
TEST_P(WavStream, GivesTheSamplesAFileReaderGivesInAnyPieces) {
  TempDir dir;
  std::vector<float> x = testSignal(3001);
  x[10] = 1.0f;  // full scale, where integer formats clip
  x[11] = -1.0f;
  writeWav(dir.file("in.wav"), 16000, 2, x, GetParam().subformat);
  const Sound file = readWav(dir.file("in.wav"));
  const Bytes bytes = fileBytes(dir.file("in.wav"));
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, bytes.size()}) {
    auto stream = wavFrom(bytes, chunk);
    EXPECT_EQ(stream->channels(), 2);
    EXPECT_EQ(stream->sampleRate(), 16000);
    EXPECT_EQ(readAll(*stream), file.samples) << "pieces of " << chunk << " bytes";
    EXPECT_TRUE(stream->reports().empty()) << stream->reports().front();
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, WavStream,
                         ::testing::Values(Encoding{SF_FORMAT_PCM_U8, "U8"}, Encoding{SF_FORMAT_PCM_16, "S16"},
                                           Encoding{SF_FORMAT_PCM_24, "S24"}, Encoding{SF_FORMAT_PCM_32, "S32"},
                                           Encoding{SF_FORMAT_FLOAT, "F32"}, Encoding{SF_FORMAT_DOUBLE, "F64"}),
                         [](const ::testing::TestParamInfo<Encoding>& info) { return info.param.name; });

// Writers that stream cannot know the length when they write the header: they leave 0,
// 0xFFFFFFFF or the largest length below 2^31 they can write there. The samples then run to the
// end of the stream, and its ending "early" is no fault.
TEST(WavStreamLengths, PlaceholderLengthsRunToTheEndOfTheStream) {
  TempDir dir;
  writeWav(dir.file("in.wav"), 16000, 2, testSignal(2000), SF_FORMAT_PCM_16);
  const Bytes bytes = fileBytes(dir.file("in.wav"));
  const Sound file = readWav(dir.file("in.wav"));
  for (std::uint32_t placeholder : {0u, 0xFFFFFFFFu, 0x7FFFF000u, 0x7FFFFFFCu, 0x80000000u}) {
    const Bytes streamed = withLengths(bytes, placeholder);
    auto stream = wavFrom(streamed, 1000);
    EXPECT_EQ(readAll(*stream), file.samples) << placeholder;
    EXPECT_TRUE(stream->reports().empty()) << placeholder << ": " << stream->reports().front();
  }
}

// An announced length is where the samples end: a chunk after them is not read as sound. A stream
// that ends before it, or inside a sample frame, is said to be cut, with what was lost.
TEST(WavStreamLengths, AnnouncedLengthEndsTheSamplesAndACutStreamIsReported) {
  Bytes b = plainWav(10);
  const size_t samplesEnd = b.size();
  const char trailer[] = "LIST\x04\x00\x00\x00" "abcd";
  b.insert(b.end(), trailer, trailer + 12);
  auto whole = wavFrom(b, 5);
  EXPECT_EQ(readAll(*whole), std::vector<float>(20, 0.0f));
  EXPECT_TRUE(whole->reports().empty());

  Bytes cut(b.begin(), b.begin() + static_cast<long>(samplesEnd) - 6);  // 8 frames and half of one
  auto shorter = wavFrom(cut, 64);
  EXPECT_EQ(readAll(*shorter).size(), 16u);
  const std::vector<std::string> said = shorter->reports();
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[0], "memory ended inside a sample frame: its last 2 bytes were dropped");
  EXPECT_EQ(said[1], "memory is shorter than its header says: it held 34 bytes of samples, its header announces 40");
}

struct Damage {
  const char* name;
  size_t at;            // byte changed, or the length to cut the header to when `cut`
  std::uint32_t value;  // written there as 2 bytes (4 for fields at 4, 16 and 40)
  bool cut;
  const char* expected;
};

class DamagedWavStream : public ::testing::TestWithParam<Damage> {};

// Every header that cannot be read is refused before any sample is taken, naming the stream, the
// field and what was expected; nothing is allocated by what the header says.
TEST_P(DamagedWavStream, IsRefusedNamingTheField) {
  const Damage& d = GetParam();
  Bytes b = plainWav();
  if (d.cut) {
    b.resize(d.at);
  } else if (d.at == 4 || d.at == 16 || d.at == 40) {
    putU32(b, d.at, d.value);
  } else if (d.at == 0) {
    std::memcpy(b.data(), "RIFX", 4);
  } else {
    b[d.at] = static_cast<std::uint8_t>(d.value);
    b[d.at + 1] = static_cast<std::uint8_t>(d.value >> 8);
  }
  EXPECT_EQ(wavError(b), std::string("memory is not a WAV stream this program reads: ") + d.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedWavStream,
    ::testing::Values(
        Damage{"NotRiff", 0, 0, false, "it starts with \"RIFX\" and \"WAVE\"; expected \"RIFF\" (or \"RF64\") and \"WAVE\""},
        Damage{"EndsInTheRiffHeader", 5, 0, true, "it ends inside the header, in the RIFF header (byte 5)"},
        Damage{"EndsInTheFormat", 30, 0, true, "it ends inside the header, in the format chunk (byte 30)"},
        Damage{"HugeFormatChunk", 16, 5000000, false, "its format chunk has 5000000 bytes; expected 16 to 1024"},
        Damage{"Adpcm", 20, 2, false, "its sample format is 2; expected 1 (PCM), 3 (float) or 65534 (extensible)"},
        Damage{"NoChannels", 22, 0, false, "it has 0 channels"},
        Damage{"TwelveBits", 34, 12, false, "its PCM samples have 12 bits; expected 8, 16, 24 or 32"},
        Damage{"BlockSize", 32, 3, false, "its block size is 3 bytes; 2 channels of 16-bit samples take 4"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST(DamagedWavStreamOrder, SamplesBeforeTheirFormatAreRefused) {
  Bytes b = plainWav();
  std::memcpy(&b[12], "data", 4);
  std::memcpy(&b[36], "fmt ", 4);
  EXPECT_EQ(wavError(b), "memory is not a WAV stream this program reads: its samples (\"data\") come before their "
                         "format (\"fmt \")");
}

// ---- headerless samples -------------------------------------------------------------------------

// Headerless 16-bit and float samples decode as their WAV counterparts; values that are not
// numbers are read as 0 and counted, and a last incomplete sample frame is dropped and reported.
TEST(RawStream, DecodesCountsNonNumbersAndDropsAnIncompleteFrame) {
  const std::int16_t pcm[] = {0, 16384, -32768, 32767, 1, -1};
  const auto* pcmBytes = reinterpret_cast<const std::uint8_t*>(pcm);
  auto s16 = FD::PcmStreamReader::raw(std::make_unique<FD::MemoryStream>(pcmBytes, sizeof pcm - 1, 3),
                                      FD::PcmEncoding::S16, 2, 8000);
  EXPECT_EQ(readAll(*s16), (std::vector<float>{0.0f, 0.5f, -1.0f, 32767 / 32768.0f}));
  ASSERT_EQ(s16->reports().size(), 1u);
  EXPECT_EQ(s16->reports()[0], "memory ended inside a sample frame: its last 3 bytes were dropped");

  const float f32[] = {0.25f, std::numeric_limits<float>::quiet_NaN(), -0.5f, std::numeric_limits<float>::infinity()};
  auto floats = FD::PcmStreamReader::raw(
      std::make_unique<FD::MemoryStream>(reinterpret_cast<const std::uint8_t*>(f32), sizeof f32, 5),
      FD::PcmEncoding::F32, 2, 8000);
  EXPECT_EQ(readAll(*floats), (std::vector<float>{0.25f, 0.0f, -0.5f, 0.0f}));
  ASSERT_EQ(floats->reports().size(), 1u);
  EXPECT_EQ(floats->reports()[0],
            "memory holds 2 samples that are not finite numbers (NaN or infinite), the first at sample 0 (0.000 s) of "
            "channel 1; they were read as 0");

  EXPECT_THROW(FD::PcmStreamReader::raw(std::make_unique<FD::MemoryStream>(pcmBytes, 4), FD::PcmEncoding::S16, 0, 8000),
               std::invalid_argument);
  EXPECT_THROW(FD::rawFormatFromName("S16_BE"), std::invalid_argument);
}

// ---- frames of a stream -------------------------------------------------------------------------

FD::ParameterSet sourceParams(const std::string& file, const std::string& format = "") {
  FD::ParameterSet p;
  p.add("FILENAME", FD::make<FD::String>(file));
  if (!format.empty()) p.add("FORMAT", FD::make<FD::String>(format));
  p.add("SAMPLING_RATE", FD::make<FD::Int>(16000));
  p.add("CHANNELS", FD::make<FD::Int>(2));
  p.add("LENGTH", FD::make<FD::Int>(8));
  p.add("ADVANCE", FD::make<FD::Int>(3));
  return p;
}

// A stream is cut into exactly the frames of a file of the same samples, and ends after as many
// frames, though it learns its end only by reading it: WAV streams and headerless samples, lengths
// that are and are not a multiple of the shift, and a stream shorter than one frame.
TEST(StreamFrames, AreTheFramesOfTheSameSamplesInAFile) {
  for (long samples : {1000L, 999L, 5L, 1L}) {
    TempDir dir;
    const std::vector<float> x = testSignal(samples);
    writeWav(dir.file("in.wav"), 16000, 2, x, SF_FORMAT_PCM_16);
    const std::vector<short> pcm = readPcm16(dir.file("in.wav"));
    {
      std::ofstream raw(dir.file("in.raw"), std::ios::binary);
      raw.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * sizeof(short)));
    }
    for (const auto& [path, format] : {std::pair{dir.file("in.wav"), "WAV"}, std::pair{dir.file("in.raw"), "S16_LE"}}) {
      // A file source holds only the frames in use: one network per comparison.
      FD::Network file, stream;
      file.addNode("AudioFileSource", "source", sourceParams(dir.file("in.wav")));
      file.addOutput("source", "AUDIO");
      file.initialize();
      FD::Node& source = stream.addNode("AudioStreamSource", "source", sourceParams(path, format));
      stream.addOutput("source", "AUDIO");
      stream.initialize();
      EXPECT_EQ(stream.length(), -1) << "the end is not known before it is read";
      long k = 0;
      for (; stream.frameAvailable(k); ++k) {
        const auto got = FD::object_cast<FD::Matrix<float>>(stream.output("source", "AUDIO", static_cast<int>(k)));
        const auto want = FD::object_cast<FD::Matrix<float>>(file.output("source", "AUDIO", static_cast<int>(k)));
        ASSERT_EQ(got.rows(), 2);
        ASSERT_EQ(got.cols(), 8);
        for (int c = 0; c < 2; ++c)
          for (int n = 0; n < 8; ++n)
            ASSERT_EQ(got(c, n), want(c, n)) << format << ", " << samples << " samples, frame " << k;
      }
      EXPECT_EQ(k, (samples + 2) / 3) << format << ", " << samples << " samples";
      EXPECT_EQ(source.streamSamples(), samples);
      EXPECT_EQ(stream.length(), k);
    }
  }
}

// ---- writing a stream ---------------------------------------------------------------------------

// A file gets a WAV header whose lengths are filled in at the end, so any reader reads it; a pipe
// keeps the lengths open (0xFFFFFFFF), since it cannot be rewound; bare samples have no header.
TEST(StreamWriter, CompletesTheHeaderOfAFileAndLeavesItOpenOnAPipe) {
  TempDir dir;
  const std::vector<float> x = {0.5f, -0.25f, 1.5f, std::numeric_limits<float>::quiet_NaN(), 0.0f, -1.0f};
  {
    FD::AudioStreamWriter writer(dir.file("out.wav"), 8000, 1, FD::SampleFormat::Pcm16, true);
    writer.write(x.data(), 2);
    writer.write(x.data() + 2, 4);
    writer.commit();
  }
  const std::vector<short> pcm = readPcm16(dir.file("out.wav"));
  EXPECT_EQ(pcm, (std::vector<short>{16384, -8192, 32767, 0, 0, -32768}));
  EXPECT_EQ(readWav(dir.file("out.wav")).rate, 8000);

  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  const int reader = open(dir.file("pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  {
    FD::AudioStreamWriter writer(dir.file("pipe"), 8000, 1, FD::SampleFormat::Float, true);
    writer.write(x.data(), 3);
    writer.commit();
  }
  Bytes got(100);
  got.resize(static_cast<size_t>(read(reader, got.data(), got.size())));
  close(reader);
  ASSERT_EQ(got.size(), 44u + 12u);
  EXPECT_EQ(Bytes(got.begin() + 40, got.begin() + 44), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(got.begin() + 4, got.begin() + 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  float back[3];
  std::memcpy(back, got.data() + 44, sizeof back);
  EXPECT_EQ(back[0], 0.5f);
  EXPECT_EQ(back[2], 1.5f) << "floats are written as they are, unclipped";

  {
    FD::AudioStreamWriter writer(dir.file("out.raw"), 8000, 2, FD::SampleFormat::Pcm16, false);
    writer.write(x.data(), 1);
    writer.commit();
  }
  EXPECT_EQ(fileBytes(dir.file("out.raw")), (Bytes{0x00, 0x40, 0x00, 0xE0}));
}

// A writer whose run fails leaves no file in the destination's place.
TEST(StreamWriter, AnUncommittedFileLeavesNothing) {
  TempDir dir;
  {
    FD::AudioStreamWriter writer(dir.file("out.wav"), 8000, 1, FD::SampleFormat::Pcm16, true);
    const float x[] = {0.5f};
    writer.write(x, 1);
  }
  EXPECT_FALSE(std::ifstream(dir.file("out.wav")).good());
}

// ---- stopping -----------------------------------------------------------------------------------

// A read waiting on a pipe that stays silent ends, as the end of the stream, when a stop is
// requested, as Ctrl-C requests it.
TEST(StopRequest, EndsAReadThatWaitsForInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FD::clearStop();
  FD::DescriptorStream in(fds[0], "the pipe", true);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    FD::requestStop();
  });
  std::uint8_t byte;
  EXPECT_EQ(in.read(&byte, 1), 0u);
  stopper.join();
  EXPECT_TRUE(FD::stopRequested());
  FD::clearStop();
  EXPECT_FALSE(FD::stopRequested());
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(in.read(&byte, 1), 1u) << "a cleared request no longer ends reads";
  close(fds[1]);
}

}  // namespace
}  // namespace hostio
