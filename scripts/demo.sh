#!/usr/bin/env bash
# `make demo`: installs what is missing, builds, makes a two-talker binaural recording,
# localises it, separates the talkers and says how much cleaner each separated one is.
#
# The recording: a recorded voice (the ALSA test phrases of alsa-utils) placed at +40 degrees
# (left) and a synthetic voice (espeak-ng) at -30 degrees (right), each rendered through the MIT
# KEMAR head-related impulse responses with `velk-binaural render`, over pink noise that differs
# between the ears, with one second of noise alone at the start (the localiser learns the noise
# there). Everything is made fresh from packaged files, the same on every run (sox -R), in
# demo-output/. VELK_DEMO_TOOL=path/to/velk-binaural uses an existing build and skips the
# installation and the build.
set -euo pipefail
cd "$(dirname "$0")/.."

TOOL=${VELK_DEMO_TOOL:-build/bin/velk-binaural}
OUT=demo-output
WORK="$OUT/work"
RATE=16000
ALSA=/usr/share/sounds/alsa
TALKER_A_DEG=40
TALKER_B_DEG=-30

if [ -z "${VELK_DEMO_TOOL:-}" ]; then
  make deps
  make build
fi
mkdir -p "$WORK"

echo "== Making the two-talker recording"
# Talker A: four recorded phrases with short pauses, mono at 16 kHz, peak -3 dBFS.
phrases=()
for p in Front_Left Front_Right Rear_Center Side_Left; do
  sox "$ALSA/$p.wav" -r "$RATE" -c 1 "$WORK/a_$p.wav" pad 0 0.25
  phrases+=("$WORK/a_$p.wav")
done
sox "${phrases[@]}" "$WORK/talker_a.wav" norm -3
# Talker B: synthetic speech, mono at 16 kHz, peak -3 dBFS.
espeak-ng -v en-us+f3 -s 150 -w "$WORK/b_espeak.wav" \
  "Please close the window. The meeting starts at nine tomorrow morning."
sox "$WORK/b_espeak.wav" -r "$RATE" -c 1 "$WORK/talker_b.wav" norm -3

"$TOOL" render "$WORK/talker_a.wav" "$WORK/talker_a_binaural.wav" --azimuth "$TALKER_A_DEG"
"$TOOL" render "$WORK/talker_b.wav" "$WORK/talker_b_binaural.wav" --azimuth "$TALKER_B_DEG"
# A starts after the second of noise, B half a second later; they overlap.
sox "$WORK/talker_a_binaural.wav" "$WORK/talker_a_placed.wav" pad 1.0 0
sox "$WORK/talker_b_binaural.wav" "$WORK/talker_b_placed.wav" pad 1.5 0

# Background: pink noise, independent in the two ears (two halves of one repeatable noise).
len_a=$(soxi -D "$WORK/talker_a_placed.wav")
len_b=$(soxi -D "$WORK/talker_b_placed.wav")
dur=$(awk -v a="$len_a" -v b="$len_b" 'BEGIN { d = (a > b ? a : b) + 0.3; printf "%.3f", d }')
sox -R -n -r "$RATE" -c 1 "$WORK/noise_long.wav" synth "$(awk -v d="$dur" 'BEGIN { print 2 * d }')" pinknoise vol 0.02
sox "$WORK/noise_long.wav" "$WORK/noise_left.wav" trim 0 "$dur"
sox "$WORK/noise_long.wav" "$WORK/noise_right.wav" trim "$dur"
sox -M "$WORK/noise_left.wav" "$WORK/noise_right.wav" "$WORK/noise.wav"

sox -m -v 1 "$WORK/noise.wav" -v 1 "$WORK/talker_a_placed.wav" -v 1 "$WORK/talker_b_placed.wav" \
  -b 16 "$OUT/two_talkers.wav" trim 0 "$dur" gain -n -1
echo "recording: $OUT/two_talkers.wav ($(soxi -D "$OUT/two_talkers.wav") s, 2 channels, $RATE Hz)"
echo "  talker A: recorded voice at $TALKER_A_DEG degrees (left), from 1.0 s"
echo "  talker B: espeak-ng voice at $TALKER_B_DEG degrees (right), from 1.5 s"

echo
echo "== Localising (measured tables of the same KEMAR head)"
"$TOOL" localize "$OUT/two_talkers.wav" --method measured \
  --truth "$TALKER_A_DEG,$TALKER_B_DEG" \
  --json "$OUT/sources.jsonl" --plot "$OUT/sources.svg"

echo
echo "== Separating the two talkers (measured tables, directions given)"
"$TOOL" separate "$OUT/two_talkers.wav" --out-dir "$OUT/separated" --method measured \
  --directions="$TALKER_A_DEG,$TALKER_B_DEG" --quiet
echo
echo "== Separating the talkers the localiser finds"
"$TOOL" separate "$OUT/two_talkers.wav" --out-dir "$OUT/separated_localized" --method measured --localize --quiet

echo
echo "== How much cleaner each separated talker is than the recording"
# A scene folder for `score`: the recording and each talker's own image at both ears, on the
# recording's timeline and with its gain (scale does not change the scores).
SCENE="$WORK/scene"
mkdir -p "$SCENE"
cp "$OUT/two_talkers.wav" "$SCENE/mix.wav"
sox -V1 "$WORK/talker_a_placed.wav" "$SCENE/a.wav" pad 0 "$dur" trim 0 "$dur"
sox -V1 "$WORK/talker_b_placed.wav" "$SCENE/b.wav" pad 0 "$dur" trim 0 "$dur"
cat > "$SCENE/truth.json" <<JSON
{"sample_rate": $RATE, "mixture_file": "mix.wav", "sources": [
  {"index": 0, "azimuth_deg": $TALKER_A_DEG, "image_file": "a.wav", "active_intervals_s": [[1.0, $len_a]]},
  {"index": 1, "azimuth_deg": $TALKER_B_DEG, "image_file": "b.wav", "active_intervals_s": [[1.5, $len_b]]}]}
JSON
echo "-- directions given"
"$TOOL" score "$SCENE" "$OUT/separated" | grep '^talker'
echo "-- directions found by the localiser"
"$TOOL" score "$SCENE" "$OUT/separated_localized" | grep '^talker'

echo
echo "== Outputs"
echo "  $OUT/two_talkers.wav   the recording"
echo "  $OUT/sources.jsonl     the sources of every frame (JSON lines: frame, time, id, azimuth)"
echo "  $OUT/sources.svg       azimuth against time, one colour per source id (open it in a browser)"
echo "  $OUT/separated/        source_0.wav = talker A alone (left ear), source_1.wav = talker B (right ear)"
echo "  $OUT/separated_localized/  one WAV per source the localiser found; sources.json says which is where"
echo "Try the head-model method too: $TOOL localize $OUT/two_talkers.wav --truth $TALKER_A_DEG,$TALKER_B_DEG"
