// The localiser's stages the applications run by default.
#include "velk_binaural/RecommendedStages.h"

namespace NSVelkBinaural {

// The node's defaults tune the harmonic-sound pipeline (their measurements are with its
// declarations, src/LocalizerConfig.cpp). The applications run another one, chosen on the
// measuring sets ../shared/scenes-wide (24 anechoic scenes) and ../shared/scenes-rooms (8 scenes,
// RT60 0.45 s), scored with the rules of ../shared/scenegen/score.py, each also cut to start with
// speech (--trim-lead). Figures: talkers within 5 / 10 degrees, hit, spurious reports, ids per
// talker; singles / mixtures.
//   DIRECTIONS BROADBAND     measured tables, anechoic: every talker found, all within 5 degrees,
//                            hit 0.91-0.97, no spurious reports, 1.0-1.08 ids per talker; room:
//                            all within 10 degrees, 1.0-1.33 ids, 0-9% spurious; the head model
//                            the same anechoic, 1.0-1.67 ids in the room. HARMONIC (the harmonic
//                            sounds and their events): singles 92% within 5 degrees, pairs 88%
//                            and triples 67% within 10, one single and two talkers of triples
//                            missed, 3.3-5.6 ids per talker, 20-24% spurious; room: 10-23 ids.
//   NOISE_FLOOR ADAPTIVE     FIRST_FRAMES with BROADBAND: the same anechoic figures, in the room
//                            2.33 against 2.0 ids per single talker and 1.5 against 1.17 per
//                            talker of pairs; and a floor learnt once cannot follow a noise that
//                            changes, nor a recording that starts with digital silence.
//   HEAD_RADIUS 0.0925 m     (head model only) median error over all talkers 0.07: 10.7 / 14.2
//                            degrees (anechoic / room); 0.08: 5.0 / 5.1; 0.085: 3.7 / 4.0;
//                            0.09: 1.0 / 2.3; 0.0925: 1.2 / 2.0 (mean 1.6 / 2.9, the lowest);
//                            0.095: 1.5 / 2.3; 0.0975: 2.8 / 4.2; 0.10: 4.6 / 5.7; 0.11: 7.1 / 9.2.
//                            The broadband phases are mostly those of 1.5-5 kHz, where the path
//                            model with about the head's own radius holds. (The harmonic pipeline
//                            judges below 1.5 kHz, where a real head delays more: it fits 0.11 m
//                            best, 82% of talkers within 10 degrees against 62% at 0.09.)
const velkparam::Values& RecommendedLocalizerStages() {
  static const velkparam::Values stages{
      {"NOISE_FLOOR", std::string("ADAPTIVE")},
      {"DIRECTIONS", std::string("BROADBAND")},
      {"HEAD_RADIUS", 0.0925f},
  };
  return stages;
}

}  // namespace NSVelkBinaural
