#include "ToolSupport.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include "Commands.h"
#include "Outputs.h"
#include "SoundFile.h"
#include "fd/Node.h"
#include "fd/StopRequest.h"
#include "fd/Values.h"

namespace velktool {

namespace {

const char* const kDefaultTableName = "kemar_front_16k_512.velk";

std::string executableDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.find_last_of('/'));
}

// Whether this program is the one of the build tree it was built in (not an installed copy).
bool inBuildTree(const std::string& executableDir) {
  std::error_code error;
  return std::filesystem::equivalent(executableDir, VELK_BUILD_BIN_DIR, error);
}

}  // namespace

std::string defaultTable() {
  const std::string dir = executableDir();
  if (inBuildTree(dir)) return std::string(VELK_SOURCE_DIR) + "/examples/" + kDefaultTableName;
  return (std::filesystem::path(dir) / VELK_DATA_DIR_FROM_BINDIR / kDefaultTableName).lexically_normal().string();
}

std::string recordingProblem(const std::string& path, int samplingRate, const std::string& command) {
  SoundInfo info;
  try {
    info = probeSound(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  if (info.channels != 2)
    return path + " has " + std::to_string(info.channels) + " channel" + (info.channels == 1 ? "" : "s") + "; " +
           command + " needs a 2-channel recording (channel 0 = left ear, channel 1 = right ear)";
  if (info.sampleRate != samplingRate)
    return path + " is sampled at " + std::to_string(info.sampleRate) + " Hz; " + command + " works at " +
           std::to_string(samplingRate) + " Hz. Convert it first, e.g.: sox " + path + " -r " +
           std::to_string(samplingRate) + " converted.wav";
  return "";
}

void GivenOptions::record(const CLI::App& command) {
  for (const CLI::Option* option : command.get_options())
    if (option->count() > 0) names_.push_back(option->get_name());
}

bool GivenOptions::has(const std::string& option) const {
  return std::find(names_.begin(), names_.end(), option) != names_.end();
}

void addDiagnosticOptions(CLI::App& command, Diagnostics& diagnostics) {
  command.add_flag("--quiet,-q", diagnostics.quiet, "no progress bar (warnings and errors are still shown)");
  command.add_flag("--verbose,-v", diagnostics.verbose,
                   "say more: the localiser's announcements and information lines (on standard error with localize "
                   "and separate) and, for an error, where in the source it was raised");
  command.add_flag("--strict", diagnostics.strict,
                   "treat warnings about the input (a file shorter than its header says, samples that are not numbers) "
                   "as errors");
}

InputWarnings::InputWarnings(bool strict)
    : previous_(FD::setWarningHandler([strict](const std::string& message) {
        if (strict) throw std::runtime_error(message + " (an error with --strict)");
        // Starts a clean line in case a progress bar is drawn on it.
        std::cerr << (isatty(STDERR_FILENO) ? "\r\033[K" : "") << "velk-binaural: warning: " << message << std::endl;
      })) {}

InputWarnings::~InputWarnings() { FD::setWarningHandler(previous_); }

std::string describeHostError(FD::BaseException* e, bool withSource) {
  if (auto* stack = dynamic_cast<FD::ExceptionStack*>(e)) {
    std::string line;
    const auto& entries = stack->entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
      line += (line.empty() ? "" : ": ") + describeHostError(*it, withSource);
    return line;
  }
  const std::string source = withSource ? e->source() : "";
  return e->text() + (source.empty() ? "" : " (at " + source + ")");
}

int reportFailures(const std::function<int()>& body, bool withSource) {
  try {
    return body();
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    return fail(describeHostError(e, withSource));
  } catch (const UsageError& e) {
    fail(e.what());
    return 2;
  } catch (const Interrupted& e) {
    fail(e.what());
    return 130;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The first line of a library log entry: "2024/5/1 9:07:30 file function" (fields not padded).
bool isLogHeader(const std::string& line) {
  static const std::regex header("[0-9]{4}/[0-9]{1,2}/[0-9]{1,2} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2} .*\n?");
  return std::regex_match(line, header);
}

// The level of a log entry's second line ("WARNING: ..."), or "" when it is not one.
std::string logLevel(const std::string& line) {
  for (const char* level : {"FINEST", "FINER", "FINE", "CONFIG", "INFO", "WARNING", "SEVERE"})
    if (startsWith(line, level) && line.compare(std::strlen(level), 2, ": ") == 0) return level;
  return "";
}

}  // namespace

StdoutDiversion::Filter::~Filter() {
  emit(held_ + line_);
  target_->pubsync();
}

int StdoutDiversion::Filter::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  line_ += static_cast<char>(c);
  if (c == '\n') {
    take(line_);
    line_.clear();
  }
  return c;
}

void StdoutDiversion::Filter::take(const std::string& line) {
  if (!held_.empty()) {
    const std::string level = logLevel(line);
    const std::string entry = held_ + line;
    held_.clear();
    if (!level.empty()) {
      if (verbose_ || level == "WARNING" || level == "SEVERE") emit(entry);
      return;
    }
    emit(entry.substr(0, entry.size() - line.size()));
  }
  if (isLogHeader(line)) {
    held_ = line;
    return;
  }
  if (!verbose_ && startsWith(line, "SOURCE ID ")) return;
  emit(line);
}

void StdoutDiversion::Filter::emit(const std::string& text) {
  if (text.empty()) return;
  bar_.clearLine();
  target_->sputn(text.data(), static_cast<std::streamsize>(text.size()));
}

StdoutDiversion::StdoutDiversion(bool verbose, ProgressBar& bar)
    : filter_(std::cerr.rdbuf(), bar, verbose), saved_(std::cout.rdbuf(&filter_)) {}

StdoutDiversion::~StdoutDiversion() {
  std::cout.flush();
  std::cout.rdbuf(saved_);
  std::cout.clear();
}

ScratchFile::ScratchFile(const std::string& stem) {
  std::string pattern = "/tmp/" + stem + "-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file in /tmp");
  close(fd);
  path_ = pattern;
}

ScratchFile::~ScratchFile() { std::remove(path_.c_str()); }

ScratchFolder::ScratchFolder(const std::string& stem) {
  std::string pattern = "/tmp/" + stem + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder in /tmp");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void writeTextFile(const std::string& path, const std::string& text) { StagedText(path, text).commit(); }

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM};
constexpr size_t kStopSignalCount = 2;  // saved_ holds their handlers, then SIGPIPE's

void onStopSignal(int) { FD::requestStop(); }

// Nested guards leave the handlers, and a stop requested meanwhile, to the outermost one.
int gStopGuards = 0;

}  // namespace

StopOnSignals::StopOnSignals() {
  if (gStopGuards++ > 0) return;
  FD::clearStop();
  FD::stopDescriptor();  // made before a handler may need it
  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  sigemptyset(&stop.sa_mask);
  // The first signal asks for a stop; the second one ends the process. Reads and writes of
  // pipes go on after it: the stream readers wait for the stop itself (FD::stopDescriptor).
  stop.sa_flags = SA_RESETHAND | SA_RESTART;
  for (size_t i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &stop, &saved_[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &saved_[kStopSignalCount]);
}

StopOnSignals::~StopOnSignals() {
  if (--gStopGuards > 0) return;
  for (size_t i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &saved_[i], nullptr);
  sigaction(SIGPIPE, &saved_[kStopSignalCount], nullptr);
}

long runWithProgress(FD::Network& network, const Diagnostics& diagnostics, const std::function<void(long)>& afterFrame) {
  StopOnSignals signals;
  // A network whose length is known before it runs reads recordings only: nothing there ends on a
  // stop, so a stop abandons the run.
  const bool recordingsOnly = network.length() >= 0;
  ProgressBar progress(!diagnostics.quiet);
  StdoutDiversion diversion(diagnostics.verbose, progress);
  const long frames = network.runUncommitted(-1, [&](long done, long total) {
    if (afterFrame) afterFrame(done - 1);
    if (recordingsOnly && FD::stopRequested()) throw Interrupted();
    progress.update(done, total);
  });
  progress.finish();
  return frames;
}

velkparam::Value declaredDefault(const std::string& nodeType, const std::string& name) {
  const FD::_NodeFactory* factory = FD::Node::getFactory(nodeType);
  const velkparam::Declaration* decl = factory && factory->info() ? velkparam::Find(factory->info()->parameters, name) : nullptr;
  if (!decl) throw std::logic_error("the loaded plug-ins do not declare " + nodeType + "." + name);
  return decl->defaultValue;
}

void NetworkParameters::addNode(const std::string& nodeType) {
  const FD::_NodeFactory* factory = FD::Node::getFactory(nodeType);
  if (!factory || !factory->info())
    throw std::invalid_argument("the loaded plug-ins do not provide the node type " + nodeType);
  nodes_.push_back(Entry{nodeType, factory->info(), std::make_unique<NodeParameterBuilder>(nodeType, *factory->info())});
}

NetworkParameters::Entry& NetworkParameters::entry(const std::string& nodeType) {
  for (Entry& e : nodes_)
    if (e.type == nodeType) return e;
  std::string types;
  for (const Entry& e : nodes_) types += (types.empty() ? "" : ", ") + e.type;
  throw std::invalid_argument("no node of type " + nodeType + " in this network; its node types are " + types);
}

const NetworkParameters::Entry& NetworkParameters::entry(const std::string& nodeType) const {
  return const_cast<NetworkParameters*>(this)->entry(nodeType);
}

void NetworkParameters::set(const std::string& nodeType, const std::string& name, const std::string& value) {
  entry(nodeType).builder->set(name, value);
}

void NetworkParameters::claim(const std::string& name, const std::string& option) { claimed_.emplace_back(name, option); }

void NetworkParameters::assign(const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError("--param " + assignment + ": expected NAME=VALUE");
  std::string name = assignment.substr(0, eq);
  const std::string value = assignment.substr(eq + 1);
  const size_t dot = name.find('.');
  const std::string parameter = dot == std::string::npos ? name : name.substr(dot + 1);
  for (const auto& [claimed, option] : claimed_)
    if (claimed == parameter)
      throw UsageError("--param " + assignment + " contradicts " + option + ", which sets " + parameter +
                       "; give one of them");
  if (dot != std::string::npos) {
    entry(name.substr(0, dot)).builder->set(name.substr(dot + 1), value);
    return;
  }
  bool used = false;
  std::string accepted;
  for (Entry& e : nodes_) {
    for (const velkparam::Declaration& p : e.info->parameters) {
      accepted += (accepted.empty() ? "" : ", ") + e.type + "." + p.name;
      if (p.name == name) {
        e.builder->set(name, value);
        used = true;
      }
    }
  }
  if (!used)
    throw std::invalid_argument("--param " + assignment + ": no node of this network has a parameter " + name +
                                "; the parameters are " + accepted);
}

const FD::ParameterSet& NetworkParameters::of(const std::string& nodeType) const {
  return entry(nodeType).builder->parameters();
}

const FD::NodeInfo& NetworkParameters::infoOf(const std::string& nodeType) const { return *entry(nodeType).info; }

FD::ObjectRef textValue(const std::string& s) { return FD::ObjectRef(new FD::String(s)); }
FD::ObjectRef intValue(int v) { return FD::ObjectRef(new FD::Int(v)); }
FD::ObjectRef floatValue(float v) { return FD::ObjectRef(new FD::Float(v)); }

int intParameter(const FD::ParameterSet& params, const std::string& name) {
  return FD::object_cast<FD::Int>(params.get(name)).val();
}

}  // namespace velktool
