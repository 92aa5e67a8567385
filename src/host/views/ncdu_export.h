#pragma once

// The disk usage tree in the JSON export format that ncdu reads (`ncdu -f FILE`), version 1.2:
//   [1, 2, {metadata}, [{root}, {file}, [{folder}, ...], ...]]
// A folder is an array whose first element describes it and whose other elements are its
// entries; a file is an object. Every entry carries "asize" (logical bytes) and "dsize"
// (allocated bytes, st_blocks x 512); links and special files are entries of size 0 marked
// "notreg". This is a full walk of its own (every depth, every entry), through the shared
// walker, links never followed, kernel pseudo file systems never entered.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace nimbra {

struct NcduExportTotals {
  int64_t entries = 0;
  int64_t logicalBytes = 0;  // of regular files, as the size measurement counts them
  bool complete = true;      // false when `cancelled` stopped the walk
};

// Writes the export of the tree at `root` (its name as given) to `out`. `cancelled` is asked
// before each entry. A name that is not valid UTF-8 is written with U+FFFD in its place, so
// the file stays valid JSON and the sizes still add up.
NcduExportTotals exportNcdu(const std::string& root, std::ostream& out, const std::function<bool()>& cancelled);

// Where `--export-ncdu` writes: this for standard output, any other text a file path.
inline constexpr const char* kStandardOutput = "-";

struct NcduWrite {
  NcduExportTotals totals;
  int error = 0;  // errno of what failed (a write, the rename), 0 when the export is in place
};

// Writes the export of `root` to `target`. A file is replaced whole: the export goes to a new
// file beside it, renamed over it once complete, so a symbolic link at `target` is replaced
// and never written through, and an export that is cancelled or fails leaves `target` as it
// was (totals.complete or error say which). A file that existed keeps its permissions.
NcduWrite writeNcduExport(const std::string& root, const std::string& target, const std::function<bool()>& cancelled);

}  // namespace nimbra
