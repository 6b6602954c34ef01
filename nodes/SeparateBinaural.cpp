#include "SeparateBinaural.h"

#include <exception>
#include <vector>

#include <boost/format.hpp>

#include "InvalidInputException.h"
#include "NodeInputs.h"
#include "fd/Source.h"
#include "velk_binaural/TableLoader.h"

using NSVelkBinaural::LogLevel;
using NSVelkBinaural::SeparationTarget;

namespace {

const char* const kFile = "SeparateBinaural";
constexpr double kPi = 3.141592653589793;

[[noreturn]] void Reject(const boost::format& message) {
  throw new NSVelkBinaural::InvalidInputException(message.str());
}

std::vector<SeparationTarget> TargetsOf(const std::vector<NSVelkBinaural::ListedSource>& sources) {
  std::vector<SeparationTarget> targets;
  for (const NSVelkBinaural::ListedSource& s : sources) targets.push_back(SeparationTarget{s.id, s.azimuthRad});
  return targets;
}

}  // namespace

SeparateBinaural::SeparateBinaural(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params),
      sourceOnePresent(false),
      logger(NSVelkBinaural::Logger::GetLogger(NSVelkBinaural::Logger::GLOBAL_LOGGER_NAME)) {
  spectrumID = addInput("SPECTRUM");
  sourcesID = addInput("SOURCES");
  outputID = addOutput("OUTPUT");
  try {
    config_ = NSVelkBinaural::PassBandSeparatorConfig::FromParameters(
        readDeclared(NSVelkBinaural::PassBandSeparatorConfig::Parameters()));
  } catch (const velkparam::ParameterError& e) {
    refuse(e);
  }
  // The noise estimator and the "source 1 dropped out" note follow the frames in order.
  inOrder = true;
}

SeparateBinaural::~SeparateBinaural() = default;

// ---- first frame ------------------------------------------------------------------------------

void SeparateBinaural::count0Initialize(const ComplexMatrix& spectrum) {
  bins_ = spectrum.cols();
  const int nfft = 2 * bins_ - 2;
  boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
  try {
    tables = NSVelkBinaural::ReadInterauralTables(config_.tables);
    if (config_.method == NSVelkBinaural::PassBandSeparatorConfig::Method::MeasuredTables)
      NSVelkBinaural::CheckTablesFit(*tables, config_.tables.path, config_.samplingRateHz, nfft);
  } catch (const std::exception& e) {
    throw new FD::NodeException(this, std::string("VELK_DAT: ") + e.what(), __FILE__, __LINE__);
  }
  separator_.reset(new NSVelkBinaural::PassBandSeparator(config_, tables));
}

// ---- per frame --------------------------------------------------------------------------------

void SeparateBinaural::logSources(const FD::ObjectRef& sourcesRef, int count) const {
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(sourcesRef);
  logger->Log(LogLevel::FINE, boost::format("got %d sources") % (sources.isNil() ? 0 : sources->size()), kFile,
              "calculate");
  if (sources.isNil()) return;
  for (const FD::ObjectRef& element : *sources) {
    const auto& source = static_cast<const FD::Source&>(*element);
    const float angle = source.azimuth();
    const double range = separator_->HalfWidthRad(angle);
    logger->Log(LogLevel::FINE,
                boost::format("%10d source id = %d, x = %f, y = %f , angle = %f deg, range = %f deg") % count %
                    source.id % source.x[0] % source.x[1] % (angle * 180.0 / kPi) % (range * 180.0 / kPi),
                kFile, "calculate");
  }
}

void SeparateBinaural::calculate(int, int count, FD::Buffer& out) {
  const bool fine = logger->IsLoggable(LogLevel::FINE);
  if (fine) logger->Log(LogLevel::FINE, "inputting variables", kFile, "calculate");
  FD::ObjectRef spectrumRef = getInput(spectrumID, count);
  FD::ObjectRef sourcesRef = getInput(sourcesID, count);
  if (fine) logger->Log(LogLevel::FINE, "inspecting variables", kFile, "calculate");
  const ComplexMatrix& matrix = NSVelkBinaural::TwoEarSpectrum(*this, spectrumRef, count);
  const std::vector<SeparationTarget> targets = TargetsOf(NSVelkBinaural::SourceList(*this, sourcesRef, count));

  if (count == 0) count0Initialize(matrix);
  if (!separator_) throw new FD::NodeException(this, "frame 0 was never computed", __FILE__, __LINE__);
  if (matrix.cols() != bins_)
    Reject(boost::format("%s: SPECTRUM on frame %d has %d bins but %d on frame 0") % getName() % count % matrix.cols() %
           bins_);

  FD::RCPtr<FD::Map<int, FD::ObjectRef>> result = FD::make<FD::Map<int, FD::ObjectRef>>();
  const std::vector<NSVelkBinaural::SeparatedSpectrum>& separated = separator_->Process(NSVelkBinaural::StereoView(matrix), targets);
  // Until the noise estimate is complete (frames 0 to 9) the frame's output is an empty map.
  if (separator_->NoiseReady()) {
    if (fine) logSources(sourcesRef, count);
    for (const NSVelkBinaural::SeparatedSpectrum& s : separated)
      result->emplace(s.id, FD::make<FD::Vector<std::complex<float>>>(s.spectrum->data,
                                                                      s.spectrum->data + s.spectrum->size));
    bool seenOne = false;
    for (const SeparationTarget& target : targets) seenOne = seenOne || target.id == 1;
    if (!seenOne && sourceOnePresent && fine) logger->Log(LogLevel::FINE, "find id 1 drop out", kFile, "calculate");
    sourceOnePresent = seenOne;
  }
  out[count] = result;
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
  info.parameters = NSVelkBinaural::PassBandSeparatorConfig::Parameters();
  return info;
}
