// Destination safety: an output is written beside its destination and takes its place only when
// committed; devices and FIFOs are written through; folders, dangling links and the files being
// read as input are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "velkfileio/OutputFile.h"

namespace hostio {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const fileio::OutputFile& out, const std::string& text) {
  std::ofstream(out.writePath()) << text;
}

long entries(const std::string& dir) { return std::distance(fs::directory_iterator(dir), {}); }

std::string refusal(const std::string& path) {
  try {
    fileio::OutputFile out(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(OutputFile, ReplacesAFileOnlyWhenCommittedAndKeepsItsMode) {
  TempDir dir;
  const std::string path = dir.file("out.txt");
  writeText(path, "old");
  chmod(path.c_str(), 0640);
  {
    fileio::OutputFile out(path);
    EXPECT_NE(out.writePath(), path);
    EXPECT_EQ(fs::path(out.writePath()).parent_path(), fs::path(path).parent_path()) << "beside the destination";
    put(out, "new");
    EXPECT_EQ(slurp(path), "old") << "untouched before the commit";
    out.commit();
    EXPECT_NO_THROW(out.commit()) << "a second commit does nothing";
  }
  EXPECT_EQ(slurp(path), "new");
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  {
    fileio::OutputFile out(path);
    put(out, "lost");
  }
  EXPECT_EQ(slurp(path), "new") << "an output never committed changes nothing";
  EXPECT_EQ(entries(dir.path()), 1) << "and leaves no temporary file";
  {
    fileio::OutputFile out(dir.file("fresh.txt"));
    put(out, "x");
    out.discard();
    EXPECT_FALSE(fs::exists(dir.file("fresh.txt")));
    EXPECT_THROW(out.commit(), std::runtime_error) << "discarded content cannot be committed";
  }
}

TEST(OutputFile, ASymbolicLinkHasItsTargetReplacedAndStays) {
  TempDir dir;
  writeText(dir.file("target.txt"), "old");
  fs::create_symlink(dir.file("target.txt"), dir.file("link.txt"));
  fileio::OutputFile out(dir.file("link.txt"));
  put(out, "new");
  out.commit();
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(slurp(dir.file("target.txt")), "new");

  fs::create_symlink(dir.file("nothing.txt"), dir.file("dangling.txt"));
  EXPECT_NE(refusal(dir.file("dangling.txt")).find("symbolic link to nothing"), std::string::npos);
}

TEST(OutputFile, DevicesAndFifosAreWrittenThrough) {
  TempDir dir;
  {
    fileio::OutputFile out("/dev/null");
    EXPECT_TRUE(out.direct());
    EXPECT_EQ(out.writePath(), "/dev/null");
    put(out, "gone");
    out.commit();
  }
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is still a device";

  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = slurp(fifo); });
  {
    fileio::OutputFile out(fifo);
    EXPECT_TRUE(out.direct());
    put(out, "through");
    out.commit();
  }
  reader.join();
  EXPECT_EQ(received, "through");
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still a FIFO";
}

TEST(OutputFile, RefusesFoldersMissingFoldersAndInputs) {
  TempDir dir;
  EXPECT_EQ(refusal(dir.path()), "cannot write " + dir.path() + ": it is a folder");
  EXPECT_NE(refusal(dir.file("no/such/out.txt")).find("cannot create a file in " + dir.file("no/such")),
            std::string::npos);
  EXPECT_EQ(refusal(""), "cannot write a file without a name");
  EXPECT_EQ(fileio::outputProblem(dir.path()), "cannot write " + dir.path() + ": it is a folder");
  EXPECT_EQ(fileio::outputProblem(dir.file("new.txt")), "");

  const std::string input = dir.file("in.wav");
  writeText(input, "recording");
  fs::create_symlink(input, dir.file("alias.wav"));
  {
    fileio::InputFile reading(input);
    EXPECT_EQ(fileio::inputNamed(dir.file("alias.wav")), input) << "found by identity, not by name";
    EXPECT_EQ(refusal(dir.file("alias.wav")),
              "cannot write " + dir.file("alias.wav") + ": it is the input " + input + " (the same file), which would be lost");
  }
  EXPECT_EQ(fileio::inputNamed(input), "") << "an input no longer read may be replaced";
  // An output made before its input was opened is refused when it would take the input's place.
  fileio::OutputFile out(input);
  put(out, "separated");
  {
    fileio::InputFile reading(input);
    EXPECT_THROW(out.commit(), std::runtime_error);
  }
  EXPECT_EQ(slurp(input), "recording");
  EXPECT_EQ(entries(dir.path()), 2) << "the refused content is removed";
}

TEST(OutputFile, SameFileComparesIdentityNotNames) {
  TempDir dir;
  writeText(dir.file("a"), "x");
  writeText(dir.file("b"), "x");
  fs::create_hard_link(dir.file("a"), dir.file("hard"));
  EXPECT_TRUE(fileio::sameFile(dir.file("a"), dir.path() + "/./a"));
  EXPECT_TRUE(fileio::sameFile(dir.file("a"), dir.file("hard")));
  EXPECT_FALSE(fileio::sameFile(dir.file("a"), dir.file("b")));
  EXPECT_FALSE(fileio::sameFile(dir.file("missing"), dir.file("missing")));
}

}  // namespace
}  // namespace hostio
