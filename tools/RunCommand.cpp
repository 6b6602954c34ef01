// `velk-binaural run NETWORK.json` builds a network from its file and runs it to the end of the
// input; `velk-binaural nodes` lists the node types the host knows, with their ports and
// parameters. Diagnostics and progress go to standard error; standard output carries only what
// the nodes themselves print (or the node list that was asked for). The node list is made from the
// node types' declarations, as text, JSON or the Markdown of the README's node reference.
#include <climits>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "OptionChecks.h"
#include "ProgressBar.h"
#include "ToolSupport.h"
#include "fd/Network.h"
#include "fd/NetworkFile.h"
#include "fd/Node.h"
#include "fd/Plugin.h"

namespace velktool {

namespace {

struct RunOptions {
  std::string network;
  Diagnostics diagnostics;
  long frames = -1;
  std::vector<std::string> overrides;
};

int runNetwork(const RunOptions& options) {
  InputWarnings warnings(options.diagnostics.strict);
  ProgressBar progress(!options.diagnostics.quiet);
  // What nodes print goes to standard output as before; on a terminal the bar's line is wiped
  // before each such line so that the two do not run into each other.
  LineClearingBuffer clearing(std::cout.rdbuf(), progress);
  std::streambuf* const saved = progress.enabled() ? std::cout.rdbuf(&clearing) : nullptr;
  struct Restore {
    std::streambuf* saved;
    ~Restore() {
      if (saved) std::cout.rdbuf(saved);
    }
  } restore{saved};
  long done = 0, total = -1;
  bool running = false;
  // The frame a failure happened on; none when it happened before the run or after its last
  // frame (a writer completing its file says so itself).
  auto where = [&] { return running && done != total ? ": frame " + std::to_string(done) : std::string(); };
  try {
    const FD::NetworkSpec plan = FD::readNetworkFile(options.network, options.overrides);
    FD::Network network;
    FD::buildNetwork(plan, network);
    try {
      network.initialize();
    } catch (FD::BaseException* e) {
      throw e->add(new FD::GeneralException(options.network));
    }
    running = true;
    network.run(options.frames, [&](long frame, long frames) {
      done = frame;
      total = frames;
      progress.update(frame, frames);
    });
    progress.finish();
    return 0;
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    progress.finish();
    return fail((running ? options.network + where() + ": " : std::string()) +
                describeHostError(e, options.diagnostics.verbose));
  } catch (const std::exception& e) {
    progress.finish();
    return fail(options.network + where() + ": " + e.what());
  }
}

// Loads the plug-ins for `nodes`: the project's own one unless told otherwise, then the extra ones.
void loadPlugins(const std::vector<std::string>& plugins, bool withDefault) {
  if (withDefault) {
    try {
      FD::loadPlugin("velk_binaural");
    } catch (FD::BaseException* e) {
      std::unique_ptr<FD::BaseException> owner(e);
      std::cerr << "velk-binaural: warning: " << describeHostError(e) << " (listing the other node types)" << std::endl;
    }
  }
  for (const std::string& p : plugins) FD::loadPlugin(p);
}

void printPorts(const char* title, const std::vector<FD::PortInfo>& ports) {
  std::cout << "  " << title << ":" << (ports.empty() ? " none" : "") << "\n";
  for (const FD::PortInfo& p : ports) std::cout << "    " << p.name << "  " << p.type << "  " << p.description << "\n";
}

// When a parameter must be given: "required", "optional", or the situation that needs it.
std::string neededText(const velkparam::Declaration& p) {
  switch (p.need) {
    case velkparam::Need::Always:
      return "required";
    case velkparam::Need::Optional:
      return "optional";
    case velkparam::Need::Conditional:
      return "required " + p.when;
  }
  return "";
}

std::string withUnit(const velkparam::Declaration& p) { return p.unit.empty() ? p.meaning : p.meaning + " (" + p.unit + ")"; }

void printNodeText(const std::string& name, const FD::NodeInfo* info) {
  std::cout << name << "\n";
  if (!info) {
    std::cout << "  (no description published)\n\n";
    return;
  }
  std::cout << "  " << info->description << "\n";
  printPorts("inputs", info->inputs);
  printPorts("outputs", info->outputs);
  std::cout << "  parameters:" << (info->parameters.empty() ? " none" : "") << "\n";
  for (const velkparam::Declaration& p : info->parameters)
    std::cout << "    " << p.name << "  " << velkparam::TypeName(p.type) << "  " << withUnit(p) << "; "
              << velkparam::Accepted(p) << "; " << neededText(p) << ", default " << velkparam::ToText(p.defaultValue)
              << "\n";
  std::cout << "\n";
}

// Text for Markdown: the characters that would end a table cell or the row, or open an HTML tag,
// escaped.
std::string cell(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += "\\|";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '\n') out += ' ';
    else out += c;
  }
  return out;
}

// Text inside a code span, where only the cell's end needs escaping.
std::string code(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return "`" + out + "`";
}

void printNodeMarkdown(const std::string& name, const FD::NodeInfo* info) {
  std::cout << "#### " << name << "\n\n";
  if (!info) {
    std::cout << "(no description published)\n\n";
    return;
  }
  std::cout << cell(info->description) << "\n\n";
  if (!info->inputs.empty() || !info->outputs.empty()) {
    std::cout << "| port | type | content |\n|---|---|---|\n";
    for (const FD::PortInfo& p : info->inputs)
      std::cout << "| in " << code(p.name) << " | " << code(p.type) << " | " << cell(p.description) << " |\n";
    for (const FD::PortInfo& p : info->outputs)
      std::cout << "| out " << code(p.name) << " | " << code(p.type) << " | " << cell(p.description) << " |\n";
    std::cout << "\n";
  }
  if (info->parameters.empty()) return;
  std::cout << "| parameter | type | default | unit | accepted | meaning |\n|---|---|---|---|---|---|\n";
  for (const velkparam::Declaration& p : info->parameters)
    std::cout << "| " << code(p.name) << " | " << code(velkparam::TypeName(p.type)) << " | "
              << code(velkparam::ToText(p.defaultValue)) << " | " << cell(p.unit) << " | " << cell(velkparam::Accepted(p))
              << " | " << cell(p.meaning)
              << (p.need == velkparam::Need::Always ? "" : " (" + cell(neededText(p)) + ")") << " |\n";
  std::cout << "\n";
}

nlohmann::ordered_json defaultJson(const velkparam::Value& value) {
  switch (velkparam::TypeOf(value)) {
    case velkparam::Type::Int:
      return std::get<int>(value);
    case velkparam::Type::Float:
      return std::get<float>(value);
    case velkparam::Type::String:
      return std::get<std::string>(value);
    case velkparam::Type::IntList:
      return std::get<std::vector<int>>(value);
    case velkparam::Type::FloatList:
      return std::get<std::vector<float>>(value);
  }
  return nullptr;
}

nlohmann::ordered_json parameterJson(const velkparam::Declaration& p) {
  nlohmann::ordered_json out = {{"name", p.name},
                                {"type", velkparam::TypeName(p.type)},
                                {"default", defaultJson(p.defaultValue)},
                                {"unit", p.unit},
                                {"meaning", p.meaning},
                                {"accepted", velkparam::Accepted(p)},
                                {"needed", neededText(p)}};
  if (p.min) out["minimum"] = {{"value", p.min->value}, {"inclusive", p.min->inclusive}};
  if (p.max) out["maximum"] = {{"value", p.max->value}, {"inclusive", p.max->inclusive}};
  if (!p.keywords.empty()) out["keywords"] = p.keywords;
  if (!p.otherwise.empty()) out["other_texts_act_as"] = p.otherwise;
  return out;
}

nlohmann::ordered_json nodeJson(const std::string& name, const FD::NodeInfo* info) {
  nlohmann::ordered_json node = {{"type", name}};
  if (!info) return node;
  auto ports = [](const std::vector<FD::PortInfo>& list) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const FD::PortInfo& p : list) out.push_back({{"name", p.name}, {"type", p.type}, {"description", p.description}});
    return out;
  };
  node["description"] = info->description;
  node["inputs"] = ports(info->inputs);
  node["outputs"] = ports(info->outputs);
  node["parameters"] = nlohmann::ordered_json::array();
  for (const velkparam::Declaration& p : info->parameters) node["parameters"].push_back(parameterJson(p));
  return node;
}

struct NodesOptions {
  std::vector<std::string> plugins;
  bool noDefault = false;
  bool json = false;
  bool markdown = false;
};

int listNodes(const NodesOptions& options) {
  try {
    loadPlugins(options.plugins, !options.noDefault);
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    return fail(describeHostError(e));
  }
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const std::string& name : FD::Node::factoryNames()) {
    const FD::NodeInfo* info = FD::Node::getFactory(name)->info();
    if (options.json)
      all.push_back(nodeJson(name, info));
    else if (options.markdown)
      printNodeMarkdown(name, info);
    else
      printNodeText(name, info);
  }
  if (options.json) std::cout << all.dump(2) << "\n";
  return 0;
}

}  // namespace

void addRunCommands(CLI::App& app, Status& status) {
  auto run = std::make_shared<RunOptions>();
  CLI::App* runCommand = app.add_subcommand("run", "Run a network file to the end of its input");
  runCommand->add_option("network", run->network, "The network file (JSON)")->required();
  addDiagnosticOptions(*runCommand, run->diagnostics);
  runCommand->add_option("--frames", run->frames, "Stop after this many frames")
      ->check(WholeNumber({0, INT_MAX}, "a number of frames"));
  runCommand->add_option("--set", run->overrides,
                         "Override a network parameter (NAME=VALUE) or a node's parameter (NODE.PARAMETER=VALUE); "
                         "VALUE is read like a value in the file (512, 10.0, [0, 1]) or else as a string")
      ->take_all();
  runCommand->callback([run, &status] { status.code = runNetwork(*run); });

  auto nodes = std::make_shared<NodesOptions>();
  CLI::App* nodesCommand =
      app.add_subcommand("nodes", "List the node types known after loading the plug-ins, with ports and parameters");
  nodesCommand->add_option("--plugin", nodes->plugins, "Load this plug-in too (library name or path)")->take_all();
  nodesCommand->add_flag("--no-default-plugin", nodes->noDefault, "Do not load the velk_binaural plug-in");
  CLI::Option* json = nodesCommand->add_flag("--json", nodes->json, "Print the list as JSON");
  nodesCommand->add_flag("--markdown", nodes->markdown, "Print the list as the Markdown of the README's node reference")
      ->excludes(json);
  nodesCommand->callback([nodes, &status] { status.code = listNodes(*nodes); });
}

}  // namespace velktool
