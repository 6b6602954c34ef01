#include "velk_binaural/SoftMaskSeparator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
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
// The noise floor's minimum search runs in this many steps, on the power smoothed over about six
// frames (a time constant of 60 ms at 100 frames per second).
constexpr int kNoiseSubWindows = 8;
constexpr float kNoiseSmoothing = 0.85f;

// A parameter table entry reading and writing the field `Member`; switches and counts are whole.
template <auto Member>
SoftMaskParameter entry(const char* name, const char* unit, double min, double max, const char* meaning) {
  using Field = std::remove_reference_t<decltype(std::declval<SoftMaskSeparatorConfig&>().*Member)>;
  return {name,
          unit,
          min,
          max,
          std::is_integral_v<Field>,
          meaning,
          [](const SoftMaskSeparatorConfig& c) { return static_cast<double>(c.*Member); },
          [](SoftMaskSeparatorConfig& c, double v) { c.*Member = static_cast<Field>(v); }};
}

float perFrameFactor(float timeS, const SoftMaskSeparatorConfig& c, double dbOver) {
  // A level that falls by dbOver decibels in timeS seconds, per frame, as a power factor.
  if (timeS <= 0.0f) return 0.0f;
  const double framesPerSecond = static_cast<double>(c.sampleRate) / c.frameShift;
  return static_cast<float>(std::pow(10.0, -dbOver / 10.0 / (timeS * framesPerSecond)));
}

}  // namespace

// ---- parameters -----------------------------------------------------------------------------

const std::vector<SoftMaskParameter>& SoftMaskParameters() {
  static const std::vector<SoftMaskParameter> table = {
      entry<&SoftMaskSeparatorConfig::sampleRate>("sampleRate", "Hz", 1, 1e6, "sampling rate of the recording"),
      entry<&SoftMaskSeparatorConfig::frameShift>("frameShift", "samples", 1, 1e6,
                                                  "samples from one frame to the next"),
      entry<&SoftMaskSeparatorConfig::cueSpread>(
          "cueSpread", "", 1e-4, 1,
          "how far a talker's interaural cues may stray from those expected of its direction (share of the "
          "least-expected spatial component); larger is more tolerant and less selective"),
      entry<&SoftMaskSeparatorConfig::learningTimeS>(
          "learningTimeS", "s", 0, 600,
          "memory of the cues learnt from the recording (forgetting time constant); 0 keeps the expected cues"),
      entry<&SoftMaskSeparatorConfig::anchorFrames>(
          "anchorFrames", "frames", 0.1, 1e6,
          "weight of the expected cues against the learnt ones, in frames of a bin fully owned by the talker"),
      entry<&SoftMaskSeparatorConfig::neighbourBins>(
          "neighbourBins", "bins", 0, 64,
          "half-width of the band of neighbouring bins whose decisions bias each bin's decision; 0: none"),
      entry<&SoftMaskSeparatorConfig::neighbourPower>(
          "neighbourPower", "", 0, 4,
          "how strongly the neighbours bias a bin: exponent of their mean decision; 0: not at all"),
      entry<&SoftMaskSeparatorConfig::decayTimeS>(
          "decayTimeS", "s", 0, 10,
          "60 dB decay time of the power a talker leaves in a bin (reverberation, held sounds), which stays "
          "with that talker; 0: every frame is shared out anew"),
      entry<&SoftMaskSeparatorConfig::noiseClass>(
          "noiseClass", "", 0, 1, "1: the background noise takes its share of each bin; 0: talkers share everything"),
      entry<&SoftMaskSeparatorConfig::noiseWindowS>("noiseWindowS", "s", 0.05, 60,
                                                    "span of the minimum search that measures the background noise"),
      entry<&SoftMaskSeparatorConfig::noiseBias>("noiseBias", "", 0.1, 10,
                                                 "noise floor = this times the minimum smoothed power of a bin"),
      entry<&SoftMaskSeparatorConfig::maskFloor>("maskFloor", "", 0, 1,
                                                 "least gain of a mask, so that the output does not sound chopped"),
      entry<&SoftMaskSeparatorConfig::demix>(
          "demix", "", 0, 1,
          "1: each output is a per-bin two-ear Wiener filter built from the masks and the learnt cues instead of "
          "the masked ear (better in free field, worse in reverberant rooms)"),
  };
  return table;
}

namespace {
bool accepts(const SoftMaskParameter& p, double v) {
  return v >= p.min && v <= p.max && (!p.integer || v == std::floor(v));
}
std::string rangeOf(const SoftMaskParameter& p) {
  auto number = [](double v) {
    std::string text = std::to_string(v);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
  };
  return std::string(p.integer ? "a whole number" : "a number") + " from " + number(p.min) + " to " + number(p.max) +
         (*p.unit ? std::string(" ") + p.unit : std::string());
}
[[noreturn]] void refuse(const SoftMaskParameter& p, double v) {
  throw std::invalid_argument(std::string("separator parameter ") + p.name + " is " + std::to_string(v) +
                              "; expected " + rangeOf(p));
}
}  // namespace

void Validate(const SoftMaskSeparatorConfig& config) {
  for (const SoftMaskParameter& p : SoftMaskParameters())
    if (!accepts(p, p.get(config))) refuse(p, p.get(config));
}

void SetParameter(SoftMaskSeparatorConfig& config, const std::string& name, double value) {
  std::string names;
  for (const SoftMaskParameter& p : SoftMaskParameters()) {
    if (name == p.name) {
      if (!accepts(p, value)) refuse(p, value);
      p.set(config, value);
      return;
    }
    names += std::string(names.empty() ? "" : ", ") + p.name;
  }
  throw std::invalid_argument("the separator has no parameter " + name + " (accepted: " + names + ")");
}

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
    const std::size_t n = a.size();
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
}  // namespace

SoftMaskSeparator::SoftMaskSeparator(std::shared_ptr<const ExpectedCues> cues, const SoftMaskSeparatorConfig& config)
    : cues_(std::move(cues)),
      config_(validated(config)),
      bins_(cues_ ? cues_->bins() : 0),
      decay_(perFrameFactor(config_.decayTimeS, config_, 60.0)),
      // exp(-1) per time constant: 10 log10(e) dB.
      forgetting_(perFrameFactor(config_.learningTimeS, config_, 4.342944819032518)),
      forgetAfterFrames_(framesIn(std::max(1.0f, config_.learningTimeS), config_)),
      noise_(bins_, static_cast<int>(framesIn(config_.noiseWindowS, config_)), kNoiseSubWindows, kNoiseSmoothing,
             config_.noiseBias) {
  if (!cues_) throw std::invalid_argument("the separator needs the expected cues of the head");
  if (cues_->sampleRate() != config_.sampleRate)
    throw std::invalid_argument("the expected cues are made for " + std::to_string(cues_->sampleRate()) +
                                " Hz but the separator's sampleRate is " + std::to_string(config_.sampleRate) + " Hz");
  power_.resize(bins_);
  usable_.resize(bins_);
  leftShare_.resize(bins_);
  crossRe_.resize(bins_);
  crossIm_.resize(bins_);
  sum_.resize(bins_);
  window_.resize(bins_);
}

SoftMaskSeparator::~SoftMaskSeparator() = default;

void SoftMaskSeparator::reset() {
  talkers_.clear();
  active_.clear();
  noise_.reset();
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

// Power, direction and usability of every bin; the noise floor follows the usable ones.
void SoftMaskSeparator::analyseFrame(const StereoSpectrumView& frame) {
  for (std::size_t k = 0; k < bins_; ++k) {
    const std::complex<float> l = frame.left[k], r = frame.right[k];
    const float pl = std::norm(l), pr = std::norm(r);
    const float p = pl + pr;
    // Also false for NaN and for bins whose power overflows.
    const bool ok = p > 0.0f && p <= std::numeric_limits<float>::max();
    usable_[k] = ok;
    // Unusable bins get a neutral direction (equal ears, uncorrelated) so that nothing computed
    // from them is NaN; they carry no weight anywhere.
    const float inverse = ok ? 1.0f / p : 0.0f;
    power_[k] = ok ? p : 0.0f;
    leftShare_[k] = ok ? pl * inverse : 0.5f;
    // conj(l) r / p
    crossRe_[k] = ok ? (l.real() * r.real() + l.imag() * r.imag()) * inverse : 0.0f;
    crossIm_[k] = ok ? (l.real() * r.imag() - l.imag() * r.real()) * inverse : 0.0f;
  }
  noise_.update(power_.data(), usable_.data());
}

// Likelihood of each bin's direction z (unit vector) under each talker's model B: for the complex
// angular central Gaussian of two dimensions p(z) is proportional to 1 / (det B (z^H B^-1 z)^2)
// = det B / q^2 with q = z^H adj(B) z. Normalised across the talkers.
void SoftMaskSeparator::spatialPosteriors() {
  const std::size_t n = bins_;
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_) {
    for (std::size_t k = 0; k < n; ++k) {
      const float u0 = leftShare_[k], u1 = 1.0f - u0;
      // z^H adj(B) z = (1 - a) |z0|^2 + a |z1|^2 - 2 Re(b conj(z0) z1)
      float q = (1.0f - t->a[k]) * u0 + t->a[k] * u1 - 2.0f * (t->bRe[k] * crossRe_[k] - t->bIm[k] * crossIm_[k]);
      q = std::max(q, kLeastSpread);
      t->spread[k] = q;
      const float likelihood = t->det[k] / (q * q);
      t->posterior[k] = likelihood;
      sum_[k] += likelihood;
    }
  }
  for (Talker* t : active_)
    for (std::size_t k = 0; k < n; ++k) t->posterior[k] = sum_[k] > 0.0f ? t->posterior[k] / sum_[k] : 0.0f;
}

// Speech fills bands of neighbouring bins at once, and in a room a single bin's cues are unsure:
// each talker's posterior is multiplied by the mean of its posteriors over the neighbouring bins
// (raised to neighbourPower), then normalised again. Where a bin's own cues are clear they still
// decide; where they are not, the band decides.
void SoftMaskSeparator::biasByNeighbours() {
  const int half = config_.neighbourBins;
  const int power = config_.neighbourPower;
  if (active_.size() < 2 || half == 0 || power == 0) return;
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(bins_);
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_) {
    const float* g = t->posterior.data();
    // Running sum over [k - half, k + half], clipped to the spectrum.
    float running = 0.0f;
    for (std::ptrdiff_t k = 0; k < std::min<std::ptrdiff_t>(half, n); ++k) running += g[k];
    for (std::ptrdiff_t k = 0; k < n; ++k) {
      if (k + half < n) running += g[k + half];
      if (k - half - 1 >= 0) running -= g[k - half - 1];
      const std::ptrdiff_t count = std::min(k + half, n - 1) - std::max<std::ptrdiff_t>(k - half, 0) + 1;
      window_[k] = std::max(running, 0.0f) / static_cast<float>(count);
    }
    for (std::ptrdiff_t k = 0; k < n; ++k) {
      float bias = window_[k];
      for (int i = 1; i < power; ++i) bias *= window_[k];
      t->posterior[k] *= bias;
      sum_[k] += t->posterior[k];
    }
  }
  const float share = 1.0f / static_cast<float>(active_.size());
  for (Talker* t : active_)
    for (std::ptrdiff_t k = 0; k < n; ++k) t->posterior[k] = sum_[k] > 0.0f ? t->posterior[k] / sum_[k] : share;
}

// The bin's power is shared out: each talker first keeps what remains of its power of the last
// frame (decayed) and the noise takes its floor; if these exceed the bin's power they are scaled
// down to it. What is left is new and goes to the talkers by their posteriors.
void SoftMaskSeparator::shareOutPower() {
  const std::size_t n = bins_;
  const float* noise = noise_.floor();
  const bool withNoise = config_.noiseClass;
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  for (Talker* t : active_)
    for (std::size_t k = 0; k < n; ++k) sum_[k] += decay_ * t->power[k];
  for (std::size_t k = 0; k < n; ++k) {
    // Usable bins have a finite noise floor (it has just seen them).
    const float held = sum_[k] + (withNoise && usable_[k] ? noise[k] : 0.0f);
    const float y = power_[k];
    // scale = min(1, y / held); sum_ becomes the scale, window_ the new power.
    const float scale = held > y ? y / held : 1.0f;
    sum_[k] = scale;
    window_[k] = y - scale * held;
  }
  for (Talker* t : active_) {
    for (std::size_t k = 0; k < n; ++k) {
      const float mine = sum_[k] * decay_ * t->power[k] + window_[k] * t->posterior[k];
      const float y = power_[k];
      t->share[k] = usable_[k] ? std::min(1.0f, mine / y) : 0.0f;
      t->power[k] = usable_[k] ? mine : decay_ * t->power[k];
    }
  }
}

void SoftMaskSeparator::writeMaskedOutputs(const StereoSpectrumView& frame) {
  const float floor = config_.maskFloor;
  for (Talker* t : active_) {
    const std::complex<float>* ear = t->left ? frame.left : frame.right;
    for (std::size_t k = 0; k < bins_; ++k) {
      const float g = usable_[k] ? std::max(t->share[k], floor) : 0.0f;
      t->gain[k] = g;
      t->out[k] = usable_[k] ? g * ear[k] : std::complex<float>();
    }
  }
}

// Per bin, the multichannel Wiener filter of each talker: its covariance (power share times its
// spatial model) times the inverse of the bin's modelled covariance (all talkers plus white
// noise), applied to both ears, read at the talker's ear. Bins where the model cannot be inverted
// keep the masked ear.
void SoftMaskSeparator::writeDemixedOutputs(const StereoSpectrumView& frame) {
  writeMaskedOutputs(frame);
  const float* noise = noise_.floor();
  for (std::size_t k = 0; k < bins_; ++k) {
    if (!usable_[k]) continue;
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
  const float lambda = forgetting_;
  for (Talker* t : active_) {
    for (std::size_t k = 0; k < bins_; ++k) {
      // 2 / (z^H B^-1 z) = 2 det / q; zero weight in unusable bins (share 0).
      const float w = t->share[k] * 2.0f * t->det[k] / t->spread[k];
      const float u0 = leftShare_[k];
      t->statA[k] = lambda * t->statA[k] + w * u0;
      t->statD[k] = lambda * t->statD[k] + w * (1.0f - u0);
      // z0 conj(z1) = conj(conj(z0) z1)
      t->statBRe[k] = lambda * t->statBRe[k] + w * crossRe_[k];
      t->statBIm[k] = lambda * t->statBIm[k] - w * crossIm_[k];
    }
    t->updateModel(config_.anchorFrames);
  }
}

}  // namespace NSVelkBinaural
