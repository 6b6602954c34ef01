#include "SoundFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

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

SoundPeak scanSound(const std::string& path) {
  SF_INFO info{};
  FD::SndFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
  // libsndfile would scale integer samples to +-1 only with normalisation on, the default.
  std::vector<float> block(static_cast<size_t>(4096) * static_cast<size_t>(info.channels));
  SoundPeak result;
  for (sf_count_t got; (got = sf_readf_float(file.get(), block.data(), 4096)) > 0;)
    for (size_t i = 0; i < static_cast<size_t>(got) * static_cast<size_t>(info.channels); ++i) {
      if (std::isnan(block[i])) result.notANumber = true;
      else result.peak = std::max(result.peak, std::fabs(block[i]));
    }
  return result;
}

void writePcm16From(const std::string& in, long firstFrame, const std::string& out) {
  SF_INFO info{};
  FD::SndFileHandle source(sf_open(in.c_str(), SFM_READ, &info));
  if (!source) throw std::runtime_error("cannot read " + in + ": " + sf_strerror(nullptr));
  const long frames = std::max(0L, static_cast<long>(info.frames) - std::max(0L, firstFrame));
  std::vector<double> samples(static_cast<size_t>(frames) * static_cast<size_t>(info.channels));
  if (frames > 0 && (sf_seek(source.get(), firstFrame, SEEK_SET) < 0 ||
                     sf_readf_double(source.get(), samples.data(), frames) != frames))
    throw std::runtime_error("cannot read " + in + ": the file ends early");
  SF_INFO outInfo{};
  outInfo.samplerate = info.samplerate;
  outInfo.channels = info.channels;
  outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  fileio::OutputFile output(out);
  FD::SndFileHandle target(sf_open(output.writePath().c_str(), SFM_WRITE, &outInfo));
  if (!target) throw std::runtime_error("cannot write " + out + ": " + sf_strerror(nullptr));
  if (sf_writef_double(target.get(), samples.data(), frames) != frames)
    throw std::runtime_error("cannot write " + out + ": " + sf_strerror(target.get()));
  if (sf_close(target.release()) != 0) throw std::runtime_error("cannot finish " + out);
  output.commit();
}

void writeSoundFloat(const std::string& path, int sampleRate, int channels, const std::vector<float>& samples) {
  FD::AudioFileWriter writer(path, sampleRate, channels, FD::SampleFormat::Float);
  writer.write(samples.data(), static_cast<long>(samples.size() / static_cast<size_t>(channels)));
  writer.commit();
}

}  // namespace velktool
