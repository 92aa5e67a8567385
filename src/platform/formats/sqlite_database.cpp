#include "platform/formats/sqlite_database.h"

#include <sqlite3.h>

namespace nimbra {
namespace {

// Virtual machine steps between two calls of the interrupt check: about a millisecond of work.
constexpr int kStepsPerInterruptCheck = 10000;

}  // namespace

void SqliteStatement::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
  sqlite3_bind_int64(statement_.get(), index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view bytes) {
  // A zero-length blob needs a non-null pointer, or SQLite binds NULL.
  static const char kNothing = 0;
  sqlite3_bind_blob64(statement_.get(), index, bytes.empty() ? &kNothing : bytes.data(),
                      bytes.size(), SQLITE_STATIC);
  return *this;
}

int SqliteStatement::step() { return statement_ ? sqlite3_step(statement_.get()) : SQLITE_MISUSE; }

void SqliteStatement::reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

int64_t SqliteStatement::integer(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

std::string_view SqliteStatement::bytes(int column) const {
  const void* data = sqlite3_column_blob(statement_.get(), column);
  const int length = sqlite3_column_bytes(statement_.get(), column);
  if (!data || length <= 0) return {};
  return {static_cast<const char*>(data), static_cast<size_t>(length)};
}

void SqliteDatabase::Close::operator()(sqlite3* database) const { sqlite3_close_v2(database); }

SqliteDatabase::SqliteDatabase(const std::string& path) {
  sqlite3* database = nullptr;
  const int code =
      sqlite3_open_v2(path.c_str(), &database,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
  database_.reset(database);
  opened_ = code == SQLITE_OK;
  if (database) sqlite3_extended_result_codes(database, 1);
}

int SqliteDatabase::execute(std::string_view sql) {
  return sqlite3_exec(database_.get(), std::string(sql).c_str(), nullptr, nullptr, nullptr);
}

SqliteStatement SqliteDatabase::prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(database_.get(), sql.data(), static_cast<int>(sql.size()), &statement,
                     nullptr);
  SqliteStatement prepared;
  prepared.statement_.reset(statement);
  return prepared;
}

std::optional<std::string> SqliteDatabase::single(std::string_view sql) {
  SqliteStatement statement = prepare(sql);
  if (statement.step() != SQLITE_ROW) return std::nullopt;
  return std::string(statement.bytes(0));
}

int64_t SqliteDatabase::lastInsertId() const { return sqlite3_last_insert_rowid(database_.get()); }

bool SqliteDatabase::inTransaction() const {
  return database_ && sqlite3_get_autocommit(database_.get()) == 0;
}

int64_t SqliteDatabase::changes() const { return sqlite3_changes64(database_.get()); }

int SqliteDatabase::lastCode() const {
  return database_ ? sqlite3_extended_errcode(database_.get()) : SQLITE_NOMEM;
}

std::string SqliteDatabase::lastError() const {
  return database_ ? sqlite3_errmsg(database_.get()) : sqlite3_errstr(SQLITE_NOMEM);
}

void SqliteDatabase::waitForLocks(int milliseconds) {
  sqlite3_busy_timeout(database_.get(), milliseconds);
}

void SqliteDatabase::interruptWhen(std::function<bool()> interrupted) {
  interrupted_ = std::make_unique<std::function<bool()>>(std::move(interrupted));
  sqlite3_progress_handler(
      database_.get(), kStepsPerInterruptCheck,
      [](void* check) { return (*static_cast<std::function<bool()>*>(check))() ? 1 : 0; },
      interrupted_.get());
}

SqliteTransaction::SqliteTransaction(SqliteDatabase& database) : database_(database) {
  open_ = database_.execute("BEGIN IMMEDIATE") == SQLITE_OK;
}

SqliteTransaction::~SqliteTransaction() {
  // Some failures (a full disk) have rolled the transaction back already.
  if (open_ && database_.inTransaction()) database_.execute("ROLLBACK");
}

int SqliteTransaction::commit() {
  if (!open_) return SQLITE_MISUSE;
  const int code = database_.execute("COMMIT");
  // A COMMIT that fails (a full disk) leaves the transaction open; the destructor rolls back.
  open_ = code != SQLITE_OK;
  return code;
}

}  // namespace nimbra
