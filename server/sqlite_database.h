#pragma once

#include <string>
#include <string_view>

#include "server/sqlite_statement.h"

struct sqlite3;

namespace tovik::server {

/// One SQLite connection. Opening fails with `std::runtime_error` naming the file.
class SqliteDatabase {
 public:
  /// Opens a database image held in memory, read-only, for one thread at a time. `image`
  /// must outlive the connection; any number of connections may share it. `shownPath`
  /// names it in errors.
  static SqliteDatabase openImage(std::string_view image, const std::string& shownPath);
  /// Creates (or opens) a database for writing.
  static SqliteDatabase create(const std::string& path);
  /// Turns off SQLite's process-wide memory statistics, whose mutex every allocation of
  /// every connection would otherwise take. Has effect only before SQLite's first use in
  /// the process; later calls change nothing.
  static void tuneForConcurrentReaders();

  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  SqliteDatabase(SqliteDatabase&& other) noexcept;
  SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;

  /// Runs one or more statements that return no rows.
  void exec(std::string_view sql);
  SqliteStatement prepare(std::string_view sql);
  /// Closes now (also done by the destructor); throws if SQLite refuses.
  void close();
  sqlite3* handle() const { return db_; }

 private:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}

  sqlite3* db_ = nullptr;
};

}  // namespace tovik::server
