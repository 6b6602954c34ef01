#include "AlsaCapture.h"

#include <poll.h>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "fd/StopRequest.h"

namespace FD {

namespace {

// How long the device may hold samples before handing them over: short enough to keep a live run
// responsive, long enough that a busy machine does not make it overrun. ALSA makes periods of a
// quarter of it.
constexpr unsigned kLatencyMicroseconds = 40000;

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct Offer {
  snd_pcm_format_t alsa;
  PcmEncoding encoding;
};
// The sample formats asked for, in order of preference.
const Offer kOffers[] = {{SND_PCM_FORMAT_S16_LE, PcmEncoding::S16},
                         {SND_PCM_FORMAT_S32_LE, PcmEncoding::S32},
                         {SND_PCM_FORMAT_FLOAT_LE, PcmEncoding::F32}};

// ALSA's own diagnostics would add lines of its configuration's internals to standard error; every
// failure is reported once instead, naming the device and what it refused.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

class AlsaCapture : public SampleStream {
 public:
  AlsaCapture(const std::string& device, int sampleRate, int channels)
      : device_(device), name_("the ALSA device \"" + device + "\""), sampleRate_(sampleRate), channels_(channels) {
    snd_lib_error_set_handler(quietAlsa);
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) throw std::runtime_error("cannot open " + name_ + " for capture: " + snd_strerror(err));
    pcm_.reset(pcm);
    for (const Offer& offer : kOffers) {
      err = snd_pcm_set_params(pcm, offer.alsa, SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(channels),
                               static_cast<unsigned>(sampleRate), 1, kLatencyMicroseconds);
      if (err == 0) {
        encoding_ = offer.encoding;
        break;
      }
    }
    if (err < 0)
      throw std::runtime_error(name_ + " cannot capture " + std::to_string(channels) + " channels at " +
                               std::to_string(sampleRate) + " Hz in 16-bit, 32-bit or float samples: " +
                               snd_strerror(err) + " (a \"plughw:\" device converts rate and format)");
    checkRate();
    err = snd_pcm_start(pcm);
    if (err < 0) throw std::runtime_error("cannot start " + name_ + ": " + snd_strerror(err));
    const int count = snd_pcm_poll_descriptors_count(pcm);
    if (count < 0) throw std::runtime_error("cannot wait for " + name_ + ": " + snd_strerror(count));
    waits_.resize(static_cast<size_t>(count) + 1);
    snd_pcm_poll_descriptors(pcm, waits_.data(), static_cast<unsigned>(count));
    waits_.back() = pollfd{stopDescriptor(), POLLIN, 0};
  }

  int channels() const override { return channels_; }
  int sampleRate() const override { return sampleRate_; }
  std::string name() const override { return name_; }

  std::size_t read(float* interleaved, std::size_t maxFrames) override {
    const size_t frameBytes = static_cast<size_t>(channels_) * static_cast<size_t>(bytesPerSample(encoding_));
    bytes_.resize(std::max<size_t>(maxFrames, 1) * frameBytes);
    while (!stopRequested()) {
      const snd_pcm_sframes_t got = snd_pcm_readi(pcm_.get(), bytes_.data(), maxFrames);
      if (got > 0) {
        const size_t frames = static_cast<size_t>(got);
        decodePcm(encoding_, bytes_.data(), frames * static_cast<size_t>(channels_), interleaved);
        nonFinite_.zero(interleaved, static_cast<long>(frames), channels_, frames_);
        frames_ += static_cast<long>(frames);
        return frames;
      }
      if (got == -EAGAIN || got == 0) {
        wait();
      } else if (got == -EPIPE || got == -ESTRPIPE) {
        // An overrun: the device had more than it could hold; what it dropped is lost.
        ++overruns_;
        const int err = snd_pcm_recover(pcm_.get(), static_cast<int>(got), 1);
        if (err < 0 || (snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm_.get()) < 0))
          throw std::runtime_error("cannot go on capturing from " + name_ + " after an overrun: " + snd_strerror(err));
      } else {
        throw std::runtime_error("cannot capture from " + name_ + ": " + snd_strerror(static_cast<int>(got)));
      }
    }
    return 0;
  }

  std::vector<std::string> reports() const override {
    std::vector<std::string> said;
    const std::string nonFinite = nonFinite_.report(name_, sampleRate_);
    if (!nonFinite.empty()) said.push_back(nonFinite);
    if (overruns_ > 0)
      said.push_back(name_ + " overran " + std::to_string(overruns_) + " time" + (overruns_ == 1 ? "" : "s") +
                     ": the run fell behind the device and samples were lost there");
    return said;
  }

 private:
  void checkRate() {
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    unsigned rate = 0;
    int dir = 0;
    if (snd_pcm_hw_params_current(pcm_.get(), params) == 0 && snd_pcm_hw_params_get_rate(params, &rate, &dir) == 0 &&
        rate != static_cast<unsigned>(sampleRate_))
      throw std::runtime_error(name_ + " captures at " + std::to_string(rate) + " Hz, not " +
                               std::to_string(sampleRate_) + " Hz (a \"plughw:\" device converts the rate)");
  }

  void wait() {
    const int n = poll(waits_.data(), waits_.size(), -1);
    if (n < 0 && errno != EINTR) throw std::runtime_error("cannot wait for " + name_ + ": " + std::strerror(errno));
  }

  std::string device_, name_;
  int sampleRate_, channels_;
  PcmEncoding encoding_ = PcmEncoding::S16;
  PcmHandle pcm_;
  std::vector<pollfd> waits_;
  std::vector<std::uint8_t> bytes_;
  long frames_ = 0;
  long overruns_ = 0;
  NonFiniteSamples nonFinite_;
};

}  // namespace

std::unique_ptr<SampleStream> openCaptureDevice(const std::string& device, int sampleRate, int channels) {
  return std::make_unique<AlsaCapture>(device, sampleRate, channels);
}

}  // namespace FD
