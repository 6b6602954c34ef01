// Network files: a network described in JSON (comments allowed), read, checked and built.
//
//   {
//     "description": "optional text",
//     "plugins": ["velk_binaural"],                // library names or paths, loaded first
//     "parameters": {"SAMPLING_RATE": 16000},      // network parameters, used as "${NAME}"
//     "nodes": [                                   // created in this order
//       {"name": "source", "type": "AudioFileSource",
//        "parameters": {"FILENAME": "${NETWORK_DIR}/in.wav", "SAMPLING_RATE": "${SAMPLING_RATE}"}},
//       {"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512},
//        "inputs": {"INPUT": "source:AUDIO"}}      // input port -> "node:OUTPUT_PORT"
//     ],
//     "outputs": ["stft:OUTPUT"]                   // what the network drives every frame
//   }
//
// Parameter values take the type of their literal: 16000 is an int, 10.0 (or 1e4) a float, "x" a
// string, [0, 1] a vector of ints, [30.0, -30.0] (any float in the list) a vector of floats. The
// explicit forms {"int": 3}, {"float": 10}, {"string": "x"}, {"ints": [...]}, {"floats": [...]}
// say the type outright (and allow empty vectors). Booleans, null, empty lists, mixed lists and
// numbers beyond the range of int or float are errors. A string that is exactly "${NAME}" takes
// the value and type of network parameter NAME; "${NAME}" inside a longer string is replaced by
// its text. ${NETWORK_DIR} is the directory of the network file.
//
// Paths: plug-ins given as relative paths (with a '/') are relative to the network file's
// directory, plug-ins given by name are searched in the plug-in directories; file names in node
// parameters are used as written (relative to the working directory) unless they start with
// ${NETWORK_DIR}.
//
// Every error is a GeneralException whose text names the file and the node, port or parameter.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fd/Export.h"
#include "fd/Network.h"

namespace FD {

struct FD_API PortReference {
  std::string node, port;
};

struct FD_API NetworkNodeSpec {
  std::string name, type;
  ParameterSet parameters;
  std::vector<std::pair<std::string, PortReference>> inputs;  // input port -> upstream output
};

struct FD_API NetworkSpec {
  std::string source;                // the file name, for messages
  std::string directory;             // the file's directory
  std::vector<std::string> plugins;  // as they are to be loaded
  std::vector<NetworkNodeSpec> nodes;
  std::vector<PortReference> outputs;
};

// Larger network files are refused before they are read.
constexpr size_t kMaxNetworkFileBytes = 4u << 20;

// Reads a network description from `text`. `source` names it in messages and `directory` is what
// ${NETWORK_DIR} stands for. Each override is "NAME=VALUE" (a network parameter declared in the
// file) or "NODE.PARAMETER=VALUE" (a parameter of one node, added or replaced); VALUE is read as
// a JSON value when it is one (512, 10.0, [0, 1], "\"512\""), otherwise as a plain string.
FD_API NetworkSpec parseNetwork(const std::string& text, const std::string& source, const std::string& directory,
                                const std::vector<std::string>& overrides = {});
// Reads the file at `path` (at most kMaxNetworkFileBytes) and parses it.
FD_API NetworkSpec readNetworkFile(const std::string& path, const std::vector<std::string>& overrides = {});

// Loads the plug-ins, then creates the nodes in order, connects their inputs and declares the
// outputs. Parameters that a node type does not declare are refused, so that a misspelt optional
// parameter cannot go unnoticed; the others are typed by their declarations (an int given for a
// float parameter becomes a float; a float that is not a whole number is refused for an int one).
FD_API void buildNetwork(const NetworkSpec& plan, Network& network);

}  // namespace FD
