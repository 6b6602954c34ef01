// The streams behind the Python module, in plain C++: samples in, localised sources or separated
// samples out, with the command line's frame geometry and defaults. The module's bindings only
// convert arrays and arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/Localizer.h"
#include "velk_binaural/PassBandSeparator.h"
#include "velk_binaural/SoftMaskSeparator.h"
#include "velk_binaural/Stft.h"
#include "velk_binaural/TableLoader.h"
#include "velk_binaural/TalkerTracker.h"
#include "velkparam/Parameter.h"

namespace velkpy {

// The sampling rate the parameter tables declare as default, Hz.
int DeclaredRate();

// The measured tables of a file, read once and shared by every stream made with them.
struct Tables {
  NSVelkBinaural::TableRequest request;
  boost::shared_ptr<NSVelkBinaural::IIPDS> tables;
};

// The spherical head of the epipolar method: head radius and talker distance, metres.
struct HeadModel {
  float radius;
  float distance;
};

// How directions are judged: method "epipolar" or "measured", or empty to let `tables` decide
// (measured with tables, else epipolar).
struct Model {
  std::string method;
  std::optional<Tables> tables;
  std::optional<HeadModel> head;
};

// One source of one frame.
struct TrackPoint {
  std::int32_t id;
  double azimuth;  // degrees, positive to the left
  double time;     // seconds, the frame's centre
};

// Reads the tables of channels `left` and `right` of a transfer-function file (TableError naming
// the file when it cannot be used).
Tables LoadTables(const std::string& path, int left, int right);
// The head model with the given radius and distance, the applications' defaults for those not
// given; checked by the localiser's parameter table (velkparam::ParameterError).
HeadModel MakeHeadModel(std::optional<float> radius, std::optional<float> distance);
// The example table the command line uses for the measured method.
std::string DefaultTablePath();

// The localiser over a stream of two-ear samples, followed by the talker tracker unless the
// localiser's own sources are asked for.
class LocalizerStream {
 public:
  // `tracks` is "talkers" or "events"; `params` are parameters of the localiser or of the talker
  // tracker, by name. Throws velkparam::ParameterError (a std::invalid_argument) for a refused
  // value, std::invalid_argument for arguments that contradict each other, and TableError for
  // unusable tables.
  LocalizerStream(int fs, const Model& model, const std::string& tracks, const velkparam::Values& params);

  // Takes `frames` interleaved samples (left, right) and returns the sources of every frame they
  // completed, frame after frame.
  std::vector<TrackPoint> Process(const float* interleaved, std::size_t frames);
  // Ends the stream and returns the sources of the frames still waiting for samples.
  std::vector<TrackPoint> Finish();

  // The parameters the localiser (and the tracker) run with, as text.
  std::map<std::string, std::string> ParameterTexts() const;

 private:
  void Drain(std::vector<TrackPoint>& points);

  velkparam::Values localizerValues_, trackerValues_;
  NSVelkBinaural::LocalizerConfig config_;
  std::unique_ptr<NSVelkBinaural::Localizer> localizer_;
  std::unique_ptr<NSVelkBinaural::TalkerTracker> tracker_;  // null for the localiser's own sources
  std::vector<NSVelkBinaural::SourceReport> reports_;       // the frame's sources as the tracker takes them
  std::unique_ptr<NSVelkBinaural::Stft> stft_;  // made once the frame shift is known
  NSVelkBinaural::StftFrame frame_;
  bool finished_ = false;
};

// One frame's separation, whichever separator does it.
class FrameSeparator {
 public:
  virtual ~FrameSeparator() = default;
  // Separates the frame for the talkers at `targets` (ids = positions) and leaves in `spectra`
  // per talker its spectrum, or null when the separator gives none on this frame.
  virtual void Separate(const NSVelkBinaural::StereoSpectrumView& frame,
                        const std::vector<NSVelkBinaural::SeparationTarget>& targets,
                        std::vector<const std::complex<float>*>& spectra) = 0;
};

// A separator over a stream of two-ear samples, for talkers of known directions.
class SeparatorStream {
 public:
  // `separator` is "mask" or "passband"; errors as LocalizerStream.
  SeparatorStream(int fs, const std::string& separator, const Model& model, const velkparam::Values& params);
  ~SeparatorStream();

  // Takes `frames` interleaved samples and the talkers' azimuths (degrees, -90 .. 90; as many on
  // every call) and returns per direction the separated samples completed so far, the same
  // number for each.
  std::vector<std::vector<float>> Process(const float* interleaved, std::size_t frames,
                                          const std::vector<double>& directionsDeg);
  // Ends the stream: per direction the remaining samples, so that each output is exactly as long
  // as the input.
  std::vector<std::vector<float>> Finish();

 private:
  void SetDirections(const std::vector<double>& directionsDeg);
  void Drain();
  std::vector<std::vector<float>> Pull();

  std::unique_ptr<FrameSeparator> separator_;
  NSVelkBinaural::StftConfig frames_;
  std::unique_ptr<NSVelkBinaural::Stft> stft_;  // made once the frame shift is known
  NSVelkBinaural::StftFrame frame_;
  std::vector<NSVelkBinaural::SeparationTarget> targets_;
  std::vector<std::unique_ptr<NSVelkBinaural::Istft>> outputs_;  // per direction
  std::vector<const std::complex<float>*> spectra_;               // per direction, of the current frame
  std::vector<std::complex<float>> silence_;                      // the spectrum of a frame without the talker
  long samplesIn_ = 0, samplesOut_ = 0;
  bool started_ = false, finished_ = false;
};

}  // namespace velkpy
