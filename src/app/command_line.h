#pragma once

// The command line of `nimbra`:
//   nimbra call METHOD [ARGS_JSON] [--events]
//   nimbra serve [--json]

#include <string>
#include <variant>

#include "channel/value.h"

namespace nimbra {

// Exit statuses of the host program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;      // malformed session input, lost output
inline constexpr int kExitUsage = 2;        // unparsable ARGS_JSON, unknown option
inline constexpr int kExitNotImplemented = 3;

struct CallOptions {
  std::string method;
  Value arguments;  // null when ARGS_JSON is absent
  bool events = false;
};

struct ServeOptions {
  bool json = false;
};

// The command line settled the outcome by itself (help, or a usage error): print and exit.
struct CommandLineExit {
  int status = kExitUsage;
  std::string out;  // for stdout (help)
  std::string err;  // for stderr (what was wrong)
};

using Command = std::variant<CallOptions, ServeOptions, CommandLineExit>;

Command parseCommandLine(int argc, const char* const* argv);

}  // namespace nimbra
