// Instantiations of the signal containers used across the library.
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {
template class SignalBase<float>;
template class SignalBase<std::complex<float>>;
template class ChannelHolder<FloatSignalPtr, FloatSignalPtr>;
template class ChannelHolder<ComplexSignalPtr, ComplexSignalPtr>;
template bool IsEqualSignalSize<float>(const FloatPairPtr&);
template bool IsEqualSignalSize<std::complex<float>>(const ComplexPairPtr&);
}  // namespace NSVelkBinaural
