// Harmonic structure extraction: groups of proxy bands that lie at whole multiples of a
// fundamental band, and the rules that keep those that look like a human voice.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Band.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HarmonicSound.h"

namespace NSVelkBinaural {
namespace Harmonics {

// The proxy bands of a frame, one per cluster, in ascending band order.
using ProxyList = boost::shared_ptr<std::vector<Band>>;

// The proxy nearest to n times the band of the proxy at position `fundamental` (the lower one
// on equal distance), if it is close enough: never for fundamental bands 0 and 1, exactly for
// bands 2 and 3, within one band from band 4 on. Otherwise, and for n <= 1 or a position
// outside the list, the invalid band. Throws std::invalid_argument for a null list or when the
// fundamental is the invalid band.
VELK_API Band GetNHarmonic(const ProxyList& proxyBands, int fundamental, int n);

// The harmonic sound on the proxy at position `fundamental`, or null when it has no second
// harmonic or the position is outside the list. Throws std::invalid_argument for a null list.
VELK_API HarmonicSoundPtr GetHarmonics(const ProxyList& proxyBands, int fundamental);

// Every harmonic sound, trying each proxy in turn as the fundamental. Never null.
VELK_API HarmonicSoundList ExtractAllHarmonics(const ProxyList& proxyBands);

// How much the sound looks like a voice, from the harmonics present and the height of the
// fundamental: 4, 2, 1, 0, -2, -3 or -4. Throws std::invalid_argument for a null sound and
// std::out_of_range for an empty structure or a ratio below 1 or above the last one.
VELK_API int CheckHarmonics(const HarmonicSoundPtr& sound, const BandInformation& info);

// The sounds scoring at least `threshold` whose fundamental is not a band of an earlier
// accepted sound, in list order. `bandCount` is the number of bands of the frame. Throws
// std::invalid_argument for a null list and std::out_of_range for a band at or beyond bandCount.
VELK_API HarmonicSoundList GetHumanHarmonics(const HarmonicSoundList& list, unsigned int bandCount,
                                    const BandInformation& info, int threshold);

}  // namespace Harmonics
}  // namespace NSVelkBinaural
