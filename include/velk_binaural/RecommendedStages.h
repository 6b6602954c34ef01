// The localiser's stages that the applications (the command line and the Python module) run by
// default: the adaptive noise floor and the broadband directions, with the head-model radius
// that suits them (the talker tracker, TalkerTracker.h, follows the localiser there). The
// localiser's own declared defaults are the harmonic-event pipeline; these values override them
// and are themselves checked by the localiser's parameter table like any given value.
#pragma once

#include "velk_binaural/Export.h"
#include "velkparam/Parameter.h"

namespace NSVelkBinaural {

// Parameter values named as in LocalizerConfig::Parameters(); the measurements behind each are
// written with their definition.
VELK_API const velkparam::Values& RecommendedLocalizerStages();

}  // namespace NSVelkBinaural
