#include "SeparateBinaural.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <typeinfo>
#include <vector>

#include <boost/format.hpp>

#include "HRTF.h"
#include "InvalidInputException.h"
#include "Separation.h"
#include "Signal.h"
#include "Source.h"
#include "velkio/VELK.h"

using NSVelkBinaural::ComplexPairPtr;
using NSVelkBinaural::FloatPairPtr;
using NSVelkBinaural::LogLevel;
using Angle = NSDimensionPromise::AngleBase<double>;

namespace {

const char* const kFile = "SeparateBinaural";
const char* const kMeasuredMethod = "HRTFMESURED";  // the keyword, spelled so
constexpr unsigned kNoiseFrames = 10;
constexpr float kNoiseMarginDb = 10.0f;
constexpr double kPi = 3.141592653589793;

std::string TypeName(const FD::ObjectRef& ref) { return ref.isNil() ? "nil" : ref->className(); }

[[noreturn]] void Reject(const boost::format& message) {
  throw new NSVelkBinaural::InvalidInputException(message.str());
}

}  // namespace

SeparateBinaural::SeparateBinaural(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params),
      bgnEstimator(kNoiseFrames),
      logger(NSVelkBinaural::Logger::GetLogger(NSVelkBinaural::Logger::GLOBAL_LOGGER_NAME)) {
  spectrumID = addInput("SPECTRUM");
  sourcesID = addInput("SOURCES");
  outputID = addOutput("OUTPUT");
  samplingRate = getParameter<int>("SAMPLING_RATE");
  sourceOnePresent = false;
  rangeMin = getParameter<float>("RANGE_MIN");
  rangeMax = getParameter<float>("RANGE_MAX");
  separateMethod = getString("SEPARATE_METHOD");
  // Bin frequencies and the 1500 Hz phase limit are computed from the rate.
  if (samplingRate <= 0)
    throw new FD::NodeException(
        this,
        (boost::format("parameter SAMPLING_RATE is %d; expected a sampling rate in Hz above 0") % samplingRate).str(),
        __FILE__, __LINE__);
  // The noise estimator and the "source 1 dropped out" note follow the frames in order.
  inOrder = true;
}

// ---- inputs -------------------------------------------------------------------------------------

const SeparateBinaural::ComplexMatrix& SeparateBinaural::spectrumOf(const FD::ObjectRef& ref, int count) const {
  auto* matrix = dynamic_cast<const ComplexMatrix*>(ref.get());
  if (!matrix)
    Reject(boost::format("%s: input SPECTRUM on frame %d is %s, not a complex matrix") % getName() % count %
           TypeName(ref));
  if (matrix->rows() != 2) Reject(boost::format("Input matrix is not 2ch, but %dch") % matrix->rows());
  return *matrix;
}

// The source list; a nil input is an empty list. Every element must be a source record with a
// finite direction: anything else is rejected rather than guessed at.
FD::RCPtr<FD::Vector<FD::ObjectRef>> SeparateBinaural::sourcesOf(const FD::ObjectRef& ref, int count) const {
  if (ref.isNil()) return FD::make<FD::Vector<FD::ObjectRef>>();
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(ref);
  if (sources.isNil())
    Reject(boost::format("%s: input SOURCES on frame %d is %s, not a list of sources") % getName() % count %
           TypeName(ref));
  for (size_t i = 0; i < sources->size(); ++i) {
    const FD::ObjectRef& element = (*sources)[i];
    auto* source = dynamic_cast<const FD::Source*>(element.get());
    if (!source)
      Reject(boost::format("%s: element %d of SOURCES on frame %d is %s, not a source record") % getName() % i % count %
             TypeName(element));
    if (!std::isfinite(source->x[0]) || !std::isfinite(source->x[1]))
      Reject(boost::format("%s: source id %d on frame %d has a position that is not a number (x = %f, y = %f)") %
             getName() % source->id % count % source->x[0] % source->x[1]);
  }
  return sources;
}

// ---- first frame ------------------------------------------------------------------------------

void SeparateBinaural::count0Initialize(const ComplexMatrix& spectrum) {
  setting.reset(new NSVelkBinaural::SeparationSetting(0, 0.0));
  setting->fs = static_cast<double>(samplingRate);
  setting->nfft = 2 * spectrum.cols() - 2;
  loadTables();
  if (separateMethod == kMeasuredMethod) checkTablesFitSpectrum();
}

void SeparateBinaural::loadTables() {
  const std::string path = getString("VELK_DAT");
  try {
    velkio::VELK file;
    file.readFile(path);
    tableSpans.Clear();
    iipds = NSVelkBinaural::HRTFToIIPDS(file, 0, 1);
  } catch (const std::exception& e) {
    throw new FD::NodeException(
        this, (boost::format("cannot load the interaural tables of VELK_DAT \"%s\": %s") % path % e.what()).str(),
        __FILE__, __LINE__);
  }
}

// The measured rule reads the tables at the spectrum's bins: they must be made for the same
// sampling rate and transform length, and hold a phase and a level value for every bin at every
// direction. Anything else is refused here rather than read at the wrong frequencies, or past
// the tables' end, on the first separated frame.
void SeparateBinaural::checkTablesFitSpectrum() const {
  const size_t bins = static_cast<size_t>(setting->nfft / 2 + 1);
  const std::string path = getString("VELK_DAT");
  auto fail = [&](const boost::format& what) {
    throw new FD::NodeException(this, (boost::format("VELK_DAT \"%s\": %s") % path % what.str()).str(), __FILE__,
                                __LINE__);
  };
  if (iipds->fs != samplingRate || iipds->nfft != setting->nfft)
    fail(boost::format("the tables are for %d Hz and a %d-point transform (%d bins), but the spectra are %d Hz and "
                       "%d-point (%d bins)") %
         iipds->fs % iipds->nfft % (iipds->nfft / 2 + 1) % samplingRate % setting->nfft % bins);
  const size_t ndir = static_cast<size_t>(std::max(iipds->ndir, 0));
  if (iipds->ipd.size() < ndir || iipds->iid.size() < ndir)
    fail(boost::format("the file declares %d directions but holds responses for %d") % iipds->ndir %
         std::min(iipds->ipd.size(), iipds->iid.size()));
  for (size_t d = 0; d < ndir; ++d) {
    const size_t have = std::min(iipds->ipd[d].values.size(), iipds->iid[d].values.size());
    if (have < bins)
      fail(boost::format("the tables hold %d bins at direction index %d but the spectrum has %d bins") % have % d %
           bins);
  }
}

// ---- per frame --------------------------------------------------------------------------------

boost::shared_ptr<NSVelkBinaural::Separation> SeparateBinaural::makeSeparator(const ComplexPairPtr& spectra,
                                                                              const FloatPairPtr& noise) {
  if (separateMethod == kMeasuredMethod)
    return boost::shared_ptr<NSVelkBinaural::Separation>(
        new NSVelkBinaural::HRTFSeparation(spectra, setting, noise, *iipds, kNoiseMarginDb, &tableSpans));
  return boost::shared_ptr<NSVelkBinaural::Separation>(new NSVelkBinaural::EpipolarSeparation(spectra, setting));
}

FD::RCPtr<FD::Map<int, FD::ObjectRef>> SeparateBinaural::separateAll(const ComplexPairPtr& spectra,
                                                                     const FloatPairPtr& noise,
                                                                     const FD::Vector<FD::ObjectRef>& sources,
                                                                     int count) {
  FD::RCPtr<FD::Map<int, FD::ObjectRef>> result = FD::make<FD::Map<int, FD::ObjectRef>>();
  boost::shared_ptr<NSVelkBinaural::Separation> separator = makeSeparator(spectra, noise);
  const bool fine = logger->IsLoggable(LogLevel::FINE);
  if (fine) logger->Log(LogLevel::FINE, boost::format("got %d sources") % sources.size(), kFile, "calculate");
  const Angle lo(kPi * rangeMin / 180.0);
  const Angle hi(kPi * rangeMax / 180.0);
  bool seenOne = false;
  for (const FD::ObjectRef& element : sources) {
    const FD::Source& source = dynamic_cast<const FD::Source&>(*element);
    const int id = source.id;
    const float x = source.x[0], y = source.x[1];
    if (id == 1) seenOne = true;
    const float angle = std::atan2(y, x);  // azimuth, positive to the left
    const Angle range = NSVelkBinaural::getPermissibleDirectionRange(Angle(angle), lo, hi);
    if (fine)
      logger->Log(LogLevel::FINE,
                  boost::format("%10d source id = %d, x = %f, y = %f , angle = %f deg, range = %f deg") % count % id %
                      x % y % (angle * 180.0 / kPi) % (range.Value() * 180.0 / kPi),
                  kFile, "calculate");
    ComplexPairPtr pair = separator->separate(Angle(angle), range);
    if (!pair) throw std::logic_error("SeparateBinaural: the separator returned no spectrum");
    // The ear on the talker's side hears it loudest; straight ahead keeps the right ear.
    const NSVelkBinaural::ComplexSignalPtr& ear = angle > 0 ? pair->left : pair->right;
    // The first record of an id wins; later ones with the same id are dropped.
    result->insert(std::make_pair(id, FD::ObjectRef(NSVelkBinaural::ToFDVector(ear))));
  }
  if (!seenOne && sourceOnePresent && fine) logger->Log(LogLevel::FINE, "find id 1 drop out", kFile, "calculate");
  sourceOnePresent = seenOne;
  return result;
}

void SeparateBinaural::calculate(int, int count, FD::Buffer& out) {
  const bool fine = logger->IsLoggable(LogLevel::FINE);
  if (fine) logger->Log(LogLevel::FINE, "inputting variables", kFile, "calculate");
  FD::ObjectRef spectrumRef = getInput(spectrumID, count);
  FD::ObjectRef sourcesRef = getInput(sourcesID, count);
  if (fine) logger->Log(LogLevel::FINE, "inspecting variables", kFile, "calculate");
  const ComplexMatrix& matrix = spectrumOf(spectrumRef, count);
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources = sourcesOf(sourcesRef, count);

  if (count == 0) count0Initialize(matrix);
  if (!setting) throw new FD::NodeException(this, "frame 0 was never computed", __FILE__, __LINE__);
  if (2 * matrix.cols() - 2 != setting->nfft)
    Reject(boost::format("%s: SPECTRUM on frame %d has %d bins but %d on frame 0") % getName() % count % matrix.cols() %
           (setting->nfft / 2 + 1));

  auto rows = NSVelkBinaural::ToSignalArray(matrix);
  ComplexPairPtr spectra(new NSVelkBinaural::ComplexPair(rows->at(0), rows->at(1)));
  bgnEstimator.Estimate(spectra);
  FloatPairPtr noise = bgnEstimator.BGNoise();

  // Until the noise estimate is complete (frames 0 to 9) the frame's output is an empty map.
  if (!noise) {
    out[count] = FD::make<FD::Map<int, FD::ObjectRef>>();
    return;
  }
  out[count] = separateAll(spectra, noise, *sources, count);
}

// ---- contract -----------------------------------------------------------------------------------

FD::NodeInfo SeparateBinaural::describe() {
  FD::NodeInfo info;
  info.description =
      "Separates each source of the list from the two-ear spectrum: keeps the bins whose interaural differences "
      "fit the source's direction and zeroes the rest. Up to 1500 Hz the phase difference decides; above it the "
      "measured method uses the level difference and the head-model method keeps nothing. Frames 0 to 9 learn the "
      "background noise and give an empty map.";
  info.inputs = {
      {"SPECTRUM", "Matrix<complex<float>>", "the frame's spectrum: row 0 left ear, row 1 right ear, nfft/2 + 1 bins"},
      {"SOURCES", "Vector<ObjectRef> of Source",
       "the sources to separate on this frame (x = (cos a, sin a, 0), a the azimuth, positive to the left); nil is "
       "an empty list"}};
  info.outputs = {{"OUTPUT", "Map<int, ObjectRef>",
                   "per source id, a Vector<complex<float>> of nfft/2 + 1 bins: the separated spectrum of the ear on "
                   "the source's side (left for azimuths above 0, else right)"}};
  info.parameters = {
      {"SAMPLING_RATE", "int", "sampling rate of the spectrum, Hz", "16000"},
      {"RANGE_MIN", "float", "half-width of the pass band for a source straight ahead, degrees", "20.0"},
      {"RANGE_MAX", "float", "half-width of the pass band for a source at +-90 degrees (linear in between), degrees",
       "40.0"},
      {"SEPARATE_METHOD", "string",
       "\"HRTFMESURED\" judges bins against the measured tables of VELK_DAT and keeps only bins 10 dB above the "
       "noise in both ears; any other text uses the spherical head model (0.09 m radius)",
       "EPIPOLAR"},
      {"VELK_DAT", "string",
       "transfer-function file (channel 0 left ear, channel 1 right ear), read on frame 0 with either method; for "
       "HRTFMESURED it must be made for SAMPLING_RATE and the spectrum's transform length",
       "examples/kemar_front_16k_512.velk"}};
  return info;
}
