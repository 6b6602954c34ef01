#include "fd/Plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "fd/Exception.h"

namespace FD {

namespace {

std::string directoryOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

std::vector<std::string> defaultDirectories() {
  std::vector<std::string> dirs;
  // The installed plug-in folder, found from the host library itself so that an installed tree
  // works wherever it is unpacked and for any program that links the host.
  Dl_info self{};
  if (dladdr(reinterpret_cast<const void*>(&defaultDirectories), &self) && self.dli_fname &&
      std::string(self.dli_fname).find('/') != std::string::npos)
    dirs.push_back(directoryOf(self.dli_fname) + "/" + FD_PLUGIN_DIR_FROM_LIBDIR);
  // The library directory of a build tree, next to its programs' directory.
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) dirs.push_back(directoryOf(std::string(exe, static_cast<size_t>(n))) + "/../lib");
  return dirs;
}

std::vector<std::string>& directories() {
  static std::vector<std::string> dirs = defaultDirectories();
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

// The plug-ins registered so far, by the loader's handle (the same library loaded twice has one).
std::vector<void*>& registeredHandles() {
  static std::vector<void*> handles;
  return handles;
}

[[noreturn]] void refuse(void* handle, const std::string& path, const std::string& why) {
  dlclose(handle);
  throw new GeneralException("cannot load plug-in \"" + path + "\": " + why, __FILE__, __LINE__);
}

// The plug-in's descriptor, checked before anything of it is used: the ABI version first (the
// rest of the descriptor may be laid out differently in another version), then that it names its
// module and every node.
const PluginDescriptor& checkedDescriptor(void* handle, const std::string& path) {
  void* entry = dlsym(handle, FD_PLUGIN_ENTRY_POINT);
  if (!entry)
    refuse(handle, path, "it has no entry point " FD_PLUGIN_ENTRY_POINT " (not a plug-in of this host)");
  const PluginDescriptor* descriptor = reinterpret_cast<PluginEntryPoint>(entry)();
  if (!descriptor) refuse(handle, path, FD_PLUGIN_ENTRY_POINT " returned no descriptor");
  if (descriptor->abiVersion != FD_PLUGIN_ABI_VERSION)
    refuse(handle, path,
           "it was built for plug-in ABI version " + std::to_string(descriptor->abiVersion) +
               ", but this host has ABI version " + std::to_string(FD_PLUGIN_ABI_VERSION) +
               "; rebuild the plug-in against this host's headers");
  if (!descriptor->moduleName || !descriptor->version || !descriptor->revision)
    refuse(handle, path, "its descriptor lacks the module name, version or revision");
  if (descriptor->nodeCount > 0 && !descriptor->nodes) refuse(handle, path, "its descriptor lists no node table");
  for (std::size_t i = 0; i < descriptor->nodeCount; ++i)
    if (!descriptor->nodes[i].name || !descriptor->nodes[i].makeFactory)
      refuse(handle, path, "node " + std::to_string(i) + " of its descriptor has no name or no factory");
  return *descriptor;
}

// The module record first, then one factory (and no picture) per node type, in the plug-in's order.
void registerPlugin(const PluginDescriptor& plugin) {
  Object::setModuleVersion(plugin.moduleName, plugin.revision, plugin.version);
  for (std::size_t i = 0; i < plugin.nodeCount; ++i) {
    const PluginNode& node = plugin.nodes[i];
    Node::addFactory(node.name, node.makeFactory(node.name));
    Node::addXPM(node.name, nullptr);
  }
}

}  // namespace

void addPluginDirectory(const std::string& dir) { directories().insert(directories().begin(), dir); }

std::vector<std::string> pluginDirectories() { return directories(); }

std::string loadPlugin(const std::string& nameOrPath) {
  const std::string path = nameOrPath.find('/') != std::string::npos ? nameOrPath : candidatePath(nameOrPath);
  // Kept loaded for the life of the process once registered: its factories live in the host's
  // registry. Its symbols stay its own (RTLD_LOCAL): plug-ins share nothing but the host.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw new GeneralException("cannot load plug-in \"" + nameOrPath + "\": " + (why ? why : "unknown error"),
                               __FILE__, __LINE__);
  }
  std::vector<void*>& registered = registeredHandles();
  if (std::find(registered.begin(), registered.end(), handle) != registered.end()) {
    dlclose(handle);  // drops the count this call added; the first load keeps it loaded
    return path;
  }
  registerPlugin(checkedDescriptor(handle, path));
  registered.push_back(handle);
  return path;
}

}  // namespace FD
