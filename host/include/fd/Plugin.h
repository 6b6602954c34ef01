// Loading plug-in shared libraries.
//
// A plug-in exports one C function, fd_plugin_descriptor, returning a PluginDescriptor: the plug-in
// ABI version it was built for, its module record and its node types. The host reads the ABI
// version first and refuses a plug-in built for another one before it touches anything else of
// it; only then does it register the module record and one factory per node type. Nothing of a
// refused plug-in is registered.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

// The version of the contract between the host and its plug-ins: the layout of PluginDescriptor
// and of everything a plug-in shares with the host (objects, nodes, factories, exceptions). Raised
// whenever a header change would make a plug-in built against the old headers misbehave.
#define FD_PLUGIN_ABI_VERSION 1

// The name of the entry point, for dlsym.
#define FD_PLUGIN_ENTRY_POINT "fd_plugin_descriptor"

// Declares a plug-in's entry point: FD_PLUGIN_ENTRY const FD::PluginDescriptor* fd_plugin_descriptor()
#define FD_PLUGIN_ENTRY extern "C" __attribute__((visibility("default")))

namespace FD {

// One node type of a plug-in: its name and how to make its factory.
struct PluginNode {
  const char* name;
  _NodeFactory* (*makeFactory)(const char* name);
};

template <class C>
_NodeFactory* makeNodeFactory(const char* name) {
  return new NodeFactory<C>(name);
}

// The entry for node class C, registered under `name`.
template <class C>
constexpr PluginNode pluginNode(const char* name) {
  return {name, &makeNodeFactory<C>};
}

// What a plug-in tells the host. `abiVersion` stays the first member in every ABI version, so that
// any host can read it.
struct PluginDescriptor {
  int abiVersion;  // FD_PLUGIN_ABI_VERSION of the headers the plug-in was built with
  // The module record (Object::setModuleVersion).
  const char* moduleName;
  const char* version;
  const char* revision;
  // The node types, registered in this order.
  const PluginNode* nodes;
  std::size_t nodeCount;
};

using PluginEntryPoint = const PluginDescriptor* (*)();

// Loads a plug-in given as a path (contains '/') or as a library name ("velk_binaural" finds
// "libvelk_binaural.so" in the plug-in directories, then through the system loader), checks its
// ABI version and registers its module record and node types. Loading the same library twice is
// harmless. Returns the path that was loaded; throws a GeneralException naming the plug-in when
// it cannot be loaded, has no entry point, or was built for another ABI version.
FD_API std::string loadPlugin(const std::string& nameOrPath);
// Puts `dir` first among the directories searched for plug-ins given by name.
FD_API void addPluginDirectory(const std::string& dir);
// The directories searched for plug-ins given by name, in order. By default: the installed
// plug-in folder beside the host library (<libdir>/velk-binaural/plugins-<ABI version>), then the
// library directory next to the running program ("../lib", where a build tree keeps them).
FD_API std::vector<std::string> pluginDirectories();

}  // namespace FD
