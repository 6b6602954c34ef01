// A view of one frame's two-ear spectrum, the unit the per-frame pipelines consume.
#pragma once

#include <complex>
#include <cstddef>

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

// Non-owning view of one frame: bins 0 .. nfft/2 of the left ear and of the right ear (rows 0
// and 1 of a spectrum matrix), from the forward transform X[k] = sum x[n] e^(-j2 pi k n / N).
struct VELK_API StereoSpectrumView {
  const std::complex<float>* left = nullptr;
  const std::complex<float>* right = nullptr;
  std::size_t bins = 0;  // nfft / 2 + 1
};

}  // namespace NSVelkBinaural
