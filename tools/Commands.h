// Command groups of the `velk-binaural` tool. Each group adds its subcommands to the app; a
// subcommand's callback stores its exit status in `status` (0 success, 1 processing failure).
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace velktool {

struct Status {
  int code = 0;
};

// Prints "velk-binaural: <message>" as one line on standard error and returns 1.
int fail(const std::string& message);

void addTfCommands(CLI::App& app, Status& status);
void addScoreCommands(CLI::App& app, Status& status);
void addSeparateCommands(CLI::App& app, Status& status);
void addRunCommands(CLI::App& app, Status& status);
void addLocalizeCommands(CLI::App& app, Status& status);
void addEvaluateCommands(CLI::App& app, Status& status);

}  // namespace velktool
