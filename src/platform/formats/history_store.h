#pragma once

// The disk usage history: one SQLite file per user (history.sqlite3 in $XDG_STATE_HOME/nimbra),
// holding the snapshots that "analyzeDisk" records. A snapshot is one row: the folder it is of
// (its root), when it was taken, the root's totals, and the figures of every folder below it as
// one snapshot tree (snapshot_tree.h).
//
// The file is 0600 in a 0700 folder and never reached through a link (private_folder.h). It is
// in WAL mode, so readers never wait for a writer; each snapshot goes in with one transaction,
// so a process killed half-way leaves the earlier snapshots as they were and no part of the new
// one. The schema carries its version (PRAGMA user_version) and is brought up to date by the
// migrations in order. A file that is no database, or fails SQLite's check, is moved aside to
// history.sqlite3.broken-DATE (its write-ahead log beside it), and the caller is told once.
//
// Blocking: every call does file I/O and may wait up to a few seconds for another process
// that is writing. One store per thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/formats/sqlite_database.h"

namespace nimbra {

// Snapshots kept per folder; recording another drops the oldest.
inline constexpr int64_t kSnapshotsKeptPerFolder = 30;
// The schema this build writes.
inline constexpr int64_t kHistorySchemaVersion = 1;

struct SnapshotSummary {
  int64_t id = 0;
  std::string root;     // the folder, as recorded (bytes; not necessarily UTF-8)
  int64_t takenAt = 0;  // seconds since 1970
  int64_t size = 0;     // the root's totals
  int64_t files = 0;
  int64_t folders = 0;     // in the tree, the root among them
  int64_t unreadable = 0;  // folders the walk could not read
};

// A file that had to be moved aside when the store was opened.
struct MovedAside {
  std::string path;    // where it is now
  std::string reason;  // SQLite's words for what was wrong
};

struct HistoryOpening;

class HistoryStore {
 public:
  // Opens the store at `path` (absolute). With `create`, the file and its folder are made when
  // missing; without, a missing store is no error and no store. See HistoryOpening.
  static HistoryOpening open(const std::string& path, bool create);

  HistoryStore(HistoryStore&&) noexcept = default;
  HistoryStore& operator=(HistoryStore&&) noexcept = default;

  // Adds the snapshot `summary` describes (its id is ignored) with its tree, then drops the
  // oldest snapshots of the same root beyond kSnapshotsKeptPerFolder, all in one transaction.
  // `betweenWrites` runs inside the transaction, after the snapshot is written and before
  // anything else is: tests kill the process there. Answers the new id; nullopt on failure
  // (lastError), and then nothing has changed.
  std::optional<int64_t> add(const SnapshotSummary& summary, std::string_view tree,
                             const std::function<void()>& betweenWrites = {});
  // The snapshots of `root`, or of every folder when nullopt, newest first (in the order they
  // were recorded).
  std::optional<std::vector<SnapshotSummary>> snapshots(const std::optional<std::string>& root);
  // One snapshot; nullopt when there is no such id (lastError empty) or on failure.
  std::optional<SnapshotSummary> snapshot(int64_t id);
  // The tree of snapshot `id`; nullopt when there is none or on failure.
  std::optional<std::string> tree(int64_t id);
  // Removes the snapshots of `root`, or all of them when nullopt; answers how many went.
  std::optional<int64_t> forget(const std::optional<std::string>& root);

  // Statements stop early (and fail) once `interrupted` answers true.
  void interruptWhen(std::function<bool()> interrupted);
  // The words of the last failure; whether it was an interruption.
  const std::string& lastError() const { return lastError_; }
  bool interrupted() const;

 private:
  explicit HistoryStore(SqliteDatabase database) : database_(std::move(database)) {}
  // Keeps the connection's last failure (a rollback after it would replace its words).
  template <class T>
  std::optional<T> failed();

  SqliteDatabase database_;
  std::string lastError_;
  int lastCode_ = 0;
};

struct HistoryOpening {
  // The store; absent when there is none to read (not made without `create`) or it cannot be
  // opened (`error` says why: a link, another user's file, a full disk, a newer schema ...).
  std::optional<HistoryStore> store;
  std::string error;
  // Set when a broken file was moved aside by this opening (a new one was then started when
  // `create` was given).
  std::optional<MovedAside> movedAside;
};

}  // namespace nimbra
