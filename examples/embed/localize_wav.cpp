// Localises the talkers of a two-ear recording with the library alone (no host, no plug-in):
//   localize_wav recording.wav
// prints, per source id, its median azimuth and the frames it was heard on.
// Built against an installed velk-binaural by the CMakeLists.txt beside it, or by
//   g++ -std=c++17 -O2 localize_wav.cpp -o localize_wav $(pkg-config --cflags --libs velk-binaural sndfile)
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "velk_binaural/Localizer.h"
#include "velk_binaural/Stft.h"

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
  // Every parameter at its declared default but the rate, which is checked like any parameter.
  const auto config = NSVelkBinaural::LocalizerConfig::FromParameters({{"SAMPLING_RATE", info.samplerate}});
  NSVelkBinaural::Localizer localizer(config);
  NSVelkBinaural::Stft stft({512, config.advanceSamples, 2});

  std::map<int, std::vector<double>> azimuthsById;
  NSVelkBinaural::StftFrame frame;
  auto localize = [&] {
    while (stft.Next(frame))
      for (const NSVelkBinaural::SourceReport& s : localizer.Process(frame.Stereo(), config.FrameTime(frame.index)))
        azimuthsById[s.sourceId].push_back(s.azimuthDeg);
  };
  std::vector<float> block(2 * 4096);
  for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0; localize()) stft.Push(block.data(), n);
  sf_close(file);
  stft.Finish();
  localize();

  for (auto& [id, azimuths] : azimuthsById) {
    std::nth_element(azimuths.begin(), azimuths.begin() + azimuths.size() / 2, azimuths.end());
    std::printf("source %d: %+.1f degrees, %zu frames\n", id, azimuths[azimuths.size() / 2], azimuths.size());
  }
  return 0;
}
