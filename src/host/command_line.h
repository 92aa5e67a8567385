#pragma once

// The command line of `nimbra`:
//   nimbra call METHOD [ARGS_JSON] [--events]
//   nimbra serve [--json]
//   nimbra ui [--port N] [--no-open] [--allow-root]
//   nimbra tree|large|dupes|types|junk|trash|size|sys|mem|startup|apps|leftovers|changes|history
//          ...   (for people)

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "channel/method_call.h"
#include "channel/value.h"

namespace nimbra {

// Exit statuses of the host program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // malformed session input, lost output, a path in error
inline constexpr int kExitUsage = 2;    // unparsable ARGS_JSON, unknown option
inline constexpr int kExitNotImplemented = 3;

struct CallOptions {
  std::string method;
  Value arguments;  // null when ARGS_JSON is absent
  bool events = false;
};

struct ServeOptions {
  bool json = false;
};

struct UiOptions {
  uint16_t port = 0;  // 0: any free port
  bool open = true;   // open the address with the desktop's opener
  bool allowRoot = false;
};

// A command for people: the calls it sends (each through the same path as `call`, one after
// the other) and how the answers are shown.
enum class View {
  tree,
  large,
  dupes,
  junk,
  junkClean,
  trash,
  trashRestore,
  trashEmpty,
  size,
  types,
  sys,
  mem,
  startup,
  apps,
  leftovers,
  changes,
  history,
  historyForget
};
struct ViewCommand {
  View view = View::tree;
  std::vector<MethodCall> calls;
  bool json = false;                     // print what `call` would, one line per answer
  bool exactBytes = false;               // sizes as exact integers
  bool binaryUnits = false;              // sizes in KiB, MiB, GiB
  bool siUnits = false;                  // "size": sizes as du --si prints them, for sort -h
  std::vector<std::string> paths;        // "size": the paths asked about, for the table;
                                         // "trash restore": what to put back
  std::vector<std::string> complaints;   // "size": the paths that cannot be measured, and why
  std::string exportNcdu;                // "tree": also write the ncdu export here ("-": stdout)
  bool record = false;                   // "tree": record a snapshot in the disk usage history
  std::string folder;                    // "changes", "history": the folder ("" for every one)
  std::optional<int64_t> sinceTime;      // "changes --since DATE": the snapshot to pick
  bool nullSeparated = false;            // "large", "dupes", "trash": only the paths, NUL-ended
  std::vector<std::string> categories;   // "junk clean": the category ids to delete
  bool toTrash = false;                  // "junk clean": into the Trash, restorable
  bool yes = false;                      // "junk clean", "trash empty": no confirmation asked
  bool includeRecent = false;            // "junk clean": recent temporary entries too
  std::optional<int64_t> olderThanDays;  // "trash empty": only entries moved before that
};

// The command line settled the outcome by itself (help, or a usage error): print and exit.
struct CommandLineExit {
  int status = kExitUsage;
  std::string out;  // for stdout (help)
  std::string err;  // for stderr (what was wrong)
};

using Command = std::variant<CallOptions, ServeOptions, UiOptions, ViewCommand, CommandLineExit>;

Command parseCommandLine(int argc, const char* const* argv);

}  // namespace nimbra
