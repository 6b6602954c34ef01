#include "velk_binaural/Localize.h"

#include <stdexcept>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

namespace {

const char* const kFile = "Localize";
// Below this frequency the phase difference is unambiguous on a human-sized head; above it the
// head shadow makes the intensity difference the better cue.
constexpr double kPhaseCueLimitHz = 1500.0;

}  // namespace

JudgeResult Localize::GetDirection(const HarmonicSoundPtr& sound, const BandInformation& info, DirectionJudge& judge,
                                   const IPDPtr& ipd, const IIDPtr& iid, MethodFlag::Kind mflag, bool sort) {
  if (!sound || !sound->harmonics) throw std::invalid_argument("Localize::GetDirection: the sound has no harmonics");
  Logger* logger = Logger::Global();
  const Band boundary = info.CreateBand(NSDimensionPromise::FrequencyBase<double>(kPhaseCueLimitHz));
  const HarmonicLists lists = BandUtils::DivideBands(*sound->harmonics, boundary);
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE,
                boost::format("divided by 1500 hz, <%d, %d>") % lists.first->size() % lists.second->size(), kFile,
                "GetDirection");
  JudgeResult result = judge.Judge(lists, ipd, iid, mflag, sort);
  if (!result) result.reset(new DirectionCandidates);  // callers index the list; never hand on a null one
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("judge %d") % result->size(), kFile, "GetDirection");
  return result;
}

Localize::DirectionLists Localize::GetDirections(const HarmonicSoundList& sounds, const BandInformation& info,
                                                 DirectionJudge& judge, const IPDPtr& ipd, const IIDPtr& iid,
                                                 MethodFlag::Kind mflag, bool sort) {
  if (!sounds) {
    Logger* logger = Logger::Global();
    if (logger->IsLoggable(LogLevel::SEVERE)) logger->Log(LogLevel::SEVERE, "sounds is null", kFile, "GetDirections");
    throw std::invalid_argument("sounds is null");
  }
  DirectionLists result = boost::make_shared<std::vector<JudgeResult>>();
  result->reserve(sounds->size());
  for (const HarmonicSoundPtr& sound : *sounds)
    result->push_back(GetDirection(sound, info, judge, ipd, iid, mflag, sort));
  return result;
}

}  // namespace NSVelkBinaural
