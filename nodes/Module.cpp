// Registration of the plug-in with the host, run by the loader when the library is loaded:
// the module record first, then one factory (and no picture) per node class.
#include "fd/Node.h"

namespace {

struct ModuleRegistration {
  ModuleRegistration() { FD::Object::setModuleVersion("VELK_BINAURAL", "8326", "2.3.0"); }
};

const ModuleRegistration registration;

}  // namespace
