#include "LocalizeBinaural.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "Angles.h"
#include "Band.h"
#include "Clustering.h"
#include "DirectionConverter.h"
#include "DirectionJudge.h"
#include "FastMath.h"
#include "Harmonics.h"
#include "InterauralDifference.h"
#include "InvalidInputException.h"
#include "Localize.h"
#include "Peak.h"
#include "Source.h"
#include "velkio/VELK.h"

using namespace NSVelkBinaural;

namespace {

const char* const kFile = "LocalizeBinaural";
const char* const kMeasuredMethod = "HRTFMESURED";  // spelled so by every network that uses it
const char* const kEpipolarMethod = "EPIPOLAR";
// Line numbers reported with the first-frame set-up errors; kept fixed so that the reported
// text does not change with edits of this file.
const int kChannelsSizeLine = 350;
const int kSetupFailureLine = 363;
// Frames the internal noise estimator averages.
const unsigned int kNoiseFrames = 10;
// Source distance and head radius of the head model, metres.
const double kModelDistance = 1.0;
const double kModelHeadRadius = 0.09;

timeval ToTimeval(double seconds) {
  timeval tv{};
  const double whole = std::floor(seconds);
  tv.tv_sec = static_cast<time_t>(whole);
  tv.tv_usec = static_cast<suseconds_t>(std::floor((seconds - whole) * 1000000.0));
  return tv;
}

// The view of an input as T. A nil reference or an object of another type is reported as a node
// error naming the port, instead of leaving a nil view to be dereferenced.
template <class T>
const T& InputAs(const FD::Node* node, const FD::ObjectRef& ref, const char* port) {
  FD::RCPtr<T> view(ref);
  if (view.isNil())
    throw new FD::NodeException(node,
                                std::string("input ") + port + " is " +
                                    (ref.isNil() ? std::string("empty") : "a " + ref->className()) +
                                    ", not a " + T().className(),
                                kFile, __LINE__);
  return *view;
}

void CheckTwoRows(int rows) {
  if (rows != 2) throw new InvalidInputException((boost::format("Input matrix is not 2ch, but %dch") % rows).str());
}

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

std::string DirectionsText(const std::vector<DirectionCandidatesPtr>& directions) {
  std::ostringstream text;
  for (size_t i = 0; i < directions.size(); ++i) {
    if (!directions[i] || directions[i]->empty()) continue;
    const auto& best = directions[i]->front();
    text << "got directions of sound[" << i << "]: " << directions[i]->size() << ", highest prob direction is "
         << gDirConv.ToDegree(best.first) << " (" << 100.0 * best.second.Value() << "%)\n";
  }
  text << "\n";
  return text.str();
}

}  // namespace

namespace NSVelkBinaural {

std::string HarmonicSoundToString(const HarmonicSound& sound) {
  std::string text = (boost::format("ID %d") % sound.id).str();
  const std::vector<BandAndHarmonicRatio>& harmonics = *sound.harmonics;
  // Without a candidate direction there is no direction or probability to show.
  if (harmonics.empty() || !sound.directions || sound.directions->empty()) return text;
  const auto& best = sound.directions->front();
  text += (boost::format(" %4d Hz hnum %d dir %3d prob %2d [") %
           static_cast<int>(std::lround(harmonics.front().band.Freq().Value())) % harmonics.size() %
           gDirConv.ToDegree(best.first) % static_cast<int>(std::lround(100.0 * best.second.Value())))
              .str();
  size_t next = 0;
  for (int k = 1; k <= harmonics.back().ratio; ++k) {
    int band = 0;
    if (next < harmonics.size() && harmonics[next].ratio == k) band = harmonics[next++].band.index;
    text += (boost::format(" %3d") % band).str();
  }
  return text + "]";
}

}  // namespace NSVelkBinaural

LocalizeBinaural::LocalizeBinaural(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params),
      peakFmin(0.0),
      peakFmax(0.0),
      bgnEstimator(kNoiseFrames),
      logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  audioID = addInput("AUDIO");
  spectrumID = addInput("SPECTRUM");
  bgnoiseID = addInput("BGNOISE");
  sourcesID = addOutput("SOURCES");

  samplingRate = getParameter<int>("SAMPLING_RATE");
  advance = getParameter<int>("ADVANCE");
  internalNoise = getString("BGNOISE_METHOD") == "INTERNAL";
  const int pauseLengthMs = getParameter<int>("PAUSE_LENGTH");
  const float minSrcIntervalDeg = getParameter<float>("MIN_SRC_INTERVAL");
  eventHistory.pauseLength.tv_sec = pauseLengthMs / 1000;
  eventHistory.pauseLength.tv_usec = (pauseLengthMs % 1000) * 1000;
  eventHistory.nearAngle = NSDimensionPromise::AngleBase<double>(minSrcIntervalDeg * 0.5 * Angles::AnglePi / 180.0);
  peakFmin = getParameter<float>("PEAK_FMIN");
  peakFmax = getParameter<float>("PEAK_FMAX");
  localizeLeft = getString("LOCALIZE_CHANNEL") == "LEFT" ? 1 : 0;
  harmonicThreshold = getParameter<int>("HARMONIC_THRESHOLD");
  peakThreshold = getParameter<float>("PEAK_THRESHOLD");
  eventHistory.ratioThreshold = getParameter<float>("EVENT_RATIO_THRESHOLD");
  clusteringThreshold = getParameter<float>("CLUSTERING_THRESHOLD");
  localizeMethod = getString("LOCALIZE_METHOD");
  getParameter<float>("DIRPROB_THRESHOLD");  // must be present; has no effect
  getParameter<int>("ROUND_COUNT");          // must be present; has no effect

  inOrder = true;

  // The converter is process-wide: the last localiser constructed decides it.
  if (localizeMethod == kEpipolarMethod)
    gDirConv = DirectionConverter(-5, 90);
  else if (localizeMethod == kMeasuredMethod)
    gDirConv = DirectionConverter(0, 90);  // placeholder until the tables are read on frame 0
}

LocalizeBinaural::~LocalizeBinaural() = default;

void LocalizeBinaural::verifyConnect() const {
  if (!internalNoise) {
    FD::BufferedNode::verifyConnect();
    return;
  }
  for (int id : {audioID, spectrumID})
    if (!isConnected(id))
      throw new FD::NodeException(this, "input \"" + inputNames()[id] + "\" is not connected", kFile, __LINE__);
}

void LocalizeBinaural::count0Initialize(int count, FD::Buffer&) {
  try {
    FD::ObjectRef spectrumRef = getInput(spectrumID, count);
    const auto& spectrum = InputAs<FD::Matrix<std::complex<float>>>(this, spectrumRef, "SPECTRUM");
    setting.reset(new LocalizationSetting{2 * spectrum.cols() - 2, static_cast<double>(samplingRate)});
    if (localizeMethod == kMeasuredMethod) LoadMeasuredTables();
  } catch (const std::exception& e) {
    throw new FD::NodeException(this, e.what(), kFile, kSetupFailureLine);
  }
}

void LocalizeBinaural::LoadMeasuredTables() {
  const std::string path = getString("VELK_DAT");
  velkio::VELK file;
  file.readFile(path);
  const auto& channels = FD::object_cast<FD::Vector<int>>(parameters.get("VELK_DAT_CHANNELS"));
  if (channels.size() != 2)
    throw new FD::NodeException(this, "The size of VELK_DAT_CHANNELS != 2", kFile, kChannelsSizeLine);
  iipds = HRTFToIIPDS(file, static_cast<unsigned>(channels[0]), static_cast<unsigned>(channels[1]));
  if (logger->IsLoggable(LogLevel::INFO))
    logger->Log(LogLevel::INFO,
                boost::format("iipds: fs = %d, nfft=%d, nfreq=%d, dirtick=%d, ndir=%d, begindeg=%d") % iipds->fs %
                    iipds->nfft % iipds->nfreq % iipds->dirtick % iipds->ndir % iipds->begindeg,
                kFile, "count0Initialize");
  // Tables of another rate or transform length would be read at the wrong frequencies.
  if (iipds->fs != samplingRate || iipds->nfft != setting->nfft)
    throw new FD::NodeException(this,
                                (boost::format("the tables of %s are for %d Hz and a %d-point transform, but the "
                                               "spectra are %d Hz and %d-point") %
                                 path % iipds->fs % iipds->nfft % samplingRate % setting->nfft)
                                    .str(),
                                kFile, __LINE__);
  gDirConv = DirectionConverter(iipds->dirtick, iipds->begindeg);
}

void LocalizeBinaural::calculate(int, int count, FD::Buffer& out) {
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "inputting variables", kFile, "calculate");
  FD::ObjectRef audioRef = getInput(audioID, count);
  FD::ObjectRef spectrumRef = getInput(spectrumID, count);
  const auto& audio = InputAs<FD::Matrix<float>>(this, audioRef, "AUDIO");
  const auto& spectrum = InputAs<FD::Matrix<std::complex<float>>>(this, spectrumRef, "SPECTRUM");

  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(new FD::Vector<FD::ObjectRef>);
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "inspecting variables", kFile, "calculate");
  CheckTwoRows(audio.rows());
  CheckTwoRows(spectrum.rows());

  if (count == 0) count0Initialize(count, out);
  const double frameTime = static_cast<double>(count) * advance / setting->fs;

  const BandInformation info(NSDimensionPromise::FrequencyBase<double>(setting->fs),
                             static_cast<unsigned int>(setting->nfft));
  const Band upper = info.CreateBand(NSDimensionPromise::FrequencyBase<double>(peakFmax));
  const Band lower = info.CreateBand(NSDimensionPromise::FrequencyBase<double>(peakFmin));
  ComplexPairPtr lrspectra = NormalisedSpectra(spectrum, BinsToRead(spectrum, upper));
  FloatPairPtr noise = FrameNoise(count, lrspectra);

  // Without noise there is nothing to compare the frame with: the history is left alone and
  // nothing is output.
  if (noise) {
    FloatPairPtr lrpower = PowerSpectra(lrspectra, lower, upper);
    SoundList sounds = HumanSounds(noise, lrpower, lower, upper, info);
    if (!sounds->empty()) {
      JudgeDirections(sounds, lrspectra, info);
      UpdateHistory(sounds, frameTime);
    }
    AppendActiveSources(*sources);
    ForgetEndedIds();
  }
  out[count] = sources;
}

// While the noise is being learnt the estimate takes every bin. Afterwards the frame is read only
// below the upper edge of the peak search: peaks are searched there, and every harmonic judged
// for its direction is one of those peaks. Reading (and taking the phase and level differences
// of) the other four fifths of the spectrum was half the cost of a frame.
size_t LocalizeBinaural::BinsToRead(const FD::Matrix<std::complex<float>>& spectrum, const Band& upper) const {
  const size_t bins = static_cast<size_t>(spectrum.cols());
  const bool learning = internalNoise && !bgnEstimator.BGNoise();
  if (learning || upper.index < 1) return bins;  // an invalid edge is reported by the peak search
  return std::min(bins, static_cast<size_t>(upper.index));
}

// The first `n` bins of the two rows divided by the transform length, as left and right signals.
ComplexPairPtr LocalizeBinaural::NormalisedSpectra(const FD::Matrix<std::complex<float>>& spectrum, size_t n) const {
  const float scale = 1.0f / static_cast<float>(setting->nfft);
  auto row = [&](int r) {
    ComplexSignalPtr signal = boost::make_shared<ComplexSignal>(n, std::complex<float>());
    const std::complex<float>* source = spectrum.row(r);
    std::complex<float>* data = signal->data;
    for (size_t i = 0; i < n; ++i) data[i] = source[i] * scale;
    return signal;
  };
  ComplexSignalPtr left = row(0), right = row(1);
  ComplexPairPtr lrspectra = boost::make_shared<ComplexPair>(left, right);
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "lrspectra created", kFile, "calculate");
  return lrspectra;
}

FloatPairPtr LocalizeBinaural::FrameNoise(int count, const ComplexPairPtr& lrspectra) {
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "getting room noise", kFile, "calculate");
  if (internalNoise) {
    if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "internal bgn estimating", kFile, "calculate");
    bgnEstimator.Estimate(lrspectra);
    FloatPairPtr noise = bgnEstimator.BGNoise();
    if (noise && logger->IsLoggable(LogLevel::FINE))
      logger->Log(LogLevel::FINE, "background noise estimated", kFile, "calculate");
    return noise;
  }
  FD::ObjectRef noiseRef = getInput(bgnoiseID, count);
  if (noiseRef.isNil()) return FloatPairPtr();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, "background noise got (external)", kFile, "calculate");
  auto rows = ToSignalArray(InputAs<FD::Matrix<float>>(this, noiseRef, "BGNOISE"));
  return FloatPairPtr(new FloatPair(rows->at(0), rows->at(1)));
}

// Power in dB of the bands peak detection examines, from `lower` up to (not including) `upper`;
// the other bands are never read and stay 0. (Taking the logarithm of every band cost more than
// the rest of a frame without sounds.) A band without energy is NaN, which is never a peak.
FloatPairPtr LocalizeBinaural::PowerSpectra(const ComplexPairPtr& lrspectra, const Band& lower,
                                            const Band& upper) const {
  const size_t n = lrspectra->left->size;
  FloatPairPtr lrpower = LRSignalFactory<float>::Create(n);
  const size_t first = lower.index > 0 ? static_cast<size_t>(lower.index) : 0;
  const size_t end = upper.index > 0 ? std::min(static_cast<size_t>(upper.index), n) : 0;
  if (first < end) {
    FastMath::LevelsDb(lrspectra->left->data + first, lrpower->left->data + first, end - first);
    FastMath::LevelsDb(lrspectra->right->data + first, lrpower->right->data + first, end - first);
  }
  return lrpower;
}

LocalizeBinaural::SoundList LocalizeBinaural::HumanSounds(const FloatPairPtr& noise, const FloatPairPtr& lrpower,
                                                          const Band& lower, const Band& upper,
                                                          const BandInformation& info) const {
  PeakPairPtr peaks = Peak::GetPeaks(noise, lrpower, lower, upper, info, peakThreshold);
  if (!peaks)
    AbandonFrame((boost::format("peak detection rejected the frame: PEAK_FMIN %g Hz and PEAK_FMAX %g Hz must "
                                "lie in 0 .. %g Hz with PEAK_FMIN below PEAK_FMAX, and the noise needs %d bins") %
                  peakFmin % peakFmax % (setting->fs / 2) % (setting->nfft / 2 + 1))
                     .str(),
                 __LINE__);
  const PeakList& channelPeaks = localizeLeft ? peaks->left : peaks->right;
  if (!channelPeaks->empty() && logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, PeakText(*channelPeaks), kFile, "calculate");

  ClusterList clusters = Clustering::Execute(channelPeaks, clusteringThreshold);
  if (!clusters) AbandonFrame("clusters is null", __LINE__);
  if (!clusters->empty() && logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, ClusterText(*clusters), kFile, "calculate");

  Clustering::ProxyList proxy = Clustering::GetProxy(clusters, localizeLeft ? noise->left : noise->right);
  if (!proxy) AbandonFrame("proxy is null", __LINE__);
  if (!proxy->empty() && logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, ProxyText(*proxy), kFile, "calculate");

  SoundList sounds = Harmonics::ExtractAllHarmonics(proxy);
  if (!sounds->empty() && logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, SoundsText("all", *sounds), kFile, "calculate");
  sounds = Harmonics::GetHumanHarmonics(sounds, static_cast<unsigned int>(setting->nfft / 2 + 1), info,
                                        harmonicThreshold);
  if (!sounds->empty() && logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, SoundsText("human", *sounds), kFile, "calculate");
  return sounds;
}

void LocalizeBinaural::JudgeDirections(const SoundList& sounds, const ComplexPairPtr& lrspectra,
                                       const BandInformation& info) {
  IPDPtr ipd = boost::make_shared<InterauralPhaseDifference>(lrspectra, Channel::RIGHT);
  IIDPtr iid = boost::make_shared<InterauralIntensityDifference>(lrspectra, Channel::RIGHT);
  if (!judge) {
    if (localizeMethod == kMeasuredMethod)
      judge.reset(new JudgeHRTFMeasured(iipds));
    else
      judge.reset(new JudgeEpipolar(NSDimensionPromise::LengthBase<double>(kModelDistance),
                                    NSDimensionPromise::LengthBase<double>(kModelHeadRadius)));
  }
  auto directions = Localize::GetDirections(sounds, info, *judge, ipd, iid, static_cast<MethodFlag::Kind>(0), true);
  if (logger->IsLoggable(LogLevel::FINEST)) logger->Log(LogLevel::FINEST, DirectionsText(*directions), kFile, "calculate");
  for (size_t i = 0; i < sounds->size(); ++i) (*sounds)[i]->directions = directions->at(i);
}

void LocalizeBinaural::UpdateHistory(const SoundList& sounds, double frameTime) {
  eventHistory.CheckSoundHistory(sounds, ToTimeval(frameTime));
  if (!logger->IsLoggable(LogLevel::FINEST)) return;
  std::string text;
  for (size_t i = 0; i < sounds->size(); ++i)
    text += (boost::format("%lf sec") % frameTime).str() + (boost::format(" No %d : ") % (i + 1)).str() +
            HarmonicSoundToString(*(*sounds)[i]) + "\n";
  logger->Log(LogLevel::FINEST, text, kFile, "calculate");
}

void LocalizeBinaural::AppendActiveSources(FD::Vector<FD::ObjectRef>& sources) {
  for (const EventHistory& event : eventHistory.events) {
    if (event.state != EventHistory::UPDATED && event.state != EventHistory::PAUSED) continue;
    auto* source = new FD::Source;
    source->id = event.id;
    source->x[0] = static_cast<float>(std::cos(event.direction.Value()));
    source->x[1] = static_cast<float>(std::sin(event.direction.Value()));
    sources.push_back(FD::ObjectRef(source));
    AnnounceIfNew(*source);
  }
}

// The direction announced is the one the source carries, so it matches what is output.
void LocalizeBinaural::AnnounceIfNew(const FD::Source& source) {
  if (std::find(reportedIds.begin(), reportedIds.end(), source.id) != reportedIds.end()) return;
  const double degrees = std::atan2(source.x[1], source.x[0]) * 180.0 / 3.141592653589793;
  std::cout << boost::format("SOURCE ID %d DIR %f") % source.id % degrees << std::endl;
  reportedIds.push_back(source.id);
}

// An id whose event has left the history is never output again (ids are not reused), so it need
// not be remembered as announced. Keeping only the live ones keeps the check above as short as the
// list of live events; remembering every id made each frame slower the more ids had been issued.
void LocalizeBinaural::ForgetEndedIds() {
  auto& events = eventHistory.events;
  reportedIds.erase(std::remove_if(reportedIds.begin(), reportedIds.end(),
                                   [&](int id) { return Search(events, id, events.begin()) == events.end(); }),
                    reportedIds.end());
}

void LocalizeBinaural::AbandonFrame(const std::string& message, int line) const {
  if (logger->IsLoggable(LogLevel::SEVERE)) logger->Log(LogLevel::SEVERE, message, kFile, "calculate");
  throw new FD::NodeException(this, message, kFile, line);
}

FD::NodeInfo LocalizeBinaural::describe() {
  FD::NodeInfo info;
  info.description =
      "Finds talkers in a two-channel spectrum and tracks them: harmonic sounds above the background noise are "
      "judged for their direction (head model or measured tables) and matched to sound events with stable ids. "
      "Each new id is announced once on standard output as \"SOURCE ID <id> DIR <degrees>\".";
  info.inputs = {
      {"AUDIO", "Matrix<float>", "the frame's time signal, 2 rows (left, right); only the row count is used"},
      {"SPECTRUM", "Matrix<complex<float>>", "the frame's spectrum, row 0 left, row 1 right, nfft/2 + 1 columns"},
      {"BGNOISE", "Matrix<float>",
       "background noise level per bin in dB (row 0 left, row 1 right); read only when BGNOISE_METHOD is not "
       "INTERNAL, and then it must be connected; a frame without it outputs no sources"}};
  info.outputs = {{"SOURCES", "Vector<ObjectRef> of Source",
                   "the sources active or paused on the frame: id, x = (cos a, sin a, 0) for azimuth a "
                   "(positive to the left)"}};
  info.parameters = {
      {"SAMPLING_RATE", "int", "sampling rate of the input, Hz", "16000"},
      {"ADVANCE", "int", "frame shift, samples; frame time = frame x ADVANCE / SAMPLING_RATE", "160"},
      {"BGNOISE_METHOD", "string", "INTERNAL: learn the noise from the first 10 frames; anything else: input BGNOISE",
       "INTERNAL"},
      {"PAUSE_LENGTH", "int", "how long a talker may pause and keep its id, ms", "1000"},
      {"MIN_SRC_INTERVAL", "float", "smallest angle between two talkers, degrees (half of it joins a sound to an event)",
       "20.0"},
      {"PEAK_FMIN", "float", "lowest frequency of the peak search, Hz", "100.0"},
      {"PEAK_FMAX", "float", "upper edge of the peak search (not included), Hz", "1500.0"},
      {"LOCALIZE_CHANNEL", "string", "LEFT: peaks and clusters of the left channel; anything else: the right", "LEFT"},
      {"HARMONIC_THRESHOLD", "int", "smallest voice score of a harmonic structure (-4 .. 4)", "1"},
      {"PEAK_THRESHOLD", "float", "margin above the noise a band needs in both ears to be a peak, dB", "20.0"},
      {"EVENT_RATIO_THRESHOLD", "float", "an event updated this many times per second or fewer is ended, 1/s", "3.0"},
      {"CLUSTERING_THRESHOLD", "float", "merge cost limit: above 0 and at most 100 joins runs of neighbouring bands",
       "50.0"},
      {"LOCALIZE_METHOD", "string", "EPIPOLAR (head model) or HRTFMESURED (measured tables of VELK_DAT)", "EPIPOLAR"},
      {"DIRPROB_THRESHOLD", "float", "accepted for compatibility; no effect", "0.0"},
      {"ROUND_COUNT", "int", "accepted for compatibility; no effect", "0"},
      {"VELK_DAT", "string", "transfer-function file, read on the first frame with HRTFMESURED",
       "examples/kemar_front_16k_512.velk"},
      {"VELK_DAT_CHANNELS", "Vector<int>", "the file's channels used as left and right ear, with HRTFMESURED",
       "[0, 1]"}};
  return info;
}
