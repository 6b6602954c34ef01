// Direction judgment of one harmonic sound from the frame's interaural differences.
//
// A judge receives the sound's harmonics split in two lists: the low harmonics, judged by their
// phase differences, and the high ones, judged by their intensity differences. It returns a
// probability for every direction index of a direction grid, optionally sorted with the most
// probable direction first. The head-model judge uses the grid of the pipeline that owns it; the
// measured-table judge uses the grid of its tables.
//
// Phase convention: every phase difference compared here is right minus left. The head model's
// phase 2 pi f dl / c, with dl = left path minus right path, is right minus left; the localiser
// computes its per-frame differences with Channel::RIGHT as reference, which is right minus left
// too; a difference made with Channel::LEFT as reference is negated before it is compared.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "velk_binaural/Angles.h"
#include "velk_binaural/Band.h"
#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HarmonicSound.h"
#include "velk_binaural/InterauralDifference.h"
#include "velk_binaural/Probability.h"

namespace NSVelkBinaural {

struct IIPDS;

// Free-field path-difference model of two microphones at +-90 degrees on a spherical head of
// radius r, for a source at distance D from the head centre.
class VELK_API Epipolar {
 public:
  using Angle = NSDimensionPromise::AngleBase<double>;
  using Length = NSDimensionPromise::LengthBase<double>;

  // std::invalid_argument unless 0 <= radius < distance.
  Epipolar(Length distance, Length radius);

  // Path to the left (+90 degrees) microphone minus path to the right one, with the sound bending
  // around the head to the far microphone. Odd in theta; 0 beyond |theta| > 2 pi.
  Length LRDifferenceRevised(Angle theta) const;

  Length distance;
  Length radius;
};

// The value equivalent to `input` modulo 2 pi that lies within pi of `model`; traced at FINEST.
VELK_API NSDimensionPromise::AngleBase<double> CalibrateDirection(NSDimensionPromise::AngleBase<double> input,
                                                         NSDimensionPromise::AngleBase<double> model);

// CalibrateDirection's arithmetic, for per-bin and per-direction loops (which trace it themselves):
// inline, and with selects instead of branches so that such loops vectorise.
inline double NearestBranch(double input, double model) {
  constexpr double kTwoPi = 2.0 * Angles::AnglePi;
  const double diff = input - model;
  const double below = std::trunc(diff / kTwoPi - 0.5);
  const double above = std::trunc(diff / kTwoPi + 0.5);
  const double turns = diff < -Angles::AnglePi ? below : (diff > Angles::AnglePi ? above : 0.0);
  return model + (diff - kTwoPi * turns);
}

namespace MethodFlag {
// The cues a judge combines.
enum Kind { BOTH = 0, IPD_ONLY = 1, IID_ONLY = 2 };
}  // namespace MethodFlag

using Probability = ProbabilityBase<double>;
using HarmonicList = BandUtils::HarmonicList;
// (phase-judged harmonics, intensity-judged harmonics), as BandUtils::DivideBands makes them.
using HarmonicLists = std::pair<HarmonicList, HarmonicList>;
// (direction index, probability) pairs: the same shape as a sound's candidate directions.
using JudgeResult = DirectionCandidatesPtr;

// The pairs (i, v[i]) for every index of v.
template <class T>
boost::shared_ptr<std::vector<std::pair<unsigned int, T>>> MakeIndexedVector(const std::vector<T>& v) {
  auto indexed = boost::make_shared<std::vector<std::pair<unsigned int, T>>>();
  indexed->reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) indexed->emplace_back(static_cast<unsigned int>(i), v[i]);
  return indexed;
}

// The steps both judges share: distances to probabilities and the combination of the cues.
namespace DirectionProbability {

// Probability per direction from its distance: the normal distribution function at
// (mean - d) / s, with s the square root of (sum of squared distances - squared mean). Every
// direction gets 0.5 when that spread is (nearly) zero. A NaN distance gives NaN probabilities.
VELK_API std::vector<Probability> CalculateProbability(const std::vector<double>& distances);

// Mean over the harmonics of (observed - model)^2 / band index.
VELK_API double CalculateIPDDistance(const std::vector<double>& observed, const std::vector<double>& model,
                            const std::vector<BandAndHarmonicRatio>& harmonics);

// Mean over the harmonics of (observed - table)^2 * band index, reading both at each harmonic's
// band; std::out_of_range "index out of range" for a band outside either.
VELK_API double CalculateIIDDistance(const InterauralIntensityDifference& observed, const std::vector<double>& table,
                            const std::vector<BandAndHarmonicRatio>& harmonics);

// Combines the cues chosen by mflag (a + b - ab when both are present), pairs each probability
// with its direction index and, if asked, sorts the pairs with the most probable first. NaN
// probabilities always come after every number.
VELK_API JudgeResult Combine(const std::vector<Probability>& pipd, const std::vector<Probability>& piid,
                    MethodFlag::Kind mflag, bool sort);

// Strict weak ordering for "a is more probable than b" that puts NaN after every number.
inline bool MoreProbable(const std::pair<unsigned int, Probability>& a, const std::pair<unsigned int, Probability>& b) {
  const double x = a.second.Value();
  const double y = b.second.Value();
  if (x != x) return false;  // NaN is never ahead of anything
  if (y != y) return true;
  return x > y;
}

}  // namespace DirectionProbability

class VELK_API DirectionJudge {
 public:
  virtual ~DirectionJudge() = default;
  // Probabilities of every direction for one sound. Either list may be empty; a null list is
  // treated as empty.
  virtual JudgeResult Judge(const HarmonicLists& harmonics, const IPDPtr& ipd, const IIDPtr& iid,
                            MethodFlag::Kind mflag, bool sort) = 0;
};

// Compares observed phase differences with the head model; the intensity difference only tells
// left from right.
class VELK_API JudgeEpipolar : public DirectionJudge {
 public:
  // `grid` is the direction grid judged over; the judge keeps a reference to it, so it must
  // outlive the judge, and a change of it is followed on the next call.
  JudgeEpipolar(Epipolar::Length distance, Epipolar::Length radius, const DirectionConverter& grid);

  JudgeResult Judge(const HarmonicLists& harmonics, const IPDPtr& ipd, const IIDPtr& iid, MethodFlag::Kind mflag,
                    bool sort) override;
  // One probability per direction from the phases of the harmonics; empty without harmonics.
  std::vector<Probability> CalcProbabilityFromIPD(const HarmonicList& ipdh, const IPDPtr& ipd);
  // One probability per direction favouring the louder side; empty without harmonics.
  std::vector<Probability> CalcProbabilityFromIID(const HarmonicList& iidh, const IIDPtr& iid);

  Epipolar::Length distance;
  Epipolar::Length radius;
  std::vector<double> dl;  // model path difference per direction index, metres

 private:
  struct Grid {
    int count;   // number of directions
    int centre;  // index of 0 degrees
  };
  // The current size of the grid; std::logic_error when it has no index for 0 degrees.
  Grid CurrentGrid() const;
  // Fills the dl cache for the grid unless it was filled for this very grid (size, step and origin).
  void PrepareModel(const Grid& size);

  Epipolar model;
  const DirectionConverter* grid;
  int dlStep = 0, dlOrigin = 0;  // the grid dl was filled for
  // Per-harmonic scratch reused across directions and calls.
  std::vector<double> observed;
  std::vector<double> modelPhase;
};

// Compares both differences with the per-direction tables measured for the head.
class VELK_API JudgeHRTFMeasured : public DirectionJudge {
 public:
  // std::invalid_argument for a null table.
  explicit JudgeHRTFMeasured(boost::shared_ptr<IIPDS> iipds);

  JudgeResult Judge(const HarmonicLists& harmonics, const IPDPtr& ipd, const IIDPtr& iid, MethodFlag::Kind mflag,
                    bool sort) override;

  boost::shared_ptr<IIPDS> iipds;

 private:
  double PhaseDistance(int direction, const std::vector<BandAndHarmonicRatio>& ipdh,
                       const InterauralPhaseDifference& ipd);

  std::vector<double> observed;
  std::vector<double> modelPhase;
};

}  // namespace NSVelkBinaural
