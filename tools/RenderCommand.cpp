// `velk-binaural render`: places a mono recording at an azimuth by convolving it with the
// head-related impulse responses of a SOFA set, giving a two-ear recording (channel 0 left).
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <mysofa.h>

#include "Commands.h"
#include "OptionChecks.h"
#include "Outputs.h"
#include "SoundFile.h"
#include "ToolSupport.h"

namespace velktool {

namespace {

const char* const kDefaultSofa = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa";

struct SofaCloser {
  void operator()(MYSOFA_EASY* sofa) const { mysofa_close(sofa); }
};
using SofaHandle = std::unique_ptr<MYSOFA_EASY, SofaCloser>;

// The impulse responses of one direction, at the recording's sampling rate.
struct EarResponses {
  std::vector<float> left, right;
  int delayLeft = 0, delayRight = 0;  // samples added before each response
};

EarResponses loadResponses(const std::string& sofaPath, int sampleRate, double azimuthDeg) {
  int filterLength = 0, err = 0;
  SofaHandle sofa(mysofa_open(sofaPath.c_str(), static_cast<float>(sampleRate), &filterLength, &err));
  if (!sofa || err != MYSOFA_OK)
    throw std::runtime_error("cannot read the SOFA set " + sofaPath + " (libmysofa error " + std::to_string(err) + ")");
  EarResponses ears;
  ears.left.resize(static_cast<size_t>(filterLength));
  ears.right.resize(static_cast<size_t>(filterLength));
  // SOFA coordinates: x to the front, y to the left, z up; a positive azimuth lies to the left.
  const double rad = azimuthDeg * M_PI / 180.0;
  float delayLeftSec = 0.0f, delayRightSec = 0.0f;
  mysofa_getfilter_float(sofa.get(), static_cast<float>(std::cos(rad)), static_cast<float>(std::sin(rad)), 0.0f,
                         ears.left.data(), ears.right.data(), &delayLeftSec, &delayRightSec);
  ears.delayLeft = static_cast<int>(std::lround(delayLeftSec * sampleRate));
  ears.delayRight = static_cast<int>(std::lround(delayRightSec * sampleRate));
  return ears;
}

// Full linear convolution of `signal` with `response`, written into every `stride`-th element
// of `out` from `offset` on, shifted by `delay` samples.
void convolveInto(const std::vector<float>& signal, const std::vector<float>& response, int delay,
                  std::vector<float>& out, size_t stride, size_t offset) {
  for (size_t n = 0; n < signal.size(); ++n) {
    const float x = signal[n];
    if (x == 0.0f) continue;
    for (size_t k = 0; k < response.size(); ++k) out[(n + k + static_cast<size_t>(delay)) * stride + offset] += x * response[k];
  }
}

struct RenderOptions {
  std::string in, out, sofa = kDefaultSofa;
  double azimuthDeg = 0.0;
  bool keepTail = false;  // keep the responses' tail after the recording's end
  bool strict = false;
};

int render(const RenderOptions& options) {
  InputWarnings warnings(options.strict);
  const Sound mono = readSound(options.in);
  if (mono.info.channels != 1)
    return fail(options.in + " has " + std::to_string(mono.info.channels) +
                " channels; render needs a mono recording (mix it down first, e.g. sox " + options.in +
                " -c 1 mono.wav)");
  const EarResponses ears = loadResponses(options.sofa, mono.info.sampleRate, options.azimuthDeg);
  const size_t tail = ears.left.size() + static_cast<size_t>(std::max(ears.delayLeft, ears.delayRight));
  std::vector<float> stereo((mono.samples.size() + tail) * 2, 0.0f);
  convolveInto(mono.samples, ears.left, ears.delayLeft, stereo, 2, 0);
  convolveInto(mono.samples, ears.right, ears.delayRight, stereo, 2, 1);
  // As long as the recording, so that it lines up with it sample for sample; the responses' tail
  // (their length and onset delay) only when asked for.
  if (!options.keepTail) stereo.resize(mono.samples.size() * 2);
  writeSoundFloat(options.out, mono.info.sampleRate, 2, stereo);
  return 0;
}

}  // namespace

void addRenderCommand(CLI::App& app, Status& status) {
  auto options = std::make_shared<RenderOptions>();
  CLI::App* cmd = app.add_subcommand(
      "render", "Place a mono recording at an azimuth through a set of head-related impulse responses; "
                "writes a 2-channel float WAV (channel 0 = left ear) at the input's sampling rate, as long as the input.");
  cmd->add_option("IN", options->in, "mono input recording")->required()->check(CLI::ExistingFile);
  cmd->add_option("OUT", options->out, "2-channel output WAV")->required();
  cmd->add_option("--azimuth", options->azimuthDeg, "direction in degrees, positive to the left, 0 ahead")
      ->required()
      ->check(RealNumber({-180, 180}, "an azimuth in degrees"));
  cmd->add_option("--sofa", options->sofa, "SOFA set of head-related impulse responses")
      ->capture_default_str()
      ->check(CLI::ExistingFile);
  cmd->add_flag("--tail", options->keepTail,
                "keep the responses' tail after the recording's end (the output is then longer than the input)");
  cmd->add_flag("--strict", options->strict, "treat warnings about the input as errors");
  cmd->callback([options, &status] {
    status.code = reportFailures([&] {
      refuseInputsAsOutputs({{"OUT", options->out}}, {{"input recording IN", options->in}, {"SOFA set", options->sofa}});
      return render(*options);
    });
  });
}

}  // namespace velktool
