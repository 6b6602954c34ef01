// velk-binaural: run networks, manage transfer-function files, localise and separate talkers.
#include <iostream>

#include "Commands.h"

namespace velktool {

int fail(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n') c = ' ';
  std::cerr << "velk-binaural: " << line << std::endl;
  return 1;
}

}  // namespace velktool

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
