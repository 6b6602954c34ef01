// Short-time spectra of a stream of samples, and the signal back from them: the front end for
// live audio and for callers that hold samples rather than files.
//
// The frames and spectra are exactly those of the host's AudioFileSource and MultiFFT for the same
// signal, length, advance and window: frame k holds `length` samples centred on sample
// k x advance, zeros outside the signal, windowed and transformed unscaled. Samples may be pushed
// in blocks of any size; a frame is ready as soon as its last sample has arrived (length/2 samples
// after its centre), or when the end of the signal is declared.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "velk_binaural/Export.h"
#include "velk_binaural/StereoSpectrum.h"
#include "velkdsp/ShortTime.h"

namespace NSVelkBinaural {

struct VELK_API StftConfig {
  int length = 512;   // frame length and transform length, samples; even
  int advance = 160;  // frame shift, samples
  int channels = 2;   // channel 0 is the left ear
  velkdsp::WindowShape window = velkdsp::WindowShape::Hann;
};

// The spectra of one frame, channel after channel.
struct VELK_API StftFrame {
  long index = 0;   // frame k is centred on sample k x advance
  int channels = 0;
  std::size_t bins = 0;  // length / 2 + 1
  std::vector<std::complex<float>> data;  // channels x bins

  const std::complex<float>* Channel(int c) const { return data.data() + static_cast<std::size_t>(c) * bins; }
  // Channels 0 (left) and 1 (right) as the pipelines take them.
  StereoSpectrumView Stereo() const { return StereoSpectrumView{Channel(0), Channel(1), bins}; }
};

class VELK_API Stft {
 public:
  // std::invalid_argument for a length below 2 or odd, an advance below 1 or above the length, or
  // no channel.
  explicit Stft(const StftConfig& config);
  ~Stft();

  // Appends `frames` samples per channel, interleaved (channel 0 first).
  void Push(const float* interleaved, std::size_t frames);
  // Declares the end of the signal: the frames that still lacked samples become ready, with zeros
  // past the end. A signal of n samples has ceil(n / advance) frames. Nothing may be pushed after.
  void Finish();
  // Takes the next ready frame into `frame`; false when none is ready.
  bool Next(StftFrame& frame);

  const StftConfig& Config() const { return config_; }

 private:
  bool Ready(long k) const;
  // Drops, once they are as many as the samples kept, the samples no frame from `k` on needs.
  void Discard(long k);

  StftConfig config_;
  velkdsp::FrameAnalysis analysis_;
  std::vector<std::vector<float>> pending_;  // per channel, samples from pendingStart_ on
  long pendingStart_ = 0;
  long pushed_ = 0;
  long next_ = 0;  // next frame to deliver
  bool finished_ = false;
  std::vector<float> frame_;
};

// The signal back from (possibly modified) short-time spectra by inverse transform and weighted
// overlap-add, as the host's Synthesize node does it: unchanged spectra give the signal back
// exactly (to float rounding). The output comes in blocks of `advance` samples; block k
// (samples [k x advance, (k + 1) x advance)) is complete once frame k + LookAhead() is pushed.
class VELK_API Istft {
 public:
  // The configuration of the analysis the spectra came from. std::invalid_argument as Stft, or
  // when the advance leaves some sample without weight.
  explicit Istft(const StftConfig& config);
  ~Istft();

  // Adds the spectra of the next frame (frames in order from 0; `frame.index` is not read).
  void Push(const StftFrame& frame);
  // Adds one frame given as one spectrum per channel.
  void Push(const std::complex<float>* const* channels);
  // Declares that no more frames come: the blocks still waiting for later frames are completed
  // with the frames there are.
  void Finish();
  // Appends the completed samples (interleaved) to `out` and returns how many samples per channel
  // were appended.
  std::size_t Pull(std::vector<float>& out);

  int LookAhead() const { return synthesis_.lookAhead(); }

 private:
  void TakeBlock(bool final);

  StftConfig config_;
  velkdsp::FrameSynthesis synthesis_;
  std::vector<velkdsp::OverlapAdd> channels_;
  long frames_ = 0;      // frames pushed
  long blocks_ = 0;      // blocks completed
  std::vector<float> ready_;  // completed samples, interleaved
  std::vector<float> block_;
};

}  // namespace NSVelkBinaural
