// The nodes are adapters around the library: on a recorded two-talker scene their output must be
// the library's, frame by frame, and the library's streaming STFT must give the host's spectra and
// signals. Skipped when the scenes are absent.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "LocalizeBinaural.h"
#include "SeparateBinaural.h"
#include "SeparateSoftMask.h"
#include "SourceMaker.h"
#include "TrackTalkers.h"
#include "fd/Network.h"
#include "fd/ParameterValues.h"
#include "fd/Source.h"
#include "velk_binaural/Localizer.h"
#include "velk_binaural/PassBandSeparator.h"
#include "velk_binaural/SoftMaskSeparator.h"
#include "velk_binaural/Stft.h"
#include "velk_binaural/TableLoader.h"

namespace {

const std::string kScene = std::string(VELK_SCENES_DIR) + "/pair_sep60_m20_p40_snr20/mix.wav";
const std::string kTable = std::string(VELK_SOURCE_DIR) + "/examples/kemar_front_16k_512.velk";
constexpr int kRate = 16000, kLength = 512, kAdvance = 160;

using Spectrum = FD::Matrix<std::complex<float>>;

// The scene's samples, interleaved, as the host reads them (floats at full scale +-1).
std::vector<float> SceneSamples() {
  SF_INFO info{};
  SNDFILE* file = sf_open(kScene.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> samples(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  return samples;
}

void RegisterPluginNodes() {
  FD::Node::addFactory("LocalizeBinaural", new FD::NodeFactory<LocalizeBinaural>("LocalizeBinaural"));
  FD::Node::addFactory("SeparateBinaural", new FD::NodeFactory<SeparateBinaural>("SeparateBinaural"));
  FD::Node::addFactory("SeparateSoftMask", new FD::NodeFactory<SeparateSoftMask>("SeparateSoftMask"));
  FD::Node::addFactory("SourceMaker", new FD::NodeFactory<SourceMaker>("SourceMaker"));
  FD::Node::addFactory("TrackTalkers", new FD::NodeFactory<TrackTalkers>("TrackTalkers"));
}

// A parameter set of a node type's declared defaults, with the given values on top.
FD::ParameterSet Defaults(const std::string& type, const velkparam::Values& values = {}) {
  FD::ParameterSet params(type);
  for (const velkparam::Declaration& decl : FD::Node::getFactory(type)->info()->parameters)
    if (decl.need == velkparam::Need::Always) params.add(decl.name, FD::parameterObject(decl.defaultValue));
  for (const auto& [name, value] : values) params.add(name, FD::parameterObject(value));
  return params;
}

// The scene read and transformed by the host's nodes.
void AddAnalysis(FD::Network& net) {
  net.addNode("AudioFileSource", "source",
              Defaults("AudioFileSource", {{"FILENAME", kScene}, {"LENGTH", kLength}, {"ADVANCE", kAdvance}}));
  net.addNode("MultiFFT", "stft", Defaults("MultiFFT", {{"LENGTH", kLength}}));
  net.connect("source", "AUDIO", "stft", "INPUT");
}

class LibraryAgreement : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterPluginNodes(); }
  void SetUp() override {
    if (!std::filesystem::exists(kScene)) GTEST_SKIP() << "no scene at " << kScene;
  }
};

TEST_F(LibraryAgreement, StftFramesAreTheHostsSpectra) {
  FD::Network net;
  AddAnalysis(net);
  net.addOutput("stft", "OUTPUT");
  NSVelkBinaural::Stft stft(NSVelkBinaural::StftConfig{kLength, kAdvance, 2, velkdsp::WindowShape::Hann});
  const std::vector<float> samples = SceneSamples();
  std::vector<NSVelkBinaural::StftFrame> frames;
  NSVelkBinaural::StftFrame frame;
  for (size_t at = 0, block = 1; at < samples.size() / 2; block = block * 7 % 1000 + 1) {
    const size_t n = std::min(block, samples.size() / 2 - at);
    stft.Push(samples.data() + 2 * at, n);
    at += n;
    while (stft.Next(frame)) frames.push_back(frame);
  }
  stft.Finish();
  while (stft.Next(frame)) frames.push_back(frame);

  const long count = net.run(-1, [&](long done, long) {
    const int k = static_cast<int>(done - 1);
    const auto& host = FD::object_cast<Spectrum>(net.output("stft", "OUTPUT", k));
    ASSERT_LT(static_cast<size_t>(k), frames.size());
    for (int c = 0; c < 2; ++c)
      for (int b = 0; b < host.cols(); ++b)
        ASSERT_NEAR(std::abs(frames[k].Channel(c)[b] - host(c, b)), 0.0, 1e-6 * (1.0 + std::abs(host(c, b))))
            << "frame " << k << " channel " << c << " bin " << b;
  });
  EXPECT_EQ(static_cast<long>(frames.size()), count);
}

// The host's Synthesize reads spectra a few frames past the end of the file; given the same
// spectra the library's inverse gives the same blocks.
TEST_F(LibraryAgreement, IstftBlocksAreTheHostsSynthesis) {
  FD::Network net;
  AddAnalysis(net);
  net.addNode("Synthesize", "istft", Defaults("Synthesize", {{"LENGTH", kLength}, {"ADVANCE", kAdvance}}));
  net.connect("stft", "OUTPUT", "istft", "INPUT");
  net.addOutput("istft", "OUTPUT");
  NSVelkBinaural::Istft istft(NSVelkBinaural::StftConfig{kLength, kAdvance, 2, velkdsp::WindowShape::Hann});
  std::vector<float> library;
  long pushed = 0;
  const long count = net.run(-1, [&](long done, long) {
    const int k = static_cast<int>(done - 1);
    for (; pushed <= k + istft.LookAhead(); ++pushed) {
      const auto& spectrum = FD::object_cast<Spectrum>(net.output("stft", "OUTPUT", static_cast<int>(pushed)));
      const std::complex<float>* rows[2] = {spectrum.row(0), spectrum.row(1)};
      istft.Push(rows);
    }
    istft.Pull(library);
    const auto& block = FD::object_cast<FD::Matrix<float>>(net.output("istft", "OUTPUT", k));
    for (int n = 0; n < block.cols(); ++n)  // the last block ends with the recording
      for (int c = 0; c < 2; ++c)
        ASSERT_NEAR(library.at(static_cast<size_t>((k * kAdvance + n) * 2 + c)), block(c, n), 1e-6)
            << "frame " << k << " sample " << n;
  });
  EXPECT_GT(count, 600);
}

struct Localisation {
  const char* method;
  bool commandLineStages;  // the adaptive floor and the broadband finder, then the talker tracker
};

class LocalizerAgreement : public LibraryAgreement, public testing::WithParamInterface<Localisation> {};

// The id, direction and strength of every source of a frame.
struct Reported {
  int id;
  double azimuthDeg, strength;
};

// Every frame's sources from the node are the library localiser's reports for the same spectra;
// with the command line's stages, those of the tracker node after it are the library tracker's
// talkers for the localiser's reports.
TEST_P(LocalizerAgreement, NodeOutputIsTheLibrarysFrameByFrame) {
  velkparam::Values values = {{"LOCALIZE_METHOD", std::string(GetParam().method)},
                              {"VELK_DAT", kTable},
                              {"VELK_DAT_CHANNELS", std::vector<int>{0, 1}}};
  const bool tracked = GetParam().commandLineStages;
  if (tracked) {
    values["NOISE_FLOOR"] = std::string("ADAPTIVE");
    values["DIRECTIONS"] = std::string("BROADBAND");
  }
  FD::Network net;
  AddAnalysis(net);
  net.addNode("LocalizeBinaural", "localize", Defaults("LocalizeBinaural", values));
  net.connect("source", "AUDIO", "localize", "AUDIO");
  net.connect("stft", "OUTPUT", "localize", "SPECTRUM");
  net.addOutput("localize", "SOURCES");
  if (tracked) {
    net.addNode("TrackTalkers", "track", Defaults("TrackTalkers"));
    net.connect("localize", "SOURCES", "track", "INPUT");
    net.addOutput("track", "OUTPUT");
  }

  const NSVelkBinaural::LocalizerConfig config = NSVelkBinaural::LocalizerConfig::FromParameters(values);
  boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
  if (config.method == NSVelkBinaural::LocalizerConfig::Method::MeasuredTables)
    tables = NSVelkBinaural::LoadInterauralTables(config.tables, kRate, kLength);
  NSVelkBinaural::Localizer localizer(config, tables);
  NSVelkBinaural::TalkerTracker tracker;

  auto expectSame = [](const FD::ObjectRef& list, const std::vector<Reported>& library, int k) {
    const auto& sources = FD::object_cast<FD::Vector<FD::ObjectRef>>(list);
    ASSERT_EQ(sources.size(), library.size()) << "frame " << k;
    for (size_t i = 0; i < library.size(); ++i) {
      const auto& source = FD::object_cast<FD::Source>(sources[i]);
      EXPECT_EQ(source.id, library[i].id) << "frame " << k;
      EXPECT_NEAR(source.azimuth() * 180.0 / M_PI, library[i].azimuthDeg, 1e-3) << "frame " << k;
      if (std::isnan(library[i].strength))
        EXPECT_TRUE(std::isnan(source.power)) << "frame " << k;
      else
        EXPECT_NEAR(source.power, library[i].strength, 1e-6) << "frame " << k;
    }
  };
  std::ostringstream announcements;
  std::streambuf* saved = std::cout.rdbuf(announcements.rdbuf());
  long reported = 0;
  net.run(-1, [&](long done, long) {
    const int k = static_cast<int>(done - 1);
    const double time = config.FrameTime(k);
    const auto& spectrum = FD::object_cast<Spectrum>(net.output("stft", "OUTPUT", k));
    const std::vector<NSVelkBinaural::SourceReport>& reports =
        localizer.Process(NSVelkBinaural::StereoSpectrumView{spectrum.row(0), spectrum.row(1), 257}, time);
    std::vector<Reported> expected;
    for (const NSVelkBinaural::SourceReport& r : reports) expected.push_back({r.sourceId, r.azimuthDeg, r.strength});
    expectSame(net.output("localize", "SOURCES", k), expected, k);
    reported += static_cast<long>(reports.size());
    if (!tracked) return;
    expected.clear();
    for (const NSVelkBinaural::TalkerTrack& t : tracker.process(time, reports))
      expected.push_back({t.id, t.azimuthDeg, t.lastHeardSec == time ? t.strength : NAN});
    expectSame(net.output("track", "OUTPUT", k), expected, k);
  });
  std::cout.rdbuf(saved);
  EXPECT_GT(reported, 100) << "the scene's talkers are found";
}

INSTANTIATE_TEST_SUITE_P(Methods, LocalizerAgreement,
                         testing::Values(Localisation{"EPIPOLAR", false}, Localisation{"HRTFMESURED", false},
                                         Localisation{"EPIPOLAR", true}, Localisation{"HRTFMESURED", true}));

class SeparatorAgreement : public LibraryAgreement, public testing::WithParamInterface<const char*> {};

TEST_P(SeparatorAgreement, NodeOutputIsTheLibrarysFrameByFrame) {
  const velkparam::Values values = {{"SEPARATE_METHOD", std::string(GetParam())}, {"VELK_DAT", kTable}};
  const std::vector<float> directionsDeg = {-20.0f, 40.0f};
  FD::Network net;
  AddAnalysis(net);
  net.addNode("SourceMaker", "directions", Defaults("SourceMaker", {{"DIRECTIONS", directionsDeg}}));
  net.addNode("SeparateBinaural", "separate", Defaults("SeparateBinaural", values));
  net.connect("stft", "OUTPUT", "separate", "SPECTRUM");
  net.connect("directions", "OUTPUT", "separate", "SOURCES");
  net.addOutput("separate", "OUTPUT");

  const NSVelkBinaural::PassBandSeparatorConfig config = NSVelkBinaural::PassBandSeparatorConfig::FromParameters(values);
  NSVelkBinaural::PassBandSeparator separator(config, NSVelkBinaural::LoadInterauralTables(config.tables, kRate, kLength));
  std::vector<NSVelkBinaural::SeparationTarget> targets;
  for (size_t i = 0; i < directionsDeg.size(); ++i) {
    const FD::ObjectRef source(FD::Source::atAzimuth(0, directionsDeg[i] * M_PI / 180.0));
    targets.push_back({static_cast<int>(i), static_cast<const FD::Source&>(*source).azimuth()});
  }

  long separated = 0;
  net.run(-1, [&](long done, long) {
    const int k = static_cast<int>(done - 1);
    const auto& spectrum = FD::object_cast<Spectrum>(net.output("stft", "OUTPUT", k));
    const auto& library = separator.Process(NSVelkBinaural::StereoSpectrumView{spectrum.row(0), spectrum.row(1), 257}, targets);
    const auto& node = FD::object_cast<FD::Map<int, FD::ObjectRef>>(net.output("separate", "OUTPUT", k));
    ASSERT_EQ(node.size(), library.size()) << "frame " << k;
    for (const NSVelkBinaural::SeparatedSpectrum& s : library) {
      const auto& bins = FD::object_cast<FD::Vector<std::complex<float>>>(node.at(s.id));
      ASSERT_EQ(bins.size(), s.spectrum->size);
      for (size_t b = 0; b < bins.size(); ++b) ASSERT_EQ(bins[b], s.spectrum->data[b]) << "frame " << k << " id " << s.id;
      ++separated;
    }
  });
  EXPECT_GT(separated, 1000);
}

INSTANTIATE_TEST_SUITE_P(Methods, SeparatorAgreement, testing::Values("EPIPOLAR", "HRTFMESURED"));

class SoftMaskAgreement : public LibraryAgreement, public testing::WithParamInterface<const char*> {};

// The soft masks learn from frame to frame, so one frame out of step would show on every later one.
TEST_P(SoftMaskAgreement, NodeOutputIsTheLibrarysFrameByFrame) {
  const velkparam::Values values = {{"SEPARATE_METHOD", std::string(GetParam())}, {"VELK_DAT", kTable}};
  const std::vector<float> directionsDeg = {-20.0f, 40.0f};
  FD::Network net;
  AddAnalysis(net);
  net.addNode("SourceMaker", "directions", Defaults("SourceMaker", {{"DIRECTIONS", directionsDeg}}));
  net.addNode("SeparateSoftMask", "separate", Defaults("SeparateSoftMask", values));
  net.connect("stft", "OUTPUT", "separate", "SPECTRUM");
  net.connect("directions", "OUTPUT", "separate", "SOURCES");
  net.addOutput("separate", "OUTPUT");

  const auto config = NSVelkBinaural::SoftMaskSeparatorConfig::FromParameters(values);
  NSVelkBinaural::SoftMaskSeparator separator(NSVelkBinaural::LoadExpectedCues(config, kLength), config);
  std::vector<NSVelkBinaural::TalkerDirection> talkers;
  for (size_t i = 0; i < directionsDeg.size(); ++i) {
    // The direction as the source record carries it, back in degrees.
    const FD::ObjectRef source(FD::Source::atAzimuth(0, directionsDeg[i] * M_PI / 180.0));
    talkers.push_back({static_cast<int>(i), static_cast<const FD::Source&>(*source).azimuth() * 180.0 / M_PI});
  }

  long separated = 0;
  net.run(-1, [&](long done, long) {
    const int k = static_cast<int>(done - 1);
    const auto& spectrum = FD::object_cast<Spectrum>(net.output("stft", "OUTPUT", k));
    separator.process(NSVelkBinaural::StereoSpectrumView{spectrum.row(0), spectrum.row(1), 257}, talkers);
    const auto& node = FD::object_cast<FD::Map<int, FD::ObjectRef>>(net.output("separate", "OUTPUT", k));
    ASSERT_EQ(node.size(), separator.outputs()) << "frame " << k;
    for (size_t i = 0; i < separator.outputs(); ++i) {
      const auto& bins = FD::object_cast<FD::Vector<std::complex<float>>>(node.at(talkers[i].id));
      ASSERT_EQ(bins.size(), 257u);
      for (size_t b = 0; b < bins.size(); ++b)
        ASSERT_EQ(bins[b], separator.output(i)[b]) << "frame " << k << " id " << talkers[i].id;
      ++separated;
    }
  });
  EXPECT_GT(separated, 1000);
}

INSTANTIATE_TEST_SUITE_P(Methods, SoftMaskAgreement, testing::Values("EPIPOLAR", "HRTFMESURED"));

}  // namespace
