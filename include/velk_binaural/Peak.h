// Spectral peak detection: the bands of a frame in which both ear signals stand clearly above
// the background noise, inside a frequency window.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

using PeakList = boost::shared_ptr<std::vector<BandAndPower>>;
// The peaks of both channels: the same bands in the same ascending order, each list carrying
// its own channel's power.
using PeakPair = ChannelHolder<PeakList, PeakList>;
using PeakPairPtr = boost::shared_ptr<PeakPair>;

namespace Peak {

// Bands i with lower.index <= i < upper.index where lrpower exceeds bgnoise by more than
// `threshold` dB in both channels (strictly; NaN never qualifies). Powers and noise are in dB.
// Returns null, after a WARNING, when the window is empty or upper is invalid, when either pair
// is missing a channel or has channels of different lengths, or when either is shorter than
// upper.index. An invalid lower band examines nothing and gives two empty lists.
VELK_API PeakPairPtr GetPeaks(const FloatPairPtr& bgnoise, const FloatPairPtr& lrpower, const Band& lower, const Band& upper,
                     const BandInformation& info, float threshold);

}  // namespace Peak
}  // namespace NSVelkBinaural
