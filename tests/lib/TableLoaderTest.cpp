// The table loader's checks, each failure naming the file, what was wrong and what was expected.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "velk_binaural/TableLoader.h"
#include "velkio/HeadModel.h"

namespace {

using NSVelkBinaural::TableRequest;

class TableLoader : public testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // A head-model table file of the given rate and transform length.
  std::string Table(int fs = 16000, int nfft = 512) {
    velkio::HeadModelOptions options;
    options.fs = fs;
    options.nfft = nfft;
    const std::string path = dir_ + "/head_" + std::to_string(fs) + "_" + std::to_string(nfft) + ".velk";
    velkio::makeHeadModel(options).writeFile(path);
    return path;
  }
  std::string Refusal(const TableRequest& request, int fs = 16000, int nfft = 512) {
    try {
      NSVelkBinaural::LoadInterauralTables(request, fs, nfft);
    } catch (const NSVelkBinaural::TableError& e) {
      return e.what();
    }
    return "(loaded)";
  }
  std::string dir_ = [] {
    const std::string d = (std::filesystem::temp_directory_path() / ("velk-tables-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(d);
    return d;
  }();
};

TEST_F(TableLoader, ATableThatFitsIsLoadedWithItsGrid) {
  const auto tables = NSVelkBinaural::LoadInterauralTables(TableRequest{Table(), 0, 1}, 16000, 512);
  EXPECT_EQ(tables->ndir, 37);
  EXPECT_EQ(tables->dirtick, 5);
  EXPECT_EQ(tables->begindeg, -90);
  ASSERT_EQ(tables->ipd.size(), 37u);
  EXPECT_EQ(tables->ipd[0].size(), 257u);
}

// The channel pair is honoured: swapping the ears mirrors the tables.
TEST_F(TableLoader, TheChannelPairIsHonoured) {
  const std::string path = Table();
  const auto straight = NSVelkBinaural::ReadInterauralTables(TableRequest{path, 0, 1});
  const auto swapped = NSVelkBinaural::ReadInterauralTables(TableRequest{path, 1, 0});
  EXPECT_NEAR(swapped->iid[0].at(100), -straight->iid[0].at(100), 1e-9);
  EXPECT_NE(straight->iid[0].at(100), 0.0);
}

TEST_F(TableLoader, EveryProblemNamesTheFileAndWhatWasExpected) {
  const std::string path = Table();
  const std::string file = "transfer-function file \"" + path + "\": ";
  EXPECT_EQ(Refusal(TableRequest{path, 0, 2}),
            file + "channels 0 and 2: channel number is out of range (the file has 2 channels, 0 .. 1)");
  EXPECT_EQ(Refusal(TableRequest{path, 1, 1}), file + "channels 1 and 1: expected two different channel indices of 0 or more");
  EXPECT_EQ(Refusal(TableRequest{path, -1, 1}),
            file + "channels -1 and 1: expected two different channel indices of 0 or more");
  EXPECT_EQ(Refusal(TableRequest{path, 0, 1}, 44100),
            file + "sampling rate: the tables are for 16000 Hz, expected 44100 Hz (that of the spectra)");
  EXPECT_EQ(Refusal(TableRequest{path, 0, 1}, 16000, 1024),
            file + "transform length: the tables are for a 512-point transform (257 bins), expected 1024 points (513 "
                   "bins, that of the spectra)");

  const std::string missing = dir_ + "/missing.velk";
  EXPECT_EQ(Refusal(TableRequest{missing, 0, 1}).find("transfer-function file \"" + missing + "\": "), 0u);
  const std::string junk = dir_ + "/junk.velk";
  std::ofstream(junk) << "not a transfer-function file";
  EXPECT_EQ(Refusal(TableRequest{junk, 0, 1}).find("transfer-function file \"" + junk + "\": "), 0u);
}

}  // namespace
