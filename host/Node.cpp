#include "fd/Node.h"

#include <algorithm>
#include <map>

#include "fd/StandardNodes.h"

namespace FD {

namespace {
struct Registry {
  std::map<std::string, std::unique_ptr<_NodeFactory>> factories;
  std::map<std::string, char**> pictures;
};
Registry& registry() {
  static Registry r;
  return r;
}

// The host's own nodes enter the registry on its first use, so they are there before any
// plug-in's (which may replace them) without depending on the order of static initialisers.
void ensureStandardNodes() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  registerStandardNodes();
}

int lookAheadOf(const ParameterSet& req, const char* field) {
  if (!req.exist(field)) return 0;
  return object_cast<Int>(req.get(field)).val();
}
}  // namespace

// ---- Node -------------------------------------------------------------------------------------

Node::Node(std::string nodeName, const ParameterSet& params)
    : name_(std::move(nodeName)), parameters(params) {
  parameters.setOwner(name_);
}

Node::~Node() = default;

int Node::addInput(const std::string& inputName) {
  int id = inputId(inputName);
  if (id >= 0) return id;
  inputNames_.push_back(inputName);
  links_.push_back({});
  return static_cast<int>(inputNames_.size()) - 1;
}

int Node::addOutput(const std::string& outputName) {
  int id = outputId(outputName);
  if (id >= 0) return id;
  outputNames_.push_back(outputName);
  return static_cast<int>(outputNames_.size()) - 1;
}

int Node::inputId(const std::string& inputName) const {
  auto it = std::find(inputNames_.begin(), inputNames_.end(), inputName);
  return it == inputNames_.end() ? -1 : static_cast<int>(it - inputNames_.begin());
}

int Node::outputId(const std::string& outputName) const {
  auto it = std::find(outputNames_.begin(), outputNames_.end(), outputName);
  return it == outputNames_.end() ? -1 : static_cast<int>(it - outputNames_.begin());
}

void Node::connectInput(int inputId, Node* source, int outputId) {
  if (inputId < 0 || inputId >= static_cast<int>(links_.size()))
    throw new NodeException(this, "no input with id " + std::to_string(inputId), __FILE__, __LINE__);
  if (!source || outputId < 0 || outputId >= static_cast<int>(source->outputNames().size()))
    throw new NodeException(this, "input \"" + inputNames_[inputId] + "\" connected to a missing output",
                            __FILE__, __LINE__);
  links_[inputId] = {source, outputId};
}

bool Node::isConnected(int inputId) const {
  return inputId >= 0 && inputId < static_cast<int>(links_.size()) && links_[inputId].node;
}

Node* Node::inputNode(int inputId) const { return isConnected(inputId) ? links_[inputId].node : nullptr; }

long Node::streamSamples() const {
  for (const InputLink& link : links_)
    if (link.node) return link.node->streamSamples();
  return -1;
}

int Node::inputSourceOutput(int inputId) const { return isConnected(inputId) ? links_[inputId].outputId : -1; }

void Node::verifyConnect() const {
  for (size_t i = 0; i < links_.size(); ++i)
    if (!links_[i].node)
      throw new NodeException(this, "input \"" + inputNames_[i] + "\" is not connected", __FILE__, __LINE__);
}

void Node::request(int, const ParameterSet& req) {
  for (const InputLink& link : links_)
    if (link.node) link.node->request(link.outputId, req);
}

void Node::initialize() {}

void Node::reset() {}

ObjectRef Node::getInput(int inputId, int count) {
  if (!isConnected(inputId))
    throw new NodeException(this, "input id " + std::to_string(inputId) + " is not connected", __FILE__,
                            __LINE__);
  const InputLink& link = links_[inputId];
  return link.node->getOutput(link.outputId, count);
}

void Node::addFactory(const std::string& nodeName, _NodeFactory* factory) {
  ensureStandardNodes();
  registry().factories[nodeName].reset(factory);
}

void Node::addXPM(const std::string& nodeName, char** xpm) { registry().pictures[nodeName] = xpm; }

_NodeFactory* Node::getFactory(const std::string& nodeName) {
  ensureStandardNodes();
  auto it = registry().factories.find(nodeName);
  return it == registry().factories.end() ? nullptr : it->second.get();
}

std::vector<std::string> Node::factoryNames() {
  ensureStandardNodes();
  std::vector<std::string> names;
  for (const auto& kv : registry().factories) names.push_back(kv.first);
  return names;
}

// ---- BufferedNode -----------------------------------------------------------------------------

BufferedNode::BufferedNode(std::string nodeName, const ParameterSet& params)
    : Node(std::move(nodeName), params) {}

int BufferedNode::addInput(const std::string& inputName) {
  int id = Node::addInput(inputName);
  if (id >= static_cast<int>(inputRange_.size())) inputRange_.resize(id + 1);
  return id;
}

int BufferedNode::addOutput(const std::string& outputName) {
  int id = Node::addOutput(outputName);
  if (id >= static_cast<int>(outputState_.size())) outputState_.resize(id + 1);
  return id;
}

void BufferedNode::inputsRequestLookAhead(int inputId, int frames) {
  if (inputId >= 0 && inputId < static_cast<int>(inputRange_.size()))
    inputRange_[inputId].lookAhead = std::max(inputRange_[inputId].lookAhead, frames);
}

void BufferedNode::inputsRequestLookBack(int inputId, int frames) {
  if (inputId >= 0 && inputId < static_cast<int>(inputRange_.size()))
    inputRange_[inputId].lookBack = std::max(inputRange_[inputId].lookBack, frames);
}

void BufferedNode::request(int outputId, const ParameterSet& req) {
  if (outputId < 0 || outputId >= static_cast<int>(outputState_.size())) return;
  OutputState& out = outputState_[outputId];
  out.lookAhead = std::max(out.lookAhead, lookAheadOf(req, "LOOKAHEAD"));
  out.lookBack = std::max(out.lookBack, lookAheadOf(req, "LOOKBACK"));
  // Every frame this output may be asked for needs its inputs over the same span, widened by
  // each input's own look-ahead and look-back.
  for (size_t i = 0; i < inputRange_.size(); ++i) {
    Node* source = inputNode(static_cast<int>(i));
    if (!source) continue;
    ParameterSet forwarded;
    forwarded.add("LOOKAHEAD", make<Int>(out.lookAhead + inputRange_[i].lookAhead));
    forwarded.add("LOOKBACK", make<Int>(out.lookBack + inputRange_[i].lookBack));
    source->request(inputSourceOutput(static_cast<int>(i)), forwarded);
  }
}

void BufferedNode::initialize() {
  for (OutputState& out : outputState_) {
    // A reader may look `lookAhead` frames ahead of the frame it computes and `lookBack`
    // behind; one spare slot keeps the current frame while the newest is being written.
    int capacity = out.lookAhead + out.lookBack + 2;
    if (out.buffer.isNil())
      out.buffer = make<Buffer>(capacity);
    else
      out.buffer->reserve(capacity);
    out.processed = -1;
  }
}

void BufferedNode::reset() {
  for (OutputState& out : outputState_) {
    if (!out.buffer.isNil()) out.buffer->clear();
    out.processed = -1;
  }
}

void BufferedNode::computeUpTo(OutputState& out, int outputId, int count) {
  if (inOrder) {
    for (int f = out.processed + 1; f <= count; ++f) {
      calculate(outputId, f, *out.buffer);
      out.processed = f;
    }
  } else {
    calculate(outputId, count, *out.buffer);
    out.processed = std::max(out.processed, count);
  }
}

ObjectRef BufferedNode::getOutput(int outputId, int count) {
  if (outputId < 0 || outputId >= static_cast<int>(outputState_.size()))
    throw new NodeException(this, "no output with id " + std::to_string(outputId), __FILE__, __LINE__);
  OutputState& out = outputState_[outputId];
  if (out.buffer.isNil()) initialize();
  if (out.buffer->isValid(count)) return out.buffer->get(count);
  if (count < 0 || (inOrder && count <= out.processed) ||
      count <= out.buffer->newest() - out.buffer->capacity())
    throw new BufferException("trying to read a frame no longer held", out.buffer.get(), count);
  computeUpTo(out, outputId, count);
  return out.buffer->get(count);
}

}  // namespace FD
