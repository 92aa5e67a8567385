#pragma once

// A thin owner of one SQLite connection (libsqlite3's C interface) and of its prepared
// statements, for the files of our own that are databases. Nothing throws: calls answer
// SQLite's result codes, and the connection keeps the words of its last failure.
//
// A connection and its statements belong to one thread at a time; statements must not outlive
// their connection.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace nimbra {

class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(SqliteStatement&&) noexcept = default;
  SqliteStatement& operator=(SqliteStatement&&) noexcept = default;

  // Whether it was prepared; a statement that was not answers every step with SQLITE_MISUSE.
  bool ok() const { return statement_ != nullptr; }
  // Parameters count from 1. Text goes in as a blob: bytes stay exactly as they are, whatever
  // they hold (a path need not be UTF-8). A bound view must stay valid until the last step.
  SqliteStatement& bind(int index, int64_t value);
  SqliteStatement& bind(int index, std::string_view bytes);
  // SQLITE_ROW when a row is there to read, SQLITE_DONE at the end, or the failure's code.
  int step();
  // Ready to run again with new bindings.
  void reset();
  // Columns of the current row, counted from 0. A view lasts until the next step or reset.
  int64_t integer(int column) const;
  std::string_view bytes(int column) const;

 private:
  friend class SqliteDatabase;
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

class SqliteDatabase {
 public:
  // Opens the database file at `path` for reading and writing; the file must exist (its
  // creator chooses its mode) and must not be a symbolic link. Check ok(): a connection that
  // could not be opened keeps why.
  explicit SqliteDatabase(const std::string& path);
  SqliteDatabase(SqliteDatabase&&) noexcept = default;
  SqliteDatabase& operator=(SqliteDatabase&&) noexcept = default;

  bool ok() const { return opened_; }
  // Runs statements that answer no rows (one or several, separated by ";").
  int execute(std::string_view sql);
  SqliteStatement prepare(std::string_view sql);
  // The first column of the first row of `sql`, as text; nullopt (with lastError) on failure.
  std::optional<std::string> single(std::string_view sql);
  int64_t lastInsertId() const;
  // Whether a transaction is open.
  bool inTransaction() const;
  // Rows the last INSERT, UPDATE or DELETE changed.
  int64_t changes() const;
  // The last failure: SQLite's extended code and its words ("database or disk is full").
  int lastCode() const;
  std::string lastError() const;
  // How long a statement waits for another connection's lock before it fails with
  // SQLITE_BUSY.
  void waitForLocks(int milliseconds);
  // Asked every few thousand steps of a running statement; when it answers true the
  // statement stops with SQLITE_INTERRUPT. Kept until replaced; must outlive the connection.
  void interruptWhen(std::function<bool()> interrupted);

 private:
  struct Close {
    void operator()(sqlite3* database) const;
  };
  std::unique_ptr<sqlite3, Close> database_;
  bool opened_ = false;
  std::unique_ptr<std::function<bool()>> interrupted_;
};

// BEGIN IMMEDIATE on construction (the write lock is taken at once, so two writers queue
// instead of failing half-way); ROLLBACK on destruction unless committed. Check began().
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDatabase& database);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool began() const { return open_; }
  // SQLITE_OK, or the failure's code (the transaction is then rolled back).
  int commit();

 private:
  SqliteDatabase& database_;
  bool open_ = false;
};

}  // namespace nimbra
