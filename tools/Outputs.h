// The command's own outputs: what it writes is staged beside each destination and moved into
// place only when the whole run succeeded; a folder the run made is removed again when it fails;
// and no output may be an input of the run.
#pragma once

#include <string>
#include <vector>

#include "velkfileio/OutputFile.h"

namespace velktool {

// A file named on the command line, for messages: the option ("--json") and the path.
struct NamedFile {
  std::string option, path;
};

// Throws UsageError when an output is the same file (device and inode) as an input, naming both:
// "--json x.wav is the same file as the input recording x.wav, which writing it would destroy;
// choose another file for --json".
void refuseInputsAsOutputs(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs);

// Throws std::runtime_error when an output could not be written (a folder, a link to nothing,
// ...), before any work is done.
void refuseUnwritable(const std::vector<NamedFile>& outputs);

// Text staged beside its destination as soon as it is complete; commit() moves it into place,
// and destruction without commit() removes it.
class StagedText {
 public:
  // Throws std::runtime_error naming `path` when the destination is refused or writing fails.
  StagedText(const std::string& path, const std::string& content);
  void commit() { file_.commit(); }

 private:
  fileio::OutputFile file_;
};

// Makes a folder (and any missing parents) and, unless keep() is called, removes again the
// folders it made once they are empty: a failed run leaves no empty output folder behind.
class CreatedFolder {
 public:
  // Throws std::runtime_error naming the folder when it cannot be made or is not a folder.
  explicit CreatedFolder(const std::string& path);
  ~CreatedFolder();
  CreatedFolder(const CreatedFolder&) = delete;
  CreatedFolder& operator=(const CreatedFolder&) = delete;
  void keep() { made_.clear(); }

 private:
  std::vector<std::string> made_;  // innermost last
};

}  // namespace velktool
