// velk-binaural: run networks, manage transfer-function files, localise and separate talkers.
#include <iostream>

#include "Commands.h"

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
