#include "SoundFile.h"

#include <algorithm>
#include <stdexcept>

#include <sndfile.h>

#include "fd/AudioFile.h"
#include "fd/Warning.h"

namespace velktool {

SoundInfo probeSound(const std::string& path) {
  SF_INFO info{};
  FD::SndFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
  return SoundInfo{info.channels, info.samplerate, static_cast<long>(info.frames)};
}

Sound readSound(const std::string& path) {
  FD::AudioFileReader reader(path);
  Sound sound;
  sound.info = SoundInfo{reader.channels(), reader.sampleRate(), reader.samples()};
  sound.samples.resize(static_cast<size_t>(reader.samples()) * static_cast<size_t>(reader.channels()));
  constexpr int kBlock = 1 << 16;
  for (long first = 0; first < reader.samples(); first += kBlock)
    reader.read(first, static_cast<int>(std::min<long>(kBlock, reader.samples() - first)),
                sound.samples.data() + static_cast<size_t>(first) * static_cast<size_t>(reader.channels()));
  const std::string report = reader.nonFiniteReport();
  if (!report.empty()) FD::warn(report);
  return sound;
}

void writeSoundFloat(const std::string& path, int sampleRate, int channels, const std::vector<float>& samples) {
  FD::AudioFileWriter writer(path, sampleRate, channels, FD::SampleFormat::Float);
  writer.write(samples.data(), static_cast<long>(samples.size() / static_cast<size_t>(channels)));
  writer.commit();
}

}  // namespace velktool
