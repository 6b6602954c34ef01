#include "FastMath.h"

namespace NSVelkBinaural {
namespace FastMath {

// One build per vector width; the loader picks the one the processor runs best.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VELK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELK_VECTOR_CLONES
#endif

VELK_VECTOR_CLONES
void LevelsDb(const std::complex<float>* in, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = LevelDb(in[i]);
}

VELK_VECTOR_CLONES
void LevelDifferencesDb(const std::complex<float>* a, const std::complex<float>* b, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = LevelDb(a[i]) - LevelDb(b[i]);
}

VELK_VECTOR_CLONES
void PhaseDifferences(const std::complex<float>* a, const std::complex<float>* b, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = PhaseDifference(a[i], b[i]);
}

}  // namespace FastMath
}  // namespace NSVelkBinaural
