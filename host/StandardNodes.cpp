#include "fd/StandardNodes.h"

#include "fd/AudioFileSource.h"
#include "fd/AudioStreamSource.h"
#include "fd/MultiFFT.h"
#include "fd/SaveSeparatedStream.h"
#include "fd/SaveSeparatedWaves.h"
#include "fd/SaveWave.h"
#include "fd/SourceRecorder.h"
#include "fd/Synthesize.h"

namespace FD {

namespace {
template <class NodeClass>
void add(const char* name) {
  Node::addFactory(name, new NodeFactory<NodeClass>(name));
}
}  // namespace

void registerStandardNodes() {
  add<AudioFileSource>("AudioFileSource");
  add<AudioStreamSource>("AudioStreamSource");
  add<AudioDeviceSource>("AudioDeviceSource");
  add<MultiFFT>("MultiFFT");
  add<Synthesize>("Synthesize");
  add<SaveWave>("SaveWave");
  add<SaveSeparatedWaves>("SaveSeparatedWaves");
  add<SaveSeparatedStream>("SaveSeparatedStream");
  add<SourceRecorder>("SourceRecorder");
}

}  // namespace FD
