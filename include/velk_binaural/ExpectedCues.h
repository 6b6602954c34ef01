// The interaural cues a talker in a given direction is expected to produce, per frequency bin.
//
// A talker at azimuth a reaches the ears through the responses d = (left, right) of that
// direction; whatever it says, every bin it dominates has a two-ear spectrum proportional to d.
// What tells directions apart is therefore d up to its scale, held here as the unit-trace spatial
// covariance d d^H / |d|^2: its diagonal carries the level difference, its off-diagonal term the
// phase difference, at every frequency. The responses come from a transfer-function file
// (measured or geometric) or from a rigid spherical head.
#pragma once

#include <complex>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "velk_binaural/Export.h"
#include "velkio/VELK.h"

namespace NSVelkBinaural {

// A rigid spherical head with the ears at +-90 degrees, and the distance of the talkers.
struct VELK_API SphereHead {
  double radiusM = 0.09;          // head radius, metres
  double distanceM = 1.0;         // talker distance from the head centre, metres; above the radius
  double speedOfSoundMs = 340.0;  // metres per second
};

// One bin of a unit-trace 2 x 2 Hermitian covariance [[a, b], [conj(b), 1 - a]].
struct VELK_API CueCovariance {
  float a = 0.5f;         // share of the left ear, 0 .. 1
  std::complex<float> b;  // left times conj(right), relative to the sum of both powers
};

class VELK_API ExpectedCues {
 public:
  // The responses of a transfer-function file already read, channel `leftChannel` being the left
  // ear and `rightChannel` the right one. Measured files place each direction at the azimuth of its first position;
  // geometric files spread theirs over -90 .. +90 degrees. Throws std::invalid_argument naming
  // what is missing or unusable (no format chunk, no responses, a channel pair that is not two
  // different channels of every direction, bins other than nfft/2 + 1, a measured direction
  // without a position). A bin where both ears' responses are zero prefers no direction.
  static ExpectedCues fromFile(const velkio::VELK& file, int leftChannel = 0, int rightChannel = 1);
  // The rigid sphere of velkio::sphereResponse, whole band, computed on demand for each whole
  // degree of azimuth that is asked for. Throws std::invalid_argument for a radius, distance or
  // speed of sound that are not positive, a distance not beyond the radius, a rate that is not
  // positive or a transform length that is not even and at least 2.
  static ExpectedCues sphere(const SphereHead& head, int sampleRate, int nfft);

  int sampleRate() const { return sampleRate_; }
  int nfft() const { return nfft_; }
  std::size_t bins() const { return static_cast<std::size_t>(nfft_ / 2 + 1); }

  // The expected covariance of a talker at `azimuthDeg` (degrees, positive to the left), one
  // entry per bin. Between two known directions the covariances of both are mixed in proportion
  // to the distance to each; beyond the known ones the nearest is taken. A head model is
  // front-back symmetric, so for tables of the front half a direction behind the head is folded
  // onto the front one with the same lateral angle (100 degrees onto 80).
  std::vector<CueCovariance> covariance(double azimuthDeg) const;

 private:
  // Normalised covariances of every known direction, in ascending azimuth.
  struct Table {
    std::vector<double> azimuthsDeg;
    std::vector<std::vector<CueCovariance>> perDirection;
  };

  ExpectedCues(int sampleRate, int nfft) : sampleRate_(sampleRate), nfft_(nfft) {}
  std::vector<CueCovariance> tableCovariance(double azimuthDeg) const;
  std::vector<CueCovariance> sphereCovariance(double azimuthDeg) const;
  const std::vector<CueCovariance>& sphereAt(int wholeDegree) const;

  int sampleRate_ = 0;
  int nfft_ = 0;
  std::shared_ptr<const Table> table_;  // null for the sphere
  SphereHead head_;
  // Sphere covariances computed so far, by whole degree in -90 .. 90; shared by copies.
  struct SphereCache {
    std::mutex lock;
    std::map<int, std::vector<CueCovariance>> byDegree;
  };
  std::shared_ptr<SphereCache> sphereCache_;
};

// The unit-trace covariance of one bin's two-ear value (left, right); equal shares and no
// correlation when both are zero.
VELK_API CueCovariance NormalisedCovariance(std::complex<float> left, std::complex<float> right);

}  // namespace NSVelkBinaural
