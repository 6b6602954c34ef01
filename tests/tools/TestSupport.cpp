#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

#include "fd/NetworkFile.h"

namespace hostio {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "hostio-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void writeWav(const std::string& path, int rate, int channels, const std::vector<float>& interleaved, int subformat) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | subformat;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path);
  sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(f);
}

Sound readWav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) throw std::runtime_error("cannot read " + path);
  Sound s;
  s.rate = info.samplerate;
  s.channels = info.channels;
  s.frames = info.frames;
  s.samples.resize(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_float(f, s.samples.data(), info.frames);
  sf_close(f);
  return s;
}

std::vector<short> readPcm16(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::vector<short> out(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_short(f, out.data(), info.frames);
  sf_close(f);
  return out;
}

std::vector<float> testSignal(long frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 0.05f);
  std::vector<float> x(static_cast<size_t>(frames) * 2);
  for (long n = 0; n < frames; ++n) {
    const double t = n / 16000.0;
    x[2 * n] = static_cast<float>(0.4 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * (200 + 3000 * t) * t)) +
               noise(rng);
    x[2 * n + 1] = static_cast<float>(0.3 * std::cos(2 * M_PI * 1234.5 * t)) + noise(rng);
  }
  return x;
}

std::string realRecording(const TempDir& dir) {
  const std::string scene = std::string(VELK_SCENES_DIR) + "/single_p20_snr20/mix.wav";
  if (fs::exists(scene)) return scene;
  const std::string alsa = "/usr/share/sounds/alsa/Front_Center.wav";
  const std::string converted = dir.file("front_center.wav");
  if (fs::exists(alsa) && std::system(("sox -q " + alsa + " -r 16000 -c 2 " + converted + " 2>/dev/null").c_str()) == 0)
    return converted;
  return "";
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {
std::string textOf(FD::BaseException* e) {
  std::unique_ptr<FD::BaseException> owner(e);
  std::string s;
  if (auto* stack = dynamic_cast<FD::ExceptionStack*>(e)) {
    for (FD::BaseException* entry : stack->entries()) s += entry->text() + " | ";
    return s;
  }
  return e->text();
}
}  // namespace

long runNetworkText(const std::string& text, const std::string& directory, long frames) {
  try {
    FD::NetworkSpec plan = FD::parseNetwork(text, "test.json", directory);
    FD::Network network;
    FD::buildNetwork(plan, network);
    return network.run(frames);
  } catch (FD::BaseException* e) {
    throw std::runtime_error(textOf(e));
  }
}

std::string networkError(const std::string& text, const std::string& directory, long frames) {
  try {
    runNetworkText(text, directory, frames);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

namespace {
std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

ToolResult runTool(const std::vector<std::string>& args) {
  TempDir dir;
  std::string command = shellQuoted(VELK_TOOL);
  for (const std::string& a : args) command += " " + shellQuoted(a);
  command += " >" + dir.file("out") + " 2>" + dir.file("err") + " </dev/null";
  const int status = std::system(command.c_str());
  ToolResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(dir.file("out"));
  r.err = slurp(dir.file("err"));
  return r;
}

}  // namespace hostio
