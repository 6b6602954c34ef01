// `velk-binaural render`: places a mono recording at an azimuth by convolving it with the
// head-related impulse responses of a SOFA set, giving a two-ear recording (channel 0 left).
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <mysofa.h>

#include "Commands.h"
#include "SoundFile.h"

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

int render(const std::string& inPath, const std::string& outPath, double azimuthDeg, const std::string& sofaPath) {
  const Sound mono = readSound(inPath);
  if (mono.info.channels != 1)
    return fail(inPath + " has " + std::to_string(mono.info.channels) +
                " channels; render needs a mono recording (mix it down first, e.g. sox " + inPath +
                " -c 1 mono.wav)");
  if (azimuthDeg < -180.0 || azimuthDeg > 180.0)
    return fail("--azimuth " + std::to_string(azimuthDeg) + " is outside -180 .. 180 degrees");
  const EarResponses ears = loadResponses(sofaPath, mono.info.sampleRate, azimuthDeg);
  const size_t tail = ears.left.size() + static_cast<size_t>(std::max(ears.delayLeft, ears.delayRight));
  std::vector<float> stereo((mono.samples.size() + tail) * 2, 0.0f);
  convolveInto(mono.samples, ears.left, ears.delayLeft, stereo, 2, 0);
  convolveInto(mono.samples, ears.right, ears.delayRight, stereo, 2, 1);
  writeSoundFloat(outPath, mono.info.sampleRate, 2, stereo);
  return 0;
}

}  // namespace

void addRenderCommand(CLI::App& app, Status& status) {
  struct Options {
    std::string in, out, sofa = kDefaultSofa;
    double azimuth = 0.0;
  };
  auto options = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "render", "Place a mono recording at an azimuth through a set of head-related impulse responses; "
                "writes a 2-channel float WAV (channel 0 = left ear) at the input's sampling rate.");
  cmd->add_option("IN", options->in, "mono input recording")->required()->check(CLI::ExistingFile);
  cmd->add_option("OUT", options->out, "2-channel output WAV")->required();
  cmd->add_option("--azimuth", options->azimuth, "direction in degrees, positive to the left, 0 ahead")
      ->required();
  cmd->add_option("--sofa", options->sofa, "SOFA set of head-related impulse responses")
      ->capture_default_str()
      ->check(CLI::ExistingFile);
  cmd->callback([options, &status] {
    try {
      status.code = render(options->in, options->out, options->azimuth, options->sofa);
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

}  // namespace velktool
