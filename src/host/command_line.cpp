#include "host/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>
#include <string_view>

#include "host/json/json_parse.h"
#include "host/terminal/terminal_text.h"
#include "host/views/view_commands.h"

namespace nimbra {
namespace {

constexpr std::string_view kHelpCommand = "help";
// A name a few edits (insertions, deletions, substitutions, swaps of neighbours) from a
// command is taken for a slip of the fingers: one edit in every three letters, at most two.
constexpr size_t kLettersPerTypo = 3;
constexpr size_t kMostTypos = 2;

// The optimal string alignment distance: edits, a swap of two neighbours counting as one.
size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// The command `typed` most likely meant: the nearest within its typos, else the only one it
// begins, else none.
std::string likelyCommand(std::string_view typed, const std::vector<std::string>& commands) {
  std::string nearest;
  size_t best = std::clamp<size_t>(typed.size() / kLettersPerTypo, 1, kMostTypos) + 1;
  for (const std::string& command : commands) {
    const size_t distance = editDistance(typed, command);
    if (distance < best) {
      best = distance;
      nearest = command;
    }
  }
  if (!nearest.empty() || typed.size() < 2) return nearest;
  std::vector<std::string> begun;
  for (const std::string& command : commands) {
    if (command.starts_with(typed)) begun.push_back(command);
  }
  return begun.size() == 1 ? begun.front() : "";
}

}  // namespace

Command parseCommandLine(int argc, const char* const* argv) {
  // `nimbra help [COMMAND...]` is `nimbra [COMMAND...] --help`. Rewritten once, not again for
  // what follows: `nimbra help help` is the help of the help command itself.
  std::vector<const char*> asked;
  if (argc > 1 && argv[1] == kHelpCommand) {
    asked.assign(argv, argv + argc);
    asked.erase(asked.begin() + 1);
    asked.push_back("--help");
    argc = static_cast<int>(asked.size());
    argv = asked.data();
  }

  CLI::App app{"The native service of Nimbra, driven from the command line.", "nimbra"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("nimbra ") + NIMBRA_VERSION,
                       "Print the version and exit");
  app.footer("Run `nimbra COMMAND --help` for the options and an example of each command.");

  std::string method;
  std::string argumentsJson;
  bool events = false;
  CLI::App* call = app.add_subcommand("call", "Call one method and print its answer as JSON.");
  call->add_option("METHOD", method, "Method name on \"nimbra/native\"")->required();
  CLI::Option* argumentsOption =
      call->add_option("ARGS_JSON", argumentsJson, "The call's arguments as one JSON text");
  call->add_flag("--events", events, "Print each progress event to stderr as a JSON line");

  bool json = false;
  CLI::App* serve =
      app.add_subcommand("serve", "Serve the interface session over stdin and stdout.");
  serve->add_flag("--json", json, "Speak JSON lines instead of binary frames");

  UiOptions ui;
  bool noOpen = false;
  CLI::App* uiCommand =
      app.add_subcommand("ui", "Serve the interface to a web browser on this machine.");
  uiCommand->add_option("--port", ui.port, "Port on 127.0.0.1; 0 takes any free one")
      ->capture_default_str();
  uiCommand->add_flag("--no-open", noOpen, "Only print the address; do not open a browser");
  uiCommand->add_flag("--allow-root", ui.allowRoot,
                      "Run even as root: whoever holds the address can then delete as root");
  uiCommand->footer("Example:\n  nimbra ui --port 8080\n");

  ViewCommandLine viewLine;
  addViewCommands(app, viewLine);
  app.add_subcommand(std::string(kHelpCommand),
                     "Show how to use nimbra, or one COMMAND (as COMMAND --help does).");

  if (argc > 1 && argv[1][0] != '-') {
    std::vector<std::string> commands;
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
      commands.push_back(sub->get_name());
    }
    const std::string typed = argv[1];
    if (std::find(commands.begin(), commands.end(), typed) == commands.end()) {
      const std::string meant = likelyCommand(typed, commands);
      return CommandLineExit{kExitUsage, "",
                             "nimbra: unknown command '" + printable(typed) + "' (" +
                                 (meant.empty() ? "`nimbra help` lists the commands"
                                                : "did you mean '" + meant + "'?") +
                                 ")\n"};
    }
  }

  try {
    // CLI11 wants the mutable argv of main(); it does not modify it.
    app.parse(argc, const_cast<char**>(argv));
  } catch (const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = app.exit(error, out, err);
    if (status == 0) return CommandLineExit{kExitSuccess, out.str(), err.str()};
    return CommandLineExit{kExitUsage, out.str(), "nimbra: " + err.str()};
  }

  if (*serve) return ServeOptions{json};
  if (*uiCommand) {
    ui.open = !noOpen;
    return ui;
  }
  if (std::optional<Command> view = chosenViewCommand(viewLine)) return std::move(*view);

  CallOptions options{method, Value(), events};
  if (argumentsOption->count() > 0) {
    Decoded<Value> arguments = parseJsonValue(argumentsJson);
    if (!arguments) {
      return CommandLineExit{kExitUsage, "",
                             "nimbra: ARGS_JSON is not valid JSON: " + arguments.error + "\n"};
    }
    options.arguments = std::move(*arguments.value);
  }
  return options;
}

}  // namespace nimbra
