#pragma once

// The disk usage tree in the JSON export format that ncdu reads (`ncdu -f FILE`), version 1.2:
//   [1, 2, {metadata}, [{root}, {file}, [{folder}, ...], ...]]
// A folder is an array whose first element describes it and whose other elements are its
// entries; a file is an object. Every entry carries "asize" (logical bytes) and "dsize"
// (allocated bytes, st_blocks x 512); links and special files are entries of size 0 marked
// "notreg". Links are never followed and kernel pseudo file systems never entered, as the disk
// walk that feeds it says (ops/finders/disk_walk.h). A folder the walk could not read is marked
// "read_error", as ncdu marks it.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ops/finders/disk_walk.h"

namespace nimbra {

struct NcduExportTotals {
  int64_t entries = 0;
  int64_t logicalBytes = 0;  // of regular files, as the size measurement counts them
  bool complete = true;      // false when the walk or the export was stopped
};

// Where `--export-ncdu` writes: this for standard output, any other text a file path.
inline constexpr const char* kStandardOutput = "-";

struct NcduWrite {
  NcduExportTotals totals;
  int error = 0;  // errno of what failed (a write, the rename), 0 when the export is in place
  // The target was written where it is (a device, a FIFO, a socket), not replaced: what was
  // written before a stop or a failure stays written.
  bool inPlace = false;
};

// The export of one walk to `target`, as a sink of that walk. It declines no folder, so the walk
// goes to every depth of every folder, whatever the tree it also builds shows. A file is replaced
// whole: the walk writes a new file beside it, which finish() renames over it, so a symbolic link
// at `target` is replaced and never written through, and an export that is stopped, fails or is
// not kept leaves `target` as it was (totals.complete or error say which). A file that existed
// keeps its permissions. A device, FIFO or socket at `target` is never replaced: it is opened
// and written where it is, as a shell's redirection would (a FIFO waits for its reader; a socket
// cannot be opened, and that is the error). `stop` is asked before each entry; once it answers
// true, or a write fails (a reader that went away), the export is incomplete and takes no more
// entries.
//
// The walk calls begin, take and end on its own thread; finish() comes after the walk, on the
// caller's.
class NcduExport final : public DiskWalkSink {
 public:
  NcduExport(std::string target, std::function<bool()> stop);
  // A new file not yet finished is removed; an open target is closed.
  ~NcduExport() override;
  NcduExport(const NcduExport&) = delete;
  NcduExport& operator=(const NcduExport&) = delete;

  void begin(const std::string& root) override;
  bool take(const WalkEntry& entry) override;
  void end(bool complete) override;
  bool owns(const WalkEntry& entry) override;
  void unreadable(const UnreadableFolder& folder) override;

  // Puts a complete export in place when `keep`, else removes it; answers how it went.
  NcduWrite finish(bool keep);

 private:
  struct Output;

  // The descriptor the export writes: the target itself when it is written in place, else a new
  // file beside it; -1 with error_ set when neither can be opened.
  int openTarget();

  std::string target_;
  std::function<bool()> stop_;
  std::string temporary_;  // the new file beside the target, until it is renamed or removed
  std::string temporaryName_;
  int fd_ = -1;  // the new file (or the target written in place), until the walk ends
  bool inPlace_ = false;
  std::unique_ptr<Output> output_;
  // The last folder taken, written once the walk has told whether it could be read (ncdu's
  // "read_error" is part of the folder's own object).
  struct PendingFolder {
    std::string name;
    std::string path;
    struct stat info;
    bool unreadable = false;
  };
  std::optional<PendingFolder> pending_;
  void writePending();
  int openFolders_ = 1;  // arrays written and not yet closed: the root's and its open descendants'
  NcduExportTotals totals_;
  int error_ = 0;
};

}  // namespace nimbra
