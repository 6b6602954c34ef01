// Pieces shared by the commands that build a network in code and run it over a recording
// (`localize`, `separate`): where the example table lives, the checks of the input recording,
// keeping standard output for the command's own report, scratch files, running with a progress
// bar, one-line error reports, and `--param NAME=VALUE` for networks of several plug-in nodes.
#pragma once

#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "LocalizeDefaults.h"
#include "ProgressBar.h"
#include "fd/Exception.h"
#include "fd/Network.h"
#include "fd/NodeInfo.h"
#include "fd/ParameterSet.h"

namespace velktool {

// The committed example table (KEMAR head, front half-plane, 16 kHz, 512 points), relative to
// the source tree.
extern const char* const kDefaultTablePath;

// Where the example table is: next to the tool's build tree first (build/bin/../../examples),
// then where an installation keeps it, then in the source tree the tool was built from.
std::string defaultTable();

// A clear reason why `path` cannot be processed by `command`, or "" when it can: unreadable,
// not two channels (channel 0 the left ear), or not at `samplingRate` (with a sox line that
// converts it).
std::string recordingProblem(const std::string& path, int samplingRate, const std::string& command);

// A host exception as one line: chained explanations from the outermost to the innermost,
// joined by ": ".
std::string describeHostError(FD::BaseException* e);

// Runs `body` and turns what it throws (host exceptions, which it deletes, and standard ones)
// into a one-line error on standard error and exit status 1.
int reportFailures(const std::function<int()>& body);

// While it lives, what the library writes to standard output (log lines, announcements) goes to
// standard error, clearing the progress bar's line first, or nowhere when `discard` is set; so
// standard output carries only the command's own report.
class StdoutDiversion {
 public:
  StdoutDiversion(bool discard, ProgressBar& bar);
  ~StdoutDiversion();
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  LineClearingBuffer toStderr_;
  std::streambuf* saved_;
};

// A temporary file, removed with the object.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& stem = "velk");
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A temporary folder, removed with everything in it with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& stem = "velk");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes `text` to `path` through a temporary file next to it that is renamed into place, so that
// a failed write leaves no half-written file. Throws std::runtime_error naming the path.
void writeTextFile(const std::string& path, const std::string& text);

// Runs the network to the end of its input with a progress bar (unless `quiet`) and the library's
// standard output diverted; `afterFrame(count)` is called once frame `count` is done. Returns the
// number of frames.
long runWithProgress(FD::Network& network, bool quiet, const std::function<void(long)>& afterFrame = {});

// The parameters of the plug-in nodes of a network, each typed by its node's description, and
// `--param` assignments routed to them: "NODE.NAME=VALUE" sets NAME of node type NODE only;
// "NAME=VALUE" sets NAME of every node that has such a parameter. An assignment that fits no
// node, or names a node type that is not in the network, is refused with a message that lists
// what is accepted.
class NetworkParameters {
 public:
  // Adds a node type; its parameters start empty. Throws std::invalid_argument when the type is
  // not registered or publishes no description.
  void addNode(const std::string& nodeType);
  // Sets a parameter of one node type from text.
  void set(const std::string& nodeType, const std::string& name, const std::string& value);
  void assign(const std::string& assignment);
  const FD::ParameterSet& of(const std::string& nodeType) const;
  const FD::NodeInfo& infoOf(const std::string& nodeType) const;

 private:
  struct Entry {
    std::string type;
    const FD::NodeInfo* info;
    std::unique_ptr<NodeParameterBuilder> builder;
  };
  Entry& entry(const std::string& nodeType);
  const Entry& entry(const std::string& nodeType) const;
  std::vector<Entry> nodes_;
};

// Parameter values for hand-built networks.
FD::ObjectRef textValue(const std::string& s);
FD::ObjectRef intValue(int v);
FD::ObjectRef floatValue(float v);
int intParameter(const FD::ParameterSet& params, const std::string& name);

}  // namespace velktool
