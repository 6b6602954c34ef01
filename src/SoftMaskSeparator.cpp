#include "velk_binaural/SoftMaskSeparator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

namespace NSVelkBinaural {
namespace {

// A talker whose direction moves by at least this much gets the expected cues of its new
// direction; the cue tables change by well under this between neighbouring degrees.
constexpr double kRefreshCuesDeg = 1.0;
// A talker whose direction jumps by more than this is treated as a new one: what was learnt
// about it belongs to another place.
constexpr double kRestartDeg = 10.0;
// Smallest value of a spatial model's quadratic form on a unit vector; the models keep an
// eigenvalue of at least cueSpread * anchor share, far above this, so it only guards rounding.
constexpr float kLeastSpread = 1e-7f;

float perFrameFactor(float timeS, const SoftMaskSeparatorConfig& c, double dbOver) {
  // A level that falls by dbOver decibels in timeS seconds, per frame, as a power factor.
  if (timeS <= 0.0f) return 0.0f;
  const double framesPerSecond = static_cast<double>(c.sampleRate) / c.frameShift;
  return static_cast<float>(std::pow(10.0, -dbOver / 10.0 / (timeS * framesPerSecond)));
}

// ---- per-bin kernels --------------------------------------------------------------------------
//
// Plain loops over the bins of one frame. Their arrays never overlap, which restrict-qualified
// parameters tell the compiler so that it vectorises them; the choices inside are selects.

#define VELK_RESTRICT __restrict

// Power, left-ear share and cross term conj(left) right / power of each bin, and 1 / power. A bin
// whose power is not a finite number above 0 gets power 0, 1 / power 0 and a neutral direction
// (equal ears, uncorrelated), so that nothing computed from it is NaN.
void analyseBins(std::size_t n, const float* VELK_RESTRICT left, const float* VELK_RESTRICT right,
                 float* VELK_RESTRICT power, float* VELK_RESTRICT inverse, float* VELK_RESTRICT leftShare,
                 float* VELK_RESTRICT crossRe, float* VELK_RESTRICT crossIm) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  for (std::size_t k = 0; k < n; ++k) {
    const float lr = left[2 * k], li = left[2 * k + 1], rr = right[2 * k], ri = right[2 * k + 1];
    const float pl = lr * lr + li * li;
    const float p = pl + (rr * rr + ri * ri);
    const bool ok = p > 0.0f && p <= kLargest;  // false for NaN and for overflow
    const float inv = ok ? 1.0f / p : 0.0f;
    power[k] = ok ? p : 0.0f;
    inverse[k] = inv;
    leftShare[k] = ok ? pl * inv : 0.5f;
    crossRe[k] = ok ? (lr * rr + li * ri) * inv : 0.0f;
    crossIm[k] = ok ? (lr * ri - li * rr) * inv : 0.0f;
  }
}

// Unnormalised likelihood det B / q^2 of each bin's direction under one model, with
// q = z^H adj(B) z = (1 - a) |z0|^2 + a |z1|^2 - 2 Re(b conj(z0) z1), added to `sum`.
void likelihoods(std::size_t n, const float* VELK_RESTRICT leftShare, const float* VELK_RESTRICT crossRe,
                 const float* VELK_RESTRICT crossIm, const float* VELK_RESTRICT a, const float* VELK_RESTRICT bRe,
                 const float* VELK_RESTRICT bIm, const float* VELK_RESTRICT det, float* VELK_RESTRICT spread,
                 float* VELK_RESTRICT likelihood, float* VELK_RESTRICT sum) {
  for (std::size_t k = 0; k < n; ++k) {
    const float u = leftShare[k];
    float q = (1.0f - a[k]) * u + a[k] * (1.0f - u) - 2.0f * (bRe[k] * crossRe[k] - bIm[k] * crossIm[k]);
    q = q > kLeastSpread ? q : kLeastSpread;
    spread[k] = q;
    const float l = det[k] / (q * q);
    likelihood[k] = l;
    sum[k] += l;
  }
}

// sum := 1 / sum (0 where the sum is 0).
void invert(std::size_t n, float* VELK_RESTRICT sum) {
  for (std::size_t k = 0; k < n; ++k) sum[k] = sum[k] > 0.0f ? 1.0f / sum[k] : 0.0f;
}

void multiply(std::size_t n, float* VELK_RESTRICT x, const float* VELK_RESTRICT by) {
  for (std::size_t k = 0; k < n; ++k) x[k] *= by[k];
}

void addScaled(std::size_t n, float* VELK_RESTRICT sum, const float* VELK_RESTRICT x, float factor) {
  for (std::size_t k = 0; k < n; ++k) sum[k] += factor * x[k];
}

// The mean of x over the bins [k - half, k + half] that exist, raised to `power`, for every bin k;
// `inverseCount` holds 1 / the number of those bins, `prefix` room for n + 1 partial sums.
void neighbourMeans(std::size_t n, std::size_t half, int power, const float* VELK_RESTRICT x,
                    const float* VELK_RESTRICT inverseCount, float* VELK_RESTRICT prefix, float* VELK_RESTRICT mean) {
  prefix[0] = 0.0f;
  for (std::size_t k = 0; k < n; ++k) prefix[k + 1] = prefix[k] + x[k];
  // Bins whose neighbourhood reaches past an end of the spectrum are clipped; the loop over the
  // others needs no clipping and vectorises.
  auto clipped = [&](std::size_t k) {
    const std::size_t lo = k > half ? k - half : 0, hi = std::min(k + half + 1, n);
    mean[k] = (prefix[hi] - prefix[lo]) * inverseCount[k];
  };
  const std::size_t first = std::min(half, n), last = n > half ? n - half : 0;
  if (first < last) {
    for (std::size_t k = 0; k < first; ++k) clipped(k);
    for (std::size_t k = first; k < last; ++k) mean[k] = (prefix[k + half + 1] - prefix[k - half]) * inverseCount[k];
    for (std::size_t k = last; k < n; ++k) clipped(k);
  } else {
    for (std::size_t k = 0; k < n; ++k) clipped(k);
  }
  // Rounding in the partial sums can leave a mean of zeros slightly negative.
  for (std::size_t k = 0; k < n; ++k) mean[k] = mean[k] > 0.0f ? mean[k] : 0.0f;
  if (power == 1) return;
  for (std::size_t k = 0; k < n; ++k) prefix[k] = mean[k];
  for (int i = 1; i < power; ++i)
    for (std::size_t k = 0; k < n; ++k) mean[k] *= prefix[k];
}

// From the held power of all talkers (in `scale` on entry), the noise floor and the bin's power:
// the factor min(1, power / held) that fits what is held into the bin (in `scale` on return) and
// the new power left over (`fresh`). Unusable bins (1 / power 0) keep what they hold (factor 1)
// and have nothing new.
void fitHeldPower(std::size_t n, const float* VELK_RESTRICT power, const float* VELK_RESTRICT inverse,
                  const float* VELK_RESTRICT noise, bool withNoise, float* VELK_RESTRICT scale,
                  float* VELK_RESTRICT fresh) {
  const float noiseWeight = withNoise ? 1.0f : 0.0f;
  for (std::size_t k = 0; k < n; ++k) {
    const bool usable = inverse[k] > 0.0f;
    // Usable bins have a finite noise floor: the tracker has just seen them.
    const float floor = noise[k];
    const float held = scale[k] + (usable ? noiseWeight * floor : 0.0f);
    const float y = power[k];
    const float s = usable && held > y ? y / held : 1.0f;
    const float left = y - s * held;
    scale[k] = s;
    fresh[k] = usable && left > 0.0f ? left : 0.0f;
  }
}

// One talker's power in each bin (its held power fitted, plus its posterior share of the new
// power) and its share of the bin's power, at most 1 (0 in unusable bins).
void sharePower(std::size_t n, const float* VELK_RESTRICT scale, const float* VELK_RESTRICT fresh,
                const float* VELK_RESTRICT inverse, const float* VELK_RESTRICT posterior, float decay,
                float* VELK_RESTRICT power, float* VELK_RESTRICT share) {
  for (std::size_t k = 0; k < n; ++k) {
    const float mine = scale[k] * decay * power[k] + fresh[k] * posterior[k];
    const float ratio = mine * inverse[k];
    power[k] = mine;
    share[k] = ratio < 1.0f ? ratio : 1.0f;
  }
}

// v where `mask` is all ones, +0 where it is zero: a select the vectoriser takes where a
// comparison-driven select of floats would not vectorise.
inline float keepWhere(float v, std::uint32_t mask) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= mask;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The mask (the share, at least `floor`; 0 in unusable bins) and the masked ear. In unusable bins
// the ear may hold infinity or NaN; they are written as zero.
void maskEar(std::size_t n, const float* VELK_RESTRICT ear, const float* VELK_RESTRICT share,
             const float* VELK_RESTRICT inverse, float floor, float* VELK_RESTRICT gain, float* VELK_RESTRICT out) {
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t usable = inverse[k] > 0.0f ? 0xffffffffu : 0u;
    const float g = keepWhere(share[k] > floor ? share[k] : floor, usable);
    gain[k] = g;
    out[2 * k] = keepWhere(g * ear[2 * k], usable);
    out[2 * k + 1] = keepWhere(g * ear[2 * k + 1], usable);
  }
}

// One online step of a talker's statistics: forgetting, plus its share times
// 2 / (z^H B^-1 z) = 2 det / q times z z^H (zero weight in unusable bins, whose share is 0).
void accumulateCues(std::size_t n, float lambda, const float* VELK_RESTRICT share, const float* VELK_RESTRICT det,
                    const float* VELK_RESTRICT spread, const float* VELK_RESTRICT leftShare,
                    const float* VELK_RESTRICT crossRe, const float* VELK_RESTRICT crossIm, float* VELK_RESTRICT statA,
                    float* VELK_RESTRICT statD, float* VELK_RESTRICT statBRe, float* VELK_RESTRICT statBIm) {
  for (std::size_t k = 0; k < n; ++k) {
    const float w = share[k] * 2.0f * det[k] / spread[k];
    statA[k] = lambda * statA[k] + w * leftShare[k];
    statD[k] = lambda * statD[k] + w * (1.0f - leftShare[k]);
    // z0 conj(z1) = conj(conj(z0) z1)
    statBRe[k] = lambda * statBRe[k] + w * crossRe[k];
    statBIm[k] = lambda * statBIm[k] - w * crossIm[k];
  }
}

// The model: (statistics + anchor x expected cues), scaled to unit trace, and its determinant.
void unitTraceModel(std::size_t n, float anchor, const float* VELK_RESTRICT statA, const float* VELK_RESTRICT statD,
                    const float* VELK_RESTRICT statBRe, const float* VELK_RESTRICT statBIm,
                    const float* VELK_RESTRICT priorA, const float* VELK_RESTRICT priorBRe,
                    const float* VELK_RESTRICT priorBIm, float* VELK_RESTRICT a, float* VELK_RESTRICT bRe,
                    float* VELK_RESTRICT bIm, float* VELK_RESTRICT det) {
  for (std::size_t k = 0; k < n; ++k) {
    const float inverseTrace = 1.0f / (statA[k] + statD[k] + anchor);
    const float ak = (statA[k] + anchor * priorA[k]) * inverseTrace;
    const float re = (statBRe[k] + anchor * priorBRe[k]) * inverseTrace;
    const float im = (statBIm[k] + anchor * priorBIm[k]) * inverseTrace;
    a[k] = ak;
    bRe[k] = re;
    bIm[k] = im;
    det[k] = ak * (1.0f - ak) - (re * re + im * im);
  }
}

}  // namespace

// ---- talkers ----------------------------------------------------------------------------------

struct SoftMaskSeparator::Talker {
  int id = 0;
  double azimuthDeg = 0.0;
  bool left = false;
  long lastFrame = 0;
  // Expected cues widened by the spread: unit-trace [[a, b], [conj b, 1 - a]] per bin.
  std::vector<float> priorA, priorBRe, priorBIm;
  // Learnt statistics: forgetting sums of posterior-weighted, spread-normalised outer products.
  std::vector<float> statA, statD, statBRe, statBIm;
  // The spatial model used: unit trace, with its determinant.
  std::vector<float> a, bRe, bIm, det;
  std::vector<float> power;      // the talker's power in each bin on the previous frame
  std::vector<float> posterior;  // this frame: spatial posterior, then the share of new power
  std::vector<float> spread;     // this frame: the model's quadratic form of the bin's direction
  std::vector<float> share;      // this frame: share of the bin's power (the mask before its floor)
  std::vector<float> gain;       // this frame: the mask applied
  std::vector<std::complex<float>> out;

  explicit Talker(std::size_t n)
      : priorA(n),
        priorBRe(n),
        priorBIm(n),
        statA(n),
        statD(n),
        statBRe(n),
        statBIm(n),
        a(n),
        bRe(n),
        bIm(n),
        det(n),
        power(n),
        posterior(n),
        spread(n),
        share(n),
        gain(n),
        out(n) {}

  void setCues(const ExpectedCues& cues, double azimuth, float cueSpread) {
    azimuthDeg = azimuth;
    left = azimuth > 0.0;
    const std::vector<CueCovariance> expected = cues.covariance(azimuth);
    // (C + spread I) / (1 + 2 spread): the expected covariance with room for cues that stray.
    const float norm = 1.0f / (1.0f + 2.0f * cueSpread);
    for (std::size_t k = 0; k < a.size(); ++k) {
      priorA[k] = (expected[k].a + cueSpread) * norm;
      priorBRe[k] = expected[k].b.real() * norm;
      priorBIm[k] = expected[k].b.imag() * norm;
    }
  }

  void forget() {
    std::fill(statA.begin(), statA.end(), 0.0f);
    std::fill(statD.begin(), statD.end(), 0.0f);
    std::fill(statBRe.begin(), statBRe.end(), 0.0f);
    std::fill(statBIm.begin(), statBIm.end(), 0.0f);
    std::fill(power.begin(), power.end(), 0.0f);
  }

  // The model: (learnt statistics + anchor x expected cues), scaled to unit trace.
  void updateModel(float anchor) {
    unitTraceModel(a.size(), anchor, statA.data(), statD.data(), statBRe.data(), statBIm.data(), priorA.data(),
                   priorBRe.data(), priorBIm.data(), a.data(), bRe.data(), bIm.data(), det.data());
  }
};

// ---- construction -----------------------------------------------------------------------------

namespace {
const SoftMaskSeparatorConfig& validated(const SoftMaskSeparatorConfig& c) {
  Validate(c);
  return c;
}
long framesIn(float seconds, const SoftMaskSeparatorConfig& c) {
  return std::max(1L, std::lround(static_cast<double>(seconds) * c.sampleRate / c.frameShift));
}

// The noise floor the masks use: minimum statistics over 1.5 s in eight steps, on the power
// smoothed alike while rising and falling over about six frames, raised by 3.3 dB towards the
// noise's mean power. The separator needs the noise under speech that seldom pauses, not the
// quick fall after a phrase that the localiser's floor is made for; a window of 0.75 s let speech
// into the floor (-0.3 dB on the free-field pairs). With these settings the scores are those of
// a separate minimum tracker on the sum of the ears (1.5 times its minimum) within 0.05 dB, free
// field and room, both tables. Frames after digital silence need no settling here: a low floor on
// a few frames only leaves the talkers a little more of those bins.
AdaptiveNoiseFloorConfig noiseFloorOf(const SoftMaskSeparatorConfig& c) {
  constexpr float kWindowS = 1.5f;
  constexpr unsigned kSubwindows = 8;
  AdaptiveNoiseFloorConfig floor;
  floor.smoothing = 0.85f;
  floor.fallSmoothing = 0.85f;
  floor.subwindows = kSubwindows;
  floor.subwindowFrames = static_cast<unsigned>((framesIn(kWindowS, c) + kSubwindows - 1) / kSubwindows);
  floor.biasDb = 3.3f;
  floor.settleFrames = 0;
  return floor;
}
}  // namespace

SoftMaskSeparator::SoftMaskSeparator(std::shared_ptr<const ExpectedCues> cues, const SoftMaskSeparatorConfig& config)
    : cues_(std::move(cues)),
      config_(validated(config)),
      bins_(cues_ ? cues_->bins() : 0),
      decay_(perFrameFactor(config_.decayTimeS, config_, 60.0)),
      // exp(-1) per time constant: 10 log10(e) dB.
      forgetting_(perFrameFactor(config_.learningTimeS, config_, 4.342944819032518)),
      forgetAfterFrames_(framesIn(std::max(1.0f, config_.learningTimeS), config_)),
      noise_(noiseFloorOf(config_)) {
  if (!cues_) throw std::invalid_argument("the separator needs the expected cues of the head");
  if (cues_->sampleRate() != config_.sampleRate)
    throw std::invalid_argument("the expected cues are made for " + std::to_string(cues_->sampleRate()) +
                                " Hz but the separator's sampleRate is " + std::to_string(config_.sampleRate) + " Hz");
  power_.resize(bins_);
  noisePower_.resize(bins_);
  inverse_.resize(bins_);
  leftShare_.resize(bins_);
  crossRe_.resize(bins_);
  crossIm_.resize(bins_);
  sum_.resize(bins_);
  window_.resize(bins_);
  prefix_.resize(bins_ + 1);
  inverseCount_.resize(bins_);
  const std::size_t half = static_cast<std::size_t>(config_.neighbourBins);
  for (std::size_t k = 0; k < bins_; ++k)
    inverseCount_[k] = 1.0f / static_cast<float>(std::min(k + half + 1, bins_) - (k > half ? k - half : 0));
}

SoftMaskSeparator::~SoftMaskSeparator() = default;

void SoftMaskSeparator::reset() {
  talkers_.clear();
  active_.clear();
  noise_.reset();
  std::fill(noisePower_.begin(), noisePower_.end(), 0.0f);
  frame_ = 0;
}

const std::complex<float>* SoftMaskSeparator::output(std::size_t i) const { return active_.at(i)->out.data(); }
const float* SoftMaskSeparator::mask(std::size_t i) const { return active_.at(i)->gain.data(); }
bool SoftMaskSeparator::leftEar(std::size_t i) const { return active_.at(i)->left; }

// ---- per frame --------------------------------------------------------------------------------

void SoftMaskSeparator::process(const StereoSpectrumView& frame, const std::vector<TalkerDirection>& talkers) {
  if (frame.bins != bins_)
    throw std::invalid_argument("the frame has " + std::to_string(frame.bins) + " bins but the cues are for " +
                                std::to_string(bins_) + " (a " + std::to_string(cues_->nfft()) + "-point transform)");
  if (bins_ > 0 && (!frame.left || !frame.right)) throw std::invalid_argument("the frame lacks the bins of an ear");
  std::unordered_set<int> ids;
  for (const TalkerDirection& t : talkers) {
    if (!ids.insert(t.id).second) throw std::invalid_argument("talker id " + std::to_string(t.id) + " is listed twice");
    if (!std::isfinite(t.azimuthDeg))
      throw std::invalid_argument("talker id " + std::to_string(t.id) + " has the direction " +
                                  std::to_string(t.azimuthDeg) + ", not a finite number of degrees");
  }
  ++frame_;
  active_.clear();
  for (const TalkerDirection& t : talkers) active_.push_back(&talkerFor(t));
  forgetAbsentTalkers();

  analyseFrame(frame);
  if (active_.empty()) return;
  spatialPosteriors();
  biasByNeighbours();
  shareOutPower();
  if (config_.demix)
    writeDemixedOutputs(frame);
  else
    writeMaskedOutputs(frame);
  if (forgetting_ > 0.0f) learnCues();
}

SoftMaskSeparator::Talker& SoftMaskSeparator::talkerFor(const TalkerDirection& direction) {
  std::unique_ptr<Talker>& slot = talkers_[direction.id];
  if (!slot) {
    slot = std::make_unique<Talker>(bins_);
    slot->id = direction.id;
    slot->setCues(*cues_, direction.azimuthDeg, config_.cueSpread);
    slot->updateModel(config_.anchorFrames);
  } else if (std::fabs(direction.azimuthDeg - slot->azimuthDeg) >= kRefreshCuesDeg) {
    if (std::fabs(direction.azimuthDeg - slot->azimuthDeg) > kRestartDeg) slot->forget();
    slot->setCues(*cues_, direction.azimuthDeg, config_.cueSpread);
    slot->updateModel(config_.anchorFrames);
  }
  slot->lastFrame = frame_;
  return *slot;
}

void SoftMaskSeparator::forgetAbsentTalkers() {
  for (auto it = talkers_.begin(); it != talkers_.end();) {
    if (frame_ - it->second->lastFrame > forgetAfterFrames_)
      it = talkers_.erase(it);
    else
      ++it;
  }
}

// Power and direction of every bin; the noise floor follows the usable ones.
void SoftMaskSeparator::analyseFrame(const StereoSpectrumView& frame) {
  analyseBins(bins_, reinterpret_cast<const float*>(frame.left), reinterpret_cast<const float*>(frame.right),
              power_.data(), inverse_.data(), leftShare_.data(), crossRe_.data(), crossIm_.data());
  // The floor is the noise's mean power in each ear; its share of a bin is noiseScale times their
  // sum. Until the floor has taken a frame there is no noise to give.
  if (noise_.process(frame)) {
    const float* left = noise_.power(0);
    const float* right = noise_.power(1);
    for (std::size_t k = 0; k < bins_; ++k) noisePower_[k] = config_.noiseScale * (left[k] + right[k]);
  }
}

// Likelihood of each bin's direction z (unit vector) under each talker's model B: for the complex
// angular central Gaussian of two dimensions p(z) is proportional to 1 / (det B (z^H B^-1 z)^2)
// = det B / q^2 with q = z^H adj(B) z. Normalised across the talkers.
void SoftMaskSeparator::spatialPosteriors() {
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_)
    likelihoods(bins_, leftShare_.data(), crossRe_.data(), crossIm_.data(), t->a.data(), t->bRe.data(), t->bIm.data(),
                t->det.data(), t->spread.data(), t->posterior.data(), sum_.data());
  invert(bins_, sum_.data());
  for (Talker* t : active_) multiply(bins_, t->posterior.data(), sum_.data());
}

// Speech fills bands of neighbouring bins at once, and in a room a single bin's cues are unsure:
// each talker's posterior is multiplied by the mean of its posteriors over the neighbouring bins
// (raised to neighbourPower), then normalised again. Where a bin's own cues are clear they still
// decide; where they are not, the band decides.
void SoftMaskSeparator::biasByNeighbours() {
  const int half = config_.neighbourBins;
  const int power = config_.neighbourPower;
  if (active_.size() < 2 || half == 0 || power == 0) return;
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_) {
    neighbourMeans(bins_, static_cast<std::size_t>(half), power, t->posterior.data(), inverseCount_.data(),
                   prefix_.data(), window_.data());
    multiply(bins_, t->posterior.data(), window_.data());
    addScaled(bins_, sum_.data(), t->posterior.data(), 1.0f);
  }
  invert(bins_, sum_.data());
  for (Talker* t : active_) multiply(bins_, t->posterior.data(), sum_.data());
}

// The bin's power is shared out: each talker first keeps what remains of its power of the last
// frame (decayed) and the noise takes its floor; if these exceed the bin's power they are scaled
// down to it. What is left is new and goes to the talkers by their posteriors.
void SoftMaskSeparator::shareOutPower() {
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_) addScaled(bins_, sum_.data(), t->power.data(), decay_);
  fitHeldPower(bins_, power_.data(), inverse_.data(), noisePower_.data(), config_.noiseClass, sum_.data(),
               window_.data());
  for (Talker* t : active_)
    sharePower(bins_, sum_.data(), window_.data(), inverse_.data(), t->posterior.data(), decay_, t->power.data(),
               t->share.data());
}

void SoftMaskSeparator::writeMaskedOutputs(const StereoSpectrumView& frame) {
  for (Talker* t : active_)
    maskEar(bins_, reinterpret_cast<const float*>(t->left ? frame.left : frame.right), t->share.data(), inverse_.data(),
            config_.maskFloor, t->gain.data(), reinterpret_cast<float*>(t->out.data()));
}

// Per bin, the multichannel Wiener filter of each talker: its covariance (power share times its
// spatial model) times the inverse of the bin's modelled covariance (all talkers plus white
// noise), applied to both ears, read at the talker's ear. Bins where the model cannot be inverted
// keep the masked ear.
void SoftMaskSeparator::writeDemixedOutputs(const StereoSpectrumView& frame) {
  writeMaskedOutputs(frame);
  const float* noise = noisePower_.data();
  for (std::size_t k = 0; k < bins_; ++k) {
    if (!(inverse_[k] > 0.0f)) continue;
    const float y = power_[k];
    float c00 = config_.noiseClass ? 0.5f * std::min(noise[k], y) : 1e-6f * y, c11 = c00;
    std::complex<float> c01;
    for (const Talker* t : active_) {
      const float v = t->share[k] * y;
      c00 += v * t->a[k];
      c11 += v * (1.0f - t->a[k]);
      c01 += v * std::complex<float>(t->bRe[k], t->bIm[k]);
    }
    const float det = c00 * c11 - std::norm(c01);
    if (!(det > 1e-6f * c00 * c11)) continue;
    // v = C^-1 x
    const std::complex<float> l = frame.left[k], r = frame.right[k];
    const std::complex<float> v0 = (c11 * l - c01 * r) / det;
    const std::complex<float> v1 = (c00 * r - std::conj(c01) * l) / det;
    for (Talker* t : active_) {
      const float v = t->share[k] * y;
      const std::complex<float> b(t->bRe[k], t->bIm[k]);
      t->out[k] = t->left ? v * (t->a[k] * v0 + b * v1) : v * (std::conj(b) * v0 + (1.0f - t->a[k]) * v1);
    }
  }
}

// One online expectation-maximisation step of each talker's spatial model: the fixed point of the
// angular central Gaussian, B proportional to the posterior-weighted sum of 2 z z^H / (z^H B^-1 z),
// accumulated with forgetting and anchored to the expected cues.
void SoftMaskSeparator::learnCues() {
  for (Talker* t : active_) {
    accumulateCues(bins_, forgetting_, t->share.data(), t->det.data(), t->spread.data(), leftShare_.data(),
                   crossRe_.data(), crossIm_.data(), t->statA.data(), t->statD.data(), t->statBRe.data(),
                   t->statBIm.data());
    t->updateModel(config_.anchorFrames);
  }
}

}  // namespace NSVelkBinaural
