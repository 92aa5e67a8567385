#pragma once

// The commands for people on the command line: `nimbra tree`, `large`, `dupes`, `junk`
// (and `junk clean`), `trash` (and `trash restore`, `trash empty`), `size`, `sys`, `mem`,
// `startup`, `apps`, `leftovers`. Each becomes the
// method calls it sends and the view of their answers.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "host/command_line.h"

namespace nimbra {

// What the options of the people commands are parsed into before they become a ViewCommand.
struct ViewCommandLine {
  ViewCommand command;
  std::string root;      // tree, large, dupes: the folder
  int64_t depth = 2;     // tree
  std::string minSize;   // large, dupes: a SIZE text
  std::string bundleId;  // leftovers
  std::string name;      // leftovers
  std::string folder;    // changes, history, history forget: the folder
  std::string since;     // changes: a snapshot id or a date
  std::vector<CLI::App*> subcommands;
  CLI::Option* json = nullptr;           // the last command's --json, for the options it excludes
  std::optional<int64_t> olderThanDays;  // trash empty
  CLI::App* junkClean = nullptr;
  CLI::App* trashRestore = nullptr;
  CLI::App* trashEmpty = nullptr;
  CLI::App* historyForget = nullptr;
};

// Adds the people commands to `app`; their options land in `line`.
void addViewCommands(CLI::App& app, ViewCommandLine& line);

// After parsing: the command chosen; a usage error (a SIZE that is no size, options that
// cannot go together); a root to walk that is missing, not a folder or unreadable (status 1,
// du's message); or nullopt when no people command was chosen. The root of a walk is checked
// here, just before it is asked about, so the service never answers "0 B" for it.
std::optional<Command> chosenViewCommand(ViewCommandLine& line);

}  // namespace nimbra
