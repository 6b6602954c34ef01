// Loads plug-ins into a host that links nothing of the library: the built plug-in, whose descriptor
// must register the module record and the node factories, and test-only plug-ins that the host
// must refuse without registering anything of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "fd/Node.h"
#include "fd/Plugin.h"

namespace {

// The text of the host error that loading `path` raises; "" when it loads.
std::string loadError(const std::string& path) {
  try {
    FD::loadPlugin(path);
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    return e->text();
  }
  return "";
}

// The node types registered beyond `before`, in name order.
std::vector<std::string> addedNodes(const std::vector<std::string>& before) {
  std::vector<std::string> added;
  for (const std::string& name : FD::Node::factoryNames())
    if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
  return added;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Plugin, LoadingRegistersTheModuleAndItsNodes) {
  ASSERT_TRUE(FD::Object::moduleVersions().empty());
  const std::vector<std::string> hostNodes = FD::Node::factoryNames();
  FD::loadPlugin(VELK_PLUGIN_FILE);
  const auto& modules = FD::Object::moduleVersions();
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "VELK_BINAURAL");
  EXPECT_EQ(modules[0].revision, "8326");
  EXPECT_EQ(modules[0].version, VELK_PROJECT_VERSION);

  const std::vector<std::string> plugInNodes = {"DelaySourceFilter", "LocalizeBinaural", "LoggerInitializer",
                                                "SeparateBinaural", "SeparateSoftMask", "SourceMaker", "TrackTalkers"};
  // Exactly the seven node classes are added to the host's own standard nodes.
  EXPECT_EQ(addedNodes(hostNodes), plugInNodes);
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

TEST(Plugin, PluginsOfTheHostsAbiLoadSideBySide) {
  const std::vector<std::string> hostNodes = FD::Node::factoryNames();
  FD::loadPlugin(VELK_PLUGIN_FILE);
  FD::loadPlugin(FAKE_PLUGIN_GOOD);
  // Each plug-in's own entry point was called, though both export the same name.
  const auto& modules = FD::Object::moduleVersions();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].name, "VELK_BINAURAL");
  EXPECT_EQ(modules[1].name, "FAKE_MODULE");
  EXPECT_EQ(modules[1].version, "0.1.0");
  EXPECT_EQ(addedNodes(hostNodes).size(), 8u) << "the seven of velk_binaural and the fake one";
  ASSERT_NE(FD::Node::getFactory("FakeNode"), nullptr);
  FD::ParameterSet params;
  std::unique_ptr<FD::Node> node(FD::Node::getFactory("FakeNode")->Create("fake", params));
  EXPECT_EQ(node->getName(), "fake");
}

TEST(Plugin, APluginBuiltForAnotherAbiIsRefusedAndRegistersNothing) {
  const std::vector<std::string> hostNodes = FD::Node::factoryNames();
  const std::string error = loadError(FAKE_PLUGIN_OTHER_ABI);
  EXPECT_TRUE(contains(error, "cannot load plug-in \"" FAKE_PLUGIN_OTHER_ABI "\"")) << error;
  EXPECT_TRUE(contains(error, "built for plug-in ABI version 999")) << error;
  EXPECT_TRUE(contains(error, "this host has ABI version " + std::to_string(FD_PLUGIN_ABI_VERSION))) << error;
  EXPECT_TRUE(FD::Object::moduleVersions().empty());
  EXPECT_EQ(FD::Node::getFactory("FakeNode"), nullptr);
  EXPECT_EQ(FD::Node::factoryNames(), hostNodes);
  // Refused again on a second try, not taken for loaded.
  EXPECT_TRUE(contains(loadError(FAKE_PLUGIN_OTHER_ABI), "ABI version 999"));
  EXPECT_TRUE(FD::Object::moduleVersions().empty());
}

TEST(Plugin, ALibraryWithoutTheEntryPointIsRefused) {
  const std::vector<std::string> hostNodes = FD::Node::factoryNames();
  const std::string error = loadError(FAKE_PLUGIN_NO_ENTRY);
  EXPECT_TRUE(contains(error, "cannot load plug-in \"" FAKE_PLUGIN_NO_ENTRY "\"")) << error;
  EXPECT_TRUE(contains(error, "no entry point fd_plugin_descriptor")) << error;
  EXPECT_TRUE(FD::Object::moduleVersions().empty());
  EXPECT_EQ(FD::Node::factoryNames(), hostNodes);
}

TEST(Plugin, AMissingLibraryIsAClearError) {
  EXPECT_TRUE(contains(loadError("/nonexistent/libnothing.so"), "cannot load plug-in \"/nonexistent/libnothing.so\""));
}

TEST(Plugin, TheInstalledPluginFolderIsSearchedFirstThenTheBuildTrees) {
  const std::vector<std::string> dirs = FD::pluginDirectories();
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_TRUE(contains(dirs[0], "/velk-binaural/plugins-" + std::to_string(FD_PLUGIN_ABI_VERSION))) << dirs[0];
  EXPECT_TRUE(contains(dirs[1], "/../lib")) << dirs[1];
}

}  // namespace
