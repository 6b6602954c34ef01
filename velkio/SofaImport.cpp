#include "velkio/SofaImport.h"

#include <mysofa.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace velkio {
namespace {

constexpr double kPi = 3.14159265358979323846;
// How close (degrees) a measured direction must be to a wanted one to stand for it.
constexpr double kAngleTolerance = 0.01;

struct SofaDeleter {
  void operator()(MYSOFA_HRTF* hrtf) const { mysofa_free(hrtf); }
};
using SofaPtr = std::unique_ptr<MYSOFA_HRTF, SofaDeleter>;

// "44100 Hz".
std::string hertz(double rate) {
  std::ostringstream text;
  text << rate << " Hz";
  return text.str();
}

std::string sofaErrorText(int err) {
  switch (err) {
    case MYSOFA_INVALID_FORMAT: return "not a SOFA file";
    case MYSOFA_UNSUPPORTED_FORMAT: return "unsupported SOFA variant";
    case MYSOFA_NO_MEMORY: return "out of memory";
    case MYSOFA_READ_ERROR: return "read error";
    case MYSOFA_INVALID_ATTRIBUTES: return "invalid attributes (not a SimpleFreeFieldHRIR set?)";
    case MYSOFA_INVALID_DIMENSIONS: return "invalid dimensions";
    case MYSOFA_INVALID_DIMENSION_LIST: return "invalid dimension list";
    case MYSOFA_INVALID_COORDINATE_TYPE: return "invalid coordinate type";
    case MYSOFA_ONLY_EMITTER_WITH_ECI_SUPPORTED: return "unsupported emitter layout";
    case MYSOFA_ONLY_DELAYS_WITH_IR_OR_MR_SUPPORTED: return "unsupported delay layout";
    case MYSOFA_ONLY_THE_SAME_SAMPLING_RATE_SUPPORTED: return "more than one sampling rate";
    case MYSOFA_RECEIVERS_WITH_RCI_SUPPORTED: return "unsupported receiver layout";
    case MYSOFA_RECEIVERS_WITH_CARTESIAN_SUPPORTED: return "receiver positions are not cartesian";
    case MYSOFA_INVALID_RECEIVER_POSITIONS: return "invalid receiver positions";
    case MYSOFA_ONLY_SOURCES_WITH_MC_SUPPORTED: return "unsupported source layout";
    default:
      // Below the library's own codes, errors are the system's (a missing file, no permission).
      if (err > 0 && err < MYSOFA_INVALID_FORMAT) return std::strerror(err);
      return "error " + std::to_string(err);
  }
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw FileError(path + ": " + what);
}

void checkOptions(const SofaImportOptions& options) {
  if (options.fs <= 0) throw std::invalid_argument("the sampling rate must be positive");
  if (options.nfft < 2 || options.nfft % 2 != 0)
    throw std::invalid_argument("the transform length must be even and at least 2");
  const int span = options.range == DirectionRange::FRONT ? 180 : 360;
  if (options.step <= 0 || span % options.step != 0)
    throw std::invalid_argument("the direction step must be a positive divisor of " +
                                std::to_string(span) + " degrees");
}

// Angle difference folded into (-180, 180].
double wrappedDifference(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

// Index of the first measurement at elevation 0 and the given azimuth, or -1. Positions must be
// spherical (azimuth, elevation in degrees, radius).
long findHorizontal(const MYSOFA_HRTF& hrtf, int azimuth) {
  for (unsigned m = 0; m < hrtf.M; ++m) {
    const float* p = hrtf.SourcePosition.values + 3 * m;
    if (std::fabs(p[1]) <= kAngleTolerance &&
        std::fabs(wrappedDifference(p[0], azimuth)) <= kAngleTolerance)
      return static_cast<long>(m);
  }
  return -1;
}

// The delay of receiver r in measurement m, in samples of the set's own rate.
double delaySamples(const MYSOFA_HRTF& hrtf, unsigned m, unsigned r) {
  const MYSOFA_ARRAY& delay = hrtf.DataDelay;
  if (delay.values == nullptr) return 0.0;
  if (delay.elements == hrtf.R) return delay.values[r];
  if (delay.elements == hrtf.M * hrtf.R) return delay.values[m * hrtf.R + r];
  return 0.0;
}

// X[k] = sum h[n] e^(-j 2 pi k n / nfft) for k = 0 .. nfft/2, over the first nfft samples, then
// shifted by the response's delay.
Bins transform(const float* h, unsigned n, int nfft, double delaySeconds, int fs) {
  std::vector<double> cosTable(nfft), sinTable(nfft);
  for (int i = 0; i < nfft; ++i) {
    cosTable[i] = std::cos(2.0 * kPi * i / nfft);
    sinTable[i] = std::sin(2.0 * kPi * i / nfft);
  }
  const std::uint64_t used = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(nfft));
  Bins bins(nfft / 2 + 1);
  for (std::uint64_t k = 0; k < bins.size(); ++k) {
    double re = 0.0, im = 0.0;
    for (std::uint64_t t = 0; t < used; ++t) {
      const std::size_t i = static_cast<std::size_t>((k * t) % nfft);
      re += h[t] * cosTable[i];
      im -= h[t] * sinTable[i];
    }
    std::complex<double> x(re, im);
    if (delaySeconds != 0.0)
      x *= std::polar(1.0, -2.0 * kPi * (static_cast<double>(k) * fs / nfft) * delaySeconds);
    bins[k] = std::complex<float>(static_cast<float>(x.real()), static_cast<float>(x.imag()));
  }
  return bins;
}

SofaPtr load(const std::string& path) {
  int err = 0;
  SofaPtr hrtf(mysofa_load(path.c_str(), &err));
  if (!hrtf || err != MYSOFA_OK) fail(path, "cannot read the SOFA file: " + sofaErrorText(err));
  err = mysofa_check(hrtf.get());
  if (err != MYSOFA_OK)
    fail(path, "not a usable SimpleFreeFieldHRIR set: " + sofaErrorText(err));
  if (hrtf->R == 0 || hrtf->N == 0 || hrtf->M == 0) fail(path, "the set holds no responses");
  if (hrtf->DataIR.elements != hrtf->M * hrtf->R * hrtf->N)
    fail(path, "the response array does not match the set's dimensions");
  if (hrtf->SourcePosition.elements != hrtf->M * 3)
    fail(path, "the source positions do not match the set's dimensions");
  if (hrtf->DataSamplingRate.elements < 1 || !(hrtf->DataSamplingRate.values[0] > 0.0f))
    fail(path, "the set has no valid sampling rate");
  mysofa_tospherical(hrtf.get());
  return hrtf;
}

void noteEarOrder(const MYSOFA_HRTF& hrtf, std::vector<std::string>* notes) {
  if (!notes || hrtf.R < 2 || hrtf.ReceiverPosition.elements < 6) return;
  const float* rp = hrtf.ReceiverPosition.values;
  if (rp[1] < rp[4])
    notes->push_back("receiver 0 lies to the right of receiver 1 (y " + std::to_string(rp[1]) +
                     " < " + std::to_string(rp[4]) + "); channel 0 holds that receiver");
}

}  // namespace

std::vector<int> importAzimuths(const SofaImportOptions& options) {
  checkOptions(options);
  std::vector<int> azimuths;
  if (options.range == DirectionRange::FRONT) {
    for (int a = -90; a <= 90; a += options.step) azimuths.push_back(a);
  } else {
    for (int a = -180; a < 180; a += options.step) azimuths.push_back(a);
  }
  return azimuths;
}

Position horizontalPosition(int degrees, double r) {
  const double rad = degrees * kPi / 180.0;
  Position p;
  p.x = static_cast<float>(r * std::cos(rad));
  p.y = static_cast<float>(r * std::sin(rad));
  // sin(-pi) rounds to a tiny value whose sign decides between -180 and +180; pin it down.
  if (degrees == -180) p.y = -0.0f;
  if (degrees == 180) p.y = 0.0f;
  return p;
}

VELK importSofa(const std::string& path, const SofaImportOptions& options,
                std::vector<std::string>* notes) {
  const std::vector<int> azimuths = importAzimuths(options);
  SofaPtr hrtf = load(path);
  noteEarOrder(*hrtf, notes);

  std::vector<unsigned> picked;
  PositionList src;
  for (int azimuth : azimuths) {
    const long m = findHorizontal(*hrtf, azimuth);
    if (m < 0)
      fail(path, "the set has no measurement at azimuth " + std::to_string(azimuth) +
                     " degrees, elevation 0 (try another --step or --range)");
    picked.push_back(static_cast<unsigned>(m));
    src.push_back({horizontalPosition(azimuth, hrtf->SourcePosition.values[3 * m + 2])});
  }

  // Delays are in samples of the set's own rate: take them before resampling changes it.
  const float setRate = hrtf->DataSamplingRate.values[0];
  std::vector<std::vector<double>> delays(picked.size(), std::vector<double>(hrtf->R));
  for (std::size_t d = 0; d < picked.size(); ++d)
    for (unsigned r = 0; r < hrtf->R; ++r)
      delays[d][r] = delaySamples(*hrtf, picked[d], r) / setRate;

  if (setRate != static_cast<float>(options.fs)) {
    const int err = mysofa_resample(hrtf.get(), static_cast<float>(options.fs));
    if (err != MYSOFA_OK)
      fail(path, "cannot resample from " + hertz(setRate) + " to " + hertz(options.fs) +
                     (err == MYSOFA_INVALID_FORMAT ? " (the SOFA library resamples to 8000 Hz or more)"
                                                   : ": " + sofaErrorText(err)));
    if (hrtf->N == 0 || hrtf->DataIR.elements != hrtf->M * hrtf->R * hrtf->N)
      fail(path, "resampling gave responses of an unexpected size");
  }
  if (notes && hrtf->N > static_cast<unsigned>(options.nfft)) {
    std::ostringstream note;
    note << "the responses are " << hrtf->N << " samples long at " << options.fs
         << " Hz; the transform keeps the first " << options.nfft;
    notes->push_back(note.str());
  }

  auto tf = std::make_shared<TransferFunctions>();
  for (std::size_t d = 0; d < picked.size(); ++d) {
    ChannelResponses channels;
    for (unsigned r = 0; r < hrtf->R; ++r) {
      const float* ir = hrtf->DataIR.values + (std::size_t{picked[d]} * hrtf->R + r) * hrtf->N;
      channels.push_back(transform(ir, hrtf->N, options.nfft, delays[d][r], options.fs));
    }
    tf->push_back(std::move(channels));
  }

  VELK file;
  file.addChunk(std::make_shared<FMT>(FMT::MEASURED, options.fs, options.nfft,
                                      static_cast<int>(hrtf->N)));
  file.addChunk(std::make_shared<M2PG>(std::move(src), std::move(tf)));
  return file;
}

}  // namespace velkio
