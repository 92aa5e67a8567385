#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "app/json_value.h"
#include "app/view_commands.h"

namespace nimbra {

Command parseCommandLine(int argc, const char* const* argv) {
  CLI::App app{"The native service of Nimbra, driven from the command line.", "nimbra"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("nimbra ") + NIMBRA_VERSION, "Print the version and exit");
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
