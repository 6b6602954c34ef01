#include "TrackTalkers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/format.hpp>

#include "fd/Source.h"
#include "velk_binaural/Angles.h"
#include "velk_binaural/Localizer.h"

using NSVelkBinaural::LogLevel;
using NSVelkBinaural::SourceReport;
using NSVelkBinaural::TalkerTrack;
using NSVelkBinaural::TalkerTrackerConfig;

namespace {

const char* const kFile = "TrackTalkers";

// The frame geometry's entries, as the localiser declares them.
std::vector<velkparam::Declaration> GeometryTable() {
  const std::vector<velkparam::Declaration>& localizer = NSVelkBinaural::LocalizerConfig::Parameters();
  return {*velkparam::Find(localizer, "SAMPLING_RATE"), *velkparam::Find(localizer, "ADVANCE")};
}

// The node's own parameter: every frame of look-ahead is kept in the buffers upstream; beyond
// this many the value is taken for a mistake rather than allocated.
velkparam::Declaration LookaheadSpec() {
  return velkparam::Declaration::Int("LOOKAHEAD", 0, "frames",
                              "output each frame this many frames late, and a talker from its first direction rather "
                              "than from when it had evidence enough (0: at once)")
      .AtLeast(0)
      .AtMost(100000)
      .Optional();
}

// The values of `values` that `table` declares.
velkparam::Values Subset(const velkparam::Values& values, const std::vector<velkparam::Declaration>& table) {
  velkparam::Values subset;
  for (const velkparam::Declaration& decl : table) {
    auto found = values.find(decl.name);
    if (found != values.end()) subset.insert(*found);
  }
  return subset;
}

}  // namespace

const std::vector<velkparam::Declaration>& TrackTalkers::Parameters() {
  static const std::vector<velkparam::Declaration> table = [] {
    std::vector<velkparam::Declaration> all = GeometryTable();
    const std::vector<velkparam::Declaration>& tracker = TalkerTrackerConfig::Parameters();
    all.insert(all.end(), tracker.begin(), tracker.end());
    all.push_back(LookaheadSpec());
    return all;
  }();
  return table;
}

TrackTalkers::TrackTalkers(const std::string& nodeName, const FD::ParameterSet& params)
    : ParameterReader(nodeName, params), logger_(NSVelkBinaural::Logger::Global()) {
  inputID = addInput("INPUT");
  outputID = addOutput("OUTPUT");
  const velkparam::Values values = readDeclared(Parameters());
  try {
    const std::vector<velkparam::Declaration> geometry = GeometryTable();
    const velkparam::Values frame = velkparam::Completed(geometry, Subset(values, geometry));
    samplingRate_ = velkparam::IntOf(geometry, frame, "SAMPLING_RATE");
    advance_ = velkparam::IntOf(geometry, frame, "ADVANCE");
    tracker_ = NSVelkBinaural::TalkerTracker(
        TalkerTrackerConfig::FromParameters(Subset(values, TalkerTrackerConfig::Parameters())));
    const std::vector<velkparam::Declaration> own = {LookaheadSpec()};
    lookaheadFrames_ = velkparam::IntOf(own, velkparam::Completed(own, Subset(values, own)), "LOOKAHEAD");
    lookahead_ = NSVelkBinaural::TalkerLookahead(lookaheadFrames_);
  } catch (const velkparam::ParameterError& e) {
    refuse(e);
  }
  inputsRequestLookAhead(inputID, lookaheadFrames_);
  // The tracker carries its tracks from frame to frame.
  inOrder = true;
}

void TrackTalkers::calculate(int, int count, FD::Buffer& out) {
  while (tracked_ <= static_cast<long>(count) + lookaheadFrames_) track(tracked_++);
  std::vector<TalkerTrack> talkers;
  while (output_ <= count) {
    talkers = lookahead_.pop();
    ++output_;
  }
  out[count] = sourcesOf(talkers, frameTime(count));
}

void TrackTalkers::track(long count) {
  const double timeSec = frameTime(count);
  const std::vector<TalkerTrack>& talkers =
      tracker_.process(timeSec, reportsOf(getInput(inputID, static_cast<int>(count)), static_cast<int>(count)));
  announceNew(talkers, timeSec);
  lookahead_.push(timeSec, talkers);
}

// A nil input is a frame without sources. Anything that is not a list of source records with a
// finite direction stops the frame, naming what was found.
const std::vector<SourceReport>& TrackTalkers::reportsOf(const FD::ObjectRef& ref, int count) {
  reports_.clear();
  if (ref.isNil()) return reports_;
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(ref);
  if (sources.isNil())
    throw new FD::NodeException(
        this, (boost::format("input INPUT on frame %d is a %s, not a list of sources") % count % ref->className()).str(),
        kFile, __LINE__);
  for (std::size_t i = 0; i < sources->size(); ++i) {
    const FD::ObjectRef& element = (*sources)[i];
    auto* source = dynamic_cast<const FD::Source*>(element.get());
    if (!source)
      throw new FD::NodeException(this,
                                  (boost::format("element %d of INPUT on frame %d is %s, not a source record") % i %
                                   count % (element.isNil() ? std::string("nil") : "a " + element->className()))
                                      .str(),
                                  kFile, __LINE__);
    if (!std::isfinite(source->x[0]) || !std::isfinite(source->x[1]))
      throw new FD::NodeException(this,
                                  (boost::format("source id %d on frame %d has a position that is not a number "
                                                 "(x = %f, y = %f)") %
                                   source->id % count % source->x[0] % source->x[1])
                                      .str(),
                                  kFile, __LINE__);
    const double azimuthRad = std::atan2(static_cast<double>(source->x[1]), static_cast<double>(source->x[0]));
    reports_.push_back(SourceReport{NSVelkBinaural::RadToDeg(azimuthRad), source->power, source->id});
  }
  return reports_;
}

// Each talker as a source record; its power is the strength of its direction on this frame, NaN
// when it was not heard on it (held through a pause).
FD::ObjectRef TrackTalkers::sourcesOf(const std::vector<TalkerTrack>& talkers, double timeSec) {
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sources(new FD::Vector<FD::ObjectRef>);
  for (const TalkerTrack& t : talkers) {
    FD::Source* source = FD::Source::atAzimuth(t.id, NSVelkBinaural::DegToRad(t.azimuthDeg));
    source->power = t.lastHeardSec == timeSec ? static_cast<float>(t.strength) : std::numeric_limits<float>::quiet_NaN();
    sources->push_back(FD::ObjectRef(source));
  }
  return sources;
}

// A talker id output for the first time is logged at INFO. Ids the tracker no longer holds are
// never output again, so only those it holds are remembered.
void TrackTalkers::announceNew(const std::vector<TalkerTrack>& talkers, double timeSec) {
  for (const TalkerTrack& t : talkers) {
    if (std::find(announced_.begin(), announced_.end(), t.id) != announced_.end()) continue;
    announced_.push_back(t.id);
    if (logger_->IsLoggable(LogLevel::INFO))
      logger_->Log(LogLevel::INFO, boost::format("talker %d at %+.1f degrees from %.2f s") % t.id % t.azimuthDeg % timeSec,
                   kFile, "calculate");
  }
  announced_.erase(std::remove_if(announced_.begin(), announced_.end(), [&](int id) { return !tracker_.holds(id); }),
                   announced_.end());
}

FD::NodeInfo TrackTalkers::describe() {
  FD::NodeInfo info;
  info.description =
      "Turns the sources a localiser outputs frame by frame (sound events, or the directions of each frame) into "
      "talker tracks with stable ids: directions gather evidence by direction, a talker gets an id once it has "
      "enough, is output while heard within REPORT_HOLD, lives through pauses up to HANGOVER, and gets its id back "
      "when it resumes nearby within REUSE_TIME. With LOOKAHEAD, each frame is output that many frames late and a "
      "talker entering within them is also output from its first direction on. The input's ids are not used. Each "
      "new talker is logged at INFO.";
  info.inputs = {{"INPUT", "Vector<ObjectRef> of Source",
                  "the frame's sources: x = (cos a, sin a, 0) for azimuth a, power = the evidence in [0, 1] (NaN or "
                  "another value that is not a number: not heard on the frame, ignored); nil is an empty list"}};
  info.outputs = {{"OUTPUT", "Vector<ObjectRef> of Source",
                   "the talkers output on the frame, by id ascending: id, x = (cos a, sin a, 0), power = the evidence "
                   "of the talker's direction on this frame, NaN when it was not heard on it"}};
  info.parameters = Parameters();
  return info;
}
