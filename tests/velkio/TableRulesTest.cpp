// Table validation: what the reader refuses beyond the layout (format, version, rates, the
// format's chunk, two ears, the direction grid), each naming the file, the chunk and the field;
// and a sweep of single-byte corruptions: whatever still reads must load into interaural tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "velk_binaural/HRTF.h"
#include "velkio/VELK.h"

namespace {

using velkio::FileError;
using velkio::VELK;

// Responses of `dirs` directions x `channels` x 9 bins (a 16-point transform), all finite.
velkio::TFPtr responses(std::size_t dirs, std::size_t channels = 2) {
  auto tf = std::make_shared<velkio::TransferFunctions>(dirs, velkio::ChannelResponses(channels, velkio::Bins(9)));
  for (std::size_t d = 0; d < dirs; ++d)
    for (std::size_t c = 0; c < channels; ++c)
      for (std::size_t k = 0; k < 9; ++k) (*tf)[d][c][k] = {1.0f + 0.01f * float(d + k), 0.1f * float(c) - 0.02f * float(k)};
  return tf;
}

velkio::Position at(double deg, double radius = 1.4) {
  const double rad = deg * M_PI / 180.0;
  return {static_cast<float>(radius * std::cos(rad)), static_cast<float>(radius * std::sin(rad)), 0.0f};
}

// A measured table: directions from `firstDeg` every `stepDeg`, on a circle of 1.4 m.
VELK measured(int count, double firstDeg, double stepDeg, int formatId = 1) {
  velkio::PositionList src;
  for (int i = 0; i < count; ++i) src.push_back({at(firstDeg + i * stepDeg)});
  VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(formatId, 16000, 16, 16));
  file.addChunk(std::make_shared<velkio::M2PG>(src, responses(src.size())));
  return file;
}

VELK withPositions(velkio::PositionList src) {
  VELK file;
  file.addChunk(std::make_shared<velkio::FMT>(1, 16000, 16, 16));
  const std::size_t n = src.size();
  file.addChunk(std::make_shared<velkio::M2PG>(std::move(src), responses(n)));
  return file;
}

// The message with which writing, and reading the same content, is refused ("" when accepted).
// The bytes to read are made with the checks of the writer passed by: the format chunk's fields
// are patched into a valid file.
std::string readRefusal(const std::vector<std::uint8_t>& bytes) {
  VELK file;
  try {
    file.readBuffer(bytes.data(), bytes.size(), "table.velk");
  } catch (const FileError& e) {
    return e.what();
  }
  return "";
}

std::string writeRefusal(const VELK& file) {
  try {
    file.toBytes();
  } catch (const FileError& e) {
    return e.what();
  }
  return "";
}

// The fmt body starts at byte 16: major, minor, format id, reserved (u16 each), then rate,
// transform length and response length (u32 each).
std::vector<std::uint8_t> patched(std::vector<std::uint8_t> bytes, std::size_t offset, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

TEST(VelkTableRules, TheFormatChunkMustBeOneThisLibraryReads) {
  const std::vector<std::uint8_t> good = measured(37, -90, 5).toBytes();
  EXPECT_EQ(readRefusal(good), "");
  EXPECT_EQ(readRefusal(patched(good, 16, 169, 2)),
            "table.velk: chunk \"fmt \" at byte 8: version 169.0 is not one this library reads (versions 1.x)");
  EXPECT_EQ(readRefusal(patched(good, 18, 3, 2)), "");  // a later minor version adds fields; 1.3 still reads
  EXPECT_EQ(readRefusal(patched(good, 20, 7, 2)),
            "table.velk: chunk \"fmt \" at byte 8: format id 7 is unknown (1: measured source positions, 2: geometric "
            "model)");
  EXPECT_EQ(readRefusal(patched(good, 24, 0, 4)),
            "table.velk: chunk \"fmt \" at byte 8: sampling rate 0 Hz is not between 1 and 1000000 Hz");
  EXPECT_NE(readRefusal(patched(good, 28, 17, 4)).find("transform length 17 is not an even number from 2 to 1048576"),
            std::string::npos);
  // Format 2 names a chunk the file does not have.
  EXPECT_EQ(readRefusal(patched(good, 20, 2, 2)),
            "table.velk: format 2 (geometric model) needs a \"GTF \" chunk; the file has none");
}

TEST(VelkTableRules, TheResponsesAreForTwoEars) {
  VELK mono;
  mono.addChunk(std::make_shared<velkio::FMT>(2, 16000, 16, 16));
  mono.addChunk(std::make_shared<velkio::GTF>(3, responses(3, 1)));
  EXPECT_EQ(writeRefusal(mono),
            "transfer-function data: chunk 1 (\"GTF \"): the responses have 1 channel; a table for two ears needs at least 2");
  VELK none;
  none.addChunk(std::make_shared<velkio::FMT>(2, 16000, 16, 16));
  none.addChunk(std::make_shared<velkio::GTF>(3, nullptr));
  EXPECT_NE(writeRefusal(none).find("the chunk holds no responses"), std::string::npos);
}

TEST(VelkTableRules, DirectionsLieOnOneCircleOnAWholeDegreeGrid) {
  EXPECT_EQ(writeRefusal(measured(37, -90, 5)), "");
  EXPECT_EQ(writeRefusal(measured(72, -180, 5)), "");      // the full circle
  EXPECT_EQ(writeRefusal(measured(37, 90, -5)), "");       // descending
  EXPECT_EQ(writeRefusal(measured(1, 30, 0)), "");         // one direction
  velkio::PositionList seam{{at(180)}};                    // a full circle listed from +180
  for (int d = -175; d < 180; d += 5) seam.push_back({at(d)});
  EXPECT_EQ(writeRefusal(withPositions(seam)), "");

  auto refusal = [](velkio::PositionList src) { return writeRefusal(withPositions(std::move(src))); };
  const std::string chunk = "transfer-function data: chunk 1 (\"M2PG\"): ";
  EXPECT_EQ(refusal({{at(0)}, {at(5), at(10)}}), chunk + "direction 1 holds 2 positions; a table holds one per direction");
  EXPECT_EQ(refusal({{velkio::Position{0, 0, 1}}, {at(5)}}),
            chunk + "direction 0 lies on the vertical axis (x = y = 0), which has no azimuth");
  EXPECT_EQ(refusal({{at(0, 1.4)}, {at(5, 1.5)}}),
            chunk + "direction 1 lies 1.5 m from the head and direction 0 1.4 m; the positions of a table lie on one "
                    "circle (within 1 %)");
  EXPECT_EQ(refusal({{at(0)}, {at(10)}, {at(22.6)}}),
            chunk + "direction 2 lies at 22.6 degrees, off the grid of 10-degree steps from 0 (expected 20)");
  EXPECT_EQ(refusal({{at(10)}, {at(10.2)}}), chunk + "directions 0 and 1 both lie at 10 degrees: the grid does not advance");
  EXPECT_NE(writeRefusal(measured(73, -180, 5)).find("73 directions 5 degrees apart go round the circle more than once"),
            std::string::npos);  // -180 and +180 both

  VELK eight;
  eight.addChunk(std::make_shared<velkio::FMT>(2, 16000, 16, 16));
  eight.addChunk(std::make_shared<velkio::GTF>(8, responses(8)));
  EXPECT_NE(writeRefusal(eight).find("source count 8 does not spread over -90 .. 90 degrees in whole-degree steps"),
            std::string::npos);
}

// What passes the reader must load: interaural tables of the file's shape on its grid. Before the
// reader checked tables, damaged format fields and positions passed it and then failed inside the
// localiser or the separator with messages that named no file.
TEST(VelkTableRules, EveryCorruptionThatReadsLoads) {
  for (int formatId : {1, 2}) {
    VELK original = measured(37, -90, 5);
    if (formatId == 2) {
      original = VELK();
      original.addChunk(std::make_shared<velkio::FMT>(2, 16000, 16, 16));
      original.addChunk(std::make_shared<velkio::GTF>(37, responses(37)));
    }
    const std::vector<std::uint8_t> bytes = original.toBytes();
    std::mt19937 rng(15);
    int accepted = 0;
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<std::uint8_t> corrupt = bytes;
      const std::size_t pos = std::uniform_int_distribution<std::size_t>(0, corrupt.size() - 1)(rng);
      corrupt[pos] ^= static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng));
      VELK file;
      try {
        file.readBuffer(corrupt.data(), corrupt.size(), "corrupt.velk");
      } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("corrupt.velk: ", 0), 0u) << e.what();
        continue;
      }
      ++accepted;
      boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
      ASSERT_NO_THROW(tables = NSVelkBinaural::HRTFToIIPDS(file, 0, 1)) << "format " << formatId << ", byte " << pos;
      ASSERT_EQ(tables->ndir, 37) << "byte " << pos;
      ASSERT_EQ(tables->ipd.size(), 37u) << "byte " << pos;
      ASSERT_EQ(tables->iid.size(), 37u) << "byte " << pos;
      for (const auto& entry : tables->ipd) ASSERT_EQ(entry.size(), static_cast<std::size_t>(tables->nfft / 2 + 1));
      EXPECT_EQ(tables->dirtick, 5) << "byte " << pos;
      EXPECT_EQ(tables->begindeg, -90) << "byte " << pos;
    }
    EXPECT_GT(accepted, 100) << "most corruptions hit response values, which any float may hold";
  }
}

}  // namespace
