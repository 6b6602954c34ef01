// The talker tracker's parameters, declared once: the TrackTalkers node, the command line and
// embedding code all read, check and document them from this table. The measurements behind the
// defaults are written beside the configuration (TalkerTracker.h).
#include <string>

#include "velk_binaural/TalkerTracker.h"

namespace NSVelkBinaural {

using velkparam::Declaration;

namespace {

std::vector<Declaration> MakeTable() {
  return {
      Declaration::Float("GATE_ANGLE", 10.0f, "degrees", "a direction joins the nearest track within this angle")
          .Above(0)
          .AtMost(90)
          .Optional(),
      Declaration::Float("EVIDENCE_TIME", 0.5f, "s", "time constant with which the evidence of a track fades")
          .Above(0)
          .Optional(),
      Declaration::Float("CONFIRM_EVIDENCE", 3.0f, "",
                  "evidence (faded sum of the strengths of its directions) at which a track becomes a talker with "
                  "an id")
          .Above(0)
          .Optional(),
      Declaration::Float("DROP_EVIDENCE", 0.5f, "",
                  "a track not yet a talker is forgotten when its evidence falls below this; below CONFIRM_EVIDENCE")
          .AtLeast(0)
          .Optional(),
      Declaration::Float("REPORT_HOLD", 0.5f, "s", "a talker is output while it was heard at most this long ago")
          .AtLeast(0)
          .Optional(),
      Declaration::Float("HANGOVER", 2.0f, "s",
                  "a talker not heard for longer than this ends (it lives on unreported through shorter pauses); at "
                  "least REPORT_HOLD")
          .AtLeast(0)
          .Optional(),
      Declaration::Float("REUSE_TIME", 10.0f, "s",
                  "a talker who starts within GATE_ANGLE of one that ended at most this long ago gets that id back")
          .AtLeast(0)
          .Optional(),
      Declaration::Float("SMOOTHING", 0.1f, "", "weight of a new direction in a talker's azimuth").Above(0).AtMost(1).Optional(),
      Declaration::Float("MERGE_ANGLE", 5.0f, "degrees",
                  "two talkers closer than this become one, the one with more evidence staying; below GATE_ANGLE")
          .AtLeast(0)
          .Optional(),
      Declaration::Float("SHADOW_ANGLE", 20.0f, "degrees",
                  "a track this close to a talker, or between two talkers being heard, becomes a talker only with "
                  "SHADOW_RATIO times their evidence")
          .AtLeast(0)
          .AtMost(180)
          .Optional(),
      Declaration::Float("SHADOW_RATIO", 0.75f, "", "see SHADOW_ANGLE; 0 lets every track through").AtLeast(0).Optional(),
      Declaration::Int("MAX_TALKERS", 8, "", "talkers held at once").AtLeast(1).Optional(),
      Declaration::Int("MAX_TENTATIVE", 16, "", "tracks not yet talkers held at once, the strongest kept").AtLeast(1).Optional(),
      Declaration::Int("MAX_REMEMBERED", 16, "", "ended talkers remembered for their ids, the latest kept").AtLeast(0).Optional(),
  };
}

// The checks that involve two parameters.
void CheckPairs(const TalkerTrackerConfig& c, const velkparam::Values& values) {
  auto text = [&](const char* name) { return velkparam::ToText(values.at(name)); };
  if (!(c.dropEvidence < c.confirmEvidence))
    throw velkparam::ParameterError("DROP_EVIDENCE", text("DROP_EVIDENCE"),
                                    "expected a value below CONFIRM_EVIDENCE (" + text("CONFIRM_EVIDENCE") + ")");
  if (!(c.hangoverSec >= c.reportHoldSec))
    throw velkparam::ParameterError("HANGOVER", text("HANGOVER"),
                                    "expected at least REPORT_HOLD (" + text("REPORT_HOLD") + ")");
  if (!(c.mergeDeg < c.gateDeg))
    throw velkparam::ParameterError("MERGE_ANGLE", text("MERGE_ANGLE"),
                                    "expected an angle below GATE_ANGLE (" + text("GATE_ANGLE") + ")");
}

}  // namespace

const std::vector<Declaration>& TalkerTrackerConfig::Parameters() {
  static const std::vector<Declaration> table = MakeTable();
  return table;
}

TalkerTrackerConfig::TalkerTrackerConfig() { *this = FromParameters({}); }

TalkerTrackerConfig TalkerTrackerConfig::FromParameters(const velkparam::Values& given) {
  const std::vector<Declaration>& table = Parameters();
  const velkparam::Values values = velkparam::Completed(table, given);
  auto number = [&](const char* name) { return static_cast<double>(velkparam::FloatOf(table, values, name)); };
  auto count = [&](const char* name) { return static_cast<unsigned>(velkparam::IntOf(table, values, name)); };

  TalkerTrackerConfig c(Uninitialised{});
  c.gateDeg = number("GATE_ANGLE");
  c.evidenceTimeSec = number("EVIDENCE_TIME");
  c.confirmEvidence = number("CONFIRM_EVIDENCE");
  c.dropEvidence = number("DROP_EVIDENCE");
  c.reportHoldSec = number("REPORT_HOLD");
  c.hangoverSec = number("HANGOVER");
  c.reuseSec = number("REUSE_TIME");
  c.smoothing = number("SMOOTHING");
  c.mergeDeg = number("MERGE_ANGLE");
  c.shadowDeg = number("SHADOW_ANGLE");
  c.shadowRatio = number("SHADOW_RATIO");
  c.maxTalkers = count("MAX_TALKERS");
  c.maxTentative = count("MAX_TENTATIVE");
  c.maxRemembered = count("MAX_REMEMBERED");
  CheckPairs(c, values);
  return c;
}

}  // namespace NSVelkBinaural
