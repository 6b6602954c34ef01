// Pieces shared by the commands that build a network in code and run it over a recording
// (`localize`, `separate`): where the example table lives, the checks of the input recording,
// usage errors, warnings and how much to say, keeping standard output for the command's own
// report, scratch files, running with a progress bar, one-line error reports, and
// `--param NAME=VALUE` for networks of several plug-in nodes.
#pragma once

#include <signal.h>

#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "NodeParameterBuilder.h"
#include "ProgressBar.h"
#include "fd/Exception.h"
#include "fd/Network.h"
#include "fd/NodeInfo.h"
#include "fd/ParameterSet.h"
#include "fd/Warning.h"

namespace velktool {

// The example table of the KEMAR head (front half-plane, 16 kHz, 512 points): in the installed
// data folder (<prefix>/share/velk-binaural) of an installed tool, in the source tree's examples/
// for the tool of a build tree.
std::string defaultTable();

// A clear reason why `path` cannot be processed by `command`, or "" when it can: unreadable,
// not two channels (channel 0 the left ear), or not at `samplingRate` (with a sox line that
// converts it).
std::string recordingProblem(const std::string& path, int samplingRate, const std::string& command);

// A mistake in the command line found after parsing (options that contradict each other, an
// output that is an input): reported like a parse error, with exit status 2.
struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The options given on a command line (by name), for checks that depend on whether the user set
// something or left it at its default.
class GivenOptions {
 public:
  void record(const CLI::App& command);
  bool has(const std::string& option) const;

 private:
  std::vector<std::string> names_;
};

// How much a command says on standard error besides errors: --quiet drops the progress bar,
// --verbose adds the localiser's announcements ("SOURCE ID n DIR d"), the library's information
// lines and, for errors, where in the source they were raised; warnings about the input are
// always shown, and --strict makes them errors.
struct Diagnostics {
  bool quiet = false, verbose = false, strict = false;
};
void addDiagnosticOptions(CLI::App& command, Diagnostics& diagnostics);

// While it lives, warnings about the input (FD::warn) are printed as "velk-binaural: warning:
// ..." on standard error, or, with `strict`, thrown as errors that stop the run.
class InputWarnings {
 public:
  explicit InputWarnings(bool strict);
  ~InputWarnings();
  InputWarnings(const InputWarnings&) = delete;
  InputWarnings& operator=(const InputWarnings&) = delete;

 private:
  FD::WarningHandler previous_;
};

// A host exception as one line: chained explanations from the outermost to the innermost,
// joined by ": "; with `withSource`, each followed by where in the program's source it was raised.
std::string describeHostError(FD::BaseException* e, bool withSource = false);

// Runs `body` and turns what it throws (host exceptions, which it deletes, and standard ones)
// into a one-line error on standard error and exit status 1 (2 for a UsageError).
int reportFailures(const std::function<int()>& body, bool withSource = false);

// While it lives, what the library writes to standard output goes to standard error (clearing
// the progress bar's line first), so that standard output carries only the command's own report.
// Unless `verbose`, only the library's warnings and errors pass: its announcements ("SOURCE ID n
// DIR d") and log entries below WARNING are dropped.
class StdoutDiversion {
 public:
  StdoutDiversion(bool verbose, ProgressBar& bar);
  ~StdoutDiversion();
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  // Passes whole lines on, holding a log entry's first line until its level is known.
  class Filter : public std::streambuf {
   public:
    Filter(std::streambuf* target, ProgressBar& bar, bool verbose) : target_(target), bar_(bar), verbose_(verbose) {}
    ~Filter() override;

   protected:
    int overflow(int c) override;

   private:
    void take(const std::string& line);
    void emit(const std::string& text);
    std::streambuf* target_;
    ProgressBar& bar_;
    bool verbose_;
    std::string line_, held_;
  };
  Filter filter_;
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

// Writes `text` to `path` through a temporary file beside it that takes its place once complete
// (fileio::OutputFile: a device or FIFO is written directly, a folder refused), so that a failed
// write leaves no half-written file. Throws std::runtime_error naming the path.
void writeTextFile(const std::string& path, const std::string& text);

// A run over recordings stopped by Ctrl-C (SIGINT) or SIGTERM: nothing it was writing takes the
// place of its destination. reportFailures() gives exit status 130 for it.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted; no output was written") {}
};

// While it lives, SIGINT and SIGTERM request a stop (FD::requestStop) instead of ending the
// process: a stream or a device then ends where it is, and the run finishes its outputs as at the
// end of a recording. A second signal ends the process as usual. SIGPIPE is ignored, so that a
// reader of standard output that goes away makes a write fail (and the run with it, leaving no
// half-written file) instead of killing the process. Guards may nest: the outermost one sets the
// handlers up and takes them down.
class StopOnSignals {
 public:
  StopOnSignals();
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  struct sigaction saved_[3];  // SIGINT, SIGTERM, SIGPIPE
};

// Runs the network to the end of its input with a progress bar (unless quiet) and the library's
// standard output diverted; `afterFrame(count)` is called once frame `count` is done. A stream or
// a device is processed as its sound arrives; Ctrl-C ends it there and the run completes, while a
// run over recordings only is abandoned (Interrupted). The network's files are left uncommitted:
// the caller commits them (FD::Network::commit) with its own outputs once everything is ready.
// Returns the number of frames.
long runWithProgress(FD::Network& network, const Diagnostics& diagnostics,
                     const std::function<void(long)>& afterFrame = {});

// The declared default of parameter `name` of a registered node type.
velkparam::Value declaredDefault(const std::string& nodeType, const std::string& name);

// The parameters of the plug-in nodes of a network, each typed by its node's description, and
// `--param` assignments routed to them: "NODE.NAME=VALUE" sets NAME of node type NODE only;
// "NAME=VALUE" sets NAME of every node that has such a parameter. An assignment that fits no
// node, or names a node type that is not in the network, is refused with a message that lists
// what is accepted.
class NetworkParameters {
 public:
  // Adds a node type; its required parameters start at their declared defaults. Throws
  // std::invalid_argument when the type is not registered or publishes no description.
  void addNode(const std::string& nodeType);
  // Sets a parameter of one node type from text.
  void set(const std::string& nodeType, const std::string& name, const std::string& value);
  // Marks parameter `name` (of every node) as set by the command's option `option`, given on the
  // command line: an assignment to it is then refused (UsageError) instead of silently winning.
  void claim(const std::string& name, const std::string& option);
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
  std::vector<std::pair<std::string, std::string>> claimed_;  // parameter, option
};

// Parameter values for hand-built networks.
FD::ObjectRef textValue(const std::string& s);
FD::ObjectRef intValue(int v);
FD::ObjectRef floatValue(float v);
int intParameter(const FD::ParameterSet& params, const std::string& name);

}  // namespace velktool
