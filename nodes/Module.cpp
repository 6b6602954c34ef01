// Registration of the plug-in with the host, run by the loader when the library is loaded:
// the module record first, then one factory (and no picture) per node class.
#include "DelaySourceFilter.h"
#include "LocalizeBinaural.h"
#include "LoggerInitializer.h"
#include "SeparateBinaural.h"
#include "SeparateSoftMask.h"
#include "SourceMaker.h"
#include "TrackTalkers.h"

namespace {

template <class NodeClass>
void registerNode(const char* name) {
  FD::Node::addFactory(name, new FD::NodeFactory<NodeClass>(name));
  FD::Node::addXPM(name, nullptr);
}

struct ModuleRegistration {
  ModuleRegistration() {
    FD::Object::setModuleVersion("VELK_BINAURAL", "8326", "2.3.0");
    registerNode<SeparateBinaural>("SeparateBinaural");
    registerNode<SourceMaker>("SourceMaker");
    registerNode<LocalizeBinaural>("LocalizeBinaural");
    registerNode<LoggerInitializer>("LoggerInitializer");
    registerNode<DelaySourceFilter>("DelaySourceFilter");
    registerNode<TrackTalkers>("TrackTalkers");
    registerNode<SeparateSoftMask>("SeparateSoftMask");
  }
};

const ModuleRegistration registration;

}  // namespace
