// Localises the talkers of a two-ear recording with the library alone (no host, no plug-in), with
// the command line's stages and the talker tracker after the localiser:
//   localize_wav recording.wav
// prints, per talker from right to left, its id, median azimuth and the frames it was output on.
// Built against an installed velk-binaural by the CMakeLists.txt beside it, or by
//   g++ -std=c++17 -O2 localize_wav.cpp -o localize_wav $(pkg-config --cflags --libs velk-binaural sndfile)
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "velk_binaural/Localizer.h"
#include "velk_binaural/Stft.h"
#include "velk_binaural/TalkerTracker.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s recording.wav\n", argv[0]);
    return 2;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (!file || info.channels != 2) {
    std::fprintf(stderr, "%s: not a readable 2-channel recording\n", argv[1]);
    if (file) sf_close(file);
    return 1;
  }
  // The rate and the command line's stages; every other parameter at its declared default. Each
  // value is checked like any parameter.
  const auto config = NSVelkBinaural::LocalizerConfig::FromParameters(
      {{"SAMPLING_RATE", info.samplerate}, {"NOISE_FLOOR", std::string("ADAPTIVE")},
       {"DIRECTIONS", std::string("BROADBAND")}, {"HEAD_RADIUS", 0.0925f}});
  NSVelkBinaural::Localizer localizer(config);
  NSVelkBinaural::TalkerTracker tracker;
  NSVelkBinaural::Stft stft({512, config.advanceSamples, 2});

  std::map<int, std::vector<double>> azimuthsById;
  NSVelkBinaural::StftFrame frame;
  auto localize = [&] {
    while (stft.Next(frame)) {
      const double time = config.FrameTime(frame.index);
      for (const NSVelkBinaural::TalkerTrack& t : tracker.process(time, localizer.Process(frame.Stereo(), time)))
        azimuthsById[t.id].push_back(t.azimuthDeg);
    }
  };
  std::vector<float> block(2 * 4096);
  for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0; localize()) stft.Push(block.data(), n);
  sf_close(file);
  stft.Finish();
  localize();

  std::multimap<double, std::pair<int, std::size_t>> byAzimuth;  // median -> (id, frames)
  for (auto& [id, azimuths] : azimuthsById) {
    std::nth_element(azimuths.begin(), azimuths.begin() + azimuths.size() / 2, azimuths.end());
    byAzimuth.emplace(azimuths[azimuths.size() / 2], std::make_pair(id, azimuths.size()));
  }
  for (const auto& [azimuth, talker] : byAzimuth)
    std::printf("talker %d: %+.1f degrees, %zu frames\n", talker.first, azimuth, talker.second);
  return 0;
}
