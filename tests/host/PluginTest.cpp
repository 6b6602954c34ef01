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
  FD::loadPlugin(VELK_PLUGIN_FILE);
  const auto& modules = FD::Object::moduleVersions();
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "VELK_BINAURAL");
  EXPECT_EQ(modules[0].revision, "8326");
  EXPECT_EQ(modules[0].version, "2.3.0");

  for (const char* node : {"SourceMaker", "DelaySourceFilter", "LoggerInitializer"}) {
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
