#include "velk_binaural/InterauralPhaseTable.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace NSVelkBinaural {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kLanes = 8;
// Larger tables are a mistake, not a head: a whole circle every 0.1 degree of 8193 bins.
constexpr std::size_t kMaxDirections = 3600;
constexpr std::size_t kMaxBins = 8193;

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::invalid_argument("InterauralPhaseTable: " + what);
}

void CheckGrid(const std::vector<double>& azimuths) {
  Require(!azimuths.empty() && azimuths.size() <= kMaxDirections,
          "needs 1 .. " + std::to_string(kMaxDirections) + " directions, not " + std::to_string(azimuths.size()));
  for (double a : azimuths) Require(std::isfinite(a), "an azimuth is not a finite number");
  if (azimuths.size() < 2) return;
  const double step = azimuths[1] - azimuths[0];
  Require(step != 0.0, "the first two azimuths are equal");
  for (std::size_t d = 1; d < azimuths.size(); ++d)
    Require(std::fabs(azimuths[d] - azimuths[d - 1] - step) <= 1e-6 * std::fabs(step),
            "azimuth " + std::to_string(azimuths[d]) + " breaks the even spacing of " + std::to_string(step) +
                " degrees");
}

}  // namespace

InterauralPhaseTable::InterauralPhaseTable(std::vector<double> azimuthsDeg, std::size_t bins, double sampleRateHz)
    : azimuths_(std::move(azimuthsDeg)), bins_(bins), sampleRateHz_(sampleRateHz) {
  CheckGrid(azimuths_);
  Require(bins >= 2 && bins <= kMaxBins, "needs 2 .. " + std::to_string(kMaxBins) + " bins, not " + std::to_string(bins));
  Require(sampleRateHz > 0.0 && std::isfinite(sampleRateHz), "the sampling rate must be positive");
  stride_ = (azimuths_.size() + kLanes - 1) / kLanes * kLanes;
  cos_.assign(bins * stride_, 0.0f);
  sin_.assign(bins * stride_, 0.0f);
}

InterauralPhaseTable::InterauralPhaseTable(std::vector<double> azimuthsDeg,
                                           const std::vector<std::vector<double>>& phases, double sampleRateHz)
    : InterauralPhaseTable(std::move(azimuthsDeg), phases.empty() ? 0 : phases.front().size(), sampleRateHz) {
  Require(phases.size() == azimuths_.size(), std::to_string(phases.size()) + " phase rows for " +
                                                 std::to_string(azimuths_.size()) + " directions");
  for (std::size_t d = 0; d < phases.size(); ++d) {
    Require(phases[d].size() == bins_, "direction " + std::to_string(d) + " has " + std::to_string(phases[d].size()) +
                                           " bins, the first has " + std::to_string(bins_));
    for (std::size_t k = 0; k < bins_; ++k) Set(d, k, phases[d][k]);
  }
}

InterauralPhaseTable InterauralPhaseTable::FromPathDifferences(std::vector<double> azimuthsDeg,
                                                               const std::vector<double>& pathDifferenceM,
                                                               double sampleRateHz, std::size_t bins,
                                                               double speedOfSoundMps) {
  InterauralPhaseTable table(std::move(azimuthsDeg), bins, sampleRateHz);
  Require(pathDifferenceM.size() == table.directions(),
          std::to_string(pathDifferenceM.size()) + " path differences for " + std::to_string(table.directions()) +
              " directions");
  Require(speedOfSoundMps > 0.0 && std::isfinite(speedOfSoundMps), "the speed of sound must be positive");
  for (std::size_t d = 0; d < table.directions(); ++d) {
    Require(std::isfinite(pathDifferenceM[d]), "the path difference of direction " + std::to_string(d) + " is not finite");
    for (std::size_t k = 0; k < bins; ++k)
      table.Set(d, k, 2.0 * kPi * table.binFrequencyHz(k) * pathDifferenceM[d] / speedOfSoundMps);
  }
  return table;
}

double InterauralPhaseTable::binFrequencyHz(std::size_t bin) const {
  return static_cast<double>(bin) * sampleRateHz_ / (2.0 * static_cast<double>(bins_ - 1));
}

void InterauralPhaseTable::Set(std::size_t direction, std::size_t bin, double phase) {
  Require(std::isfinite(phase), "the phase of direction " + std::to_string(direction) + " at bin " +
                                    std::to_string(bin) + " is not finite");
  cos_[bin * stride_ + direction] = static_cast<float>(std::cos(phase));
  sin_[bin * stride_ + direction] = static_cast<float>(std::sin(phase));
}

}  // namespace NSVelkBinaural
