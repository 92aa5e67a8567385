#include "host/views/view_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/path_parts.h"
#include "base/utf8.h"

#include "host/terminal/terminal_text.h"
#include "host/views/history_views.h"
#include "host/views/ncdu_export.h"
#include "host/views/path_check.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

constexpr const char* kTrashCategory = "trash";
constexpr const char* kSizeHelp = "plain bytes, 500kB, 100MB, 1.5GB or 1MiB";

CLI::App* command(CLI::App& app, ViewCommandLine& line, const char* name, const char* summary,
                  const char* example, View view) {
  CLI::App* sub = app.add_subcommand(name, summary);
  sub->footer(std::string("Example:\n  ") + example + "\n");
  line.json = sub->add_flag("--json", line.command.json, "Print the answer as `nimbra call` would");
  sub->add_flag("--bytes", line.command.exactBytes, "Sizes as exact byte counts");
  sub->add_flag("--binary", line.command.binaryUnits,
                "Sizes in KiB, MiB, GiB (powers of 1024, as du -h counts)");
  sub->parse_complete_callback([&line, view] { line.command.view = view; });
  line.subcommands.push_back(sub);
  return sub;
}

}  // namespace

void addViewCommands(CLI::App& app, ViewCommandLine& line) {
  CLI::App* tree = command(
      app, line, "tree",
      "Where the space goes: the disk usage tree of a folder. Sizes are the lengths of the "
      "files (a sparse file counts its length, a file with several names counts for each); "
      "links are never followed below the folder. Folders that cannot be read are named, and the "
      "command then exits 1, as du does.",
      "nimbra tree /usr --depth 1", View::tree);
  tree->add_option("PATH", line.root, "The folder (default: the home folder)");
  tree->add_option("--depth", line.depth, "Levels below the folder (default 2)");
  tree->add_flag("--record", line.command.record,
                 "Also record the size of every folder below it in the disk usage history, for "
                 "`nimbra changes`");
  tree->add_option(
      "--export-ncdu", line.command.exportNcdu,
      "Also write the whole tree, every level, for `ncdu -f FILE`; `-` writes it to standard "
      "output instead of the tree");

  for (auto [name, summary, example, view] :
       {std::tuple{"large",
                   "The largest files below a folder (the 400 largest, and of how many). Not "
                   "searched: hidden files and folders, the contents of packages (.app, "
                   ".bundle ...), the home folder's Library, and folders named node_modules, "
                   "Library or like the hidden tool folders (.git, .cache, .npm ...).",
                   "nimbra large ~/Downloads --min 500MB", View::large},
        std::tuple{"dupes",
                   "Files with identical content (SHA-256), by wasted space. Not searched: "
                   "hidden files and folders, the contents of packages (.app, .bundle ...), "
                   "every folder named Library or node_modules, and the hidden tool folders "
                   "(.git, .cache, .npm ...).",
                   "nimbra dupes ~ --min 1MB", View::dupes}}) {
    CLI::App* sub = command(app, line, name, summary, example, view);
    sub->add_option("ROOT", line.root, "The folder (default: the home folder)");
    sub->add_option("--min", line.minSize, std::string("Smallest file size: ") + kSizeHelp);
    std::string nullHelp = "Print only the paths, each followed by a NUL byte, for `xargs -0`";
    if (view == View::dupes) {
      nullHelp += "; an empty record (a second NUL) ends each group";
      sub->footer(
          "Names of one file (hard links) are not copies of it: only the first name met takes\n"
          "part, so removing a copy always frees its size.\n\nExample:\n  " +
          std::string(example) + "\n");
    }
    sub->add_flag("-0,--null", line.command.nullSeparated, nullHelp)->excludes(line.json);
  }

  CLI::App* junk =
      command(app, line, "junk", "Caches, logs, temporary files and other junk, by category.",
              "nimbra junk", View::junk);
  CLI::App* clean = junk->add_subcommand(
      "clean",
      "Delete every item of the given categories, after listing them and asking. Temporary "
      "files another user owns, that changed in the last 24 hours, that a running program "
      "holds, that are or hold sockets, FIFOs or devices, or that systemd keeps, are left "
      "alone.");
  clean->footer("Example:\n  nimbra junk clean userCache temp --trash\n");
  clean->add_option("ID", line.command.categories, "Category ids, as `nimbra junk` shows them")
      ->required();
  clean->add_flag("--trash", line.command.toTrash,
                  "Move the items to the Trash, where they can be restored (not for the "
                  "category trash)");
  clean->add_flag("--yes", line.command.yes, "Do not ask for confirmation");
  clean->add_flag("--include-recent", line.command.includeRecent,
                  "Also remove temporary files that changed in the last 24 hours");
  clean->add_flag("--json", line.command.json, "Print the answer as `nimbra call` would");
  clean->add_flag("--bytes", line.command.exactBytes, "Sizes as exact byte counts");
  clean->add_flag("--binary", line.command.binaryUnits,
                  "Sizes in KiB, MiB, GiB (powers of 1024, as du -h counts)");
  line.junkClean = clean;

  CLI::App* trash =
      command(app, line, "trash",
              "What the Trash holds, newest first: where each entry came from, when it was moved "
              "there and its size.",
              "nimbra trash", View::trash);
  trash
      ->add_flag("-0,--null", line.command.nullSeparated,
                 "Print only where each entry is now, in the Trash, each followed by a NUL byte, "
                 "for `xargs -0`")
      ->excludes(line.json);
  CLI::App* restore = trash->add_subcommand(
      "restore",
      "Put entries of the Trash back where they came from. Nothing is put back over a file or "
      "folder that is there now, or through a symbolic link; a missing folder on the way is "
      "made.");
  restore->footer("Example:\n  nimbra trash restore ~/Documents/report.pdf\n");
  restore
      ->add_option("PATH", line.command.paths,
                   "Where an entry came from (of several moved from there, the newest goes back), "
                   "or the entry itself, as `nimbra trash -0` prints it")
      ->required();
  restore->add_flag("--json", line.command.json, "Print the answer as `nimbra call` would");
  line.trashRestore = restore;
  CLI::App* empty = trash->add_subcommand(
      "empty", "Delete entries of the Trash for good, after listing them and asking.");
  empty->footer("Example:\n  nimbra trash empty --older-than 30\n");
  empty
      ->add_option("--older-than", line.olderThanDays,
                   "Only the entries moved to the Trash more than DAYS days ago (those with no "
                   "record of when stay)")
      ->type_name("DAYS");
  empty->add_flag("--yes", line.command.yes, "Do not ask for confirmation");
  empty->add_flag("--json", line.command.json, "Print the answer as `nimbra call` would");
  empty->add_flag("--bytes", line.command.exactBytes, "Sizes as exact byte counts");
  empty->add_flag("--binary", line.command.binaryUnits,
                  "Sizes in KiB, MiB, GiB (powers of 1024, as du -h counts)");
  line.trashEmpty = empty;

  CLI::App* size = command(app, line, "size",
                           "The size of each path: the lengths of its files, as du -sb counts "
                           "(a sparse file counts its length, a file with several names counts "
                           "for each). A link given here is measured where it leads, as tree "
                           "does. Folders that cannot be read are named, and the command then "
                           "exits 1, as du does.",
                           "nimbra size ~/Library /var/log", View::size);
  size->add_option("PATH", line.command.paths, "Files or folders")->required();
  size->add_flag("--si", line.command.siUnits,
                 "Sizes as du --si prints them (1.3M, 420k), one line a path, for sort -h");
  CLI::App* types =
      command(app, line, "types",
              "What a folder holds, by kind of file (images, video, audio, documents, archives, "
              "code, applications, other), by extension and by the age of the last change, in "
              "one walk counted as tree counts.",
              "nimbra types ~", View::types);
  types->add_option("PATH", line.root, "The folder (default: the home folder)");
  command(app, line, "sys", "The machine: system, processor, memory, volumes.", "nimbra sys",
          View::sys);
  command(app, line, "mem", "Memory in use and the processes that hold the most.", "nimbra mem",
          View::mem);
  command(app, line, "startup", "What starts by itself: agents, daemons, login items.",
          "nimbra startup", View::startup);
  command(app, line, "apps", "Installed applications, largest first.", "nimbra apps", View::apps);
  CLI::App* changes = command(
      app, line, "changes",
      "What grew and what shrank below a folder between two of its snapshots (recorded by "
      "`nimbra tree PATH --record`): the changed folders as a tree, with + and - sizes, new and "
      "gone folders. A folder whose change lies all in one of its own folders is left out, and "
      "so is what lies inside a new or gone one.",
      "nimbra changes ~/Downloads --since 2026-12-01", View::changes);
  changes->add_option("PATH", line.folder, "The folder (default: the home folder)");
  changes->add_option("--since", line.since,
                      "Compare from this snapshot (an id, as `nimbra history` shows them) or "
                      "from the last one taken by this date (2026-12-01, \"2026-12-01 14:30\"); "
                      "by default from the one before the newest");
  CLI::App* history =
      command(app, line, "history",
              "The snapshots of a folder's disk usage, or of every folder, with how much each "
              "grew since the one before. They are kept in $XDG_STATE_HOME/nimbra/"
              "history.sqlite3 (~/.local/state/nimbra by default), 30 a folder at most.",
              "nimbra history ~/Downloads", View::history);
  history->add_option("PATH", line.folder, "The folder (default: every folder)");
  CLI::App* forget =
      history->add_subcommand("forget", "Forget the snapshots of a folder, or every snapshot.");
  forget->footer("Example:\n  nimbra history forget ~/Downloads\n");
  forget->add_option("PATH", line.folder, "The folder (default: every folder)");
  forget->add_flag("--json", line.command.json, "Print the answer as `nimbra call` would");
  line.historyForget = forget;
  CLI::App* leftovers =
      command(app, line, "leftovers", "What an application leaves in the library folders.",
              "nimbra leftovers com.example.MyApp MyApp", View::leftovers);
  leftovers->add_option("BUNDLE_ID", line.bundleId, "The application's bundle identifier")
      ->required();
  leftovers->add_option("NAME", line.name, "The application's name")->required();
}

namespace {

// A path as the channel carries it: a string, or its bytes when it is not UTF-8 (a string
// would arrive with its bad bytes replaced, naming another file).
Value pathValue(const std::string& path) {
  if (isValidUtf8(path)) return path;
  return Bytes(path.begin(), path.end());
}

// `path` from the root: a relative one as the folder it names now (links resolved, as there is
// no other way to say which folder "." is); an absolute one as it is.
std::string absoluteFolder(const std::string& path) {
  if (path.starts_with('/')) return withoutTrailingSlashes(path);
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (resolved) return resolved.get();
  const std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), &std::free);
  return withoutTrailingSlashes((here ? std::string(here.get()) + "/" : "") + path);
}

// The folder whose history `changes` and `history` look up: the folder `tree --record` would
// have recorded for the same words, and a folder that is gone by the name it had.
std::string historyFolder(const std::string& path) {
  const CheckedRoot checked = folderToWalk(path);
  return absoluteFolder(checked.error.empty() ? checked.root : path);
}

// What `size` measures for `path`: where a link leads, as `tree` walks it; the path itself
// otherwise.
std::string measuredPath(const std::string& path) {
  struct stat self {};
  if (::lstat(withoutTrailingSlashes(path).c_str(), &self) != 0 || !S_ISLNK(self.st_mode))
    return path;
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

// `path` made absolute against the working folder, "." and ".." taken away by their text and
// trailing slashes dropped, as a record spells the place an entry came from.
std::string absoluteAsWritten(const std::string& path) {
  std::error_code noWorkingFolder;
  const std::filesystem::path absolute = std::filesystem::absolute(path, noWorkingFolder);
  if (noWorkingFolder) return path;
  return withoutTrailingSlashes(absolute.lexically_normal().string());
}

}  // namespace

std::optional<Command> chosenViewCommand(ViewCommandLine& line) {
  bool chosen = false;
  for (CLI::App* sub : line.subcommands) chosen = chosen || sub->parsed();
  if (!chosen) return std::nullopt;
  ViewCommand& command = line.command;
  if (line.junkClean->parsed()) command.view = View::junkClean;
  if (line.trashRestore->parsed()) command.view = View::trashRestore;
  if (line.trashEmpty->parsed()) command.view = View::trashEmpty;
  if (line.olderThanDays && *line.olderThanDays < 0) {
    return CommandLineExit{kExitUsage, "",
                           "nimbra: --older-than: " + std::to_string(*line.olderThanDays) +
                               " is no number of days (0 or more)\n"};
  }
  command.olderThanDays = line.olderThanDays;
  if (line.historyForget->parsed()) command.view = View::historyForget;
  if (command.view == View::junkClean && command.toTrash &&
      std::find(command.categories.begin(), command.categories.end(), kTrashCategory) !=
          command.categories.end()) {
    return CommandLineExit{kExitUsage, "",
                           "nimbra: junk clean: what is in the Trash cannot be moved to the Trash; "
                           "`nimbra junk clean trash` (without --trash) deletes it for good\n"};
  }
  if (command.exportNcdu == kStandardOutput && command.json) {
    return CommandLineExit{kExitUsage, "",
                           "nimbra: --export-ncdu -: standard output is taken by --json\n"};
  }
  ValueMap rootArgs;
  if (!line.root.empty()) {
    const CheckedRoot checked = folderToWalk(line.root);
    if (!checked.error.empty())
      return CommandLineExit{kExitFailure, "", "nimbra: " + checked.error + "\n"};
    // A snapshot is kept under the folder's path: it must name the same folder from anywhere.
    const std::string root = command.record ? absoluteFolder(checked.root) : checked.root;
    rootArgs.emplace(command.view == View::tree || command.view == View::types ? "path" : "root",
                     pathValue(root));
  }
  if (command.record) rootArgs.emplace("record", true);
  if (!line.folder.empty()) {
    command.folder = historyFolder(line.folder);
    rootArgs.emplace("path", pathValue(command.folder));
  }
  if (!line.minSize.empty()) {
    const std::optional<int64_t> minSize = parseByteSize(line.minSize);
    if (!minSize) {
      return CommandLineExit{
          kExitUsage, "",
          "nimbra: --min: \"" + line.minSize + "\" is no size (" + kSizeHelp + ")\n"};
    }
    rootArgs.emplace("minSize", *minSize);
  }
  switch (command.view) {
    case View::tree:
      rootArgs.emplace("depth", line.depth);
      command.calls = {{"analyzeDisk", rootArgs}};
      break;
    case View::large: command.calls = {{"scanLargeFiles", rootArgs}}; break;
    case View::types: command.calls = {{"fileStats", rootArgs}}; break;
    case View::dupes: command.calls = {{"scanDuplicates", rootArgs}}; break;
    case View::junk:
    case View::junkClean:  // the deletion call is made from the scan's answer
      command.calls = {{"scanJunk", Value()}};
      break;
    case View::trashRestore:
      // Where the entries came from is in the listing, and so are the entries to put back.
      for (std::string& path : command.paths) path = absoluteAsWritten(path);
      [[fallthrough]];
    case View::trash:
    case View::trashEmpty:  // what goes is chosen from the listing, and asked about
      command.calls = {{"listTrash", Value()}};
      break;
    case View::size: {
      // What cannot be measured is said and left out; the other paths are still measured.
      std::vector<std::string> measurable;
      for (const std::string& path : command.paths) {
        const std::string problem = unmeasurable(path);
        if (!problem.empty()) {
          command.complaints.push_back(problem);
          continue;
        }
        measurable.push_back(path);
        command.calls.push_back({"sizeOf", ValueMap{{"path", pathValue(measuredPath(path))}}});
      }
      command.paths = std::move(measurable);
      break;
    }
    case View::sys: command.calls = {{"systemInfo", Value()}}; break;
    case View::mem: command.calls = {{"memoryInfo", Value()}}; break;
    case View::startup: command.calls = {{"listStartupItems", Value()}}; break;
    case View::apps: command.calls = {{"listApps", Value()}}; break;
    case View::leftovers:
      command.calls = {
          {"appLeftovers", ValueMap{{"bundleId", line.bundleId}, {"name", line.name}}}};
      break;
    case View::changes: {
      if (line.since.empty()) {
        command.calls = {{"diskChanges", rootArgs}};
        break;
      }
      // An id names its snapshot; a date is looked up among the folder's snapshots first.
      if (line.since.find_first_not_of("0123456789") == std::string::npos) {
        rootArgs.emplace("from", static_cast<int64_t>(std::stoll(line.since.substr(0, 18))));
        command.calls = {{"diskChanges", rootArgs}};
        break;
      }
      command.sinceTime = parseLocalDate(line.since);
      if (!command.sinceTime) {
        return CommandLineExit{kExitUsage, "",
                               "nimbra: --since: \"" + line.since +
                                   "\" is neither a snapshot id nor a date (2026-12-01, "
                                   "\"2026-12-01 14:30\")\n"};
      }
      if (!rootArgs.count("path")) rootArgs.emplace("path", pathValue(homeDirectory()));
      command.calls = {{"diskHistory", rootArgs}};
      break;
    }
    case View::history: command.calls = {{"diskHistory", rootArgs}}; break;
    case View::historyForget: command.calls = {{"forgetHistory", rootArgs}}; break;
  }
  return command;
}

}  // namespace nimbra
