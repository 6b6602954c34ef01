#include "velk_binaural/Localizer.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "FastMath.h"
#include "velk_binaural/Angles.h"
#include "velk_binaural/Clustering.h"
#include "velk_binaural/Harmonics.h"
#include "velk_binaural/InterauralDifference.h"
#include "velk_binaural/InterauralPhaseTable.h"
#include "velk_binaural/Localize.h"
#include "velk_binaural/Peak.h"

namespace NSVelkBinaural {

namespace {

// The localiser's log entries carry the names they have always carried, so that logs read the
// same whether the pipeline runs in the node or on its own.
const char* const kFile = "LocalizeBinaural";
const char* const kFunction = "calculate";
// Highest frequency the broadband finder reads, Hz (or half the sampling rate, if lower).
const double kBroadbandMaxHz = 5000.0;

timeval ToTimeval(double seconds) {
  timeval tv{};
  const double whole = std::floor(seconds);
  tv.tv_sec = static_cast<time_t>(whole);
  tv.tv_usec = static_cast<suseconds_t>(std::floor((seconds - whole) * 1000000.0));
  return tv;
}

double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + 1e-6 * static_cast<double>(tv.tv_usec); }

std::string PeakText(const std::vector<BandAndPower>& peaks) {
  std::ostringstream text;
  text << "got peak (size = " << peaks.size() << "): ";
  for (const BandAndPower& p : peaks) text << "(" << p.band.index << ":" << p.power << ") ";
  text << "\n";
  return text.str();
}

std::string ClusterText(const std::vector<ClusterPtr>& clusters) {
  std::ostringstream text;
  text << "got cluster (size = " << clusters.size() << "): ";
  for (const ClusterPtr& c : clusters) text << "band" << c->bandPowers.front().band.index << ":" << c->bandPowers.size() << " ";
  text << "\n";
  return text.str();
}

std::string ProxyText(const std::vector<Band>& proxy) {
  std::string text = (boost::format("got proxy (size = %d):") % proxy.size()).str();
  for (size_t i = 0; i < proxy.size(); ++i) text += (boost::format(" %d:%d") % i % proxy[i].index).str();
  return text + "\n";
}

std::string SoundsText(const char* what, const std::vector<HarmonicSoundPtr>& sounds) {
  std::string text = (boost::format("got %s harmonics (size = %d):") % what % sounds.size()).str();
  for (size_t i = 0; i < sounds.size(); ++i) {
    const auto& h = *sounds[i]->harmonics;
    text += (boost::format(" %d: size=%d,fund=%d") % i % h.size() % (h.empty() ? -1 : h.front().band.index)).str();
  }
  return text + "\n";
}

std::string DirectionsText(const std::vector<DirectionCandidatesPtr>& directions, const DirectionConverter& grid) {
  std::ostringstream text;
  for (size_t i = 0; i < directions.size(); ++i) {
    if (!directions[i] || directions[i]->empty()) continue;
    const auto& best = directions[i]->front();
    text << "got directions of sound[" << i << "]: " << directions[i]->size() << ", highest prob direction is "
         << grid.ToDegree(best.first) << " (" << 100.0 * best.second.Value() << "%)\n";
  }
  text << "\n";
  return text.str();
}

}  // namespace

std::string HarmonicSoundToString(const HarmonicSound& sound, const DirectionConverter& grid) {
  std::string text = (boost::format("ID %d") % sound.id).str();
  const std::vector<BandAndHarmonicRatio>& harmonics = *sound.harmonics;
  // Without a candidate direction there is no direction or probability to show.
  if (harmonics.empty() || !sound.directions || sound.directions->empty()) return text;
  const auto& best = sound.directions->front();
  text += (boost::format(" %4d Hz hnum %d dir %3d prob %2d [") %
           static_cast<int>(std::lround(harmonics.front().band.Freq().Value())) % harmonics.size() %
           grid.ToDegree(best.first) % static_cast<int>(std::lround(100.0 * best.second.Value())))
              .str();
  size_t next = 0;
  for (int k = 1; k <= harmonics.back().ratio; ++k) {
    int band = 0;
    if (next < harmonics.size() && harmonics[next].ratio == k) band = harmonics[next++].band.index;
    text += (boost::format(" %3d") % band).str();
  }
  return text + "]";
}

Localizer::Localizer(const LocalizerConfig& config, boost::shared_ptr<IIPDS> tables)
    : config_(config),
      tables_(std::move(tables)),
      grid_(-5, 90),
      noiseEstimator_(config.noiseFrames),
      logger_(Logger::Global()) {
  if (config_.method == LocalizerConfig::Method::MeasuredTables) {
    if (!tables_) throw std::invalid_argument("Localizer: the measured-table method needs the interaural tables");
    grid_ = DirectionConverter(tables_->dirtick, tables_->begindeg);
    judge_.reset(new JudgeHRTFMeasured(tables_));
  } else {
    judge_.reset(new JudgeEpipolar(NSDimensionPromise::LengthBase<double>(config_.sourceDistanceM),
                                   NSDimensionPromise::LengthBase<double>(config_.headRadiusM), grid_));
  }
  if (config_.noiseFloor == LocalizerConfig::NoiseFloor::Adaptive && config_.noise == LocalizerConfig::Noise::Internal)
    adaptiveFloor_.reset(new AdaptiveNoiseFloor());
  history_.pauseLength.tv_sec = config_.pauseLengthMs / 1000;
  history_.pauseLength.tv_usec = (config_.pauseLengthMs % 1000) * 1000;
  history_.nearAngle = NSDimensionPromise::AngleBase<double>(config_.minSourceIntervalDeg * 0.5 * Angles::AnglePi / 180.0);
  history_.ratioThreshold = config_.eventRatioThreshold;
  history_.grid = grid_;
}

void Localizer::Start(size_t bins) {
  nfft_ = 2 * static_cast<int>(bins) - 2;
  info_.reset(new BandInformation(NSDimensionPromise::FrequencyBase<double>(config_.samplingRateHz),
                                  static_cast<unsigned int>(nfft_)));
  upper_ = info_->CreateBand(NSDimensionPromise::FrequencyBase<double>(config_.peakFmaxHz));
  lower_ = info_->CreateBand(NSDimensionPromise::FrequencyBase<double>(config_.peakFminHz));
  if (config_.directions == LocalizerConfig::Directions::Broadband) MakeFinder(bins);
}

// The broadband finder over the measured tables' phases, or over the spherical head's path
// differences on the head model's grid (-90 .. 90 degrees every 5).
void Localizer::MakeFinder(size_t bins) {
  std::vector<double> azimuths;
  std::shared_ptr<const InterauralPhaseTable> table;
  const double fs = config_.samplingRateHz;
  if (tables_) {
    std::vector<std::vector<double>> phases;
    for (int d = 0; d < tables_->ndir; ++d) {
      azimuths.push_back(tables_->begindeg + d * tables_->dirtick);
      phases.push_back(tables_->ipd.at(static_cast<size_t>(d)).values);
    }
    table = std::make_shared<const InterauralPhaseTable>(azimuths, phases, fs);
  } else {
    const Epipolar head{Epipolar::Length(config_.sourceDistanceM), Epipolar::Length(config_.headRadiusM)};
    std::vector<double> paths;
    for (int degrees = -90; degrees <= 90; degrees += 5) {
      azimuths.push_back(degrees);
      paths.push_back(head.LRDifferenceRevised(Epipolar::Angle(degrees * Angles::AnglePi / 180.0)).Value());
    }
    table = std::make_shared<const InterauralPhaseTable>(
        InterauralPhaseTable::FromPathDifferences(azimuths, paths, fs, bins));
  }
  if (table->bins() != bins)
    throw std::invalid_argument((boost::format("Localizer: the tables hold %d bins, the spectra %d") % table->bins() % bins)
                                    .str());
  BroadbandDirectionConfig finder;
  finder.maxFrequencyHz = std::min(kBroadbandMaxHz, fs / 2.0);
  finder_.reset(new BroadbandDirectionFinder(finder, table));
}

bool Localizer::Holds(int id) const {
  if (finder_) return true;  // ranks come back frame after frame
  return std::any_of(history_.events.begin(), history_.events.end(), [id](const EventHistory& e) { return e.id == id; });
}

const std::vector<SourceReport>& Localizer::Process(const StereoSpectrumView& frame, double timeSec,
                                                    const StereoLevelsView* noise) {
  if (!frame.left || !frame.right || frame.bins < 2)
    throw std::invalid_argument("Localizer: a frame needs both ears' spectra of at least 2 bins");
  if (!info_) Start(frame.bins);
  if (frame.bins != static_cast<size_t>(nfft_ / 2 + 1))
    throw std::invalid_argument((boost::format("Localizer: the frame has %d bins, the first frame had %d") % frame.bins %
                                 (nfft_ / 2 + 1))
                                    .str());
  reports_.clear();
  if (adaptiveFloor_) adaptiveFloor_->process(frame);
  if (finder_)
    BroadbandFrame(frame, noise, timeSec);
  else
    HarmonicFrame(frame, timeSec, noise);
  return reports_;
}

// The pipeline of harmonic sounds and sound events; its events are the frame's sources.
void Localizer::HarmonicFrame(const StereoSpectrumView& frame, double timeSec, const StereoLevelsView* noise) {
  ComplexPairPtr lrspectra = NormalisedSpectra(frame, BinsToRead(frame.bins));
  FloatPairPtr frameNoise = FrameNoise(lrspectra, noise);
  // Without noise there is nothing to compare the frame with: the history is left alone and
  // nothing is reported.
  if (!frameNoise) return;
  HarmonicSoundList sounds = HumanSounds(frameNoise, PowerSpectra(lrspectra));
  if (!sounds->empty()) {
    JudgeDirections(sounds, lrspectra);
    UpdateHistory(sounds, timeSec);
  }
  ReportEvents(sounds, timeSec);
}

// The broadband direction finder, against the adaptive floor or the noise the first frames'
// estimator (or the given noise) gives, as power in the spectrum's own scale.
void Localizer::BroadbandFrame(const StereoSpectrumView& frame, const StereoLevelsView* noise, double timeSec) {
  const float* noiseLeft = nullptr;
  const float* noiseRight = nullptr;
  if (adaptiveFloor_) {
    if (adaptiveFloor_->ready()) {
      noiseLeft = adaptiveFloor_->power(0);
      noiseRight = adaptiveFloor_->power(1);
    }
  } else if (FloatPairPtr levels = FrameNoise(NormalisedSpectra(frame, frame.bins), noise)) {
    // Levels of the spectrum divided by the transform length, as powers of the spectrum itself.
    const float scale = static_cast<float>(nfft_) * static_cast<float>(nfft_);
    for (int ear = 0; ear < 2; ++ear) {
      const FloatSignal& earLevels = ear == 0 ? *levels->left : *levels->right;
      noisePower_[ear].assign(frame.bins, std::numeric_limits<float>::infinity());
      for (size_t k = 0; k < std::min(frame.bins, earLevels.size); ++k)
        noisePower_[ear][k] = scale * AdaptiveNoiseFloor::PowerOfLevel(earLevels.data[k]);
    }
    noiseLeft = noisePower_[0].data();
    noiseRight = noisePower_[1].data();
  }
  ReportRanks(finder_->process(frame, noiseLeft, noiseRight), timeSec);
}

// The finder's directions of this frame as they are: no identity from frame to frame, so each
// carries its rank in the frame (1 the strongest) as its id.
void Localizer::ReportRanks(const std::vector<SourceReport>& directions, double timeSec) {
  for (size_t i = 0; i < directions.size(); ++i) {
    SourceReport report = directions[i];
    report.sourceId = static_cast<int>(i) + 1;
    report.timeSec = timeSec;
    report.azimuthRad = DegToRad(report.azimuthDeg);
    reports_.push_back(report);
  }
}

// While the noise is being learnt the estimate takes every bin (and, with the adaptive floor, every
// frame: the first frames' estimate is never complete). Afterwards the frame is read only
// below the upper edge of the peak search: peaks are searched there, and every harmonic judged
// for its direction is one of those peaks. Reading (and taking the phase and level differences
// of) the other four fifths of the spectrum was half the cost of a frame.
size_t Localizer::BinsToRead(size_t bins) const {
  const bool learning = config_.noise == LocalizerConfig::Noise::Internal && !noiseEstimator_.BGNoise();
  if (learning || upper_.index < 1) return bins;  // an invalid edge is reported by the peak search
  return std::min(bins, static_cast<size_t>(upper_.index));
}

// The first `n` bins of both ears divided by the transform length.
ComplexPairPtr Localizer::NormalisedSpectra(const StereoSpectrumView& frame, size_t n) const {
  const float scale = 1.0f / static_cast<float>(nfft_);
  auto ear = [&](const std::complex<float>* source) {
    ComplexSignalPtr signal = boost::make_shared<ComplexSignal>(n, std::complex<float>());
    std::complex<float>* data = signal->data;
    for (size_t i = 0; i < n; ++i) data[i] = source[i] * scale;
    return signal;
  };
  ComplexSignalPtr left = ear(frame.left), right = ear(frame.right);
  ComplexPairPtr lrspectra = boost::make_shared<ComplexPair>(left, right);
  if (logger_->IsLoggable(LogLevel::FINE)) logger_->Log(LogLevel::FINE, "lrspectra created", kFile, kFunction);
  return lrspectra;
}

FloatPairPtr Localizer::FrameNoise(const ComplexPairPtr& lrspectra, const StereoLevelsView* noise) {
  const bool fine = logger_->IsLoggable(LogLevel::FINE);
  if (fine) logger_->Log(LogLevel::FINE, "getting room noise", kFile, kFunction);
  if (adaptiveFloor_) return AdaptiveLevels(lrspectra->left->size);
  if (config_.noise == LocalizerConfig::Noise::Internal) {
    if (fine) logger_->Log(LogLevel::FINE, "internal bgn estimating", kFile, kFunction);
    noiseEstimator_.Estimate(lrspectra);
    FloatPairPtr estimate = noiseEstimator_.BGNoise();
    if (estimate && fine) logger_->Log(LogLevel::FINE, "background noise estimated", kFile, kFunction);
    return estimate;
  }
  if (!noise || !noise->left || !noise->right) return FloatPairPtr();
  if (fine) logger_->Log(LogLevel::FINE, "background noise got (external)", kFile, kFunction);
  FloatSignalPtr left = boost::make_shared<FloatSignal>(noise->bins, noise->left);
  FloatSignalPtr right = boost::make_shared<FloatSignal>(noise->bins, noise->right);
  return boost::make_shared<FloatPair>(left, right);
}

// The adaptive floor's levels of the first `n` bins on the scale of the spectra divided by the
// transform length; null until the floor has taken a frame.
FloatPairPtr Localizer::AdaptiveLevels(size_t n) const {
  if (!adaptiveFloor_->ready()) return FloatPairPtr();
  FloatPairPtr levels = LRSignalFactory<float>::Create(n);
  const float normalisation = 20.0f * std::log10(static_cast<float>(nfft_));
  adaptiveFloor_->levelsDb(0, levels->left->data, n);
  adaptiveFloor_->levelsDb(1, levels->right->data, n);
  for (size_t k = 0; k < n; ++k) {
    levels->left->data[k] -= normalisation;
    levels->right->data[k] -= normalisation;
  }
  return levels;
}

// Power in dB of the bands peak detection examines, from the lower edge up to (not including) the
// upper one; the other bands are never read and stay 0. (Taking the logarithm of every band cost
// more than the rest of a frame without sounds.) A band without energy is NaN, which is never a
// peak.
FloatPairPtr Localizer::PowerSpectra(const ComplexPairPtr& lrspectra) const {
  const size_t n = lrspectra->left->size;
  FloatPairPtr lrpower = LRSignalFactory<float>::Create(n);
  const size_t first = lower_.index > 0 ? static_cast<size_t>(lower_.index) : 0;
  const size_t end = upper_.index > 0 ? std::min(static_cast<size_t>(upper_.index), n) : 0;
  if (first < end) {
    FastMath::LevelsDb(lrspectra->left->data + first, lrpower->left->data + first, end - first);
    FastMath::LevelsDb(lrspectra->right->data + first, lrpower->right->data + first, end - first);
  }
  return lrpower;
}

HarmonicSoundList Localizer::HumanSounds(const FloatPairPtr& noise, const FloatPairPtr& lrpower) const {
  PeakPairPtr peaks = Peak::GetPeaks(noise, lrpower, lower_, upper_, *info_, config_.peakThresholdDb);
  if (!peaks)
    AbandonFrame((boost::format("peak detection rejected the frame: PEAK_FMIN %g Hz and PEAK_FMAX %g Hz must "
                                "lie in 0 .. %g Hz with PEAK_FMIN below PEAK_FMAX, and the noise needs %d bins") %
                  config_.peakFminHz % config_.peakFmaxHz % (config_.samplingRateHz / 2.0) % (nfft_ / 2 + 1))
                     .str());
  const bool left = config_.channel == Channel::LEFT;
  const bool finest = logger_->IsLoggable(LogLevel::FINEST);
  const PeakList& channelPeaks = left ? peaks->left : peaks->right;
  if (finest && !channelPeaks->empty()) logger_->Log(LogLevel::FINEST, PeakText(*channelPeaks), kFile, kFunction);

  ClusterList clusters = Clustering::Execute(channelPeaks, config_.clusteringThreshold);
  if (!clusters) AbandonFrame("clusters is null");
  if (finest && !clusters->empty()) logger_->Log(LogLevel::FINEST, ClusterText(*clusters), kFile, kFunction);

  Clustering::ProxyList proxy = Clustering::GetProxy(clusters, left ? noise->left : noise->right);
  if (!proxy) AbandonFrame("proxy is null");
  if (finest && !proxy->empty()) logger_->Log(LogLevel::FINEST, ProxyText(*proxy), kFile, kFunction);

  HarmonicSoundList sounds = Harmonics::ExtractAllHarmonics(proxy);
  if (finest && !sounds->empty()) logger_->Log(LogLevel::FINEST, SoundsText("all", *sounds), kFile, kFunction);
  sounds = Harmonics::GetHumanHarmonics(sounds, static_cast<unsigned int>(nfft_ / 2 + 1), *info_,
                                        config_.harmonicThreshold);
  if (finest && !sounds->empty()) logger_->Log(LogLevel::FINEST, SoundsText("human", *sounds), kFile, kFunction);
  return sounds;
}

void Localizer::JudgeDirections(const HarmonicSoundList& sounds, const ComplexPairPtr& lrspectra) {
  IPDPtr ipd = boost::make_shared<InterauralPhaseDifference>(lrspectra, Channel::RIGHT);
  IIDPtr iid = boost::make_shared<InterauralIntensityDifference>(lrspectra, Channel::RIGHT);
  auto directions = Localize::GetDirections(sounds, *info_, *judge_, ipd, iid, MethodFlag::BOTH, true);
  if (logger_->IsLoggable(LogLevel::FINEST))
    logger_->Log(LogLevel::FINEST, DirectionsText(*directions, grid_), kFile, kFunction);
  for (size_t i = 0; i < sounds->size(); ++i) (*sounds)[i]->directions = directions->at(i);
}

void Localizer::UpdateHistory(const HarmonicSoundList& sounds, double timeSec) {
  history_.CheckSoundHistory(sounds, ToTimeval(timeSec));
  if (!logger_->IsLoggable(LogLevel::FINEST)) return;
  std::string text;
  for (size_t i = 0; i < sounds->size(); ++i)
    text += (boost::format("%lf sec") % timeSec).str() + (boost::format(" No %d : ") % (i + 1)).str() +
            HarmonicSoundToString(*(*sounds)[i], grid_) + "\n";
  logger_->Log(LogLevel::FINEST, text, kFile, kFunction);
}

// Every event heard on the frame or paused, in the history's order. The strength is the
// probability of the direction of the sound the event was matched with on this frame.
void Localizer::ReportEvents(const HarmonicSoundList& sounds, double timeSec) {
  std::map<int, double> probabilityOf;
  for (const HarmonicSoundPtr& sound : *sounds)
    if (sound->directions && !sound->directions->empty())
      probabilityOf.emplace(sound->id, sound->directions->front().second.Value());
  const double binHz = static_cast<double>(config_.samplingRateHz) / nfft_;
  for (const EventHistory& event : history_.events) {
    if (event.state != EventHistory::UPDATED && event.state != EventHistory::PAUSED) continue;
    SourceReport report;
    report.sourceId = event.id;
    report.timeSec = timeSec;
    report.azimuthRad = event.direction.Value();
    report.azimuthDeg = RadToDeg(report.azimuthRad);
    report.paused = event.state == EventHistory::PAUSED;
    auto heard = probabilityOf.find(event.id);
    report.strength = heard != probabilityOf.end() ? heard->second : std::numeric_limits<double>::quiet_NaN();
    report.fundamentalHz = event.band.index * binHz;
    report.framesHeard = event.updateCount;
    report.startSec = Seconds(event.begin);
    reports_.push_back(report);
  }
}

void Localizer::AbandonFrame(const std::string& message) const {
  if (logger_->IsLoggable(LogLevel::SEVERE)) logger_->Log(LogLevel::SEVERE, message, kFile, kFunction);
  throw FrameError(message);
}

}  // namespace NSVelkBinaural
