#include "fd/NetworkFile.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "fd/ParameterValues.h"
#include "fd/Plugin.h"

namespace FD {

namespace {

using json = nlohmann::ordered_json;

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out.empty() ? "none" : out;
}

// Where in the file a value sits, for messages: 'net.json: node "stft": parameter "LENGTH"'.
struct Place {
  std::string text;
  Place at(const std::string& what) const { return {text + ": " + what}; }
  [[noreturn]] void fail(const std::string& message) const { throw new GeneralException(text + ": " + message); }
};

std::string typeName(const json& v) {
  if (v.is_number_integer()) return "an int";
  if (v.is_number_float()) return "a float";
  if (v.is_string()) return "a string";
  if (v.is_array()) return "a list";
  if (v.is_object()) return "an object";
  if (v.is_boolean()) return "a boolean";
  return "null";
}

void checkKeys(const json& object, const std::set<std::string>& accepted, const Place& where) {
  for (const auto& item : object.items())
    if (!accepted.count(item.key()))
      where.fail("unknown key " + inQuotes(item.key()) + " (accepted: " +
                 joined(std::vector<std::string>(accepted.begin(), accepted.end())) + ")");
}

int toInt(const json& v, const Place& where) {
  if (!v.is_number_integer()) where.fail("expected an int, got " + typeName(v));
  if (v.is_number_unsigned() ? v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT_MAX)
                             : (v.get<std::int64_t>() < INT_MIN || v.get<std::int64_t>() > INT_MAX))
    where.fail(v.dump() + " is beyond the range of an int");
  return static_cast<int>(v.get<std::int64_t>());
}

float toFloat(const json& v, const Place& where) {
  if (!v.is_number()) where.fail("expected a number, got " + typeName(v));
  const double d = v.get<double>();
  if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) where.fail(v.dump() + " is beyond the range of a float");
  return static_cast<float>(d);
}

// Builds parameter values, resolving ${NAME} against the network parameters.
class ValueReader {
 public:
  ValueReader(const std::string& directory, const json& networkParameters)
      : directory_(directory), network_(networkParameters) {}

  ObjectRef value(const json& v, const Place& where, bool allowReferences = true) const {
    if (v.is_number_integer()) return make<Int>(toInt(v, where));
    if (v.is_number_float()) return make<Float>(toFloat(v, where));
    if (v.is_string()) return fromString(v.get<std::string>(), where, allowReferences);
    if (v.is_array()) return list(v, where);
    if (v.is_object()) return explicitForm(v, where, allowReferences);
    where.fail(typeName(v) + " is not a parameter value (use an int, a float, a string or a list of numbers)");
  }

  // The text of a string with every ${NAME} replaced.
  std::string substitute(const std::string& s, const Place& where, bool allowReferences = true) const {
    std::string out;
    size_t pos = 0;
    while (true) {
      const size_t open = s.find("${", pos);
      if (open == std::string::npos) break;
      const size_t close = s.find('}', open);
      if (close == std::string::npos) where.fail("unterminated \"${\" in " + inQuotes(s));
      out += s.substr(pos, open - pos);
      out += referenceText(s.substr(open + 2, close - open - 2), where, allowReferences);
      pos = close + 1;
    }
    return out + s.substr(pos);
  }

 private:
  // The network parameter NAME; fails for an unknown name or, inside network parameters, for any
  // name but the built-in one (they may not refer to one another).
  const json& reference(const std::string& name, const Place& where, bool allowReferences) const {
    if (!allowReferences || !network_.contains(name)) {
      std::vector<std::string> known{"NETWORK_DIR"};
      if (allowReferences)
        for (const auto& item : network_.items()) known.push_back(item.key());
      where.fail("unknown name ${" + name + "} (known: " + joined(known) + ")");
    }
    return network_.at(name);
  }

  std::string referenceText(const std::string& name, const Place& where, bool allowReferences) const {
    if (name == "NETWORK_DIR") return directory_;
    const Place inner = where.at("network parameter " + inQuotes(name));
    const json& v = reference(name, where, allowReferences);
    const json& plain = v.is_object() && v.size() == 1 ? v.begin().value() : v;
    if (plain.is_string()) return substitute(plain.get<std::string>(), inner, false);
    if (plain.is_number()) return plain.dump();
    inner.fail(typeName(plain) + " cannot be put inside a text");
  }

  ObjectRef fromString(const std::string& s, const Place& where, bool allowReferences) const {
    // Exactly "${NAME}": the network parameter itself, with its own type.
    if (s.size() > 3 && s.compare(0, 2, "${") == 0 && s.back() == '}' && s.find('}') == s.size() - 1) {
      const std::string name = s.substr(2, s.size() - 3);
      if (name != "NETWORK_DIR")
        return value(reference(name, where, allowReferences), where.at("network parameter " + inQuotes(name)), false);
    }
    return make<String>(substitute(s, where, allowReferences));
  }

  ObjectRef list(const json& v, const Place& where) const {
    if (v.empty()) where.fail("an empty list has no element type; write {\"ints\": []} or {\"floats\": []}");
    bool allInts = true;
    for (const json& e : v) {
      if (!e.is_number())
        where.fail("a list holds numbers only, but it holds " + typeName(e) + " (" + e.dump() + ")");
      allInts = allInts && e.is_number_integer();
    }
    return allInts ? ints(v, where) : floats(v, where);
  }

  static ObjectRef ints(const json& v, const Place& where) {
    if (!v.is_array()) where.fail("expected a list, got " + typeName(v));
    auto out = make<Vector<int>>();
    for (size_t i = 0; i < v.size(); ++i) out->push_back(toInt(v[i], where.at("element " + std::to_string(i))));
    return out;
  }

  static ObjectRef floats(const json& v, const Place& where) {
    if (!v.is_array()) where.fail("expected a list, got " + typeName(v));
    auto out = make<Vector<float>>();
    for (size_t i = 0; i < v.size(); ++i) out->push_back(toFloat(v[i], where.at("element " + std::to_string(i))));
    return out;
  }

  ObjectRef explicitForm(const json& v, const Place& where, bool allowReferences) const {
    static const char* const kForms = "{\"int\": 3}, {\"float\": 1.5}, {\"string\": \"x\"}, {\"ints\": [..]}, {\"floats\": [..]}";
    if (v.size() != 1) where.fail(std::string("an object value must be one of ") + kForms);
    const std::string& form = v.begin().key();
    const json& inner = v.begin().value();
    const Place at = where.at(inQuotes(form));
    if (form == "int") return make<Int>(toInt(inner, at));
    if (form == "float") return make<Float>(toFloat(inner, at));
    if (form == "ints") return ints(inner, at);
    if (form == "floats") return floats(inner, at);
    if (form == "string") {
      if (!inner.is_string()) at.fail("expected a string, got " + typeName(inner));
      return make<String>(substitute(inner.get<std::string>(), at, allowReferences));
    }
    where.fail("unknown value form " + inQuotes(form) + " (accepted: " + kForms + ")");
  }

  std::string directory_;
  const json& network_;
};

// Syntax errors and numbers beyond a double's range ("number overflow parsing '1e999'") alike
// become host exceptions naming the file.
json parseJson(const std::string& text, const Place& where) {
  try {
    return json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const json::exception& e) {
    std::string message = e.what();
    const size_t tag = message.find("] ");  // drop the library's "[json.exception.parse_error.101] "
    where.fail(tag == std::string::npos ? message : message.substr(tag + 2));
  }
}

const json* member(const json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string requiredString(const json& object, const char* key, const Place& where) {
  const json* v = member(object, key);
  if (!v) where.fail(std::string("missing \"") + key + "\"");
  if (!v->is_string() || v->get<std::string>().empty())
    where.at(inQuotes(key)).fail("expected a non-empty string, got " + (v->is_string() ? "\"\"" : typeName(*v)));
  return v->get<std::string>();
}

PortReference portReference(const json& v, const Place& where) {
  if (!v.is_string()) where.fail("expected \"node:PORT\", got " + typeName(v));
  const std::string s = v.get<std::string>();
  const size_t colon = s.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == s.size())
    where.fail("expected \"node:PORT\", got " + inQuotes(s));
  return {s.substr(0, colon), s.substr(colon + 1)};
}

struct Override {
  std::string node, name;  // node empty for a network parameter
  json value;
  bool used = false;
};

std::vector<Override> parseOverrides(const std::vector<std::string>& overrides, const Place& where) {
  std::vector<Override> out;
  for (const std::string& o : overrides) {
    const Place at = where.at("override " + inQuotes(o));
    const size_t eq = o.find('=');
    if (eq == std::string::npos || eq == 0) at.fail("expected NAME=VALUE or NODE.PARAMETER=VALUE");
    Override entry;
    const std::string target = o.substr(0, eq);
    const size_t dot = target.find('.');
    if (dot != std::string::npos) {
      entry.node = target.substr(0, dot);
      entry.name = target.substr(dot + 1);
      if (entry.node.empty() || entry.name.empty()) at.fail("expected NAME=VALUE or NODE.PARAMETER=VALUE");
    } else {
      entry.name = target;
    }
    const std::string text = o.substr(eq + 1);
    entry.value = json::accept(text) ? parseJson(text, at) : json(text);
    out.push_back(std::move(entry));
  }
  return out;
}

json networkParameters(const json& root, std::vector<Override>& overrides, const Place& where) {
  json parameters = json::object();
  if (const json* p = member(root, "parameters")) {
    if (!p->is_object()) where.at("\"parameters\"").fail("expected an object, got " + typeName(*p));
    parameters = *p;
  }
  if (parameters.contains("NETWORK_DIR"))
    where.at("network parameter \"NETWORK_DIR\"").fail("the name is reserved for the network file's directory");
  for (Override& o : overrides) {
    if (!o.node.empty()) continue;
    if (!parameters.contains(o.name))
      where.fail("override of " + inQuotes(o.name) + ": the network has no such parameter (it has: " + [&] {
        std::vector<std::string> names;
        for (const auto& item : parameters.items()) names.push_back(item.key());
        return joined(names);
      }() + ")");
    parameters[o.name] = o.value;
    o.used = true;
  }
  return parameters;
}

NetworkNodeSpec readNode(const json& entry, size_t index, const ValueReader& values, std::vector<Override>& overrides,
                         const Place& where) {
  const Place at = where.at("node " + std::to_string(index));
  if (!entry.is_object()) at.fail("expected an object, got " + typeName(entry));
  checkKeys(entry, {"name", "type", "parameters", "inputs", "description"}, at);
  NetworkNodeSpec node;
  node.name = requiredString(entry, "name", at);
  if (node.name.find_first_of(":.") != std::string::npos)
    at.fail("the node name " + inQuotes(node.name) + " contains ':' or '.', which are port and override separators");
  const Place named = where.at("node " + inQuotes(node.name));
  node.type = requiredString(entry, "type", named);
  node.parameters.setOwner(node.name);

  if (const json* params = member(entry, "parameters")) {
    if (!params->is_object()) named.at("\"parameters\"").fail("expected an object, got " + typeName(*params));
    for (const auto& item : params->items())
      node.parameters.add(item.key(), values.value(item.value(), named.at("parameter " + inQuotes(item.key()))));
  }
  for (Override& o : overrides) {
    if (o.node != node.name) continue;
    node.parameters.add(o.name, values.value(o.value, named.at("override of parameter " + inQuotes(o.name))));
    o.used = true;
  }
  if (const json* inputs = member(entry, "inputs")) {
    if (!inputs->is_object()) named.at("\"inputs\"").fail("expected an object, got " + typeName(*inputs));
    for (const auto& item : inputs->items())
      node.inputs.emplace_back(item.key(), portReference(item.value(), named.at("input " + inQuotes(item.key()))));
  }
  return node;
}

void checkReferences(const NetworkSpec& plan, const Place& where) {
  std::set<std::string> names;
  for (const NetworkNodeSpec& n : plan.nodes)
    if (!names.insert(n.name).second) where.fail("two nodes are named " + inQuotes(n.name));
  for (const NetworkNodeSpec& n : plan.nodes)
    for (const auto& [input, from] : n.inputs)
      if (!names.count(from.node))
        where.at("node " + inQuotes(n.name)).at("input " + inQuotes(input)).fail("there is no node named " + inQuotes(from.node));
  for (const PortReference& out : plan.outputs)
    if (!names.count(out.node)) where.at("\"outputs\"").fail("there is no node named " + inQuotes(out.node));
}

}  // namespace

NetworkSpec parseNetwork(const std::string& text, const std::string& source, const std::string& directory,
                         const std::vector<std::string>& overrideTexts) {
  const Place where{source};
  const json root = parseJson(text, where);
  if (!root.is_object()) where.fail("expected a JSON object at the top, got " + typeName(root));
  checkKeys(root, {"description", "plugins", "parameters", "nodes", "outputs"}, where);

  std::vector<Override> overrides = parseOverrides(overrideTexts, where);
  const json parameters = networkParameters(root, overrides, where);
  const ValueReader values(directory, parameters);

  NetworkSpec plan;
  plan.source = source;
  plan.directory = directory;
  if (const json* plugins = member(root, "plugins")) {
    if (!plugins->is_array()) where.at("\"plugins\"").fail("expected a list, got " + typeName(*plugins));
    for (const json& p : *plugins) {
      const Place at = where.at("plug-in " + p.dump());
      if (!p.is_string() || p.get<std::string>().empty()) at.fail("expected a library name or path");
      std::string path = values.substitute(p.get<std::string>(), at);
      if (path.find('/') != std::string::npos && path[0] != '/') path = directory + "/" + path;
      plan.plugins.push_back(path);
    }
  }

  const json* nodes = member(root, "nodes");
  if (!nodes || !nodes->is_array() || nodes->empty()) where.fail("expected \"nodes\", a non-empty list of nodes");
  for (size_t i = 0; i < nodes->size(); ++i) plan.nodes.push_back(readNode((*nodes)[i], i, values, overrides, where));

  const json* outputs = member(root, "outputs");
  if (!outputs || !outputs->is_array() || outputs->empty())
    where.fail("expected \"outputs\", a non-empty list of \"node:PORT\" to drive");
  for (const json& o : *outputs) plan.outputs.push_back(portReference(o, where.at("\"outputs\"")));

  for (const Override& o : overrides)
    if (!o.used) where.fail("override of " + inQuotes(o.node + "." + o.name) + ": there is no node named " + inQuotes(o.node));
  checkReferences(plan, where);
  return plan;
}

NetworkSpec readNetworkFile(const std::string& path, const std::vector<std::string>& overrides) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status))
    throw new GeneralException("cannot read the network file " + inQuotes(path) + ": there is no such file");
  if (std::filesystem::is_directory(status))
    throw new GeneralException("cannot read the network file " + inQuotes(path) + ": it is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw new GeneralException("cannot read the network file " + inQuotes(path));
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw new GeneralException("cannot read the network file " + inQuotes(path));
  if (static_cast<size_t>(size) > kMaxNetworkFileBytes)
    throw new GeneralException(path + ": the file has " + std::to_string(size) + " bytes, more than a network file may (" +
                               std::to_string(kMaxNetworkFileBytes) + ")");
  in.seekg(0);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), size)) throw new GeneralException("cannot read the network file " + inQuotes(path));

  const size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  return parseNetwork(text, path, directory, overrides);
}

namespace {

// Runs `step`; a host exception it throws gets `context` added as its outer explanation.
template <class Step>
void withContext(const std::string& context, Step&& step) {
  try {
    step();
  } catch (BaseException* e) {
    throw e->add(new GeneralException(context));
  } catch (const std::exception& e) {
    throw new GeneralException(context + ": " + e.what());
  }
}

// The node's parameters, each typed by its declaration: an unknown name is refused, so that a
// misspelt optional parameter cannot go unnoticed, and a number is given the declared type (20 for
// a float parameter is 20.0).
ParameterSet declaredParameters(const NetworkNodeSpec& node, const NodeInfo& info, const Place& where) {
  ParameterSet typed(node.name);
  for (const std::string& name : node.parameters.names()) {
    const velkparam::Declaration* declared = velkparam::Find(info.parameters, name);
    if (!declared)
      where.fail("unknown parameter " + inQuotes(name) + " (" + node.type + " accepts: " +
                 velkparam::Names(info.parameters) + ")");
    typed.add(name, typedForDeclaration(declared, node.parameters.get(name), where.at("parameter " + inQuotes(name)).text));
  }
  return typed;
}

void checkPort(const std::vector<std::string>& ports, const std::string& port, const std::string& kind,
               const PortReference& ref, const Place& where) {
  if (std::find(ports.begin(), ports.end(), port) == ports.end())
    where.fail("node " + inQuotes(ref.node) + " has no " + kind + " " + inQuotes(port) + " (its " + kind + "s: " +
               joined(ports) + ")");
}

}  // namespace

void buildNetwork(const NetworkSpec& plan, Network& network) {
  const Place where{plan.source};
  for (const std::string& plugin : plan.plugins) withContext(plan.source, [&] { loadPlugin(plugin); });

  for (const NetworkNodeSpec& node : plan.nodes) {
    const Place at = where.at("node " + inQuotes(node.name));
    _NodeFactory* factory = Node::getFactory(node.type);
    if (!factory) at.fail("unknown node type " + inQuotes(node.type) + " (known: " + joined(Node::factoryNames()) + ")");
    const NodeInfo* info = factory->info();
    const ParameterSet parameters = info ? declaredParameters(node, *info, at) : node.parameters;
    withContext(plan.source, [&] { network.addNode(node.type, node.name, parameters); });
  }

  for (const NetworkNodeSpec& node : plan.nodes) {
    Node* target = network.node(node.name);
    for (const auto& [input, from] : node.inputs) {
      const Place at = where.at("node " + inQuotes(node.name)).at("input " + inQuotes(input));
      checkPort(target->inputNames(), input, "input", {node.name, input}, at);
      checkPort(network.node(from.node)->outputNames(), from.port, "output", from, at);
      network.connect(from.node, from.port, node.name, input);
    }
  }

  for (const PortReference& out : plan.outputs) {
    checkPort(network.node(out.node)->outputNames(), out.port, "output", out, where.at("\"outputs\""));
    network.addOutput(out.node, out.port);
  }
}

}  // namespace FD
