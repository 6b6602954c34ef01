// Loading plug-in shared libraries. A plug-in registers its module record and node factories
// from static initialisers when it is loaded.
#pragma once

#include <string>
#include <vector>

namespace FD {

// Loads a plug-in given as a path (contains '/') or as a library name ("velk_binaural" finds
// "libvelk_binaural.so" in the plug-in directories, then through the system loader). Loading the
// same library twice is harmless. Returns the path that was loaded; throws a GeneralException
// with the loader's message on failure.
std::string loadPlugin(const std::string& nameOrPath);
// Directories searched for plug-ins given by name, in order (the library directory next to the
// running program, "../lib", is searched first by default).
void addPluginDirectory(const std::string& dir);
std::vector<std::string> pluginDirectories();

}  // namespace FD
