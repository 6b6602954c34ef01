#include "velkfileio/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fileio {

namespace {

// ---- the inputs being read --------------------------------------------------------------------

struct Registry {
  std::mutex lock;
  std::vector<std::pair<FileId, std::string>> inputs;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

std::string registeredName(const FileId& id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const auto& [input, name] : r.inputs)
    if (input == id) return name;
  return "";
}

// ---- destinations -------------------------------------------------------------------------------

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
  throw std::runtime_error("cannot write " + path + ": " + reason);
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// What a non-regular file is, for refusals.
std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Creates an empty file beside `target` that no one else uses, with `mode` when given (else
// what a new file gets under the process's umask). Returns its path.
std::string createTemporary(const std::string& path, const std::string& target, std::optional<mode_t> mode) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = folderOf(target) + "/." + nameOf(target) + "." + std::to_string(getpid()) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = stem + std::to_string(counter++) + ".tmp";
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      refuse(path, "cannot create a file in " + folderOf(target) + ": " + std::strerror(errno));
    }
    const bool moded = !mode || fchmod(fd, *mode) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!moded) {
      unlink(candidate.c_str());
      refuse(path, std::string("cannot set the mode of its new file: ") + std::strerror(savedErrno));
    }
    return candidate;
  }
  refuse(path, "cannot find a free name for its new file in " + folderOf(target));
}

}  // namespace

std::optional<FileId> fileId(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

bool sameFile(const std::string& a, const std::string& b) {
  const std::optional<FileId> ida = fileId(a), idb = fileId(b);
  return ida && idb && *ida == *idb;
}

InputFile::InputFile(const std::string& path) : id_(fileId(path)) {
  if (!id_) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.inputs.emplace_back(*id_, path);
}

InputFile::~InputFile() {
  if (!id_) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (auto it = r.inputs.begin(); it != r.inputs.end(); ++it)
    if (it->first == *id_) {
      r.inputs.erase(it);
      break;
    }
}

std::string inputNamed(const std::string& path) {
  const std::optional<FileId> id = fileId(path);
  return id ? registeredName(*id) : "";
}

Destination destinationOf(const std::string& path) {
  if (path.empty()) throw std::runtime_error("cannot write a file without a name");
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) refuse(path, std::strerror(errno));
    return Destination{path, false, std::nullopt};
  }
  Destination destination{path, false, std::nullopt};
  if (S_ISLNK(st.st_mode)) {
    // Replace what the link points to and keep the link.
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
      refuse(path, "it is a symbolic link to nothing that can be written (" + std::string(std::strerror(errno)) + ")");
    destination.target = resolved;
    std::free(resolved);
    if (stat(destination.target.c_str(), &st) != 0) refuse(path, std::strerror(errno));
  }
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
    destination.direct = true;
    return destination;
  }
  if (!S_ISREG(st.st_mode)) refuse(path, "it is " + kindOf(st.st_mode));
  const std::string input = registeredName(FileId{st.st_dev, st.st_ino});
  if (!input.empty()) refuse(path, "it is the input " + input + " (the same file), which would be lost");
  destination.mode = st.st_mode & 07777;
  return destination;
}

std::string outputProblem(const std::string& path) {
  try {
    destinationOf(path);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  const Destination destination = destinationOf(path_);
  target_ = destination.target;
  direct_ = destination.direct;
  writePath_ = direct_ ? target_ : createTemporary(path_, target_, destination.mode);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::commit() {
  if (committed_ || direct_) {
    committed_ = true;
    return;
  }
  if (writePath_.empty()) throw std::runtime_error("cannot write " + path_ + ": its new content was discarded");
  const std::string input = inputNamed(target_);
  if (!input.empty()) {
    discard();
    refuse(path_, "it is the input " + input + " (the same file), which would be lost");
  }
  if (rename(writePath_.c_str(), target_.c_str()) != 0) {
    const int savedErrno = errno;
    discard();
    refuse(path_, std::string("cannot move the new file into place: ") + std::strerror(savedErrno));
  }
  committed_ = true;
}

void OutputFile::discard() {
  if (committed_ || direct_ || writePath_.empty()) return;
  unlink(writePath_.c_str());
  writePath_.clear();
}

}  // namespace fileio
