// Talker tracks with stable ids from the directions a localisation stage reports frame by frame.
//
// A per-frame stage reports a few directions per frame, some of them wrong (a reflection, a
// moment of noise), and none while a talker pauses between words. The tracker gathers evidence
// by direction: each report adds its strength to the track within the gate around its
// direction, and evidence fades with a time constant. A track becomes a talker, with an id, only
// once its evidence reaches a threshold, which a direction reported now and then by chance does
// not; a talker is reported while it has been heard recently, lives on unreported through pauses
// of speech, and ends when it has been silent for the hang-over. A talker who resumes near where
// a recently ended one was gets that id back.
//
// Everything held is bounded by the configuration (talkers, tentative tracks, ended talkers
// remembered), so the cost of a frame does not grow with the number of ids ever issued.
#pragma once

#include <cstddef>
#include <tuple>
#include <vector>

#include "velk_binaural/Export.h"
#include "velk_binaural/SourceReport.h"
#include "velkparam/Parameter.h"

namespace NSVelkBinaural {

// The configuration of the tracker. Its parameters are declared once, in Parameters() (name,
// default, unit, accepted values, meaning; the TrackTalkers node, the command line and
// embedding code all read them from there); a default-made configuration holds those defaults.
//
// The defaults were chosen with the broadband direction finder on the same measuring sets and
// rules (see BroadbandDirectionFinder.h). What the neighbouring values did, with the measured
// tables, in the room unless said:
//   gateDeg 10            7: 2.0 ids per single talker against 1.67, hit 0.76; 15: 16% spurious.
//   evidenceTimeSec 0.5   0.3: 24% spurious; 0.8: 3.0 ids per talker.
//   confirmEvidence 3     2: 3.3 ids per talker, 28% spurious; 4: 83% of the talkers of
//                         mixtures within 10 degrees, hit 0.71.
//   dropEvidence 0.5      0.3: the same; 0.8: anechoic hit 0.84 against 0.92.
//   reportHoldSec 0.5     0.3: anechoic hit 0.89 against 0.92; 0.7: 12% spurious against 9%.
//   hangoverSec 2         1.5 and 3: the same (pauses in the scenes are below 0.7 s).
//   smoothing 0.1         0.05: the room's single talkers all within 5 degrees (two of three at
//                         0.1), but a talker who moves is followed half as fast; 0.2: the same.
//   mergeDeg 5            3 and 8: the same.
//   shadowRatio 0.75      0: 1.67 ids per single talker (2.33 with the head model); 1.0: 92%
//                         of the talkers of mixtures within 10 degrees.
// reuseSec (10 s) and the sizes are choices, not measurements: the scenes are 4-15 s long.
struct VELK_API TalkerTrackerConfig {
  // Every parameter at its declared default.
  TalkerTrackerConfig();
  // The tracker's parameters: name, type, default, accepted values, unit and meaning.
  static const std::vector<velkparam::Declaration>& Parameters();
  // The configuration for parameter values named as in Parameters(); absent ones take their
  // defaults. velkparam::ParameterError naming the parameter, the value and what is accepted for
  // a value that is refused.
  static TalkerTrackerConfig FromParameters(const velkparam::Values& values);

  // A report joins the nearest track within this azimuth distance, degrees (0 .. 90].
  double gateDeg;
  // Time constant with which a track's evidence fades, seconds (> 0).
  double evidenceTimeSec;
  // Evidence (sum of faded report strengths) at which a track becomes a talker and gets an id
  // (> 0).
  double confirmEvidence;
  // A track not yet a talker is forgotten when its evidence is below this, also on the frame it
  // starts, so a report weaker than this starts nothing (>= 0, below confirmEvidence).
  double dropEvidence;
  // A talker is reported while its last report is at most this old, seconds (>= 0).
  double reportHoldSec;
  // A talker without reports for longer than this ends, seconds (>= reportHoldSec).
  double hangoverSec;
  // An ended talker's id goes to a new talker within gateDeg of it that starts at most this
  // long after the end, seconds (>= 0).
  double reuseSec;
  // Weight of a new report in a talker's azimuth, in (0, 1].
  double smoothing;
  // Two talkers that come closer than this become one, the one with more evidence staying,
  // degrees (>= 0, below gateDeg).
  double mergeDeg;
  // A track within shadowDeg of a talker, or between two talkers being reported, becomes a talker
  // only once its evidence is at least shadowRatio times theirs: a per-frame stage reads a talker
  // a little off now and then (where its table fits the head less well), bins that two talkers
  // share point between them, and two talkers closer than shadowDeg are hard to tell apart
  // anyway. Degrees (0 .. 180) and a ratio (>= 0; 0 lets every track through).
  double shadowDeg;
  double shadowRatio;
  unsigned maxTalkers;     // talkers held at once (at least 1)
  unsigned maxTentative;   // tracks not yet talkers held at once, the strongest kept (at least 1)
  unsigned maxRemembered;  // ended talkers remembered for their ids, the latest kept

 private:
  struct Uninitialised {};
  explicit TalkerTrackerConfig(Uninitialised) {}
};

struct VELK_API TalkerTrack {
  int id = 0;                 // 1, 2, ... in order of first appearance; given back on resumption
  double azimuthDeg = 0.0;    // positive to the left
  double evidence = 0.0;      // faded sum of the strengths of its reports
  double firstSec = 0.0;      // when the track's first report came (its latest start)
  double lastHeardSec = 0.0;  // when its latest report came
  double strength = 0.0;      // the strength of its latest report, in [0, 1]
};

class VELK_API TalkerTracker {
 public:
  // std::invalid_argument for a configuration outside the ranges above.
  explicit TalkerTracker(const TalkerTrackerConfig& config = TalkerTrackerConfig());

  // Takes the reports of the frame at `frameTimeSec` (not before the previous frame's time) and
  // returns the talkers heard recently, in order of id; a talker whose lastHeardSec is the
  // frame's time was heard on it. Reports are associated by direction alone (their sourceId is
  // not read: the localiser's broadband directions carry their rank in the frame, which passes
  // from talker to talker). Reports with an azimuth or a strength that is not a finite number
  // (a paused sound event's) are ignored; strengths are clamped to [0, 1]. The list is valid
  // until the next call. std::invalid_argument for a time that is not finite or goes back.
  //
  // Chained after the localiser, frame by frame:
  //   tracker.process(time, localizer.Process(frame, time))
  const std::vector<TalkerTrack>& process(double frameTimeSec, const std::vector<SourceReport>& reports);

  const TalkerTrackerConfig& config() const { return config_; }
  // Whether `id` is a talker's or a remembered ended talker's (it may be reported again).
  bool holds(int id) const;
  // Everything the tracker holds: talkers, tentative tracks and remembered ended talkers.
  std::size_t heldTracks() const { return talkers_.size() + tentative_.size() + remembered_.size(); }
  // The next id a new talker would get.
  int nextId() const { return nextId_; }
  void reset();

 private:
  // A talker, or a track not yet one (id 0).
  using Track = TalkerTrack;
  struct Ended {
    int id;
    double azimuthDeg;
    double endSec;
  };

  static bool MoreEvidence(const Track& a, const Track& b);
  void Fade(double frameTimeSec);
  void Associate(double frameTimeSec, const std::vector<SourceReport>& reports);
  // `azimuthDeg` is the report's, brought into (-180, 180].
  void Join(Track& track, bool talker, double strength, double azimuthDeg, double frameTimeSec) const;
  void Confirm(double frameTimeSec);
  bool Shadowed(const Track& track) const;
  void MergeAndEnd(double frameTimeSec);
  int IdFor(double azimuthDeg, double frameTimeSec);
  int NewId();

  TalkerTrackerConfig config_;
  std::vector<Track> talkers_, tentative_;
  std::vector<Ended> remembered_;
  // Scratch of a frame, kept to spare allocations: per report whether it joined a track; per
  // talker and per tentative track whether it took a report; candidate (distance, track,
  // report) pairs; the tracks kept.
  using Pair = std::tuple<double, std::size_t, std::size_t>;
  std::vector<char> used_, joined_[2];
  std::vector<double> azimuths_;  // per report, its azimuth in (-180, 180]
  std::vector<Pair> pairs_;
  std::vector<Track> scratch_;
  std::vector<TalkerTrack> heard_;
  int nextId_ = 1;
  double lastTimeSec_ = 0.0;
  bool started_ = false;
};

}  // namespace NSVelkBinaural
