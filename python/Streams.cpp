#include "Streams.h"

#include <cmath>
#include <stdexcept>
#include <unistd.h>

#include "velk_binaural/Angles.h"
#include "velk_binaural/RecommendedStages.h"

namespace velkpy {

using NSVelkBinaural::LocalizerConfig;
using NSVelkBinaural::PassBandSeparatorConfig;

namespace {

// Frame length and transform length of the command line's networks; the example tables are made
// for it.
constexpr int kFrameLength = 512;
const char* const kMeasuredKeyword = "HRTFMESURED";

const velkparam::Value& Declared(const std::vector<velkparam::Declaration>& table, const std::string& name) {
  const velkparam::Declaration* decl = velkparam::Find(table, name);
  if (!decl) throw std::logic_error("no parameter " + name + " is declared");
  return decl->defaultValue;
}

// Parameters that an argument of the constructor sets may not be given as keywords too: the two
// would contradict each other.
void Claim(const velkparam::Values& params, const std::string& name, const std::string& argument) {
  if (params.count(name))
    throw std::invalid_argument(name + " is set by the argument " + argument + "; give it there, not as a parameter");
}

// Values given as another type than declared (an int for a float parameter) take the declared
// type where that loses nothing; the others stay as given for the table's check to refuse.
void TypeAsDeclared(const std::vector<velkparam::Declaration>& table, velkparam::Values& values) {
  for (auto& [name, value] : values)
    if (const velkparam::Declaration* decl = velkparam::Find(table, name)) {
      std::string why;
      if (std::optional<velkparam::Value> typed = velkparam::Converted(*decl, value, &why)) value = *typed;
    }
}

std::string ResolveMethod(const Model& model) {
  const std::string method = model.method.empty() ? (model.tables ? "measured" : "epipolar") : model.method;
  if (method != "epipolar" && method != "measured")
    throw std::invalid_argument("method must be \"epipolar\" or \"measured\", got \"" + method + "\"");
  if (method == "epipolar" && model.tables)
    throw std::invalid_argument("tables are for method \"measured\"; the epipolar method uses head=head_model(...)");
  if (method == "measured" && model.head)
    throw std::invalid_argument("head is the epipolar method's model; method \"measured\" uses tables");
  return method;
}

bool Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// The tables the configuration asks for, read unless the caller's are the same file and channels.
boost::shared_ptr<NSVelkBinaural::IIPDS> TablesFor(const NSVelkBinaural::TableRequest& request, const Model& model) {
  if (model.tables && model.tables->request.path == request.path &&
      model.tables->request.leftChannel == request.leftChannel &&
      model.tables->request.rightChannel == request.rightChannel)
    return model.tables->tables;
  return NSVelkBinaural::ReadInterauralTables(request);
}

}  // namespace

int DeclaredRate() { return std::get<int>(Declared(LocalizerConfig::Parameters(), "SAMPLING_RATE")); }

std::string DefaultTablePath() {
  const std::string& relative = std::get<std::string>(Declared(LocalizerConfig::Parameters(), "VELK_DAT"));
  const std::string name = relative.substr(relative.find_last_of('/') + 1);
  for (const std::string& candidate : {std::string(VELK_DATA_DIR) + "/" + name, std::string(VELK_DATA_DIR) + "/" + relative,
                                       std::string(VELK_SOURCE_DIR) + "/" + relative})
    if (Readable(candidate)) return candidate;
  return std::string(VELK_SOURCE_DIR) + "/" + relative;
}

Tables LoadTables(const std::string& path, int left, int right) {
  Tables t;
  t.request.path = path;
  t.request.leftChannel = left;
  t.request.rightChannel = right;
  t.tables = NSVelkBinaural::ReadInterauralTables(t.request);
  return t;
}

HeadModel MakeHeadModel(std::optional<float> radius, std::optional<float> distance) {
  velkparam::Values values = NSVelkBinaural::RecommendedLocalizerStages();
  if (radius) values["HEAD_RADIUS"] = *radius;
  if (distance) values["SOURCE_DISTANCE"] = *distance;
  const LocalizerConfig config = LocalizerConfig::FromParameters(values);
  return HeadModel{static_cast<float>(config.headRadiusM), static_cast<float>(config.sourceDistanceM)};
}

// ---- how the command line's networks carry a direction -----------------------------------------

namespace {

// The command line passes directions between its nodes as source records: a position of
// single-precision cosine and sine. The streams carry them the same way, so that their results
// are the command line's to the last digit.
struct SourceRecord {
  float x, y;
  explicit SourceRecord(double radians) : x(static_cast<float>(std::cos(radians))), y(static_cast<float>(std::sin(radians))) {}
  // As the separators read it: in single precision.
  float SingleRad() const { return std::atan2(y, x); }
  // As the talker tracker reads it: in double precision, degrees.
  double Degrees() const { return NSVelkBinaural::RadToDeg(std::atan2(static_cast<double>(y), static_cast<double>(x))); }
};

}  // namespace

// ---- localiser ----------------------------------------------------------------------------------

namespace {

using NSVelkBinaural::TalkerTrackerConfig;

// The localiser's parameters as the command line sets them: the recommended stages, the rate and
// the method, then the caller's.
velkparam::Values LocalizerValues(int fs, const Model& model, velkparam::Values params) {
  Claim(params, "SAMPLING_RATE", "fs");
  for (const char* name : {"LOCALIZE_METHOD", "VELK_DAT", "VELK_DAT_CHANNELS"}) Claim(params, name, "method/tables");
  if (model.head)
    for (const char* name : {"HEAD_RADIUS", "SOURCE_DISTANCE"}) Claim(params, name, "head");

  velkparam::Values values = NSVelkBinaural::RecommendedLocalizerStages();
  values["SAMPLING_RATE"] = fs;
  if (ResolveMethod(model) == "measured") {
    values["LOCALIZE_METHOD"] = std::string(kMeasuredKeyword);
    values["VELK_DAT"] = model.tables ? model.tables->request.path : DefaultTablePath();
    values["VELK_DAT_CHANNELS"] = model.tables ? std::vector<int>{model.tables->request.leftChannel,
                                                                  model.tables->request.rightChannel}
                                               : std::vector<int>{0, 1};
  }
  if (model.head) {
    values["HEAD_RADIUS"] = model.head->radius;
    values["SOURCE_DISTANCE"] = model.head->distance;
  }
  TypeAsDeclared(LocalizerConfig::Parameters(), params);
  for (auto& [name, value] : params) values[name] = value;
  return values;
}

// The caller's parameters split between the localiser and the tracker; a name neither declares
// is refused naming both lists.
std::pair<velkparam::Values, velkparam::Values> SplitParameters(const velkparam::Values& params, bool tracker) {
  const auto& localizer = LocalizerConfig::Parameters();
  const auto& tracking = TalkerTrackerConfig::Parameters();
  velkparam::Values forLocalizer, forTracker;
  for (const auto& [name, value] : params) {
    if (velkparam::Find(localizer, name)) {
      forLocalizer[name] = value;
    } else if (velkparam::Find(tracking, name)) {
      if (!tracker)
        throw std::invalid_argument(name + " is a parameter of the talker tracker, which tracks=\"events\" leaves out");
      forTracker[name] = value;
    } else {
      throw velkparam::ParameterError(name, velkparam::ToText(value),
                                      "unknown; the parameters are " + velkparam::Names(localizer) + " and, of the "
                                          "talker tracker, " + velkparam::Names(tracking));
    }
  }
  TypeAsDeclared(tracking, forTracker);
  return {forLocalizer, forTracker};
}

bool TalkerTracks(const std::string& tracks) {
  if (tracks != "talkers" && tracks != "events")
    throw std::invalid_argument("tracks must be \"talkers\" or \"events\", got \"" + tracks + "\"");
  return tracks == "talkers";
}

}  // namespace

LocalizerStream::LocalizerStream(int fs, const Model& model, const std::string& tracks, const velkparam::Values& params)
    : config_(LocalizerConfig()) {
  const bool talkers = TalkerTracks(tracks);
  auto [forLocalizer, forTracker] = SplitParameters(params, talkers);
  localizerValues_ = LocalizerValues(fs, model, std::move(forLocalizer));
  trackerValues_ = std::move(forTracker);
  config_ = LocalizerConfig::FromParameters(localizerValues_);
  // A stream has no noise input: the localiser must learn the noise itself.
  if (config_.noise != LocalizerConfig::Noise::Internal)
    throw velkparam::ParameterError("BGNOISE_METHOD", velkparam::ToText(localizerValues_.at("BGNOISE_METHOD")),
                                    "expected \"INTERNAL\": a stream has no background-noise input");
  if (talkers) tracker_ = std::make_unique<NSVelkBinaural::TalkerTracker>(TalkerTrackerConfig::FromParameters(trackerValues_));
  boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
  if (config_.method == LocalizerConfig::Method::MeasuredTables) {
    tables = TablesFor(config_.tables, model);
    NSVelkBinaural::CheckTablesFit(*tables, config_.tables.path, config_.samplingRateHz, kFrameLength);
  }
  localizer_ = std::make_unique<NSVelkBinaural::Localizer>(config_, tables);
  stft_ = std::make_unique<NSVelkBinaural::Stft>(NSVelkBinaural::StftConfig{kFrameLength, config_.advanceSamples, 2});
}

void LocalizerStream::Drain(std::vector<TrackPoint>& points) {
  while (stft_->Next(frame_)) {
    const double time = config_.FrameTime(frame_.index);
    const std::vector<NSVelkBinaural::SourceReport>& reports = localizer_->Process(frame_.Stereo(), time);
    if (!tracker_) {
      for (const NSVelkBinaural::SourceReport& r : reports)
        points.push_back(TrackPoint{r.sourceId, SourceRecord(r.azimuthRad).Degrees(), time});
      continue;
    }
    reports_.clear();
    for (const NSVelkBinaural::SourceReport& r : reports)
      reports_.push_back(NSVelkBinaural::SourceReport{SourceRecord(r.azimuthRad).Degrees(),
                                                      static_cast<double>(static_cast<float>(r.strength)), r.sourceId});
    for (const NSVelkBinaural::TalkerTrack& t : tracker_->process(time, reports_))
      points.push_back(TrackPoint{t.id, t.azimuthDeg, time});
  }
}

std::vector<TrackPoint> LocalizerStream::Process(const float* interleaved, std::size_t frames) {
  if (finished_) throw std::runtime_error("the stream has finished; make a new Localizer for another recording");
  std::vector<TrackPoint> points;
  stft_->Push(interleaved, frames);
  Drain(points);
  return points;
}

std::vector<TrackPoint> LocalizerStream::Finish() {
  if (finished_) return {};
  finished_ = true;
  std::vector<TrackPoint> points;
  stft_->Finish();
  Drain(points);
  return points;
}

std::map<std::string, std::string> LocalizerStream::ParameterTexts() const {
  std::map<std::string, std::string> texts;
  for (const auto& [name, value] : velkparam::Completed(LocalizerConfig::Parameters(), localizerValues_))
    texts[name] = velkparam::ToText(value);
  if (tracker_)
    for (const auto& [name, value] : velkparam::Completed(TalkerTrackerConfig::Parameters(), trackerValues_))
      texts[name] = velkparam::ToText(value);
  return texts;
}

// ---- separators ---------------------------------------------------------------------------------

namespace {

using NSVelkBinaural::SoftMaskSeparatorConfig;

// The separator's method and table as the command line sets them, then the caller's parameters.
velkparam::Values SeparatorValues(const std::vector<velkparam::Declaration>& table, int fs, const Model& model,
                                  bool readsTableAlways, velkparam::Values params) {
  Claim(params, "SAMPLING_RATE", "fs");
  for (const char* name : {"SEPARATE_METHOD", "VELK_DAT", "VELK_DAT_CHANNELS"}) Claim(params, name, "method/tables");
  const bool measured = ResolveMethod(model) == "measured";
  velkparam::Values values;
  values["SAMPLING_RATE"] = fs;
  values["SEPARATE_METHOD"] = std::string(measured ? kMeasuredKeyword : "EPIPOLAR");
  if (measured || readsTableAlways) {
    values["VELK_DAT"] = model.tables ? model.tables->request.path : DefaultTablePath();
    if (model.tables)
      values["VELK_DAT_CHANNELS"] = std::vector<int>{model.tables->request.leftChannel, model.tables->request.rightChannel};
  }
  TypeAsDeclared(table, params);
  for (auto& [name, value] : params) values[name] = value;
  return values;
}

// The pass band: keeps the bins that fit a band of directions around each talker; the first
// frames teach it the noise and give nothing.
class PassBandFrames : public FrameSeparator {
 public:
  PassBandFrames(int fs, const Model& model, const velkparam::Values& params) {
    const auto& table = NSVelkBinaural::PassBandSeparatorConfig::Parameters();
    const auto config = NSVelkBinaural::PassBandSeparatorConfig::FromParameters(
        SeparatorValues(table, fs, model, /*readsTableAlways=*/true, params));
    // The pass band reads the table whatever the method, as the command line has it do.
    const boost::shared_ptr<NSVelkBinaural::IIPDS> tables = TablesFor(config.tables, model);
    if (config.method == NSVelkBinaural::PassBandSeparatorConfig::Method::MeasuredTables)
      NSVelkBinaural::CheckTablesFit(*tables, config.tables.path, config.samplingRateHz, kFrameLength);
    separator_ = std::make_unique<NSVelkBinaural::PassBandSeparator>(config, tables);
  }

  void Separate(const NSVelkBinaural::StereoSpectrumView& frame,
                const std::vector<NSVelkBinaural::SeparationTarget>& targets,
                std::vector<const std::complex<float>*>& spectra) override {
    const auto& separated = separator_->Process(frame, targets);
    spectra.assign(targets.size(), nullptr);
    for (const NSVelkBinaural::SeparatedSpectrum& s : separated) spectra[static_cast<std::size_t>(s.id)] = s.spectrum->data;
  }

 private:
  std::unique_ptr<NSVelkBinaural::PassBandSeparator> separator_;
};

// The soft masks: every frame shared out among the talkers and the noise, from the first.
class SoftMaskFrames : public FrameSeparator {
 public:
  SoftMaskFrames(int fs, const Model& model, const velkparam::Values& params) {
    const auto config = SoftMaskSeparatorConfig::FromParameters(
        SeparatorValues(SoftMaskSeparatorConfig::Parameters(), fs, model, /*readsTableAlways=*/false, params));
    separator_ = std::make_unique<NSVelkBinaural::SoftMaskSeparator>(
        NSVelkBinaural::LoadExpectedCues(config, kFrameLength), config);
  }

  int Advance() const { return separator_->config().frameShift; }

  void Separate(const NSVelkBinaural::StereoSpectrumView& frame,
                const std::vector<NSVelkBinaural::SeparationTarget>& targets,
                std::vector<const std::complex<float>*>& spectra) override {
    talkers_.clear();
    for (const NSVelkBinaural::SeparationTarget& t : targets)
      talkers_.push_back(NSVelkBinaural::TalkerDirection{t.id, t.azimuthRad * 180.0 / NSVelkBinaural::Angles::AnglePi});
    separator_->process(frame, talkers_);
    spectra.clear();
    for (std::size_t i = 0; i < separator_->outputs(); ++i) spectra.push_back(separator_->output(i));
  }

 private:
  std::unique_ptr<NSVelkBinaural::SoftMaskSeparator> separator_;
  std::vector<NSVelkBinaural::TalkerDirection> talkers_;
};

}  // namespace

SeparatorStream::SeparatorStream(int fs, const std::string& separator, const Model& model,
                                 const velkparam::Values& params)
    : frames_{kFrameLength, std::get<int>(Declared(LocalizerConfig::Parameters(), "ADVANCE")), 2},
      silence_(kFrameLength / 2 + 1) {
  if (separator == "mask") {
    auto masks = std::make_unique<SoftMaskFrames>(fs, model, params);
    // The soft masks turn their times into frames with their own frame shift.
    frames_.advance = masks->Advance();
    separator_ = std::move(masks);
  } else if (separator == "passband") {
    separator_ = std::make_unique<PassBandFrames>(fs, model, params);
  } else {
    throw std::invalid_argument("separator must be \"mask\" or \"passband\", got \"" + separator + "\"");
  }
  stft_ = std::make_unique<NSVelkBinaural::Stft>(frames_);
}

SeparatorStream::~SeparatorStream() = default;

void SeparatorStream::SetDirections(const std::vector<double>& directionsDeg) {
  for (std::size_t i = 0; i < directionsDeg.size(); ++i)
    if (!(std::fabs(directionsDeg[i]) <= 90.0))
      throw std::invalid_argument("directions[" + std::to_string(i) + "] is " + std::to_string(directionsDeg[i]) +
                                  "; expected an azimuth in degrees within -90 .. 90");
  if (started_ && directionsDeg.size() != targets_.size())
    throw std::invalid_argument("directions has " + std::to_string(directionsDeg.size()) + " azimuths but had " +
                                std::to_string(targets_.size()) +
                                " on earlier blocks; a stream separates the same talkers throughout");
  if (!started_) {
    NSVelkBinaural::StftConfig mono = frames_;
    mono.channels = 1;
    for (std::size_t i = 0; i < directionsDeg.size(); ++i) outputs_.push_back(std::make_unique<NSVelkBinaural::Istft>(mono));
    started_ = true;
  }
  targets_.clear();
  for (std::size_t i = 0; i < directionsDeg.size(); ++i) {
    // Degrees as a float, as the command line's list of directions holds them.
    const SourceRecord record(NSVelkBinaural::DegToRad(static_cast<float>(directionsDeg[i])));
    targets_.push_back(NSVelkBinaural::SeparationTarget{static_cast<int>(i), record.SingleRad()});
  }
}

void SeparatorStream::Drain() {
  while (stft_->Next(frame_)) {
    separator_->Separate(frame_.Stereo(), targets_, spectra_);
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const std::complex<float>* spectrum = spectra_[i] ? spectra_[i] : silence_.data();
      outputs_[i]->Push(&spectrum);
    }
  }
}

std::vector<std::vector<float>> SeparatorStream::Pull() {
  std::vector<std::vector<float>> out(outputs_.size());
  std::size_t pulled = 0;
  for (std::size_t i = 0; i < outputs_.size(); ++i) pulled = outputs_[i]->Pull(out[i]);
  // The last block reaches past the input's end: every output is exactly as long as the input.
  const long keep = std::min<long>(static_cast<long>(pulled), samplesIn_ - samplesOut_);
  for (std::vector<float>& o : out) o.resize(static_cast<std::size_t>(std::max(0L, keep)));
  samplesOut_ += std::max(0L, keep);
  return out;
}

std::vector<std::vector<float>> SeparatorStream::Process(const float* interleaved, std::size_t frames,
                                                         const std::vector<double>& directionsDeg) {
  if (finished_) throw std::runtime_error("the stream has finished; make a new Separator for another recording");
  SetDirections(directionsDeg);
  stft_->Push(interleaved, frames);
  samplesIn_ += static_cast<long>(frames);
  Drain();
  return Pull();
}

std::vector<std::vector<float>> SeparatorStream::Finish() {
  if (finished_) return std::vector<std::vector<float>>(outputs_.size());
  finished_ = true;
  // The frames centred past the end still hold the last samples, and the output's last blocks
  // are made of them too: they are separated as well (as the command line's writers pull them),
  // their samples past the end zeros.
  if (!outputs_.empty()) {
    const std::vector<float> zeros(static_cast<std::size_t>(2 * outputs_.front()->LookAhead() * frames_.advance), 0.0f);
    stft_->Push(zeros.data(), zeros.size() / 2);
  }
  stft_->Finish();
  Drain();
  for (auto& output : outputs_) output->Finish();
  return Pull();
}

}  // namespace velkpy
