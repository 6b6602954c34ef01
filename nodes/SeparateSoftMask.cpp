#include "SeparateSoftMask.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include <boost/format.hpp>

#include "InvalidInputException.h"
#include "NodeInputs.h"
#include "velk_binaural/TableLoader.h"

using NSVelkBinaural::SoftMaskSeparatorConfig;
using NSVelkBinaural::TalkerDirection;

namespace {

constexpr double kPi = 3.141592653589793;

// The talkers of the list, each id once with its first record's direction (as SeparateBinaural
// keeps them), in degrees.
std::vector<TalkerDirection> TalkersOf(const std::vector<NSVelkBinaural::ListedSource>& sources) {
  std::vector<TalkerDirection> talkers;
  for (const NSVelkBinaural::ListedSource& s : sources) {
    const bool seen = std::any_of(talkers.begin(), talkers.end(), [&](const TalkerDirection& t) { return t.id == s.id; });
    if (!seen) talkers.push_back(TalkerDirection{s.id, s.azimuthRad * 180.0 / kPi});
  }
  return talkers;
}

}  // namespace

SeparateSoftMask::SeparateSoftMask(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params) {
  spectrumID = addInput("SPECTRUM");
  sourcesID = addInput("SOURCES");
  outputID = addOutput("OUTPUT");
  try {
    config_ = SoftMaskSeparatorConfig::FromParameters(readDeclared(SoftMaskSeparatorConfig::Parameters()));
  } catch (const velkparam::ParameterError& e) {
    refuse(e);
  }
  // The file of the measured cues is named, not left to a default that depends on where one runs.
  if (config_.cues == SoftMaskSeparatorConfig::Cues::MeasuredTables) parameters.get("VELK_DAT");
  // What the separator learns follows the frames in order.
  inOrder = true;
}

SeparateSoftMask::~SeparateSoftMask() = default;

void SeparateSoftMask::start(int bins) {
  bins_ = bins;
  try {
    separator_ = std::make_unique<NSVelkBinaural::SoftMaskSeparator>(
        NSVelkBinaural::LoadExpectedCues(config_, 2 * bins - 2), config_);
  } catch (const std::exception& e) {
    const bool table = dynamic_cast<const NSVelkBinaural::TableError*>(&e) != nullptr;
    throw new FD::NodeException(this, std::string(table ? "VELK_DAT: " : "") + e.what(), __FILE__, __LINE__);
  }
}

void SeparateSoftMask::calculate(int, int count, FD::Buffer& out) {
  const NSVelkBinaural::SpectrumMatrix& spectrum =
      NSVelkBinaural::TwoEarSpectrum(*this, getInput(spectrumID, count), count);
  const std::vector<TalkerDirection> talkers =
      TalkersOf(NSVelkBinaural::SourceList(*this, getInput(sourcesID, count), count));
  if (count == 0) start(spectrum.cols());
  if (!separator_) throw new FD::NodeException(this, "frame 0 was never computed", __FILE__, __LINE__);
  if (spectrum.cols() != bins_)
    throw new NSVelkBinaural::InvalidInputException((boost::format("%s: SPECTRUM on frame %d has %d bins but %d on frame 0") %
                                                     getName() % count % spectrum.cols() % bins_)
                                                        .str());

  separator_->process(NSVelkBinaural::StereoView(spectrum), talkers);
  FD::RCPtr<FD::Map<int, FD::ObjectRef>> result = FD::make<FD::Map<int, FD::ObjectRef>>();
  for (std::size_t i = 0; i < separator_->outputs(); ++i) {
    const std::complex<float>* bins = separator_->output(i);
    result->emplace(talkers[i].id, FD::make<FD::Vector<std::complex<float>>>(bins, bins + bins_));
  }
  out[count] = result;
}

FD::NodeInfo SeparateSoftMask::describe() {
  FD::NodeInfo info;
  info.description =
      "Separates each source of the list from the two-ear spectrum with soft masks over the whole band: per bin, "
      "how well each source's direction explains the interaural phase and level differences (cues expected from "
      "a spherical head or measured responses, then learnt from the recording) shares the bin's power among the "
      "sources and the background noise; each source gets its share of the ear on its side, at least MASK_FLOOR. "
      "Every frame is separated, from the first.";
  info.inputs = {
      {"SPECTRUM", "Matrix<complex<float>>", "the frame's spectrum: row 0 left ear, row 1 right ear, nfft/2 + 1 bins"},
      {"SOURCES", "Vector<ObjectRef> of Source",
       "the sources to separate on this frame (x = (cos a, sin a, 0), a the azimuth, positive to the left; an id "
       "listed twice keeps its first record); nil is an empty list"}};
  info.outputs = {{"OUTPUT", "Map<int, ObjectRef>",
                   "per source id, a Vector<complex<float>> of nfft/2 + 1 bins: the separated spectrum of the ear on "
                   "the source's side (left for azimuths above 0, else right)"}};
  info.parameters = SoftMaskSeparatorConfig::Parameters();
  return info;
}
