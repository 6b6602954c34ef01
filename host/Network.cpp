#include "fd/Network.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <limits>
#include <set>

namespace FD {

Network::~Network() {
  for (auto& kv : nodes_) kv.second->unref();
}

Node& Network::addNode(const std::string& type, const std::string& name, const ParameterSet& params) {
  if (nodes_.count(name))
    throw new GeneralException("duplicate node name \"" + name + "\"", __FILE__, __LINE__);
  _NodeFactory* factory = Node::getFactory(type);
  if (!factory)
    throw new GeneralException("node \"" + name + "\": unknown node type \"" + type + "\"", __FILE__, __LINE__);
  ParameterSet owned = params;
  owned.setOwner(name);
  Node* node = nullptr;
  try {
    node = factory->Create(name, owned);
  } catch (BaseException* e) {
    throw e->add(new GeneralException("while creating node \"" + name + "\" (" + type + ")"));
  } catch (const std::exception& e) {
    throw new GeneralException("while creating node \"" + name + "\" (" + type + "): " + e.what());
  }
  nodes_[name] = node;
  order_.push_back(name);
  return *node;
}

Node& Network::checkedNode(const std::string& name) const {
  auto it = nodes_.find(name);
  if (it == nodes_.end()) throw new GeneralException("no node named \"" + name + "\"", __FILE__, __LINE__);
  return *it->second;
}

void Network::connect(const std::string& from, const std::string& output, const std::string& to,
                      const std::string& input) {
  Node& source = checkedNode(from);
  Node& target = checkedNode(to);
  int out = source.outputId(output);
  if (out < 0)
    throw new GeneralException("node \"" + from + "\" has no output \"" + output + "\"", __FILE__, __LINE__);
  int in = target.inputId(input);
  if (in < 0)
    throw new GeneralException("node \"" + to + "\" has no input \"" + input + "\"", __FILE__, __LINE__);
  target.connectInput(in, &source, out);
}

void Network::addOutput(const std::string& node, const std::string& output) {
  Node& n = checkedNode(node);
  int out = n.outputId(output);
  if (out < 0)
    throw new GeneralException("node \"" + node + "\" has no output \"" + output + "\"", __FILE__, __LINE__);
  outputs_.push_back({&n, out});
}

void Network::checkAcyclic() const {
  // Depth-first search over input links; a node met again on the current path closes a cycle.
  enum Mark { Unseen, OnPath, Done };
  std::map<const Node*, Mark> mark;
  std::function<void(const Node*)> visit = [&](const Node* n) {
    mark[n] = OnPath;
    for (int i = 0; i < static_cast<int>(n->inputNames().size()); ++i) {
      const Node* up = n->inputNode(i);
      if (!up) continue;
      if (mark[up] == OnPath)
        throw new GeneralException("the network has a cycle through node \"" + up->getName() +
                                       "\" (input \"" + n->inputNames()[i] + "\" of node \"" + n->getName() + "\")",
                                   __FILE__, __LINE__);
      if (mark[up] == Unseen) visit(up);
    }
    mark[n] = Done;
  };
  for (const auto& kv : nodes_)
    if (mark[kv.second] == Unseen) visit(kv.second);
}

namespace {

struct GeometryField {
  const char* parameter;
  int FrameGeometry::*value;
};
const GeometryField kGeometryFields[] = {{"LENGTH", &FrameGeometry::length},
                                         {"ADVANCE", &FrameGeometry::advance},
                                         {"SAMPLING_RATE", &FrameGeometry::samplingRate}};

// The nearest nodes upstream of `node` that declare `field`, one per path.
void declaringUpstream(const Node* node, const GeometryField& field, std::set<const Node*>& seen,
                       std::vector<const Node*>& found) {
  for (int i = 0; i < static_cast<int>(node->inputNames().size()); ++i) {
    const Node* up = node->inputNode(i);
    if (!up || !seen.insert(up).second) continue;
    if (up->frameGeometry().*field.value > 0)
      found.push_back(up);
    else
      declaringUpstream(up, field, seen, found);
  }
}

}  // namespace

// Frame length, shift and rate are set once per node; nothing else makes a synthesis agree with
// its analysis, or a localiser's frame times with its source, so they are compared here.
void Network::checkFrameGeometry() const {
  for (const std::string& name : order_) {
    const Node* node = nodes_.at(name);
    const FrameGeometry geometry = node->frameGeometry();
    for (const GeometryField& field : kGeometryFields) {
      const int value = geometry.*field.value;
      if (value <= 0) continue;
      std::set<const Node*> seen;
      std::vector<const Node*> upstream;
      declaringUpstream(node, field, seen, upstream);
      for (const Node* up : upstream) {
        const int theirs = up->frameGeometry().*field.value;
        if (theirs != value)
          throw new GeneralException("node \"" + name + "\" has " + field.parameter + " " + std::to_string(value) +
                                         " but node \"" + up->getName() + "\" upstream of it has " + field.parameter +
                                         " " + std::to_string(theirs) + "; they must agree",
                                     __FILE__, __LINE__);
      }
    }
  }
}

void Network::initialize() {
  if (outputs_.empty()) throw new GeneralException("the network declares no output to drive", __FILE__, __LINE__);
  for (const std::string& name : order_) nodes_.at(name)->verifyConnect();
  checkAcyclic();
  checkFrameGeometry();
  ParameterSet none;
  for (auto& out : outputs_) out.first->request(out.second, none);
  for (const std::string& name : order_) nodes_.at(name)->initialize();
  initialized_ = true;
}

void Network::process(int count) {
  if (!initialized_) initialize();
  for (auto& out : outputs_) out.first->getOutput(out.second, count);
}

long Network::length() const {
  long shortest = -1;
  for (const auto& kv : nodes_) {
    long n = kv.second->streamLength();
    if (n >= 0 && (shortest < 0 || n < shortest)) shortest = n;
  }
  return shortest;
}

long Network::run(long maxFrames, const std::function<void(long, long)>& progress) {
  const long frames = runUncommitted(maxFrames, progress);
  commit();
  return frames;
}

bool Network::ends() const {
  for (const auto& kv : nodes_)
    if (kv.second->streamEnds()) return true;
  return false;
}

bool Network::frameAvailable(long count) {
  for (const std::string& name : order_)
    if (!nodes_.at(name)->frameAvailable(count)) return false;
  return true;
}

long Network::runUncommitted(long maxFrames, const std::function<void(long, long)>& progress) {
  if (!initialized_) initialize();
  if (maxFrames < 0 && !ends())
    throw new GeneralException("the network has no source with an end; give a frame count", __FILE__, __LINE__);
  long count = 0;
  for (; (maxFrames < 0 || count < maxFrames) && frameAvailable(count); ++count) {
    if (count > std::numeric_limits<int>::max())
      throw new GeneralException("the input is too long for frame numbers", __FILE__, __LINE__);
    process(static_cast<int>(count));
    if (progress) {
      long total = length();
      if (maxFrames >= 0 && (total < 0 || maxFrames < total)) total = maxFrames;
      progress(count + 1, total);
    }
  }
  finish();
  return count;
}

std::vector<Node*> Network::feedOrder() const {
  std::vector<Node*> order;
  std::set<const Node*> placed;
  // Depth first over input links; the network is acyclic once initialised.
  std::function<void(Node*)> place = [&](Node* n) {
    if (!placed.insert(n).second) return;
    for (int i = 0; i < static_cast<int>(n->inputNames().size()); ++i)
      if (Node* up = n->inputNode(i)) place(up);
    order.push_back(n);
  };
  for (const std::string& name : order_) place(nodes_.at(name));
  return order;
}

// Sources are finished before the nodes they feed, so that whatever a node still hands on when it
// finishes meets readers that are not finished yet.
void Network::finish() {
  BaseException* first = nullptr;
  for (Node* n : feedOrder()) {
    try {
      n->finish();
    } catch (BaseException* e) {
      if (first)
        delete e;
      else
        first = e;
    } catch (const std::exception& e) {
      if (!first) first = new NodeException(n, std::string("while finishing: ") + e.what(), "", 0);
    }
  }
  if (first) throw first;
}

void Network::commit() {
  for (Node* n : feedOrder()) {
    try {
      n->commit();
    } catch (const std::exception& e) {
      throw new NodeException(n, e.what(), "", 0);
    }
  }
}

Node* Network::node(const std::string& name) const {
  auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : it->second;
}

ObjectRef Network::output(const std::string& node, const std::string& output, int count) {
  Node& n = checkedNode(node);
  int out = n.outputId(output);
  if (out < 0)
    throw new GeneralException("node \"" + node + "\" has no output \"" + output + "\"", __FILE__, __LINE__);
  return n.getOutput(out, count);
}

}  // namespace FD
