#include "LocalizeBinaural.h"

#include <algorithm>
#include <complex>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <boost/format.hpp>

#include "InvalidInputException.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/TableLoader.h"

using namespace NSVelkBinaural;

namespace {

const char* const kFile = "LocalizeBinaural";
// Line number reported with the first-frame set-up errors; kept fixed so that the reported text
// does not change with edits of this file.
const int kSetupFailureLine = 363;

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

}  // namespace

LocalizeBinaural::LocalizeBinaural(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params), logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)) {
  audioID = addInput("AUDIO");
  spectrumID = addInput("SPECTRUM");
  bgnoiseID = addInput("BGNOISE");
  sourcesID = addOutput("SOURCES");

  try {
    config_ = LocalizerConfig::FromParameters(readDeclared(LocalizerConfig::Parameters()));
  } catch (const velkparam::ParameterError& e) {
    refuse(e);
  }
  if (config_.method == LocalizerConfig::Method::MeasuredTables) {
    // Needed on the first frame: a missing one is reported now (a mistyped one already was).
    parameters.get("VELK_DAT");
    parameters.get("VELK_DAT_CHANNELS");
  }

  inOrder = true;

  // The converter is process-wide: the last localiser constructed decides it.
  if (config_.method == LocalizerConfig::Method::HeadModel)
    gDirConv = DirectionConverter(-5, 90);
  else
    gDirConv = DirectionConverter(0, 90);  // placeholder until the tables are read on frame 0
}

LocalizeBinaural::~LocalizeBinaural() = default;

void LocalizeBinaural::verifyConnect() const {
  if (config_.noise == LocalizerConfig::Noise::External) {
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
    const int nfft = 2 * spectrum.cols() - 2;
    boost::shared_ptr<IIPDS> tables;
    if (config_.method == LocalizerConfig::Method::MeasuredTables) tables = LoadMeasuredTables(nfft);
    localizer_.reset(new Localizer(config_, tables));
    // With measured tables the grid is the tables'; every node of the process follows it.
    if (tables) gDirConv = localizer_->Grid();
  } catch (const std::exception& e) {
    throw new FD::NodeException(this, e.what(), kFile, kSetupFailureLine);
  }
}

boost::shared_ptr<IIPDS> LocalizeBinaural::LoadMeasuredTables(int nfft) {
  const TableRequest& request = config_.tables;
  boost::shared_ptr<IIPDS> tables = ReadInterauralTables(request);
  if (logger->IsLoggable(LogLevel::INFO))
    logger->Log(LogLevel::INFO,
                boost::format("iipds: fs = %d, nfft=%d, nfreq=%d, dirtick=%d, ndir=%d, begindeg=%d") % tables->fs %
                    tables->nfft % tables->nfreq % tables->dirtick % tables->ndir % tables->begindeg,
                kFile, "count0Initialize");
  CheckTablesFit(*tables, request.path, config_.samplingRateHz, nfft);
  return tables;
}

void LocalizeBinaural::calculate(int, int count, FD::Buffer& out) {
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "inputting variables", kFile, "calculate");
  FD::ObjectRef audioRef = getInput(audioID, count);
  FD::ObjectRef spectrumRef = getInput(spectrumID, count);
  const auto& audio = InputAs<FD::Matrix<float>>(this, audioRef, "AUDIO");
  const auto& spectrum = InputAs<FD::Matrix<std::complex<float>>>(this, spectrumRef, "SPECTRUM");
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "inspecting variables", kFile, "calculate");
  CheckTwoRows(audio.rows());
  CheckTwoRows(spectrum.rows());

  if (count == 0) count0Initialize(count, out);
  if (!localizer_) throw new FD::NodeException(this, "frame 0 was never computed", kFile, __LINE__);

  StereoLevelsView noise;
  FD::ObjectRef noiseRef;
  if (config_.noise == LocalizerConfig::Noise::External) {
    noiseRef = getInput(bgnoiseID, count);
    if (!noiseRef.isNil()) {
      const auto& levels = InputAs<FD::Matrix<float>>(this, noiseRef, "BGNOISE");
      if (levels.rows() < 2)
        throw std::out_of_range((boost::format("input BGNOISE has %d row(s); expected 2 (left, right)") % levels.rows())
                                    .str());
      noise = StereoLevelsView{levels.row(0), levels.row(1), static_cast<std::size_t>(levels.cols())};
    }
  }
  try {
    const double time = config_.FrameTime(count);
    out[count] = SourcesOf(localizer_->Process(StereoView(spectrum), time, noiseRef.isNil() ? nullptr : &noise));
    ForgetEndedIds();
  } catch (const Localizer::FrameError& e) {
    throw new FD::NodeException(this, e.what(), kFile, __LINE__);
  }
}

// Each report as a source record; its power carries the report's strength, which the talker
// tracker downstream weighs (NaN for an event paused on this frame).
FD::ObjectRef LocalizeBinaural::SourcesOf(const std::vector<SourceReport>& reports) {
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(new FD::Vector<FD::ObjectRef>);
  for (const SourceReport& report : reports) {
    FD::Source* source = FD::Source::atAzimuth(report.sourceId, report.azimuthRad);
    source->power = static_cast<float>(report.strength);
    sources->push_back(FD::ObjectRef(source));
    AnnounceIfNew(*source);
  }
  return sources;
}

// The direction announced is the one the source carries, so it matches what is output.
void LocalizeBinaural::AnnounceIfNew(const FD::Source& source) {
  if (std::find(reportedIds.begin(), reportedIds.end(), source.id) != reportedIds.end()) return;
  std::cout << boost::format("SOURCE ID %d DIR %f") % source.id % (source.azimuth() * 180.0 / 3.141592653589793)
            << std::endl;
  reportedIds.push_back(source.id);
}

// An id whose event (or talker) the pipeline no longer holds is never output again (ids are not
// reused), so it need not be remembered as announced. Keeping only the live ones keeps the check
// above as short as the list of live sources; remembering every id made each frame slower the
// more ids had been issued.
void LocalizeBinaural::ForgetEndedIds() {
  reportedIds.erase(std::remove_if(reportedIds.begin(), reportedIds.end(),
                                   [&](int id) { return !localizer_->Holds(id); }),
                    reportedIds.end());
}

FD::NodeInfo LocalizeBinaural::describe() {
  FD::NodeInfo info;
  info.description =
      "Finds talkers in a two-channel spectrum: harmonic sounds above the background noise are judged for their "
      "direction (head model or measured tables) and matched to sound events with stable ids; with DIRECTIONS "
      "BROADBAND, the directions of each frame are output instead, numbered by rank. TrackTalkers turns either "
      "into talker tracks. Each new id is announced once on standard output as \"SOURCE ID <id> DIR <degrees>\".";
  info.inputs = {
      {"AUDIO", "Matrix<float>", "the frame's time signal, 2 rows (left, right); only the row count is used"},
      {"SPECTRUM", "Matrix<complex<float>>", "the frame's spectrum, row 0 left, row 1 right, nfft/2 + 1 columns"},
      {"BGNOISE", "Matrix<float>",
       "background noise level per bin in dB (row 0 left, row 1 right); read only when BGNOISE_METHOD is not "
       "INTERNAL, and then it must be connected; a frame without it outputs no sources"}};
  info.outputs = {{"SOURCES", "Vector<ObjectRef> of Source",
                   "the sources active or paused on the frame: id, x = (cos a, sin a, 0) for azimuth a "
                   "(positive to the left), power = the evidence of the source on the frame in [0, 1] (a direction: "
                   "the share of the frame's bins it explains; an event: the probability of its direction, NaN "
                   "while paused)"}};
  info.parameters = LocalizerConfig::Parameters();
  return info;
}
