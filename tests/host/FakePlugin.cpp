// Test-only plug-ins built from this one file: FAKE_PLUGIN_ABI is the ABI version the descriptor
// claims; with FAKE_PLUGIN_NO_ENTRY the library has no entry point at all.
#include "fd/Plugin.h"

namespace {

class FakeNode : public FD::BufferedNode {
 public:
  FakeNode(const std::string& name, const FD::ParameterSet& params) : BufferedNode(name, params) {}
  void calculate(int, int, FD::Buffer&) override {}
};

constexpr FD::PluginNode kNodes[] = {FD::pluginNode<FakeNode>("FakeNode")};
constexpr FD::PluginDescriptor kDescriptor{FAKE_PLUGIN_ABI, "FAKE_MODULE", "0.1.0", "1", kNodes, 1};

}  // namespace

#ifndef FAKE_PLUGIN_NO_ENTRY
FD_PLUGIN_ENTRY const FD::PluginDescriptor* fd_plugin_descriptor() { return &kDescriptor; }
#else
FD_PLUGIN_ENTRY const FD::PluginDescriptor* some_other_function() { return &kDescriptor; }
#endif
