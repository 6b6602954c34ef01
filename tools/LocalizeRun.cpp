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

// The localiser's parameters: the declared defaults, the command line's stages, the method, then
// --param overrides, each typed as the node's declarations say.
NetworkParameters localizerParameters(const LocalizeSettings& settings) {
  NetworkParameters params;
  params.addNode(kNodeType);
  chooseCommandLineStages(params, kNodeType);
  if (settings.given.has("--method")) params.claim("LOCALIZE_METHOD", "--method " + settings.method);
  if (settings.given.has("--tf")) params.claim("VELK_DAT", "--tf");
  if (settings.given.has("--channels")) params.claim("VELK_DAT_CHANNELS", "--channels");
  if (settings.method == "measured") {
    params.set(kNodeType, "LOCALIZE_METHOD", "HRTFMESURED");
    params.set(kNodeType, "VELK_DAT", settings.table.empty() ? defaultTable() : settings.table);
    params.set(kNodeType, "VELK_DAT_CHANNELS",
               std::to_string(settings.channels[0]) + "," + std::to_string(settings.channels[1]));
  }
  for (const std::string& assignment : settings.params) params.assign(assignment);
  return params;
}

void buildNetwork(FD::Network& net, const std::string& input, const FD::ParameterSet& localizer,
                  const std::string& jsonPath) {
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const int advance = intParameter(localizer, "ADVANCE");
  FD::ParameterSet source;
  source.add("FILENAME", textValue(input));
  source.add("SAMPLING_RATE", intValue(fs));
  source.add("CHANNELS", intValue(2));
  source.add("LENGTH", intValue(kFrameLength));
  source.add("ADVANCE", intValue(advance));
  FD::ParameterSet stft;
  stft.add("LENGTH", intValue(kFrameLength));
  stft.add("WINDOW", textValue("HANN"));
  FD::ParameterSet recorder;
  recorder.add("FILENAME", textValue(jsonPath));
  recorder.add("SAMPLING_RATE", intValue(fs));
  recorder.add("ADVANCE", intValue(advance));

  net.addNode("AudioFileSource", "source", source);
  net.addNode("MultiFFT", "stft", stft);
  net.addNode(kNodeType, "localize", localizer);
  net.addNode("SourceRecorder", "recorder", recorder);
  net.connect("source", "AUDIO", "stft", "INPUT");
  net.connect("source", "AUDIO", "localize", "AUDIO");
  net.connect("stft", "OUTPUT", "localize", "SPECTRUM");
  net.connect("localize", "SOURCES", "recorder", "INPUT");
  net.addOutput("recorder", "OUTPUT");
}

// "measured" or "epipolar", as the localiser's parameters finally say.
std::string methodOf(const FD::ParameterSet& localizer) {
  const auto* method = dynamic_cast<const FD::String*>(localizer.get("LOCALIZE_METHOD").get());
  return method && method->str() == "HRTFMESURED" ? "measured" : "epipolar";
}

}  // namespace

// The stages applications run (RecommendedStages.h, where their measurements are), each typed as
// the node's declarations say.
void chooseCommandLineStages(NetworkParameters& params, const std::string& nodeType) {
  for (const auto& [name, value] : NSVelkBinaural::RecommendedLocalizerStages())
    params.set(nodeType, name, std::holds_alternative<std::string>(value) ? std::get<std::string>(value)
                                                                          : velkparam::ToText(value));
}

LocalizeRunInfo runLocalization(const LocalizeSettings& settings, const std::string& jsonPath,
                                const std::function<void(const FrameSources&)>& onFrame,
                                const std::function<void(const LocalizeRunInfo&)>& beforeCommit) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = localizerParameters(settings);
  const FD::ParameterSet& localizer = params.of(kNodeType);
  const int fs = intParameter(localizer, "SAMPLING_RATE");
  const int advance = intParameter(localizer, "ADVANCE");
  const std::string problem = recordingProblem(settings.input, fs, "localize");
  if (!problem.empty()) throw std::runtime_error(problem);

  InputWarnings warnings(settings.diagnostics.strict);
  std::unique_ptr<ScratchFile> scratch;
  if (jsonPath.empty()) scratch = std::make_unique<ScratchFile>("velk-localize");
  FD::Network net;
  buildNetwork(net, settings.input, localizer, scratch ? scratch->path() : jsonPath);
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
