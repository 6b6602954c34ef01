#include "LocalizeRun.h"

#include <memory>
#include <stdexcept>

#include "NodeParameterBuilder.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/Plugin.h"
#include "fd/Values.h"

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

void buildNetwork(FD::Network& net, const AudioInput& input, const FD::ParameterSet& localizer,
                  const std::string& jsonPath) {
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
  net.connect("localize", "SOURCES", "recorder", "INPUT");
  net.addOutput("recorder", "OUTPUT");
}

// "measured" or "epipolar", as the localiser's parameters finally say.
std::string methodOf(const FD::ParameterSet& localizer) {
  const auto* method = dynamic_cast<const FD::String*>(localizer.get("LOCALIZE_METHOD").get());
  return method && method->str() == "HRTFMESURED" ? "measured" : "epipolar";
}

}  // namespace

// The node's defaults tune the harmonic-sound pipeline (their measurements are with its
// declarations, src/LocalizerConfig.cpp). The command line runs another one, chosen on the
// measuring sets ../shared/scenes-wide (24 anechoic scenes) and ../shared/scenes-rooms (8 scenes,
// RT60 0.45 s), scored with the rules of ../shared/scenegen/score.py, each also cut to start with
// speech (--trim-lead). Figures: talkers within 5 / 10 degrees, hit, spurious reports, ids per
// talker; singles / mixtures.
//   DIRECTIONS BROADBAND     measured tables, anechoic: every talker found, all within 5 degrees,
//                            hit 0.91-0.97, no spurious reports, 1.0-1.08 ids per talker; room:
//                            all within 10 degrees, 1.0-1.33 ids, 0-9% spurious; the head model
//                            the same anechoic, 1.0-1.67 ids in the room. HARMONIC (the harmonic
//                            sounds and their events): singles 92% within 5 degrees, pairs 88%
//                            and triples 67% within 10, one single and two talkers of triples
//                            missed, 3.3-5.6 ids per talker, 20-24% spurious; room: 10-23 ids.
//   TRACKS TALKERS           EVENTS (the frame's directions with their rank as id): hit 0.44-0.78
//                            anechoic, 0.15-0.30 in the room, as a talker is heard in a fraction
//                            of its frames only; talkers hold it over pauses.
//   NOISE_FLOOR ADAPTIVE     FIRST_FRAMES with BROADBAND: the same anechoic figures, in the room
//                            2.33 against 2.0 ids per single talker and 1.5 against 1.17 per
//                            talker of pairs; and a floor learnt once cannot follow a noise that
//                            changes, nor a recording that starts with digital silence.
//   HEAD_RADIUS 0.0925 m     (head model only) median error over all talkers 0.07: 10.7 / 14.2
//                            degrees (anechoic / room); 0.08: 5.0 / 5.1; 0.085: 3.7 / 4.0;
//                            0.09: 1.0 / 2.3; 0.0925: 1.2 / 2.0 (mean 1.6 / 2.9, the lowest);
//                            0.095: 1.5 / 2.3; 0.0975: 2.8 / 4.2; 0.10: 4.6 / 5.7; 0.11: 7.1 / 9.2.
//                            The broadband phases are mostly those of 1.5-5 kHz, where the path
//                            model with about the head's own radius holds. (The harmonic pipeline
//                            judges below 1.5 kHz, where a real head delays more: it fits 0.11 m
//                            best, 82% of talkers within 10 degrees against 62% at 0.09.)
void chooseCommandLineStages(NetworkParameters& params, const std::string& nodeType) {
  params.set(nodeType, "NOISE_FLOOR", "ADAPTIVE");
  params.set(nodeType, "DIRECTIONS", "BROADBAND");
  params.set(nodeType, "TRACKS", "TALKERS");
  params.set(nodeType, "HEAD_RADIUS", "0.0925");
}

LocalizeRunInfo runLocalization(const LocalizeSettings& settings, const std::string& jsonPath,
                                const std::function<void(const FrameSources&)>& onFrame,
                                const std::function<void(const LocalizeRunInfo&)>& beforeCommit) {
  FD::loadPlugin("velk_binaural");
  const NetworkParameters params = localizerParameters(settings);
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
