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

const velkparam::Value& Declared(const std::vector<velkparam::Spec>& table, const std::string& name) {
  const velkparam::Spec* spec = velkparam::Find(table, name);
  if (!spec) throw std::logic_error("no parameter " + name + " is declared");
  return spec->defaultValue;
}

// Parameters that an argument of the constructor sets may not be given as keywords too: the two
// would contradict each other.
void Claim(const velkparam::Values& params, const std::string& name, const std::string& argument) {
  if (params.count(name))
    throw std::invalid_argument(name + " is set by the argument " + argument + "; give it there, not as a parameter");
}

// Values given as another type than declared (an int for a float parameter) take the declared
// type where that loses nothing; the others stay as given for the table's check to refuse.
void TypeAsDeclared(const std::vector<velkparam::Spec>& table, velkparam::Values& values) {
  for (auto& [name, value] : values)
    if (const velkparam::Spec* spec = velkparam::Find(table, name)) {
      std::string why;
      if (std::optional<velkparam::Value> typed = velkparam::Converted(*spec, value, &why)) value = *typed;
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

std::vector<TrackPoint> Points(const std::vector<NSVelkBinaural::SourceReport>& reports, double time,
                               std::vector<TrackPoint> points = {}) {
  for (const NSVelkBinaural::SourceReport& r : reports) points.push_back(TrackPoint{r.sourceId, r.azimuthDeg, time});
  return points;
}

}  // namespace

int DeclaredRate() { return std::get<int>(Declared(LocalizerConfig::Parameters(), "SAMPLING_RATE")); }

std::string DefaultTablePath() {
  const std::string& relative = std::get<std::string>(Declared(LocalizerConfig::Parameters(), "VELK_DAT"));
  for (const std::string& candidate : {std::string(VELK_DATA_DIR) + "/" + relative, std::string(VELK_SOURCE_DIR) + "/" + relative})
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

// ---- localiser ----------------------------------------------------------------------------------

namespace {

// The localiser's parameters as the command line sets them: the recommended stages, the rate,
// the tracks and the method, then the caller's.
velkparam::Values LocalizerValues(int fs, const Model& model, const std::string& tracks, velkparam::Values params) {
  for (const char* name : {"SAMPLING_RATE"}) Claim(params, name, "fs");
  Claim(params, "TRACKS", "tracks");
  for (const char* name : {"LOCALIZE_METHOD", "VELK_DAT", "VELK_DAT_CHANNELS"}) Claim(params, name, "method/tables");
  if (model.head)
    for (const char* name : {"HEAD_RADIUS", "SOURCE_DISTANCE"}) Claim(params, name, "head");
  if (tracks != "talkers" && tracks != "events")
    throw std::invalid_argument("tracks must be \"talkers\" or \"events\", got \"" + tracks + "\"");

  velkparam::Values values = NSVelkBinaural::RecommendedLocalizerStages();
  values["SAMPLING_RATE"] = fs;
  values["TRACKS"] = std::string(tracks == "talkers" ? "TALKERS" : "EVENTS");
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

}  // namespace

LocalizerStream::LocalizerStream(int fs, const Model& model, const std::string& tracks, velkparam::Values params)
    : values_(LocalizerValues(fs, model, tracks, std::move(params))),
      config_(LocalizerConfig::FromParameters(values_)),
      stft_(NSVelkBinaural::StftConfig{kFrameLength, config_.advanceSamples, 2}) {
  // A stream has no noise input: the localiser must learn the noise itself.
  if (config_.noise != LocalizerConfig::Noise::Internal)
    throw velkparam::ParameterError("BGNOISE_METHOD", velkparam::ToText(values_.at("BGNOISE_METHOD")),
                                    "expected \"INTERNAL\": a stream has no background-noise input");
  boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
  if (config_.method == LocalizerConfig::Method::MeasuredTables) {
    tables = TablesFor(config_.tables, model);
    NSVelkBinaural::CheckTablesFit(*tables, config_.tables.path, config_.samplingRateHz, kFrameLength);
  }
  localizer_ = std::make_unique<NSVelkBinaural::Localizer>(config_, tables);
}

void LocalizerStream::Drain(std::vector<TrackPoint>& points) {
  while (stft_.Next(frame_)) {
    const double time = config_.FrameTime(frame_.index);
    points = Points(localizer_->Process(frame_.Stereo(), time), time, std::move(points));
  }
}

std::vector<TrackPoint> LocalizerStream::Process(const float* interleaved, std::size_t frames) {
  if (finished_) throw std::runtime_error("the stream has finished; make a new Localizer for another recording");
  std::vector<TrackPoint> points;
  stft_.Push(interleaved, frames);
  Drain(points);
  return points;
}

std::vector<TrackPoint> LocalizerStream::Finish() {
  if (finished_) return {};
  finished_ = true;
  std::vector<TrackPoint> points;
  stft_.Finish();
  Drain(points);
  return points;
}

std::map<std::string, std::string> LocalizerStream::ParameterTexts() const {
  std::map<std::string, std::string> texts;
  for (const auto& [name, value] : velkparam::Completed(LocalizerConfig::Parameters(), values_))
    texts[name] = velkparam::ToText(value);
  return texts;
}

// ---- separator ----------------------------------------------------------------------------------

namespace {

velkparam::Values SeparatorValues(int fs, const Model& model, velkparam::Values params) {
  Claim(params, "SAMPLING_RATE", "fs");
  for (const char* name : {"SEPARATE_METHOD", "VELK_DAT", "VELK_DAT_CHANNELS"}) Claim(params, name, "method/tables");
  velkparam::Values values;
  values["SAMPLING_RATE"] = fs;
  values["SEPARATE_METHOD"] = std::string(ResolveMethod(model) == "measured" ? kMeasuredKeyword : "EPIPOLAR");
  // The pass band reads the table whatever the method, as the command line has it do.
  values["VELK_DAT"] = model.tables ? model.tables->request.path : DefaultTablePath();
  if (model.tables)
    values["VELK_DAT_CHANNELS"] = std::vector<int>{model.tables->request.leftChannel, model.tables->request.rightChannel};
  TypeAsDeclared(PassBandSeparatorConfig::Parameters(), params);
  for (auto& [name, value] : params) values[name] = value;
  return values;
}

// A direction as the command line's fixed sources carry it: degrees as a float, the position as
// a single-precision cosine and sine, the azimuth read back in single precision.
double AzimuthOfSourceRecord(double degrees) {
  const double radians = NSVelkBinaural::Angles::AnglePi * static_cast<float>(degrees) / 180.0;
  return std::atan2(static_cast<float>(std::sin(radians)), static_cast<float>(std::cos(radians)));
}

}  // namespace

SeparatorStream::SeparatorStream(int fs, const std::string& separator, const Model& model, velkparam::Values params)
    : config_(PassBandSeparatorConfig::FromParameters(SeparatorValues(fs, model, std::move(params)))),
      frames_{kFrameLength, std::get<int>(Declared(LocalizerConfig::Parameters(), "ADVANCE")), 2},
      stft_(frames_),
      silence_(kFrameLength / 2 + 1) {
  if (separator != "passband") throw std::invalid_argument("separator must be \"passband\", got \"" + separator + "\"");
  const boost::shared_ptr<NSVelkBinaural::IIPDS> tables = TablesFor(config_.tables, model);
  if (config_.method == PassBandSeparatorConfig::Method::MeasuredTables)
    NSVelkBinaural::CheckTablesFit(*tables, config_.tables.path, config_.samplingRateHz, kFrameLength);
  separator_ = std::make_unique<NSVelkBinaural::PassBandSeparator>(config_, tables);
}

void SeparatorStream::SetDirections(const std::vector<double>& directionsDeg) {
  for (std::size_t i = 0; i < directionsDeg.size(); ++i)
    if (!(std::fabs(directionsDeg[i]) <= 90.0))
      throw std::invalid_argument("directions[" + std::to_string(i) + "] is " + std::to_string(directionsDeg[i]) +
                                  "; expected an azimuth in degrees within -90 .. 90");
  if (started_ && directionsDeg.size() != targets_.size())
    throw std::invalid_argument("directions has " + std::to_string(directionsDeg.size()) + " azimuths but " +
                                std::to_string(targets_.size()) +
                                " on earlier blocks; a stream separates the same talkers throughout");
  if (!started_) {
    NSVelkBinaural::StftConfig mono = frames_;
    mono.channels = 1;
    for (std::size_t i = 0; i < directionsDeg.size(); ++i) outputs_.push_back(std::make_unique<NSVelkBinaural::Istft>(mono));
    started_ = true;
  }
  targets_.clear();
  for (std::size_t i = 0; i < directionsDeg.size(); ++i)
    targets_.push_back(NSVelkBinaural::SeparationTarget{static_cast<int>(i), AzimuthOfSourceRecord(directionsDeg[i])});
}

void SeparatorStream::Drain() {
  while (stft_.Next(frame_)) {
    const std::vector<NSVelkBinaural::SeparatedSpectrum>& separated = separator_->Process(frame_.Stereo(), targets_);
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const std::complex<float>* spectrum = silence_.data();
      for (const NSVelkBinaural::SeparatedSpectrum& s : separated)
        if (s.id == static_cast<int>(i)) spectrum = s.spectrum->data;
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
  stft_.Push(interleaved, frames);
  samplesIn_ += static_cast<long>(frames);
  Drain();
  return Pull();
}

std::vector<std::vector<float>> SeparatorStream::Finish() {
  if (finished_) return std::vector<std::vector<float>>(outputs_.size());
  finished_ = true;
  stft_.Finish();
  Drain();
  for (auto& output : outputs_) output->Finish();
  return Pull();
}

}  // namespace velkpy
