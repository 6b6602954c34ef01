// Nodes, buffered nodes and node factories.
//
// A node declares its inputs and outputs by name in its constructor (each gets an int id),
// reads its parameters, and produces per frame one object per output. The host connects each
// input to one output of another node, initialises the network and then pulls the network's
// outputs for frames 0, 1, 2, ...; each node pulls its inputs for the frames it needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fd/Buffer.h"
#include "fd/Export.h"
#include "fd/NodeInfo.h"
#include "fd/ParameterSet.h"
#include "fd/Values.h"

namespace FD {

class _NodeFactory;

// The framing a node works with, as far as it declares one: frame length (LENGTH), frame shift
// (ADVANCE) and sampling rate (SAMPLING_RATE); 0 where it declares none. The network checks that
// what a node declares agrees with the nodes upstream of it.
struct FD_API FrameGeometry {
  int length = 0;
  int advance = 0;
  int samplingRate = 0;
};

class FD_API Node : public Object {
 public:
  Node(std::string nodeName, const ParameterSet& params);
  ~Node() override;

  const std::string& getName() const { return name_; }
  std::string className() const override { return "Node"; }

  virtual int addInput(const std::string& inputName);
  virtual int addOutput(const std::string& outputName);
  // Port ids by name; -1 when the node has no such port.
  int inputId(const std::string& inputName) const;
  int outputId(const std::string& outputName) const;
  const std::vector<std::string>& inputNames() const { return inputNames_; }
  const std::vector<std::string>& outputNames() const { return outputNames_; }

  // Connects input `inputId` of this node to output `outputId` of `source`.
  virtual void connectInput(int inputId, Node* source, int outputId);
  bool isConnected(int inputId) const;
  Node* inputNode(int inputId) const;
  // The output id of inputNode(inputId) that feeds the input; -1 when unconnected.
  int inputSourceOutput(int inputId) const;
  // Throws a NodeException naming the first declared input that is not connected.
  virtual void verifyConnect() const;

  // Requests travel from the network's outputs towards the sources before initialisation, so
  // that every buffer learns how far ahead and behind its readers look. "LOOKAHEAD" and
  // "LOOKBACK" (Int) are the request's fields. A plain node forwards a request unchanged.
  virtual void request(int outputId, const ParameterSet& req);
  virtual void initialize();
  virtual void reset();
  // The object of output `outputId` at frame `count` (may be nil).
  virtual ObjectRef getOutput(int outputId, int count) = 0;

  // Number of frames this node can produce, or -1 when it has no end of its own or the end is not
  // known yet. The network runs until the shortest finite stream ends.
  virtual long streamLength() const { return -1; }
  // Whether the node's frames end: by default when streamLength() is known. A source of live
  // sound ends where its stream does, which it learns only as it reads.
  virtual bool streamEnds() const { return streamLength() >= 0; }
  // Whether frame `count` exists. A source that learns its end as it reads waits until it knows;
  // by default, whether `count` is below streamLength() (always, when that is not known).
  virtual bool frameAvailable(long count) {
    const long length = streamLength();
    return length < 0 || count < length;
  }

  // Samples per channel of the recording this node's frames come from, or -1 when that is not
  // known. By default, what the node feeding its first connected input says; a source that reads
  // a recording says how long it is. Writers use it to end their files with the recording's last
  // sample rather than with the last whole frame.
  virtual long streamSamples() const;

  // The framing this node relies on; none unless overridden.
  virtual FrameGeometry frameGeometry() const { return {}; }

  // Called once after the last frame of a run that succeeded. A node that writes files
  // completes and closes them here, and throws (a host exception naming the node) when that
  // fails, so that a write error fails the run instead of passing unnoticed. Does nothing unless
  // overridden.
  virtual void finish() {}
  // Called after every node of the network finished without error. A node that writes files
  // writes them beside their destinations (fileio::OutputFile) and moves them into place here;
  // a node destroyed without commit() leaves every destination as it was. Throws a host
  // exception naming the node when a file cannot be moved into place. Does nothing unless
  // overridden.
  virtual void commit() {}

  // ---- registry --------------------------------------------------------------------------
  static void addFactory(const std::string& nodeName, _NodeFactory* factory);
  static void addXPM(const std::string& nodeName, char** xpm);
  // The factory registered for a node type, or null.
  static _NodeFactory* getFactory(const std::string& nodeName);
  static std::vector<std::string> factoryNames();

 protected:
  // Pulls input `inputId` for frame `count` from the connected node.
  ObjectRef getInput(int inputId, int count);

  std::string name_;
  ParameterSet parameters;

 private:
  struct InputLink {
    Node* node = nullptr;
    int outputId = -1;
  };
  std::vector<std::string> inputNames_, outputNames_;
  std::vector<InputLink> links_;
};

// A node whose outputs are kept in ring buffers: each frame is computed once per output by
// `calculate` and served from the buffer to every reader.
class FD_API BufferedNode : public Node {
 public:
  BufferedNode(std::string nodeName, const ParameterSet& params);

  int addInput(const std::string& inputName) override;
  int addOutput(const std::string& outputName) override;
  void request(int outputId, const ParameterSet& req) override;
  void initialize() override;
  void reset() override;
  ObjectRef getOutput(int outputId, int count) override;

  // Computes frame `count` of output `outputId` and stores it in `out[count]`.
  virtual void calculate(int outputId, int count, Buffer& out) = 0;

 protected:
  // Declares that computing frame `count` may read input `inputId` up to frame count + frames
  // (look-ahead) and back to count - frames (look-back).
  void inputsRequestLookAhead(int inputId, int frames);
  void inputsRequestLookBack(int inputId, int frames);

  // When true, frames are computed strictly in increasing count with none skipped.
  bool inOrder = false;

 private:
  struct OutputState {
    RCPtr<Buffer> buffer;
    int lookAhead = 0, lookBack = 0;
    int processed = -1;  // newest frame computed
  };
  struct InputRange {
    int lookAhead = 0, lookBack = 0;
  };
  void computeUpTo(OutputState& out, int outputId, int count);
  std::vector<OutputState> outputState_;
  std::vector<InputRange> inputRange_;
};

class FD_API _NodeFactory {
 public:
  explicit _NodeFactory(std::string nodeName) : name_(std::move(nodeName)) {}
  virtual ~_NodeFactory() = default;
  virtual Node* Create(const std::string& nodeName, const ParameterSet& params) = 0;
  // The node type's contract (ports, parameters), when the class documents one.
  virtual const NodeInfo* info() const { return nullptr; }
  const std::string& getName() const { return name_; }

 private:
  std::string name_;
};

namespace detail {
template <class C, class = void>
struct HasDescribe : std::false_type {};
template <class C>
struct HasDescribe<C, std::void_t<decltype(C::describe())>> : std::true_type {};
}  // namespace detail

// Creates nodes of class `C` (constructor (name, parameters)). A class with a static
// `describe()` returning NodeInfo publishes its contract through the factory.
template <class C>
class NodeFactory : public _NodeFactory {
 public:
  explicit NodeFactory(const std::string& nodeName) : _NodeFactory(nodeName) {
    if constexpr (detail::HasDescribe<C>::value) info_.reset(new NodeInfo(C::describe()));
  }
  Node* Create(const std::string& nodeName, const ParameterSet& params) override {
    return new C(nodeName, params);
  }
  const NodeInfo* info() const override { return info_.get(); }

 private:
  std::unique_ptr<NodeInfo> info_;
};

}  // namespace FD
