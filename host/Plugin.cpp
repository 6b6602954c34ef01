#include "fd/Plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "fd/Exception.h"

namespace FD {

namespace {
std::vector<std::string>& directories() {
  static std::vector<std::string> dirs = [] {
    std::vector<std::string> d;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      std::string path(exe, static_cast<size_t>(n));
      d.push_back(path.substr(0, path.find_last_of('/')) + "/../lib");
    }
    return d;
  }();
  return dirs;
}

bool exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::string candidatePath(const std::string& name) {
  std::string file = name;
  if (file.find(".so") == std::string::npos) file = "lib" + file + ".so";
  for (const std::string& dir : directories())
    if (exists(dir + "/" + file)) return dir + "/" + file;
  return file;  // left to the system loader's search path
}
}  // namespace

void addPluginDirectory(const std::string& dir) { directories().insert(directories().begin(), dir); }

std::vector<std::string> pluginDirectories() { return directories(); }

std::string loadPlugin(const std::string& nameOrPath) {
  std::string path = nameOrPath.find('/') != std::string::npos ? nameOrPath : candidatePath(nameOrPath);
  // Kept loaded for the life of the process: its factories live in the host's registry.
  if (!dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
    const char* why = dlerror();
    throw new GeneralException("cannot load plug-in \"" + nameOrPath + "\": " + (why ? why : "unknown error"),
                               __FILE__, __LINE__);
  }
  return path;
}

}  // namespace FD
