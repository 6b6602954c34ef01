#include "SoundFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include <sndfile.h>

namespace velktool {

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfileHandle openSound(const std::string& path, int mode, SF_INFO& info) {
  SndfileHandle file(sf_open(path.c_str(), mode, &info));
  if (!file)
    throw std::runtime_error("cannot " + std::string(mode == SFM_READ ? "read " : "write ") + path + ": " +
                             sf_strerror(nullptr));
  return file;
}

}  // namespace

SoundInfo probeSound(const std::string& path) {
  SF_INFO info{};
  SndfileHandle file = openSound(path, SFM_READ, info);
  return SoundInfo{info.channels, info.samplerate, static_cast<long>(info.frames)};
}

Sound readSound(const std::string& path) {
  SF_INFO info{};
  SndfileHandle file = openSound(path, SFM_READ, info);
  Sound sound;
  sound.info = SoundInfo{info.channels, info.samplerate, static_cast<long>(info.frames)};
  sound.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t got = sf_readf_float(file.get(), sound.samples.data(), info.frames);
  if (got != info.frames) throw std::runtime_error("cannot read " + path + ": the file ends early");
  return sound;
}

SoundPeak scanSound(const std::string& path) {
  SF_INFO info{};
  SndfileHandle file = openSound(path, SFM_READ, info);
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
  SndfileHandle source = openSound(in, SFM_READ, info);
  const long frames = std::max(0L, static_cast<long>(info.frames) - std::max(0L, firstFrame));
  std::vector<double> samples(static_cast<size_t>(frames) * static_cast<size_t>(info.channels));
  if (frames > 0 && (sf_seek(source.get(), firstFrame, SEEK_SET) < 0 ||
                     sf_readf_double(source.get(), samples.data(), frames) != frames))
    throw std::runtime_error("cannot read " + in + ": the file ends early");
  SF_INFO outInfo{};
  outInfo.samplerate = info.samplerate;
  outInfo.channels = info.channels;
  outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndfileHandle target = openSound(out, SFM_WRITE, outInfo);
  if (sf_writef_double(target.get(), samples.data(), frames) != frames)
    throw std::runtime_error("cannot write " + out + ": " + sf_strerror(target.get()));
}

void writeSoundFloat(const std::string& path, int sampleRate, int channels, const std::vector<float>& samples) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SndfileHandle file = openSound(path, SFM_WRITE, info);
  const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
  if (sf_writef_float(file.get(), samples.data(), frames) != frames)
    throw std::runtime_error("cannot write " + path + ": " + sf_strerror(file.get()));
}

}  // namespace velktool
