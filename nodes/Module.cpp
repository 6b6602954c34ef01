// The plug-in's entry point: its module record and its node types, registered by the host once it
// has checked the plug-in's ABI version. Nothing runs when the library is loaded.
#include <iterator>

#include "DelaySourceFilter.h"
#include "LocalizeBinaural.h"
#include "LoggerInitializer.h"
#include "SeparateBinaural.h"
#include "SeparateSoftMask.h"
#include "SourceMaker.h"
#include "TrackTalkers.h"
#include "fd/Plugin.h"

namespace {

// The node types, registered in this order; a new node is one more line.
constexpr FD::PluginNode kNodes[] = {
    FD::pluginNode<SeparateBinaural>("SeparateBinaural"),
    FD::pluginNode<SourceMaker>("SourceMaker"),
    FD::pluginNode<LocalizeBinaural>("LocalizeBinaural"),
    FD::pluginNode<LoggerInitializer>("LoggerInitializer"),
    FD::pluginNode<DelaySourceFilter>("DelaySourceFilter"),
    FD::pluginNode<TrackTalkers>("TrackTalkers"),
    FD::pluginNode<SeparateSoftMask>("SeparateSoftMask"),
};

// The version is the project's (VELK_MODULE_VERSION, from the build); the revision is the module's own.
constexpr FD::PluginDescriptor kDescriptor{FD_PLUGIN_ABI_VERSION, "VELK_BINAURAL", VELK_MODULE_VERSION, "8326",
                                           kNodes, std::size(kNodes)};

}  // namespace

FD_PLUGIN_ENTRY const FD::PluginDescriptor* fd_plugin_descriptor() { return &kDescriptor; }
