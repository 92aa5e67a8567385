#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "app/json_value.h"
#include "app/view_commands.h"

namespace nimbra {

Command parseCommandLine(int argc, const char* const* argv) {
  CLI::App app{"The native service of Nimbra, driven from the command line.", "nimbra"};
  app.require_subcommand(1);
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
  CLI::App* uiCommand = app.add_subcommand("ui", "Serve the interface to a web browser on this machine.");
  uiCommand->add_option("--port", ui.port, "Port on 127.0.0.1; 0 takes any free one")->capture_default_str();
  uiCommand->add_flag("--no-open", noOpen, "Only print the address; do not open a browser");
  uiCommand->add_flag("--allow-root", ui.allowRoot,
                      "Run even as root: whoever holds the address can then delete as root");
  uiCommand->footer("Example:\n  nimbra ui --port 8080\n");

  ViewCommandLine viewLine;
  addViewCommands(app, viewLine);

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
      return CommandLineExit{kExitUsage, "", "nimbra: ARGS_JSON is not valid JSON: " + arguments.error + "\n"};
    }
    options.arguments = std::move(*arguments.value);
  }
  return options;
}

}  // namespace nimbra
