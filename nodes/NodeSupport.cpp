// Explicit instantiations of the scalar parameter readers used by the nodes.
#include "NodeSupport.h"

namespace NSVelkBinaural {
template int ReadScalarParameter<int>(const FD::ParameterSet&, const std::string&);
template float ReadScalarParameter<float>(const FD::ParameterSet&, const std::string&);
}  // namespace NSVelkBinaural
