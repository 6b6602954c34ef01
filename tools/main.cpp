// velk-binaural: run networks, manage transfer-function files, localise and separate talkers.
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

// The names of a command's subcommands, "a, b or c".
std::string subcommandNames(CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::App* sub : command.get_subcommands({})) names.push_back(sub->get_name());
  std::string text;
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return text;
}

// CLI11 reports an unknown command word as a missing subcommand; this names it instead. Returns
// "" when every command word before the first option is known.
std::string unknownSubcommand(CLI::App& app, int argc, char** argv) {
  CLI::App* command = &app;
  std::string path = "velk-binaural";
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-' || command->get_subcommands({}).empty()) return "";
    CLI::App* next = nullptr;
    for (CLI::App* sub : command->get_subcommands({}))
      if (sub->get_name() == word) next = sub;
    if (!next)
      return "\"" + word + "\" is not a command of " + path + "; the commands are " + subcommandNames(*command) +
             " (see " + path + " --help)";
    command = next;
    path += " " + word;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Binaural localisation and separation of talkers for a two-microphone head."};
  app.set_version_flag("--version", std::string("velk-binaural ") + VELK_VERSION);
  app.require_subcommand(1);
  velktool::Status status;
  // Command groups register here.
  velktool::addTfCommands(app, status);
  velktool::addScoreCommands(app, status);
  velktool::addSeparateCommands(app, status);
  velktool::addRunCommands(app, status);
  velktool::addLocalizeCommands(app, status);
  velktool::addEvaluateCommands(app, status);
  const std::string unknown = unknownSubcommand(app, argc, argv);
  if (!unknown.empty()) {
    std::cerr << "velk-binaural: " << unknown << std::endl;
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;  // usage error
  }
  return status.code;
}
