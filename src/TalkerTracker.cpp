#include "velk_binaural/TalkerTracker.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>

namespace NSVelkBinaural {

namespace {

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::invalid_argument("TalkerTracker: " + what);
}

// An azimuth in (-180, 180].
double Normalised(double a) {
  const double r = std::remainder(a, 360.0);
  return r == -180.0 ? 180.0 : r;
}
// b - a in degrees, taken the short way round the circle, for azimuths already in (-180, 180]
// (a subtraction and a turn at most, not a library remainder: the tracker takes many of these
// per frame).
double Towards(double a, double b) {
  const double d = b - a;
  return d > 180.0 ? d - 360.0 : (d < -180.0 ? d + 360.0 : d);
}
double Distance(double a, double b) { return std::fabs(Towards(a, b)); }

bool Usable(const SourceReport& r) { return std::isfinite(r.azimuthDeg) && std::isfinite(r.strength); }
double Strength(const SourceReport& r) { return std::min(1.0, std::max(0.0, r.strength)); }

}  // namespace

TalkerTracker::TalkerTracker(const TalkerTrackerConfig& config) : config_(config) {
  const TalkerTrackerConfig& c = config;
  Require(c.gateDeg > 0.0 && c.gateDeg <= 90.0, "gateDeg " + std::to_string(c.gateDeg) + " must lie in (0, 90]");
  Require(c.evidenceTimeSec > 0.0 && std::isfinite(c.evidenceTimeSec), "evidenceTimeSec must be positive");
  Require(c.confirmEvidence > 0.0 && std::isfinite(c.confirmEvidence), "confirmEvidence must be positive");
  Require(c.dropEvidence >= 0.0 && c.dropEvidence < c.confirmEvidence,
          "dropEvidence must be at least 0 and below confirmEvidence");
  Require(c.reportHoldSec >= 0.0 && c.hangoverSec >= c.reportHoldSec && std::isfinite(c.hangoverSec),
          "reportHoldSec must be at least 0 and hangoverSec at least reportHoldSec");
  Require(c.reuseSec >= 0.0 && std::isfinite(c.reuseSec), "reuseSec must be at least 0");
  Require(c.smoothing > 0.0 && c.smoothing <= 1.0, "smoothing must lie in (0, 1]");
  Require(c.mergeDeg >= 0.0 && c.mergeDeg < c.gateDeg, "mergeDeg must be at least 0 and below gateDeg");
  Require(c.maxTalkers >= 1 && c.maxTentative >= 1, "maxTalkers and maxTentative must be at least 1");
  Require(c.shadowDeg >= 0.0 && c.shadowDeg <= 180.0 && c.shadowRatio >= 0.0 && std::isfinite(c.shadowRatio),
          "shadowDeg must lie in 0 .. 180 and shadowRatio be at least 0");
  talkers_.reserve(c.maxTalkers);
  tentative_.reserve(c.maxTentative);
  remembered_.reserve(c.maxRemembered + 1);
}

// Strongest first; ties (tentative tracks all have id 0) by azimuth, so the order is the same
// on every run.
bool TalkerTracker::MoreEvidence(const Track& a, const Track& b) {
  return std::make_tuple(-a.evidence, a.id, a.azimuthDeg) <
         std::make_tuple(-b.evidence, b.id, b.azimuthDeg);
}

void TalkerTracker::reset() {
  const TalkerTrackerConfig config = config_;
  *this = TalkerTracker(config);
}

const std::vector<TalkerTrack>& TalkerTracker::process(double frameTimeSec, const std::vector<SourceReport>& reports) {
  Fade(frameTimeSec);
  Associate(frameTimeSec, reports);
  Confirm(frameTimeSec);
  MergeAndEnd(frameTimeSec);
  heard_.clear();
  for (const Track& t : talkers_)
    if (frameTimeSec - t.lastHeardSec <= config_.reportHoldSec) heard_.push_back(t);
  return heard_;
}

void TalkerTracker::Fade(double frameTimeSec) {
  // (Checked before any message is made: this runs on every frame.)
  if (!std::isfinite(frameTimeSec))
    throw std::invalid_argument("TalkerTracker: a frame time that is not a finite number");
  if (started_) {
    if (frameTimeSec < lastTimeSec_)
      throw std::invalid_argument("TalkerTracker: frame time " + std::to_string(frameTimeSec) +
                                  " s comes before the previous frame's " + std::to_string(lastTimeSec_) + " s");
    const double fade = std::exp(-(frameTimeSec - lastTimeSec_) / config_.evidenceTimeSec);
    for (std::vector<Track>* group : {&talkers_, &tentative_})
      for (Track& t : *group) t.evidence *= fade;
  }
  started_ = true;
  lastTimeSec_ = frameTimeSec;
}

// Each report joins at most one track and each track takes at most one report, nearest first,
// talkers before tentative tracks. The rest start tentative tracks.
void TalkerTracker::Associate(double frameTimeSec, const std::vector<SourceReport>& reports) {
  used_.assign(reports.size(), 0);
  azimuths_.resize(reports.size());
  for (std::size_t r = 0; r < reports.size(); ++r) {
    used_[r] = !Usable(reports[r]);
    azimuths_[r] = used_[r] ? 0.0 : Normalised(reports[r].azimuthDeg);
  }
  std::vector<char>* joined = joined_;
  joined[0].assign(talkers_.size(), 0);
  joined[1].assign(tentative_.size(), 0);
  std::vector<Track>* groups[2] = {&talkers_, &tentative_};

  std::vector<Pair>& pairs = pairs_;
  for (int g = 0; g < 2; ++g) {
    pairs.clear();
    for (std::size_t i = 0; i < groups[g]->size(); ++i)
      for (std::size_t r = 0; r < reports.size(); ++r) {
        if (used_[r]) continue;
        const double d = Distance((*groups[g])[i].azimuthDeg, azimuths_[r]);
        if (d <= config_.gateDeg) pairs.emplace_back(d, i, r);
      }
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [d, i, r] : pairs) {
      if (joined[g][i] || used_[r]) continue;
      Join((*groups[g])[i], g == 0, Strength(reports[r]), azimuths_[r], frameTimeSec);
      joined[g][i] = used_[r] = 1;
    }
  }

  for (std::size_t r = 0; r < reports.size(); ++r) {
    if (used_[r]) continue;
    Track t;
    t.azimuthDeg = azimuths_[r];
    t.evidence = t.strength = Strength(reports[r]);
    t.firstSec = t.lastHeardSec = frameTimeSec;
    tentative_.push_back(t);
  }
}

// A talker's azimuth follows its reports slowly; a tentative track's is the strength-weighted
// mean of its reports, so that it starts where the evidence is.
void TalkerTracker::Join(Track& track, bool talker, double strength, double azimuthDeg, double frameTimeSec) const {
  track.evidence += strength;
  const double weight = talker ? config_.smoothing : (track.evidence > 0.0 ? strength / track.evidence : 1.0);
  track.azimuthDeg = Normalised(track.azimuthDeg + weight * Towards(track.azimuthDeg, azimuthDeg));
  track.lastHeardSec = frameTimeSec;
  track.strength = strength;
}

void TalkerTracker::Confirm(double frameTimeSec) {
  std::vector<Track>& keep = scratch_;
  keep.clear();
  for (Track& t : tentative_) {
    if (t.evidence >= config_.confirmEvidence && talkers_.size() < config_.maxTalkers && !Shadowed(t)) {
      t.id = IdFor(t.azimuthDeg, frameTimeSec);
      talkers_.push_back(t);
    } else if (t.evidence >= config_.dropEvidence) {
      keep.push_back(t);
    }
  }
  std::sort(keep.begin(), keep.end(), &TalkerTracker::MoreEvidence);
  if (keep.size() > config_.maxTentative) keep.resize(config_.maxTentative);
  tentative_.swap(keep);
}

// Talkers silent past the hang-over end, and of two talkers that came together the one with
// less evidence ends; ended talkers are remembered for their ids.
void TalkerTracker::MergeAndEnd(double frameTimeSec) {
  std::sort(talkers_.begin(), talkers_.end(), &TalkerTracker::MoreEvidence);
  std::vector<Track>& kept = scratch_;
  kept.clear();
  for (const Track& t : talkers_) {
    const bool silent = frameTimeSec - t.lastHeardSec > config_.hangoverSec;
    const bool merged = std::any_of(kept.begin(), kept.end(), [&](const Track& k) {
      return Distance(k.azimuthDeg, t.azimuthDeg) < config_.mergeDeg;
    });
    if (silent || merged)
      remembered_.push_back(Ended{t.id, t.azimuthDeg, frameTimeSec});
    else
      kept.push_back(t);
  }
  std::sort(kept.begin(), kept.end(), [](const Track& a, const Track& b) { return a.id < b.id; });
  talkers_.swap(kept);

  remembered_.erase(std::remove_if(remembered_.begin(), remembered_.end(),
                                   [&](const Ended& e) { return frameTimeSec - e.endSec > config_.reuseSec; }),
                    remembered_.end());
  if (remembered_.size() > config_.maxRemembered)
    remembered_.erase(remembered_.begin(), remembered_.end() - static_cast<long>(config_.maxRemembered));
}

// Whether the track is likelier a reading of talkers already known than a talker of its own: it
// lies next to a talker, or between two talkers who are being heard (where the bins they share
// point), and has less than shadowRatio of their evidence.
bool TalkerTracker::Shadowed(const Track& track) const {
  const double azimuth = track.azimuthDeg;
  bool left = false, right = false;
  for (const Track& t : talkers_) {
    if (track.evidence >= config_.shadowRatio * t.evidence) continue;
    const double towards = Towards(azimuth, t.azimuthDeg);
    if (std::fabs(towards) < config_.shadowDeg) return true;
    if (lastTimeSec_ - t.lastHeardSec > config_.reportHoldSec) continue;
    left = left || towards > 0.0;
    right = right || towards < 0.0;
  }
  return left && right;
}

// The id of the nearest talker remembered within the gate, taken back; else a new one.
int TalkerTracker::IdFor(double azimuthDeg, double frameTimeSec) {
  auto nearest = remembered_.end();
  for (auto e = remembered_.begin(); e != remembered_.end(); ++e) {
    const double d = Distance(e->azimuthDeg, azimuthDeg);
    if (d <= config_.gateDeg && frameTimeSec - e->endSec <= config_.reuseSec &&
        (nearest == remembered_.end() || d < Distance(nearest->azimuthDeg, azimuthDeg)))
      nearest = e;
  }
  if (nearest == remembered_.end()) return NewId();
  const int id = nearest->id;
  remembered_.erase(nearest);
  return id;
}

bool TalkerTracker::holds(int id) const {
  return std::any_of(talkers_.begin(), talkers_.end(), [&](const Track& t) { return t.id == id; }) ||
         std::any_of(remembered_.begin(), remembered_.end(), [&](const Ended& e) { return e.id == id; });
}

// Ids count up; after the largest int they start again from 1, skipping those still held.
int TalkerTracker::NewId() {
  while (holds(nextId_)) nextId_ = nextId_ == INT_MAX ? 1 : nextId_ + 1;
  const int id = nextId_;
  nextId_ = nextId_ == INT_MAX ? 1 : nextId_ + 1;
  return id;
}

}  // namespace NSVelkBinaural
