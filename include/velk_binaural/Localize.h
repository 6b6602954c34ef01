// Localisation of a frame's harmonic sounds: each sound's harmonics up to 1500 Hz are judged by
// their phase differences, the higher ones by their intensity differences.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HarmonicSound.h"
#include "velk_binaural/InterauralDifference.h"

namespace NSVelkBinaural {

struct VELK_API Localize {
  // One candidate list per sound, in the order of the sounds.
  using DirectionLists = boost::shared_ptr<std::vector<JudgeResult>>;

  // The judge's candidate directions for one sound. std::invalid_argument for a null sound or a
  // sound without a harmonic list.
  static JudgeResult GetDirection(const HarmonicSoundPtr& sound, const BandInformation& info, DirectionJudge& judge,
                                  const IPDPtr& ipd, const IIDPtr& iid, MethodFlag::Kind mflag, bool sort);
  // GetDirection for every sound; std::invalid_argument "sounds is null" for a null list.
  static DirectionLists GetDirections(const HarmonicSoundList& sounds, const BandInformation& info,
                                      DirectionJudge& judge, const IPDPtr& ipd, const IIDPtr& iid,
                                      MethodFlag::Kind mflag, bool sort);
};

}  // namespace NSVelkBinaural
