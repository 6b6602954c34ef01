// A network of nodes: created by type name through the registry, connected output -> input, and
// driven frame by frame by pulling its declared outputs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"

namespace FD {

class FD_API Network {
 public:
  Network() = default;
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;
  ~Network();

  // Creates a node of registered type `type` named `name`. Errors (unknown type, duplicate
  // name, a constructor failure) are thrown as host exceptions that name the node.
  Node& addNode(const std::string& type, const std::string& name, const ParameterSet& params);
  // Feeds `input` of node `to` from `output` of node `from`.
  void connect(const std::string& from, const std::string& output, const std::string& to,
               const std::string& input);
  // Declares an output that the network drives on every frame.
  void addOutput(const std::string& node, const std::string& output);

  // Checks that every input is connected, that there is no cycle and that every node's frame
  // geometry agrees with that of the nodes upstream of it (a mismatch names both nodes and both
  // values), propagates look-ahead requests and initialises every node. Must be called once
  // before processing.
  void initialize();
  // Computes frame `count` of every driven output.
  void process(int count);
  // Frames the sources can deliver: the shortest finite stream, or -1 when none ends or where a
  // stream ends is not known yet.
  long length() const;
  // Whether some source ends (a file, a stream that will end).
  bool ends() const;
  // Whether every source can deliver frame `count`; a stream source waits until it knows.
  bool frameAvailable(long count);
  // Processes frames 0, 1, ... until the sources end (or `maxFrames` when >= 0 and shorter),
  // then finishes the network and commits its outputs. A stream source's end is learnt as it is
  // read: the frames are processed as its samples arrive. `progress(done, total)` is called after
  // every frame when given (`total` -1 while the end is not known). Returns the frames processed.
  long run(long maxFrames = -1, const std::function<void(long, long)>& progress = {});
  // The same as run() but without the commit: the files the nodes wrote stay beside their
  // destinations until the caller calls commit(), once whatever else it writes is ready too.
  long runUncommitted(long maxFrames = -1, const std::function<void(long, long)>& progress = {});
  // Calls finish() on every node, each after the nodes that feed it (in the order they were
  // added where that leaves a choice). Every node is finished even when an earlier one fails;
  // the first failure is then thrown, as a host exception naming its node. run() calls this
  // after the last frame; a caller that drives process() itself calls it when done.
  void finish();
  // Calls commit() on every node, in the order of finish(), so that the files the nodes wrote
  // take the place of their destinations. Call it only after finish() succeeded; a network
  // destroyed without it leaves every destination as it was. The first failure is thrown.
  void commit();

  Node* node(const std::string& name) const;
  const std::vector<std::string>& nodeNames() const { return order_; }
  // The object of a driven output at a frame (valid while the node's buffer holds it).
  ObjectRef output(const std::string& node, const std::string& output, int count);

 private:
  Node& checkedNode(const std::string& name) const;
  void checkAcyclic() const;
  void checkFrameGeometry() const;
  // Every node after the nodes that feed it; among unrelated nodes, the order they were added.
  std::vector<Node*> feedOrder() const;

  std::map<std::string, Node*> nodes_;
  std::vector<std::string> order_;
  std::vector<std::pair<Node*, int>> outputs_;
  bool initialized_ = false;
};

}  // namespace FD
