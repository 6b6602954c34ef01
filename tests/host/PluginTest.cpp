// Loads the built plug-in into a host that links nothing of the library: its static
// initialisers must register the module record and the node factories.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "fd/Node.h"
#include "fd/Plugin.h"

namespace {

TEST(Plugin, LoadingRegistersTheModuleAndItsNodes) {
  ASSERT_TRUE(FD::Object::moduleVersions().empty());
  const std::vector<std::string> hostNodes = FD::Node::factoryNames();
  FD::loadPlugin(VELK_PLUGIN_FILE);
  const auto& modules = FD::Object::moduleVersions();
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "VELK_BINAURAL");
  EXPECT_EQ(modules[0].revision, "8326");
  EXPECT_EQ(modules[0].version, "2.3.0");

  const std::vector<std::string> plugInNodes = {"DelaySourceFilter", "LocalizeBinaural", "LoggerInitializer",
                                                "SeparateBinaural", "SeparateSoftMask", "SourceMaker", "TrackTalkers"};
  // Exactly the six node classes are added to the host's own standard nodes.
  std::vector<std::string> added;
  for (const std::string& name : FD::Node::factoryNames())
    if (std::find(hostNodes.begin(), hostNodes.end(), name) == hostNodes.end()) added.push_back(name);
  EXPECT_EQ(added, plugInNodes);
  for (const std::string& node : plugInNodes) {
    FD::_NodeFactory* factory = FD::Node::getFactory(node);
    ASSERT_NE(factory, nullptr) << node;
    EXPECT_EQ(factory->getName(), node);
    ASSERT_NE(factory->info(), nullptr) << node << " documents its contract";
  }
  // Loading the same library again registers nothing twice.
  FD::loadPlugin(VELK_PLUGIN_FILE);
  EXPECT_EQ(FD::Object::moduleVersions().size(), 1u);
}

TEST(Plugin, AMissingLibraryIsAClearError) {
  try {
    FD::loadPlugin("/nonexistent/libnothing.so");
    FAIL() << "loading a missing library succeeded";
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    EXPECT_NE(e->text().find("cannot load plug-in \"/nonexistent/libnothing.so\""), std::string::npos);
  }
}

}  // namespace
