// Separators: from one frame's two-ear spectrum, the spectrum of the sound arriving from one
// direction. A separator computes the frame's interaural differences (right minus left), builds
// the pass band of the wanted direction and keeps the passing bins of both ears.
//
// A separator is made for one frame and asked once per source; it never changes the spectra it
// was given, and each call returns a new pair of new spectra. The frame's interaural differences
// do not depend on the direction asked for, so they are computed on the first call and shared by
// the later ones.
#pragma once

#include <boost/shared_ptr.hpp>

#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/DirectionPassFilter.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

struct IIPDS;
class InterauralPhaseDifference;
class InterauralIntensityDifference;

class VELK_API Separation {
 public:
  using Angle = NSDimensionPromise::AngleBase<double>;

  // Throws std::invalid_argument when the setting is missing or the spectra are not a pair of
  // equally long ears.
  Separation(const ComplexPairPtr& spectra, const boost::shared_ptr<SeparationSetting>& setting);
  virtual ~Separation();
  Separation(const Separation&) = delete;
  Separation& operator=(const Separation&) = delete;

  // The left and right spectra of the sound from `direction` (radians, positive to the left),
  // keeping bins that fit any direction within `range` of it.
  virtual ComplexPairPtr separate(Angle direction, Angle range) = 0;

 protected:
  Logger* logger;
  ComplexPairPtr spectra;
  boost::shared_ptr<SeparationSetting> setting;
};

// Judges bins below 1500 Hz by their phase difference against a spherical head model (source at
// 1 m, head radius 0.09 m); every other bin is dropped.
class VELK_API EpipolarSeparation : public Separation {
 public:
  EpipolarSeparation(const ComplexPairPtr& spectra, const boost::shared_ptr<SeparationSetting>& setting);
  ~EpipolarSeparation() override;
  ComplexPairPtr separate(Angle direction, Angle range) override;

 private:
  boost::shared_ptr<InterauralPhaseDifference> ipd;  // right minus left; made on the first call
};

// Judges bins against the head's measured interaural tables (phase up to 1500 Hz, level above)
// and keeps only bins that both ears hear more than `threshold` dB above their background noise.
class VELK_API HRTFSeparation : public Separation {
 public:
  // `table` must outlive the separator, and so must `spans` when given: a cache of the table's
  // spans kept across frames by the caller (see TableSpanCache), so that each frame only compares.
  HRTFSeparation(const ComplexPairPtr& spectra, const boost::shared_ptr<SeparationSetting>& setting,
                 const FloatPairPtr& noise, const IIPDS& table, float threshold, TableSpanCache* spans = nullptr);
  ~HRTFSeparation() override;
  // Throws std::logic_error "mmi is invalid" when the band of directions leaves the table.
  ComplexPairPtr separate(Angle direction, Angle range) override;

 private:
  // Makes the frame's differences and levels unless an earlier call did.
  void PrepareFrame();

  FloatPairPtr noise;  // dB per bin and ear
  const IIPDS& table;
  float threshold;  // dB
  TableSpanCache* spans;  // may be null: the spans are then made on every call
  // Right minus left, and the level per bin and ear in dB; made on the first call.
  boost::shared_ptr<InterauralPhaseDifference> ipd;
  boost::shared_ptr<InterauralIntensityDifference> iid;
  FloatPairPtr levels;
};

}  // namespace NSVelkBinaural
