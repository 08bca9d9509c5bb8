#include "server/sqlite_database.h"

#include <stdexcept>
#include <utility>

#include <sqlite3.h>

namespace tovik::server {

namespace {

sqlite3* openOrThrow(const std::string& name, int flags, const std::string& shownPath) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw std::runtime_error("cannot open database " + shownPath + ": " + message);
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

}  // namespace

void SqliteDatabase::tuneForConcurrentReaders() {
  static const bool tuned = [] { return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK; }();
  (void)tuned;
}

SqliteDatabase SqliteDatabase::openImage(std::string_view image, const std::string& shownPath) {
  SqliteDatabase db(openOrThrow(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
                                shownPath));
  // Read-only and not freed by SQLite: the image belongs to the caller and is shared.
  auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(image.data()));
  const auto size = static_cast<sqlite3_int64>(image.size());
  if (sqlite3_deserialize(db.db_, "main", data, size, size, SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
    throw std::runtime_error("cannot open database " + shownPath + ": " + sqlite3_errmsg(db.db_));
  }
  // Pages are used where they lie in the image rather than copied into a page cache.
  db.exec("PRAGMA mmap_size = 1073741824");
  return db;
}

SqliteDatabase SqliteDatabase::create(const std::string& path) {
  return SqliteDatabase(
      openOrThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, path));
}

SqliteDatabase::~SqliteDatabase() { sqlite3_close_v2(db_); }

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
  if (this != &other) {
    sqlite3_close_v2(db_);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

void SqliteDatabase::exec(std::string_view sql) {
  char* error = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw std::runtime_error("SQLite: " + message);
  }
}

SqliteStatement SqliteDatabase::prepare(std::string_view sql) { return SqliteStatement(db_, sql); }

void SqliteDatabase::close() {
  if (db_ != nullptr && sqlite3_close(db_) != SQLITE_OK) {
    throw std::runtime_error(std::string("SQLite: cannot close: ") + sqlite3_errmsg(db_));
  }
  db_ = nullptr;
}

}  // namespace tovik::server
