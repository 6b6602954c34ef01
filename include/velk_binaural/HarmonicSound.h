// A harmonic sound of one frame: its harmonic bands, candidate directions and event id.
#pragma once

#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Probability.h"

namespace NSVelkBinaural {

// Candidate directions: (direction index on the judge's grid, probability), most probable first.
using DirectionCandidates = std::vector<std::pair<unsigned int, ProbabilityBase<double>>>;
using DirectionCandidatesPtr = boost::shared_ptr<DirectionCandidates>;

class VELK_API HarmonicSound {
 public:
  HarmonicSound()
      : directions(boost::make_shared<DirectionCandidates>()),
        harmonics(boost::make_shared<std::vector<BandAndHarmonicRatio>>()) {}

  int id = -1;  // event id; set by the event history
  DirectionCandidatesPtr directions;
  // The fundamental first with ratio 1, then the found harmonics in ascending ratio order.
  boost::shared_ptr<std::vector<BandAndHarmonicRatio>> harmonics;
};

using HarmonicSoundPtr = boost::shared_ptr<HarmonicSound>;
using HarmonicSoundList = boost::shared_ptr<std::vector<HarmonicSoundPtr>>;

}  // namespace NSVelkBinaural
