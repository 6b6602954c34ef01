#include "ToolSupport.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Commands.h"
#include "SoundFile.h"
#include "fd/Node.h"
#include "fd/Values.h"

namespace velktool {

const char* const kDefaultTablePath = "examples/kemar_front_16k_512.velk";

namespace {

std::string executableDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.find_last_of('/'));
}

bool readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace

std::string defaultTable() {
  const std::string dir = executableDir();
  const std::string table = kDefaultTablePath;
  for (const std::string& candidate : {dir + "/../../" + table, dir + "/../share/velk-binaural/" + table,
                                       std::string(VELK_SOURCE_DIR) + "/" + table})
    if (readable(candidate)) return candidate;
  return std::string(VELK_SOURCE_DIR) + "/" + table;
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

std::string describeHostError(FD::BaseException* e) {
  if (auto* stack = dynamic_cast<FD::ExceptionStack*>(e)) {
    std::string line;
    const auto& entries = stack->entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
      line += (line.empty() ? "" : ": ") + describeHostError(*it);
    return line;
  }
  return e->text();
}

int reportFailures(const std::function<int()>& body) {
  try {
    return body();
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    return fail(describeHostError(e));
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

StdoutDiversion::StdoutDiversion(bool discard, ProgressBar& bar)
    : toStderr_(std::cerr.rdbuf(), bar), saved_(std::cout.rdbuf(discard ? nullptr : &toStderr_)) {}

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

void writeTextFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::out | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      throw std::runtime_error("cannot write " + path);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  }
}

long runWithProgress(FD::Network& network, bool quiet, const std::function<void(long)>& afterFrame) {
  ProgressBar progress(!quiet);
  StdoutDiversion diversion(quiet, progress);
  const long frames = network.run(-1, [&](long done, long total) {
    if (afterFrame) afterFrame(done - 1);
    progress.update(done, total);
  });
  progress.finish();
  return frames;
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

void NetworkParameters::assign(const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) throw std::invalid_argument("--param " + assignment + ": expected NAME=VALUE");
  std::string name = assignment.substr(0, eq);
  const std::string value = assignment.substr(eq + 1);
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    entry(name.substr(0, dot)).builder->set(name.substr(dot + 1), value);
    return;
  }
  bool used = false;
  std::string accepted;
  for (Entry& e : nodes_) {
    for (const FD::ParameterInfo& p : e.info->parameters) {
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
