// Reading and writing transfer-function files: round trips, and hostile or broken input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

#include "velkio/VELK.h"

namespace {

using velkio::FileError;
using velkio::VELK;
using Bytes = std::vector<std::uint8_t>;

// Little-endian pieces for hand-made files.
Bytes words(std::initializer_list<std::uint32_t> values) {
  Bytes b;
  for (std::uint32_t v : values)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes chunk(const char* id, const Bytes& body) {
  return Bytes(id, id + 4) + words({std::uint32_t(body.size())}) + body;
}
Bytes fileOf(const std::vector<Bytes>& chunks) {
  Bytes body;
  for (const Bytes& c : chunks) body = body + c;
  return Bytes{'V', 'E', 'L', 'K'} + words({std::uint32_t(body.size())}) + body;
}
// A format chunk of version 1.0 for an 8-point transform (5 bins).
Bytes fmtChunk(std::uint16_t formatId = 1) {
  return chunk("fmt ", Bytes{1, 0, 0, 0, std::uint8_t(formatId), 0, 0, 0} + words({16000, 8, 8}));
}

// Distinct, exactly representable values, so any misplaced bin shows.
std::shared_ptr<velkio::TransferFunctions> responses(std::size_t dirs, std::size_t ch, std::size_t bins) {
  auto tf = std::make_shared<velkio::TransferFunctions>(dirs, velkio::ChannelResponses(ch, velkio::Bins(bins)));
  for (std::size_t d = 0; d < dirs; ++d)
    for (std::size_t c = 0; c < ch; ++c)
      for (std::size_t k = 0; k < bins; ++k) (*tf)[d][c][k] = {float(d * 100 + c * 10 + k), -float(k) / 4};
  return tf;
}

// Four directions every 90 degrees from -180 (written with y = -0), on a circle of 1 m.
velkio::PositionList circleOfFour() {
  return {{{-1.0f, -0.0f, 0.5f}}, {{0.0f, -1.0f, 0.0f}}, {{1.0f, 0.0f, 0.0f}}, {{0.0f, 1.0f, 0.0f}}};
}

VELK measuredFile(velkio::PositionList src = circleOfFour()) {
  VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(1, 16000, 8, 8));
  const std::size_t n = src.size();
  file.addChunk(std::make_shared<velkio::M2PG>(std::move(src), responses(n, 2, 5)));
  return file;
}

void expectSameContent(const VELK& a, const VELK& b) {
  const auto& la = a.getChunkList("");
  const auto& lb = b.getChunkList("");
  ASSERT_EQ(la.size(), lb.size());
  for (std::size_t i = 0; i < la.size(); ++i) EXPECT_EQ(la[i]->getChunkId(), lb[i]->getChunkId());
  auto fields = [](const VELK& f) {
    auto fmt = f.findFirst<velkio::FMT>();
    return std::vector<int>{fmt->getMajorVersion(), fmt->getMinorVersion(), fmt->getFormatId(),
                            fmt->getNFS(), fmt->getNFFT(), fmt->getNIR()};
  };
  EXPECT_EQ(fields(a), fields(b));
}

void expectReadFails(const Bytes& bytes, const std::string& fragment) {
  VELK file;
  try {
    file.readBuffer(bytes.data(), bytes.size(), "probe.velk");
    FAIL() << "read succeeded, expected: " << fragment;
  } catch (const FileError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("probe.velk: "), std::string::npos) << what;
    EXPECT_NE(what.find(fragment), std::string::npos) << what;
  }
}

TEST(VelkFileRoundTrip, MeasuredFileKeepsEveryValueAndTheChunkOrder) {
  const VELK original = measuredFile();
  VELK copy;
  const Bytes bytes = original.toBytes();
  copy.readBuffer(bytes.data(), bytes.size(), "memory");
  expectSameContent(original, copy);
  auto m = copy.findFirst<velkio::M2PG>();
  ASSERT_TRUE(m);
  ASSERT_EQ(m->getSrc().size(), 4u);
  ASSERT_EQ(m->getSrc()[0].size(), 1u);
  EXPECT_EQ(m->getSrc()[0][0].z, 0.5f);
  EXPECT_TRUE(std::signbit(m->getSrc()[0][0].y));  // -0 survives: it decides atan2 at the seam
  EXPECT_EQ(*m->getTF(), *original.findFirst<velkio::M2PG>()->getTF());
  EXPECT_EQ(velkio::FMT::getVersions().at(0), (velkio::Version{1, 0}));
}

TEST(VelkFileRoundTrip, GeometricFileThroughTheFileSystem) {
  VELK original;
  auto fmt = std::make_shared<velkio::FMT>(2, 48000, 4, 4);
  fmt->setVersion({1, 3});
  original.addChunk(fmt);
  original.addChunk(std::make_shared<velkio::GTF>(4, responses(4, 3, 3)));
  original.addChunk(std::make_shared<velkio::GTF>(9, nullptr));  // a chunk without responses
  const std::string path = (std::filesystem::temp_directory_path() / "velkio_roundtrip.velk").string();
  original.writeFile(path);
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
  VELK copy;
  copy.readFile(path);
  std::filesystem::remove(path);
  expectSameContent(original, copy);
  const auto& list = copy.getChunkList("");
  auto first = std::dynamic_pointer_cast<velkio::GTF>(list[1]);
  auto second = std::dynamic_pointer_cast<velkio::GTF>(list[2]);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->getNSrc(), 4u);
  EXPECT_EQ(*first->getTF(), *responses(4, 3, 3));
  EXPECT_EQ(second->getNSrc(), 9u);
  EXPECT_EQ(second->getTF(), nullptr);
  EXPECT_TRUE(copy.getChunkList("other").empty());
}

// One source of two channels x 5 bins, all zero.
Bytes oneSourceGtf() { return chunk("GTF ", words({1, 1, 2, 5}) + Bytes(80, 0)); }

TEST(VelkFileRoundTrip, UnknownChunksAreSkippedAndReported) {
  VELK file;
  const Bytes bytes = fileOf({fmtChunk(2), chunk("NOTE", {1, 2, 3}), oneSourceGtf()});
  file.readBuffer(bytes.data(), bytes.size(), "x");
  ASSERT_EQ(file.getChunkList("").size(), 2u);
  EXPECT_EQ(file.findFirst<velkio::FMT>()->getFormatId(), 2);
  EXPECT_EQ(file.findFirst<velkio::GTF>()->getNSrc(), 1u);
  ASSERT_EQ(file.getSkippedChunks().size(), 1u);
  EXPECT_EQ(file.getSkippedChunks()[0].id, "NOTE");
  EXPECT_EQ(file.getSkippedChunks()[0].offset, 36u);
}

TEST(VelkFileReader, EveryTruncationIsACleanError) {
  const Bytes bytes = measuredFile().toBytes();
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    VELK file;
    EXPECT_THROW(file.readBuffer(bytes.data(), n, "cut.velk"), FileError) << "cut at " << n;
  }
}

TEST(VelkFileReader, TruncationsWithAMatchingHeaderFailToo) {
  // With the header size patched to the cut length, a cut between chunks is well formed, but what
  // is left is not a table: no chunk, or a format chunk without its responses.
  const Bytes bytes = measuredFile().toBytes();
  for (std::size_t n = 8; n < bytes.size(); ++n) {
    Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    const std::uint32_t rest = static_cast<std::uint32_t>(n - 8);
    std::memcpy(&cut[4], &rest, 4);
    VELK file;
    EXPECT_THROW(file.readBuffer(cut.data(), cut.size(), "cut.velk"), FileError) << "cut at " << n;
  }
  expectReadFails(fileOf({}), "no format chunk");
  expectReadFails(fileOf({fmtChunk(1)}), "format 1 (measured source positions) needs an \"M2PG\" chunk");
}

TEST(VelkFileReader, AbsurdSizesAndCountsAreRefusedBeforeAllocating) {
  const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();
  expectReadFails(Bytes{'V', 'E', 'L', 'K'} + words({huge}), "header declares 4294967295 bytes");
  expectReadFails(fileOf({Bytes{'M', '2', 'P', 'G'} + words({huge})}), "claims 4294967295 bytes");
  expectReadFails(fileOf({chunk("M2PG", words({huge}))}), "direction count 4294967295");
  expectReadFails(fileOf({chunk("M2PG", words({1, huge}))}), "claims 4294967295 positions");
  // Counts whose product overflows 64 bits unless checked by division.
  expectReadFails(fileOf({chunk("GTF ", words({huge, huge, huge, huge}))}), "do not fit");
}

TEST(VelkFileReader, InconsistentContentNamesTheFault) {
  expectReadFails({'V', 'E', 'L'}, "too short");
  expectReadFails({'R', 'I', 'F', 'F', 0, 0, 0, 0}, "not a transfer-function file");
  expectReadFails(fileOf({chunk("fmt ", Bytes(12, 0))}), "format chunk of 12 bytes");
  // GTF with 2 sources but responses for 1 direction of 1 channel x 5 bins.
  Bytes block = words({2, 1, 1, 5}) + Bytes(40, 0);
  expectReadFails(fileOf({fmtChunk(2), chunk("GTF ", block)}), "but 2 sources");
  block[0] = 1;
  Bytes trailing = block;
  trailing.push_back(0);
  expectReadFails(fileOf({fmtChunk(2), chunk("GTF ", trailing)}), "1 unused bytes");
  block[12] = 4;  // 4 bins, but an 8-point transform gives 5
  block.resize(block.size() - 8);
  expectReadFails(fileOf({fmtChunk(2), chunk("GTF ", block)}), "4 bins but the transform length 8 gives 5");
  block[12] = 5;
  block.resize(block.size() + 8);
  std::memcpy(&block[16], "\x00\x00\xc0\x7f", 4);  // NaN
  expectReadFails(fileOf({fmtChunk(2), chunk("GTF ", block)}), "bin 0 of channel 0 of direction 0 is not a finite number (at byte 60)");
  expectReadFails(fileOf({chunk("GTF ", words({1, 1, 0, 5}))}), "0 channels");
}

TEST(VelkFileReader, FailedReadLeavesTheObjectAndRecordsTheError) {
  VELK file = measuredFile();
  EXPECT_THROW(file.readFile("/nonexistent/dir/x.velk"), FileError);
  EXPECT_EQ(file.getChunkList("").size(), 2u);
  EXPECT_EQ(velkio::Error::getInstance().what(), "/nonexistent/dir/x.velk: cannot open: no such file");
  try {
    file.readFile(std::filesystem::temp_directory_path().string());
    FAIL();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos);
  }
}

TEST(VelkFileWriter, RefusesWhatTheReaderWouldReject) {
  auto write = [](std::shared_ptr<velkio::TransferFunctions> tf, int nfft = 8) {
    VELK file;
    file.addChunk(std::make_shared<velkio::FMT>(2, 16000, nfft, 8));
    file.addChunk(std::make_shared<velkio::GTF>(static_cast<unsigned>(tf->size()), tf));
    return file.toBytes();
  };
  auto ragged = responses(2, 2, 5);
  (*ragged)[1].pop_back();
  EXPECT_THROW(write(ragged), FileError);
  auto unequal = responses(2, 2, 5);
  (*unequal)[1][1].pop_back();
  EXPECT_THROW(write(unequal), FileError);
  auto nan = responses(1, 2, 5);
  (*nan)[0][1][3] = {std::nanf(""), 0.0f};
  EXPECT_THROW(write(nan), FileError);
  EXPECT_THROW(write(responses(1, 2, 5), 16), FileError);
  EXPECT_NO_THROW(write(responses(1, 2, 9), 16));
  const std::string path = "/nonexistent/dir/x.velk";
  EXPECT_THROW(measuredFile().writeFile(path), FileError);
}

}  // namespace
