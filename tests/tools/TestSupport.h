// Helpers for the host audio and network-file tests: temporary folders, WAV files, running
// networks in the process and running the command-line tool.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

#include "fd/Network.h"

namespace hostio {

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct Sound {
  int rate = 0, channels = 0;
  long frames = 0;
  std::vector<float> samples;  // interleaved
  float at(long n, int c) const { return samples[static_cast<size_t>(n) * channels + c]; }
};

void writeWav(const std::string& path, int rate, int channels, const std::vector<float>& interleaved,
              int subformat = SF_FORMAT_FLOAT);
Sound readWav(const std::string& path);
// The 16-bit samples of a PCM16 file, interleaved.
std::vector<short> readPcm16(const std::string& path);

// A two-channel test signal of `frames` samples: tones, a chirp and noise, different per channel.
std::vector<float> testSignal(long frames, unsigned seed = 1);

// A real 16 kHz two-channel recording: a scene's mixture when the scenes are there, else the ALSA
// test phrase converted with sox. Empty when neither is available.
std::string realRecording(const TempDir& dir);

void writeText(const std::string& path, const std::string& text);
std::vector<std::string> readLines(const std::string& path);

// Parses, builds and runs a network text in this process (at most `frames` frames when >= 0).
// Host exceptions are turned into std::runtime_error with their text, so tests can inspect them.
long runNetworkText(const std::string& text, const std::string& directory, long frames = -1);
// The text of the host exception that building or running the network throws; "" when none.
std::string networkError(const std::string& text, const std::string& directory, long frames = -1);

struct ToolResult {
  int code = -1;
  std::string out, err;
};
ToolResult runTool(const std::vector<std::string>& args);

}  // namespace hostio
