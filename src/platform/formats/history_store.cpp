#include "platform/formats/history_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>

#include "base/errno_text.h"
#include "base/path_parts.h"
#include "platform/fs/private_folder.h"

namespace nimbra {
namespace {

// Two processes recording at once take turns; a snapshot's transaction takes milliseconds, so
// a wait this long means something else holds the file.
constexpr int kLockWaitMs = 10000;

// Each step takes the schema from version i to i + 1. Never edit a step once released: add one.
// Ids are AUTOINCREMENT so that an id forgotten never names a later snapshot.
constexpr std::array<std::string_view, kHistorySchemaVersion> kMigrations = {
    "CREATE TABLE snapshots ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  root BLOB NOT NULL,"
    "  takenAt INTEGER NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  files INTEGER NOT NULL,"
    "  folders INTEGER NOT NULL,"
    "  unreadable INTEGER NOT NULL,"
    "  tree BLOB NOT NULL);"
    "CREATE INDEX snapshotsByRoot ON snapshots (root, id);",
};

constexpr std::string_view kSummaryColumns =
    "SELECT id, root, takenAt, size, files, folders, unreadable FROM snapshots ";

bool isBroken(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

SnapshotSummary summaryOf(const SqliteStatement& row) {
  return {row.integer(0), std::string(row.bytes(1)),
          row.integer(2), row.integer(3),
          row.integer(4), row.integer(5),
          row.integer(6)};
}

// "history.sqlite3.broken-2026-12-07T20-05-31", numbered when that name is taken.
std::string brokenName(int folderFd, const std::string& name) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H-%M-%S", &local);
  const std::string base = name + ".broken-" + date;
  std::string candidate = base;
  struct stat info {};
  for (int n = 2; ::fstatat(folderFd, candidate.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0; ++n)
    candidate = base + "-" + std::to_string(n);
  return candidate;
}

// Why the open database is not a usable store, as SQLite says it: "" when it is, with its
// schema brought up to date. `broken` tells a damaged file from one that is merely busy, full
// or newer than this build.
std::string readyForUse(SqliteDatabase& database, bool& broken) {
  const auto failed = [&] {
    broken = isBroken(database.lastCode());
    return database.lastError();
  };
  database.waitForLocks(kLockWaitMs);
  const auto version = [&database]() -> std::optional<int64_t> {
    SqliteStatement read = database.prepare("PRAGMA user_version");
    if (read.step() != SQLITE_ROW) return std::nullopt;
    return read.integer(0);
  };
  std::optional<int64_t> at = version();
  if (!at) return failed();
  // On a new file only, and before anything is written to it, so that forgetting can give the
  // space back (forget()). Not FULL: that would move pages at every commit that drops the
  // oldest snapshot, whose pages the next snapshot takes anyway.
  if (*at == 0 && database.execute("PRAGMA auto_vacuum = INCREMENTAL") != SQLITE_OK)
    return failed();
  const std::optional<std::string> mode = database.single("PRAGMA journal_mode = WAL");
  if (!mode) return failed();
  const std::optional<std::string> check = database.single("PRAGMA quick_check");
  if (!check) return failed();
  if (*check != "ok") {
    broken = true;
    return *check;
  }
  // In WAL mode a commit survives the process ending at any moment; a power cut may lose the
  // last snapshot, never the file.
  if (database.execute("PRAGMA synchronous = NORMAL") != SQLITE_OK) return failed();
  if (*at == kHistorySchemaVersion) return "";
  SqliteTransaction transaction(database);
  if (!transaction.began()) return failed();
  // Another process may have brought the schema up meanwhile.
  at = version();
  if (!at) return failed();
  if (*at > kHistorySchemaVersion)
    return "written by a newer Nimbra (schema " + std::to_string(*at) + "); left as it is";
  for (int64_t step = *at; step < kHistorySchemaVersion; ++step) {
    if (database.execute(kMigrations[static_cast<size_t>(step)]) != SQLITE_OK) {
      // A file of ours is never in a state no migration starts from: this one is not ours.
      broken = true;
      return database.lastError();
    }
  }
  if (database.execute("PRAGMA user_version = " + std::to_string(kHistorySchemaVersion)) !=
          SQLITE_OK ||
      transaction.commit() != SQLITE_OK) {
    return failed();
  }
  return "";
}

}  // namespace

HistoryOpening HistoryStore::open(const std::string& path, bool create) {
  HistoryOpening opening;
  const PathParts parts = splitLastComponent(path);
  const PrivateFolder folder = openPrivateFolder(parts.parent, create);
  if (!folder.fd.ok()) {
    opening.error = folder.error;
    return opening;
  }
  for (bool movedOnce = false;;) {
    const PrivateFile file = preparePrivateFile(folder, parts.name, create);
    if (file.state != PrivateFileState::ready) {
      opening.error = file.error;
      return opening;
    }
    std::string problem;
    bool broken = false;
    {
      SqliteDatabase database(folder.realPath + "/" + parts.name);
      broken = !database.ok() && isBroken(database.lastCode());
      problem = database.ok() ? readyForUse(database, broken) : database.lastError();
      if (problem.empty()) {
        opening.store.emplace(HistoryStore(std::move(database)));
        return opening;
      }
    }  // closed before its files move
    if (!broken || movedOnce) {
      opening.error = folder.realPath + "/" + parts.name + ": " + problem;
      return opening;
    }
    const std::string aside = brokenName(folder.fd.get(), parts.name);
    if (::renameat(folder.fd.get(), parts.name.c_str(), folder.fd.get(), aside.c_str()) != 0) {
      opening.error = pathErrorText(folder.realPath + "/" + parts.name, errno);
      return opening;
    }
    // The log goes with it, for whoever wants to look; the shared-memory index is rebuilt.
    (void)::renameat(folder.fd.get(), (parts.name + "-wal").c_str(), folder.fd.get(),
                     (aside + "-wal").c_str());
    (void)::unlinkat(folder.fd.get(), (parts.name + "-shm").c_str(), 0);
    opening.movedAside = MovedAside{folder.realPath + "/" + aside, problem};
    movedOnce = true;
  }
}

template <class T>
std::optional<T> HistoryStore::failed() {
  lastCode_ = database_.lastCode();
  lastError_ = database_.lastError();
  return std::nullopt;
}

std::optional<int64_t> HistoryStore::add(const SnapshotSummary& summary, std::string_view tree,
                                         const std::function<void()>& betweenWrites) {
  SqliteTransaction transaction(database_);
  if (!transaction.began()) return failed<int64_t>();
  SqliteStatement insert = database_.prepare(
      "INSERT INTO snapshots (root, takenAt, size, files, folders, unreadable, tree) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  insert.bind(1, summary.root)
      .bind(2, summary.takenAt)
      .bind(3, summary.size)
      .bind(4, summary.files)
      .bind(5, summary.folders)
      .bind(6, summary.unreadable)
      .bind(7, tree);
  if (insert.step() != SQLITE_DONE) return failed<int64_t>();
  const int64_t id = database_.lastInsertId();
  if (betweenWrites) betweenWrites();
  SqliteStatement trim = database_.prepare(
      "DELETE FROM snapshots WHERE root = ?1 AND id NOT IN "
      "(SELECT id FROM snapshots WHERE root = ?1 ORDER BY id DESC LIMIT ?2)");
  trim.bind(1, summary.root).bind(2, kSnapshotsKeptPerFolder);
  if (trim.step() != SQLITE_DONE || transaction.commit() != SQLITE_OK) return failed<int64_t>();
  return id;
}

std::optional<std::vector<SnapshotSummary>> HistoryStore::snapshots(
    const std::optional<std::string>& root) {
  SqliteStatement select =
      database_.prepare(std::string(kSummaryColumns) +
                        (root ? "WHERE root = ?1 ORDER BY id DESC" : "ORDER BY root, id DESC"));
  if (root) select.bind(1, *root);
  std::vector<SnapshotSummary> found;
  int code;
  while ((code = select.step()) == SQLITE_ROW) found.push_back(summaryOf(select));
  if (code != SQLITE_DONE) return failed<std::vector<SnapshotSummary>>();
  return found;
}

std::optional<SnapshotSummary> HistoryStore::snapshot(int64_t id) {
  SqliteStatement select = database_.prepare(std::string(kSummaryColumns) + "WHERE id = ?1");
  select.bind(1, id);
  if (const int code = select.step(); code != SQLITE_ROW) {
    if (code == SQLITE_DONE) return std::nullopt;
    return failed<SnapshotSummary>();
  }
  return summaryOf(select);
}

std::optional<std::string> HistoryStore::tree(int64_t id) {
  SqliteStatement select = database_.prepare("SELECT tree FROM snapshots WHERE id = ?1");
  select.bind(1, id);
  if (const int code = select.step(); code != SQLITE_ROW) {
    if (code == SQLITE_DONE) return std::nullopt;
    return failed<std::string>();
  }
  return std::string(select.bytes(0));
}

std::optional<int64_t> HistoryStore::forget(const std::optional<std::string>& root) {
  SqliteTransaction transaction(database_);
  if (!transaction.began()) return failed<int64_t>();
  SqliteStatement remove =
      database_.prepare(root ? "DELETE FROM snapshots WHERE root = ?1" : "DELETE FROM snapshots");
  if (root) remove.bind(1, *root);
  if (remove.step() != SQLITE_DONE) return failed<int64_t>();
  const int64_t removed = database_.changes();
  if (transaction.commit() != SQLITE_OK) return failed<int64_t>();
  // People forget to free the space: the file shrinks by the pages set free.
  (void)database_.execute("PRAGMA incremental_vacuum");
  return removed;
}

void HistoryStore::interruptWhen(std::function<bool()> interrupted) {
  database_.interruptWhen(std::move(interrupted));
}

bool HistoryStore::interrupted() const { return (lastCode_ & 0xff) == SQLITE_INTERRUPT; }

}  // namespace nimbra
