// Synthetic two-ear recordings for the localisation tests: voiced talkers placed at an azimuth
// by the spherical-head path difference, noise, and their spectra framed as the localise network
// frames them (512-point periodic Hann frames centred every 160 samples at 16 kHz).
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "velk_binaural/InterauralPhaseTable.h"
#include "velk_binaural/StereoSpectrum.h"

namespace testscene {

constexpr int kRate = 16000;
constexpr int kFrame = 512;
constexpr int kHop = 160;
constexpr std::size_t kBins = kFrame / 2 + 1;

struct Stereo {
  std::vector<float> left, right;
  std::size_t size() const { return left.size(); }
};

std::size_t Samples(double seconds);

// A voiced talker: harmonics of a fundamental near f0Hz (with a slow glide) up to 5 kHz, spoken
// as phrases of kPhraseSec with kPauseSec of silence between them, each phrase syllables of
// 0.2 s with 0.05 s gaps; it starts with a phrase. RMS about 0.1 over the syllables.
constexpr double kPhraseSec = 1.2;
constexpr double kPauseSec = 0.3;
std::vector<float> Voice(double seconds, double f0Hz, unsigned seed);
// White noise of the given RMS.
std::vector<float> WhiteNoise(std::size_t samples, double rms, unsigned seed);

// The source as the two ears hear it from `azimuthDeg` (positive to the left): each ear delayed
// by half the spherical head's path difference (0.09 m radius, source at 1 m) the other way.
Stereo FromDirection(const std::vector<float>& source, double azimuthDeg);
// Independent noise in each ear: a diffuse field that points nowhere.
Stereo IncoherentNoise(std::size_t samples, double rms, unsigned seed);
// The diffuse reverberation of a source: the source convolved with an exponentially decaying
// noise of the given RT60, independent in each ear, scaled to `rms` over the source's length.
Stereo Reverberation(const std::vector<float>& source, double rt60Sec, double rms, unsigned seed);
// Adds `what` into `to` from sample `offset` on (what does not fit is dropped).
void Add(Stereo& to, const Stereo& what, std::size_t offset = 0);

// The frames' spectra.
class Spectra {
 public:
  explicit Spectra(const Stereo& signal);
  std::size_t frames() const { return left_.size(); }
  NSVelkBinaural::StereoSpectrumView frame(std::size_t i) const;
  double timeSec(std::size_t i) const { return static_cast<double>(i) * kHop / kRate; }
  // Frame i with bin `bin` of the left ear set to `value` (for bad-value tests).
  void set(std::size_t i, std::size_t bin, std::complex<float> value) { left_[i][bin] = value; }

 private:
  std::vector<std::vector<std::complex<float>>> left_, right_;
};

// The spherical head's interaural phases on -90 .. 90 degrees every 5 degrees, for kBins bins.
std::shared_ptr<const NSVelkBinaural::InterauralPhaseTable> HeadModelTable();

}  // namespace testscene
