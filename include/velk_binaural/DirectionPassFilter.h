// The pass band of a direction: one PASS/CUTOFF flag per frequency bin, saying whether the bin's
// interaural differences fit a source inside a band of directions, and the extraction that keeps
// the passing bins of both ears and zeroes the rest.
//
// Directions are azimuths in radians, positive to the left, in the front half-plane. Two ears
// cannot tell a source behind the head from its mirror image in front, so a band of directions
// that runs past +-pi/2 is folded back into the front.
//
// The interaural differences compared here are right minus left (phase and level), which is what
// the head model, the measured tables (channel 1 minus channel 0) and differences made with
// Channel::RIGHT as reference all give.
#pragma once

#include <cstddef>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

class InterauralPhaseDifference;
class InterauralIntensityDifference;
struct IIPDS;

// An interval [min, max]; both ends start at zero.
template <class T>
struct MaxMin {
  T max{};
  T min{};
};

namespace PassBandSetMode {
// How a rule's verdict is merged into a flag that already holds a value.
enum Kind {
  AND = 0,       // a verdict may only clear the flag
  OR = 1,        // a verdict may only set it
  OVERWRITE = 2  // the verdict replaces it
};
}  // namespace PassBandSetMode

class VELK_API PassBandFlag {
 public:
  enum Kind { CUTOFF = 0, PASS = 1 };

  explicit PassBandFlag(Kind value = PASS) : value(value) {}
  // Merges `verdict` into this flag as `mode` says; an unknown mode or verdict changes nothing.
  // Inline and branch-light because the rules call it once per bin.
  void Flag(PassBandSetMode::Kind mode, Kind verdict) {
    if (verdict != CUTOFF && verdict != PASS) return;
    const bool set = mode == PassBandSetMode::OVERWRITE || (mode == PassBandSetMode::AND && verdict == CUTOFF) ||
                     (mode == PassBandSetMode::OR && verdict == PASS);
    value = set ? verdict : value;
  }
  Kind Value() const { return value; }

 private:
  Kind value;
};

// Transform length and sampling rate of the spectra being separated; bin i lies at i * fs / nfft Hz.
struct VELK_API SeparationSetting {
  SeparationSetting(int nfft, double fs) : nfft(nfft), fs(fs) {}
  int nfft;
  double fs;  // Hz
};

// Per bin, the span [lo, hi] of a measured table's values over a band of directions: phases up to
// the 1500 Hz bin, levels above it. A NaN in the table makes that bin's span NaN, which no value
// fits.
struct VELK_API TableSpans {
  std::vector<double> lo, hi;
};

// The spans of one table for the bands of directions asked so far. A span depends only on the
// table, the band's direction indices and the spectrum's bin layout, all fixed from frame to frame
// while a talker holds still, so a separator node keeps one of these across frames and the
// measured rule scans the table's directions once per band instead of once per frame.
//
// The cache remembers which table object it was filled from and forgets everything when handed
// another one; a table changed in place (or freed and another made at the same address) is not
// noticed, so whoever replaces the table calls Clear(). It keeps at most kMaxBands bands and starts
// afresh when that is exceeded (a moving talker can ask for many).
class VELK_API TableSpanCache {
 public:
  static constexpr std::size_t kMaxBands = 256;

  // The spans for the band with direction indices first..last and phase reference index
  // `centre`, the first `phaseBins` of `bins` bins judged by phase; computed by `make` on a miss.
  template <class Make>
  const TableSpans& Get(const void* table, int first, int last, int centre, std::size_t phaseBins, std::size_t bins,
                        Make make) {
    if (table != owner) Clear();
    owner = table;
    const Key key(first, last, centre, phaseBins, bins);
    auto found = bands.find(key);
    if (found != bands.end()) return found->second;
    if (bands.size() >= kMaxBands) bands.clear();
    return bands.emplace(key, make()).first->second;
  }
  void Clear() {
    bands.clear();
    owner = nullptr;
  }
  std::size_t size() const { return bands.size(); }

 private:
  using Key = std::tuple<int, int, int, std::size_t, std::size_t>;
  std::map<Key, TableSpans> bands;
  const void* owner = nullptr;
};

class VELK_API PassBand {
 public:
  using Angle = NSDimensionPromise::AngleBase<double>;
  using Length = NSDimensionPromise::LengthBase<double>;

  // `bins` flags, each PASS.
  explicit PassBand(std::size_t bins) : flags(bins, PassBandFlag(PassBandFlag::PASS)) {}

  // Head-model rule: a bin below 1500 Hz passes when its phase difference lies strictly between
  // the phase differences the spherical head model gives at the two ends of the band of
  // directions. Bins at or above 1500 Hz, and bin 0, never pass.
  void SetPassBandEpipolar(PassBandSetMode::Kind mode, const boost::shared_ptr<SeparationSetting>& setting,
                           Angle direction, Angle range, const boost::shared_ptr<InterauralPhaseDifference>& ipd,
                           Length distance, Length radius);

  // Measured-table rule: up to the 1500 Hz bin the frame's phase difference, above it the level
  // difference, must lie strictly inside the span the table shows over the band's directions, and
  // both ears must hear the bin more than `threshold` dB above their background noise. Throws
  // std::logic_error "mmi is invalid" when the band reaches outside the table's directions, and
  // std::length_error when the table holds fewer bins per direction than the spectrum; no flag
  // changes in either case. With `spans` given, the table's spans are taken from and kept in it.
  void SetPassBandHRTF(PassBandSetMode::Kind mode, const boost::shared_ptr<SeparationSetting>& setting, Angle direction,
                       Angle range, const boost::shared_ptr<InterauralPhaseDifference>& ipd,
                       const boost::shared_ptr<InterauralIntensityDifference>& iid, const FloatPairPtr& levels,
                       const FloatPairPtr& noise, const IIPDS& table, float threshold,
                       TableSpanCache* spans = nullptr);

  std::vector<PassBandFlag> flags;  // bin 0 first
};

// Half-width of the band of directions for a source at `direction`: rangeMin straight ahead,
// growing linearly to rangeMax at +-pi/2 (and on beyond, unclamped).
VELK_API NSDimensionPromise::AngleBase<double> getPermissibleDirectionRange(NSDimensionPromise::AngleBase<double> direction,
                                                                   NSDimensionPromise::AngleBase<double> rangeMin,
                                                                   NSDimensionPromise::AngleBase<double> rangeMax);

// Writes the band of directions [direction - range, direction + range], folded into the front
// half-plane, into `band`.
VELK_API void CalculateMaxMin(NSDimensionPromise::AngleBase<double> direction, NSDimensionPromise::AngleBase<double> range,
                     MaxMin<NSDimensionPromise::AngleBase<double>>& band);

// Overwrites every flag of `band` with `value`.
VELK_API void SetPassBandFlags(const boost::shared_ptr<PassBand>& band, PassBandFlag::Kind value);

// Keeps the passing bins of a two-ear spectrum.
class VELK_API BandExtractor {
 public:
  explicit BandExtractor(ComplexPairPtr spectra) : spectra(std::move(spectra)) {}

  // A new pair of new spectra: the input's bins where `band` passes, zero where it cuts off.
  // Empty when `band` or the spectra are missing, the ears differ in length, or the band has a
  // different number of flags than the spectra have bins.
  ComplexPairPtr Extract(const boost::shared_ptr<PassBand>& band) const;

  ComplexPairPtr spectra;
};

}  // namespace NSVelkBinaural
