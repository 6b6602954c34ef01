#include "LocalizeRun.h"

#include <memory>
#include <stdexcept>
#include <variant>

#include "NodeParameterBuilder.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/Plugin.h"
#include "fd/Values.h"
#include "velk_binaural/RecommendedStages.h"

namespace velktool {

namespace {

const char* const kNodeType = "LocalizeBinaural";

// "measured" or "epipolar", as the localiser's parameters finally say.
std::string methodOf(const FD::ParameterSet& localizer) {
  const auto* method = dynamic_cast<const FD::String*>(localizer.get("LOCALIZE_METHOD").get());
  return method && method->str() != "EPIPOLAR" ? "measured" : "epipolar";
}

// The command's table and its channels for the localiser (--tf, --channels): the default table
// unless one is given.
void setTable(NetworkParameters& params, const LocalizeSettings& settings) {
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const bool channelsNamed = localizer.exist("VELK_DAT_CHANNELS");
  params.set(kNodeType, "VELK_DAT", settings.table.empty() ? defaultTable() : settings.table);
  if (!channelsNamed || settings.given.has("--channels"))
    params.set(kNodeType, "VELK_DAT_CHANNELS",
               std::to_string(settings.channels[0]) + "," + std::to_string(settings.channels[1]));
}

// The nodes' parameters: the declared defaults, the command line's stages, the method, then
// --param overrides, each typed as the nodes' declarations say.
NetworkParameters nodeParameters(const LocalizeSettings& settings) {
  NetworkParameters params;
  params.addNode(kNodeType);
  if (settings.tracks == "talkers") params.addNode(kTalkerTracker);
  chooseCommandLineStages(params, kNodeType);
  if (settings.given.has("--method")) params.claim("LOCALIZE_METHOD", "--method " + settings.method);
  if (settings.given.has("--tf")) params.claim("VELK_DAT", "--tf");
  if (settings.given.has("--channels")) params.claim("VELK_DAT_CHANNELS", "--channels");
  if (settings.method == "measured") {
    params.set(kNodeType, "LOCALIZE_METHOD", "HRTFMESURED");
    setTable(params, settings);
  }
  for (const std::string& assignment : settings.params) params.assign(assignment);
  // The measured method chosen by --param reads the command's table (--tf, --channels), as
  // --method measured does, unless the assignments name one.
  const FD::ParameterSet& localizer = params.of(kNodeType);
  if (methodOf(localizer) == "measured" && !localizer.exist("VELK_DAT")) setTable(params, settings);
  return params;
}

// The tracker, when there is one, is set to the localiser's frame geometry by the --param
// assignments that reach both; the network checks that they agree.
void buildNetwork(FD::Network& net, const AudioInput& input, const NetworkParameters& params, bool talkerTracks,
                  const std::string& jsonPath) {
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const int advance = intParameter(localizer, "ADVANCE");
  addSourceNode(net, "source", input, fs, advance, kFrameLength, "localize");
  FD::ParameterSet stft;
  stft.add("LENGTH", intValue(kFrameLength));
  stft.add("WINDOW", textValue("HANN"));
  FD::ParameterSet recorder;
  recorder.add("FILENAME", textValue(jsonPath));
  recorder.add("SAMPLING_RATE", intValue(fs));
  recorder.add("ADVANCE", intValue(advance));

  net.addNode("MultiFFT", "stft", stft);
  net.addNode(kNodeType, "localize", localizer);
  net.addNode("SourceRecorder", "recorder", recorder);
  net.connect("source", "AUDIO", "stft", "INPUT");
  net.connect("source", "AUDIO", "localize", "AUDIO");
  net.connect("stft", "OUTPUT", "localize", "SPECTRUM");
  if (talkerTracks) {
    net.addNode(kTalkerTracker, "track", params.of(kTalkerTracker));
    net.connect("localize", "SOURCES", "track", "INPUT");
    net.connect("track", "OUTPUT", "recorder", "INPUT");
  } else {
    net.connect("localize", "SOURCES", "recorder", "INPUT");
  }
  net.addOutput("recorder", "OUTPUT");
}

}  // namespace

// The stages applications run (RecommendedStages.h, where their measurements are), each typed as
// the node's declarations say.
void chooseCommandLineStages(NetworkParameters& params, const std::string& nodeType) {
  for (const auto& [name, value] : NSVelkBinaural::RecommendedLocalizerStages())
    params.set(nodeType, name, std::holds_alternative<std::string>(value) ? std::get<std::string>(value)
                                                                          : velkparam::ToText(value));
}

const char* const kTalkerTracker = "TrackTalkers";

// The tracker's parameters are its own defaults (see TalkerTracker.h for their measurements).
// Without it (--tracks events), the broadband directions come frame by frame with their rank as
// id: hit 0.44-0.78 anechoic, 0.15-0.30 in the room, as a talker is heard in a fraction of its
// frames only; the tracker holds a talker over its pauses.
void addTracksOption(CLI::App& command, std::string& tracks) {
  command
      .add_option("--tracks", tracks,
                  "talkers: talker tracks with stable ids (TrackTalkers after the localiser); events: the "
                  "localiser's own sources, frame by frame (with the default broadband directions, numbered by rank)")
      ->check(CLI::IsMember({"talkers", "events"}))
      ->capture_default_str();
}

LocalizeRunInfo runLocalization(const LocalizeSettings& settings, const std::string& jsonPath,
                                const std::function<void(const FrameSources&)>& onFrame,
                                const std::function<void(const LocalizeRunInfo&)>& beforeCommit) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = nodeParameters(settings);
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const int advance = intParameter(localizer, "ADVANCE");
  checkInput(settings.input, fs);
  // From here on Ctrl-C ends a stream, even one whose header has not arrived yet.
  StopOnSignals signals;

  InputWarnings warnings(settings.diagnostics.strict);
  std::unique_ptr<ScratchFile> scratch;
  if (jsonPath.empty()) scratch = std::make_unique<ScratchFile>("velk-localize");
  FD::Network net;
  buildNetwork(net, settings.input, params, settings.tracks == "talkers", scratch ? scratch->path() : jsonPath);
  // The sources are taken from the network as it runs, not read back from the JSON lines; the
  // frame time is computed as the recorder writes it.
  LocalizeRunInfo info;
  info.frames = runWithProgress(net, settings.diagnostics, [&](long frame) {
    onFrame(frameSources(net.output("recorder", "OUTPUT", static_cast<int>(frame)), frame,
                         static_cast<double>(frame) * advance / fs));
  });
  info.durationSec = static_cast<double>(info.frames) * advance / fs;
  info.method = methodOf(localizer);
  if (beforeCommit) beforeCommit(info);
  net.commit();
  return info;
}

}  // namespace velktool
