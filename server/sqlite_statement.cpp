#include "server/sqlite_statement.h"

#include <stdexcept>
#include <utility>

#include <sqlite3.h>

namespace tovik::server {

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot prepare statement: ") + sqlite3_errmsg(db));
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    db_ = std::exchange(other.db_, nullptr);
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

void SqliteStatement::check(int rc) const {
  if (rc != SQLITE_OK) {
    throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }
}

SqliteStatement& SqliteStatement::bind(int index, double value) {
  check(sqlite3_bind_double(stmt_, index, value));
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
  check(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
  return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, std::span<const std::byte> bytes) {
  check(sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  check(sqlite3_bind_null(stmt_, index));
  return *this;
}

bool SqliteStatement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    return true;
  }
  if (rc == SQLITE_DONE) {
    return false;
  }
  throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
}

void SqliteStatement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

double SqliteStatement::columnDouble(int column) const { return sqlite3_column_double(stmt_, column); }

std::int64_t SqliteStatement::columnInt64(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string SqliteStatement::columnText(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::span<const std::byte> SqliteStatement::columnBlob(int column) const {
  const auto* data = static_cast<const std::byte*>(sqlite3_column_blob(stmt_, column));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column));
  return data == nullptr ? std::span<const std::byte>() : std::span<const std::byte>(data, size);
}

}  // namespace tovik::server
