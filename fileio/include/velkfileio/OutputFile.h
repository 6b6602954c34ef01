// Output files that never destroy an input and never leave a half-written file behind.
//
// A destination that is a new path or a regular file (also when reached through a symbolic link)
// is written as a temporary file beside it, in the same folder, and moved into place by commit()
// in one rename: until then the old file is untouched, and an output that is never committed is
// removed. A character device or a FIFO (/dev/null, a pipe) cannot be replaced that way and is
// written directly. Anything else (a folder, a block device, a socket, a link to nothing) is
// refused. So is a destination that is the same file (device and inode) as a file this process is
// reading as input (see InputFile).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "velkfileio/Export.h"

namespace fileio {

// What makes a file the same file whatever name it is reached by.
struct FILEIO_API FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};

// The identity of the file at `path`, following symbolic links; none when nothing is there.
FILEIO_API std::optional<FileId> fileId(const std::string& path);
// Whether both paths name one existing file (compared by device and inode, not by name).
FILEIO_API bool sameFile(const std::string& a, const std::string& b);

// While it lives, the file at `path` counts as an input of this process: an OutputFile refuses to
// replace it. Registering a path that does not exist does nothing.
class FILEIO_API InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

 private:
  std::optional<FileId> id_;
};

// The name of a registered input that is the file at `path`, or "" when there is none.
FILEIO_API std::string inputNamed(const std::string& path);

// How a destination is written: `target` is the file that takes the new content (the file a
// symbolic link points to, else the path itself), written directly or replaced by a temporary
// file that gets `mode` (none: what a new file gets under the umask).
struct FILEIO_API Destination {
  std::string target;
  bool direct = false;
  std::optional<mode_t> mode;
};

// How `path` would be written; throws std::runtime_error "cannot write PATH: REASON" when it
// would be refused.
FILEIO_API Destination destinationOf(const std::string& path);
// The reason `path` would be refused as an output ("cannot write PATH: REASON"), or "" when it
// would not: to refuse an output before any work is done.
FILEIO_API std::string outputProblem(const std::string& path);

class FILEIO_API OutputFile {
 public:
  // Decides how `path` is written and, for a replaceable destination, creates the temporary file
  // (empty, with the mode the destination has or a new file would get). Throws
  // std::runtime_error "cannot write PATH: REASON" when the destination is refused.
  explicit OutputFile(std::string path);
  // Removes the temporary file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The destination as given.
  const std::string& path() const { return path_; }
  // Where the content is to be written now: the temporary file, or the destination itself when it
  // is written directly.
  const std::string& writePath() const { return writePath_; }
  // Whether the destination is written directly (a device or a FIFO).
  bool direct() const { return direct_; }
  bool committed() const { return committed_; }

  // Moves the temporary file into place. Does nothing for a direct destination or a second time.
  // Throws std::runtime_error naming the destination when the rename fails or the destination
  // has meanwhile become an input of this process (the temporary file is then removed).
  void commit();
  // Removes the temporary file now (what the destructor would do).
  void discard();

 private:
  std::string path_, target_, writePath_;
  bool direct_ = false, committed_ = false;
};

}  // namespace fileio
