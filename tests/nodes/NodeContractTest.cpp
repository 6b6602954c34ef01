// Every node type, the host's and the plug-in's, checked against its own declarations: it is made
// from its declared defaults, and each value just outside what a declaration accepts (each side
// of each limit, a text that is not a keyword, a list of the wrong length, an odd length where an
// even one is needed) is refused when the node is made, with a message naming the node, the
// parameter and the value.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DelaySourceFilter.h"
#include "LocalizeBinaural.h"
#include "LoggerInitializer.h"
#include "SeparateBinaural.h"
#include "SeparateSoftMask.h"
#include "SourceMaker.h"
#include "TrackTalkers.h"
#include "fd/ParameterValues.h"

namespace {

using velkparam::Declaration;
using velkparam::Value;

class NodeContracts : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    FD::Node::addFactory("LocalizeBinaural", new FD::NodeFactory<LocalizeBinaural>("LocalizeBinaural"));
    FD::Node::addFactory("SeparateBinaural", new FD::NodeFactory<SeparateBinaural>("SeparateBinaural"));
    FD::Node::addFactory("SeparateSoftMask", new FD::NodeFactory<SeparateSoftMask>("SeparateSoftMask"));
    FD::Node::addFactory("SourceMaker", new FD::NodeFactory<SourceMaker>("SourceMaker"));
    FD::Node::addFactory("DelaySourceFilter", new FD::NodeFactory<DelaySourceFilter>("DelaySourceFilter"));
    FD::Node::addFactory("LoggerInitializer", new FD::NodeFactory<LoggerInitializer>("LoggerInitializer"));
    FD::Node::addFactory("TrackTalkers", new FD::NodeFactory<TrackTalkers>("TrackTalkers"));
  }
  void SetUp() override {
    std::filesystem::create_directories(dir_);
    // A short stereo recording at the declared defaults' rate, for the node that reads one.
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open((dir_ + "/in.wav").c_str(), SFM_WRITE, &info);
    const std::vector<float> silence(2 * 1600, 0.0f);
    sf_writef_float(file, silence.data(), 1600);
    sf_close(file);
    savedLevel_ = NSVelkBinaural::Logger::Global()->level;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    NSVelkBinaural::Logger::Global()->level = savedLevel_;  // the logger node sets it
  }

  // Values that name files: existing inputs and writable outputs in the test's folder.
  std::optional<std::string> FileFor(const std::string& type, const std::string& name) const {
    if ((type == "AudioFileSource" || type == "AudioStreamSource") && name == "FILENAME") return dir_ + "/in.wav";
    // ALSA's null device captures silence on any machine, sound card or not.
    if (type == "AudioDeviceSource" && name == "DEVICE") return std::string("null");
    if (name == "VELK_DAT") return std::string(VELK_SOURCE_DIR) + "/examples/sphere_front_16k_512.velk";
    if (name == "FILENAME" || name == "PREFIX") return dir_ + "/out_" + type;
    return std::nullopt;
  }

  FD::ParameterSet Defaults(const std::string& type, const std::vector<Declaration>& table) const {
    FD::ParameterSet params(type);
    for (const Declaration& decl : table) {
      if (decl.need != velkparam::Need::Always) continue;
      const std::optional<std::string> file = FileFor(type, decl.name);
      params.add(decl.name, FD::parameterObject(file ? Value(*file) : decl.defaultValue));
    }
    return params;
  }

  // The text of the host exception that making the node throws; "" when it is made.
  static std::string Creation(const std::string& type, const FD::ParameterSet& params) {
    try {
      FD::ObjectRef node(FD::Node::getFactory(type)->Create("node_" + type, params));
    } catch (FD::BaseException* e) {
      std::unique_ptr<FD::BaseException> owner(e);
      return e->text();
    }
    return "";
  }

  std::string dir_ = (std::filesystem::temp_directory_path() / ("velk-contracts-" + std::to_string(getpid()))).string();
  int savedLevel_ = 0;
};

// Values just outside what `decl` accepts.
std::vector<Value> Refused(const Declaration& decl) {
  std::vector<Value> values;
  auto number = [&](double v) -> Value {
    switch (decl.type) {
      case velkparam::Type::Int:
        return static_cast<int>(v);
      case velkparam::Type::Float:
        return static_cast<float>(v);
      case velkparam::Type::IntList:
        return std::vector<int>{static_cast<int>(v), static_cast<int>(v)};
      default:
        return std::vector<float>{static_cast<float>(v), static_cast<float>(v)};
    }
  };
  const bool whole = decl.type == velkparam::Type::Int || decl.type == velkparam::Type::IntList;
  if (decl.min) values.push_back(number(decl.min->inclusive ? decl.min->value - (whole ? 1 : 0.5) : decl.min->value));
  if (decl.max) values.push_back(number(decl.max->inclusive ? decl.max->value + (whole ? 1 : 0.5) : decl.max->value));
  if (decl.multipleOf > 1) values.push_back(std::get<int>(decl.defaultValue) + 1);
  if (!decl.keywords.empty() && decl.otherwise.empty()) values.push_back(std::string("NOT_A_KEYWORD"));
  if (decl.listSize >= 0 && decl.type == velkparam::Type::IntList) {
    std::vector<int> longer = std::get<std::vector<int>>(decl.defaultValue);
    longer.push_back(longer.empty() ? 0 : longer.back());
    values.push_back(longer);
  }
  return values;
}

TEST_F(NodeContracts, EveryNodeIsMadeFromItsDefaultsAndRefusesEachValueOutsideItsDeclarations) {
  int typesChecked = 0, refusalsChecked = 0;
  for (const std::string& type : FD::Node::factoryNames()) {
    const FD::NodeInfo* info = FD::Node::getFactory(type)->info();
    if (!info) continue;  // the tests' own helper nodes declare nothing
    ++typesChecked;
    const FD::ParameterSet defaults = Defaults(type, info->parameters);
    EXPECT_EQ(Creation(type, defaults), "") << type << " from its declared defaults";
    for (const Declaration& decl : info->parameters) {
      for (const Value& value : Refused(decl)) {
        FD::ParameterSet params = defaults;
        params.add(decl.name, FD::parameterObject(value));
        const std::string error = Creation(type, params);
        EXPECT_NE(error.find("\"node_" + type + "\""), std::string::npos) << type << "." << decl.name << ": " << error;
        EXPECT_NE(error.find("parameter \"" + decl.name + "\" = " + velkparam::ToText(value)), std::string::npos)
            << type << "." << decl.name << ": " << error;
        ++refusalsChecked;
      }
      // A keyword parameter whose other texts select a branch accepts any text.
      if (!decl.otherwise.empty()) {
        FD::ParameterSet params = defaults;
        params.add(decl.name, FD::parameterObject(std::string("not a keyword")));
        EXPECT_EQ(Creation(type, params), "") << type << "." << decl.name;
      }
    }
  }
  EXPECT_EQ(typesChecked, 16) << "nine host nodes and seven of the plug-in";
  EXPECT_GT(refusalsChecked, 30);
}

}  // namespace
