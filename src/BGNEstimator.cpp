#include "velk_binaural/BGNEstimator.h"

#include <cmath>
#include <stdexcept>

namespace NSVelkBinaural {

namespace {

// Offset that keeps the logarithm finite for a band that was silent in every frame (-2000 dB).
constexpr long double kSilenceOffset = 1e-100L;

float MeanMagnitudeToDecibel(float sum, std::uint32_t frames) {
  long double mean = kSilenceOffset + static_cast<long double>(sum) / frames;
  return static_cast<float>(20.0 * std::log10(static_cast<double>(mean)));
}

// |x|, squared and rooted in double: a float spectrum can neither overflow nor underflow there, so
// the library's careful (and slow) hypot is not needed.
float Magnitude(const std::complex<float>& x) {
  const double re = x.real(), im = x.imag();
  return static_cast<float>(std::sqrt(re * re + im * im));
}

std::complex<float> Mean(const std::complex<float>& sum, std::uint32_t frames) {
  float n = static_cast<float>(frames);
  return std::complex<float>(sum.real() / n, sum.imag() / n);
}

}  // namespace

BGNEstimator::BGNEstimator(unsigned int estimateLength)
    : estimateCounter_(0), estimateLength_(estimateLength), estimated_(false) {
  // An average over no frame has no value; it would make every noise level NaN.
  if (estimateLength == 0) throw std::invalid_argument("estimateLength must be at least 1");
}

FloatPairPtr BGNEstimator::BGNoise() const { return estimated_ ? bgnoise_ : FloatPairPtr(); }

ComplexPairPtr BGNEstimator::BGNoiseSpectra() const {
  return estimated_ ? bgnoiseSpectra_ : ComplexPairPtr();
}

void BGNEstimator::Estimate(const ComplexPairPtr& spectra) {
  if (!IsEqualSignalSize(spectra)) return;
  if (estimateCounter_ > estimateLength_) return;  // frozen for good
  if (estimateCounter_ == estimateLength_) {
    Complete();
    return;
  }

  Logger* logger = Logger::Global();
  if (estimateCounter_ == 0) {
    if (logger->IsLoggable(LogLevel::FINE))
      logger->Log(LogLevel::FINE, "estimateCounter == 0 , creating bgnoiseSpectra", "", "");
    CreateAccumulators(spectra->left->size);
  } else if (spectra->left->size != bgnoise_->left->size) {
    // Checked before anything changes, so that a stray frame cannot leave a partial sum behind.
    throw std::out_of_range("index is out of range");
  }
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("estimating noise: estimateCounter == %d") % estimateCounter_,
                "BGNEstimator", "Estimate");
  ++estimateCounter_;
  Accumulate(*spectra);
}

void BGNEstimator::CreateAccumulators(size_t bands) {
  ComplexSignalPtr spectraLeft(new ComplexSignal(bands, std::complex<float>(0.0f, 0.0f)));
  ComplexSignalPtr spectraRight(new ComplexSignal(bands, std::complex<float>(0.0f, 0.0f)));
  FloatSignalPtr levelLeft(new FloatSignal(bands, 0.0f));
  FloatSignalPtr levelRight(new FloatSignal(bands, 0.0f));
  bgnoiseSpectra_.reset(new ComplexPair(spectraLeft, spectraRight));
  bgnoise_.reset(new FloatPair(levelLeft, levelRight));
}

void BGNEstimator::Accumulate(const ComplexPair& spectra) {
  const ComplexSignal& left = *spectra.left;
  const ComplexSignal& right = *spectra.right;
  FloatSignal& levelLeft = *bgnoise_->left;
  FloatSignal& levelRight = *bgnoise_->right;
  ComplexSignal& sumLeft = *bgnoiseSpectra_->left;
  ComplexSignal& sumRight = *bgnoiseSpectra_->right;
  for (size_t i = 0; i < left.size; ++i) {
    levelLeft.At(i) += Magnitude(left.At(i));
    sumLeft.At(i) += left.At(i);
    levelRight.At(i) += Magnitude(right.At(i));
    sumRight.At(i) += right.At(i);
  }
}

// Turns the sums into the final values. Every accumulated band is converted, whatever the
// length of the frame that triggers the completion (that frame is not part of the average).
void BGNEstimator::Complete() {
  estimateCounter_ = estimateLength_ + 1;
  FloatSignal& levelLeft = *bgnoise_->left;
  FloatSignal& levelRight = *bgnoise_->right;
  ComplexSignal& sumLeft = *bgnoiseSpectra_->left;
  ComplexSignal& sumRight = *bgnoiseSpectra_->right;
  for (size_t i = 0; i < levelLeft.size; ++i) {
    levelLeft.At(i) = MeanMagnitudeToDecibel(levelLeft.At(i), estimateLength_);
    sumLeft.At(i) = Mean(sumLeft.At(i), estimateLength_);
    levelRight.At(i) = MeanMagnitudeToDecibel(levelRight.At(i), estimateLength_);
    sumRight.At(i) = Mean(sumRight.At(i), estimateLength_);
  }
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, "got background noise", "BGNEstimator", "Estimate");
  estimated_ = true;
}

}  // namespace NSVelkBinaural
