#include "velk_binaural/BroadbandDirectionFinder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace NSVelkBinaural {

namespace {

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::invalid_argument("BroadbandDirectionFinder: " + what);
}

bool Finite(float x) { return x - x == 0.0f; }

}  // namespace

BroadbandDirectionFinder::BroadbandDirectionFinder(const BroadbandDirectionConfig& config,
                                                   std::shared_ptr<const InterauralPhaseTable> table)
    : config_(config), table_(std::move(table)) {
  const BroadbandDirectionConfig& c = config;
  Require(table_ != nullptr, "no interaural phase table");
  const double nyquist = table_->sampleRateHz() / 2.0;
  Require(c.minFrequencyHz >= 0.0 && c.minFrequencyHz < c.maxFrequencyHz && c.maxFrequencyHz <= nyquist,
          "the frequency range " + std::to_string(c.minFrequencyHz) + " .. " + std::to_string(c.maxFrequencyHz) +
              " Hz must rise and lie within 0 .. " + std::to_string(nyquist) + " Hz");
  Require(c.binSnrDb >= 0.0f && c.binSnrDb <= 60.0f, "binSnrDb " + std::to_string(c.binSnrDb) + " must lie in 0 .. 60");
  Require(c.coherenceSmoothing >= 0.0f && c.coherenceSmoothing < 1.0f, "coherenceSmoothing must lie in [0, 1)");
  Require(c.minCoherence >= 0.0f && c.minCoherence <= 1.0f, "minCoherence must lie in [0, 1]");
  Require(c.minBins >= 1, "minBins must be at least 1");
  Require(c.minMatch > -1.0f && c.minMatch <= 1.0f, "minMatch must lie in (-1, 1]");
  Require(c.explainedMatch > -1.0f && c.explainedMatch < 1.0f, "explainedMatch must lie in (-1, 1)");
  Require(c.minShare >= 0.0f && c.minShare <= 1.0f, "minShare must lie in [0, 1]");
  Require(c.maxDirections >= 1, "maxDirections must be at least 1");

  const double binHz = table_->binFrequencyHz(1);
  firstBin_ = static_cast<std::size_t>(std::ceil(c.minFrequencyHz / binHz - 1e-9));
  endBin_ = std::min(table_->bins(), static_cast<std::size_t>(std::floor(c.maxFrequencyHz / binHz + 1e-9)) + 1);
  Require(firstBin_ < endBin_, "the frequency range holds no bin");
  snrGain_ = std::pow(10.0f, c.binSnrDb / 10.0f);
  phasors_.reserve(endBin_ - firstBin_);
  left_.reserve(endBin_ - firstBin_);
  sums_.assign(table_->stride(), 0.0f);
  reports_.reserve(c.maxDirections);
  reset();
}

void BroadbandDirectionFinder::reset() {
  const std::size_t n = endBin_ - firstBin_;
  for (std::vector<float>* v : {&crossRe_, &crossIm_, &autoLeft_, &autoRight_}) v->assign(n, 0.0f);
  noNoise_.assign(n, std::numeric_limits<float>::infinity());
  taking_.assign(n, 0.0f);
  phasors_.clear();
  reports_.clear();
}

const std::vector<SourceReport>& BroadbandDirectionFinder::process(const StereoSpectrumView& frame,
                                                                  const float* noiseLeft, const float* noiseRight) {
  // (Checked before any message is made: this runs on every frame.)
  if (!frame.left || !frame.right)
    throw std::invalid_argument("BroadbandDirectionFinder: a frame needs a left and a right spectrum");
  if (frame.bins != table_->bins())
    throw std::invalid_argument("BroadbandDirectionFinder: a frame of " + std::to_string(frame.bins) +
                                " bins for a table of " + std::to_string(table_->bins()) + " bins");
  reports_.clear();
  SelectBins(frame, noiseLeft, noiseRight);
  const std::size_t total = phasors_.size();
  if (total < config_.minBins) return reports_;

  SteeredSums();
  left_.assign(total, 1);
  std::size_t remaining = total;
  while (reports_.size() < config_.maxDirections && remaining >= config_.minBins) {
    const std::size_t best = Best();
    if (sums_[best] < config_.minMatch * static_cast<float>(remaining)) break;
    const double azimuth = InterpolatedAzimuth(best);
    const std::size_t explained = TakeOutExplained(best);
    const double share = static_cast<double>(explained) / static_cast<double>(total);
    if (explained == 0 || (!reports_.empty() && share < config_.minShare)) break;
    reports_.push_back(SourceReport{azimuth, share, -1});
    remaining -= explained;
  }
  return reports_;
}

namespace {

// Updates the coherence averages of every bin in range and marks the bins that take part. The
// loop has no branch and its pointers are declared not to overlap, so that it vectorises: a
// frame runs it over every bin of the range. A bin with a value that is not finite leaves its
// averages as they were (kept at weight 1, its input at weight 0).
void UpdateBins(const float* __restrict left, const float* __restrict right, const float* __restrict noiseLeft,
                const float* __restrict noiseRight, float* __restrict crossRe, float* __restrict crossIm,
                float* __restrict autoLeft, float* __restrict autoRight, float* __restrict taking, std::size_t n,
                float keep, float minCoherence2, float snrGain) {
  const float add = 1.0f - keep;
  for (std::size_t i = 0; i < n; ++i) {
    // left and right hold (real, imaginary) pairs.
    const float lr = left[2 * i], li = left[2 * i + 1], rr = right[2 * i], ri = right[2 * i + 1];
    const float pl = lr * lr + li * li, pr = rr * rr + ri * ri;
    // R conj(L): its argument is the phase of the right ear minus that of the left.
    const float xr = rr * lr + ri * li, xi = ri * lr - rr * li;
    const bool finite = Finite(pl + pr);
    const float k = finite ? keep : 1.0f, a = finite ? add : 0.0f;
    const float cr = k * crossRe[i] + a * (finite ? xr : 0.0f);
    const float ci = k * crossIm[i] + a * (finite ? xi : 0.0f);
    const float al = k * autoLeft[i] + a * (finite ? pl : 0.0f);
    const float ar = k * autoRight[i] + a * (finite ? pr : 0.0f);
    crossRe[i] = cr;
    crossIm[i] = ci;
    autoLeft[i] = al;
    autoRight[i] = ar;
    const float coherent = cr * cr + ci * ci >= minCoherence2 * al * ar ? 1.0f : 0.0f;
    const float aboveNoise = (pl > snrGain * noiseLeft[i] ? 1.0f : 0.0f) * (pr > snrGain * noiseRight[i] ? 1.0f : 0.0f);
    const float sound = pl * pr > 0.0f ? 1.0f : 0.0f;  // a phase needs both ears
    taking[i] = (finite ? 1.0f : 0.0f) * sound * coherent * aboveNoise;
  }
}

}  // namespace

// Collects the bins that take part (the few that UpdateBins marks) with their phase as a unit
// phasor.
void BroadbandDirectionFinder::SelectBins(const StereoSpectrumView& frame, const float* noiseLeft,
                                          const float* noiseRight) {
  phasors_.clear();
  const std::size_t n = endBin_ - firstBin_;
  const std::complex<float>* left = frame.left + firstBin_;
  const std::complex<float>* right = frame.right + firstBin_;
  // Without a noise floor no bin stands above it.
  const bool withNoise = noiseLeft && noiseRight;
  // std::complex<float> is laid out as an array of its real and imaginary parts.
  UpdateBins(reinterpret_cast<const float*>(left), reinterpret_cast<const float*>(right),
             withNoise ? noiseLeft + firstBin_ : noNoise_.data(), withNoise ? noiseRight + firstBin_ : noNoise_.data(),
             crossRe_.data(), crossIm_.data(), autoLeft_.data(), autoRight_.data(), taking_.data(), n,
             config_.coherenceSmoothing, config_.minCoherence * config_.minCoherence, snrGain_);
  for (std::size_t i = 0; i < n; ++i) {
    if (taking_[i] == 0.0f) continue;
    const std::complex<float> l = left[i], r = right[i];
    const float xr = r.real() * l.real() + r.imag() * l.imag(), xi = r.imag() * l.real() - r.real() * l.imag();
    const float inverse = 1.0f / std::sqrt(std::norm(l) * std::norm(r));  // 1 / |R conj(L)|, finite here
    phasors_.push_back(Phasor{xr * inverse, xi * inverse, firstBin_ + i});
  }
}

// sums[d] = sum over the bins taking part of cos(observed - expected phase at d).
void BroadbandDirectionFinder::SteeredSums() {
  const std::size_t stride = table_->stride();
  float* sums = sums_.data();
  std::fill(sums, sums + stride, 0.0f);
  for (const Phasor& p : phasors_) {
    const float* c = table_->cosines(p.bin);
    const float* s = table_->sines(p.bin);
    for (std::size_t d = 0; d < stride; ++d) sums[d] += p.c * c[d] + p.s * s[d];
  }
}

std::size_t BroadbandDirectionFinder::Best() const {
  const std::size_t n = table_->directions();
  return static_cast<std::size_t>(std::max_element(sums_.begin(), sums_.begin() + static_cast<long>(n)) - sums_.begin());
}

// The peak of the parabola through the best direction and its neighbours: the grid is coarser
// than the precision a direction is found with.
double BroadbandDirectionFinder::InterpolatedAzimuth(std::size_t best) const {
  const double azimuth = table_->azimuthDeg(best);
  if (best == 0 || best + 1 >= table_->directions()) return azimuth;
  const double before = sums_[best - 1], at = sums_[best], after = sums_[best + 1];
  const double curvature = before - 2.0 * at + after;
  if (!(curvature < 0.0)) return azimuth;
  return azimuth + 0.5 * (before - after) / curvature * table_->stepDeg();
}

std::size_t BroadbandDirectionFinder::TakeOutExplained(std::size_t d) {
  const std::size_t stride = table_->stride();
  float* sums = sums_.data();
  std::size_t explained = 0;
  for (std::size_t j = 0; j < phasors_.size(); ++j) {
    if (!left_[j]) continue;
    const Phasor& p = phasors_[j];
    const float* c = table_->cosines(p.bin);
    const float* s = table_->sines(p.bin);
    if (p.c * c[d] + p.s * s[d] <= config_.explainedMatch) continue;
    left_[j] = 0;
    ++explained;
    for (std::size_t e = 0; e < stride; ++e) sums[e] -= p.c * c[e] + p.s * s[e];
  }
  return explained;
}

}  // namespace NSVelkBinaural
