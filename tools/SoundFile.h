// Small libsndfile helpers for the commands that read or write whole sound files.
#pragma once

#include <string>
#include <vector>

namespace velktool {

struct SoundInfo {
  int channels = 0;
  int sampleRate = 0;
  long frames = 0;
};

struct Sound {
  SoundInfo info;
  std::vector<float> samples;  // interleaved, info.frames x info.channels
};

// The format of a sound file without reading its samples. Throws std::runtime_error with the
// file name and libsndfile's reason when it cannot be opened.
SoundInfo probeSound(const std::string& path);
// Every sample the file holds (FD::AudioFileReader: a file cut short of its header is read as far
// as it goes and samples that are not numbers as 0, each with a warning through FD::warn).
Sound readSound(const std::string& path);
// The largest magnitude of any sample (0 for digital silence) and whether some sample is not a
// number, read block by block.
struct SoundPeak {
  float peak = 0.0f;
  bool notANumber = false;
};
SoundPeak scanSound(const std::string& path);

// Writes the sound of `in` from frame `firstFrame` on to `out` as a 16-bit WAV, converting
// through double-precision samples scaled as libsndfile scales them (so that the copy is the same,
// sample for sample, as one written by other libsndfile-based tools); beside `out` first, then
// into its place.
void writePcm16From(const std::string& in, long firstFrame, const std::string& out);
// Writes interleaved float samples as 32-bit float WAV (no clipping of loud renders), beside the
// destination first and then into its place (FD::AudioFileWriter).
void writeSoundFloat(const std::string& path, int sampleRate, int channels, const std::vector<float>& samples);

}  // namespace velktool
