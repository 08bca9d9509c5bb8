#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tovik::server {

/// One prepared SQLite statement. Parameters are numbered from 1 and columns from 0, as in
/// SQLite. Every failure throws `std::runtime_error` with SQLite's message.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;

  SqliteStatement& bind(int index, double value);
  SqliteStatement& bind(int index, std::int64_t value);
  SqliteStatement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bindBlob(int index, std::span<const std::byte> bytes);
  SqliteStatement& bindNull(int index);

  /// Runs to the next row: true while there is one, false when done.
  bool step();
  /// Makes the statement ready to run again and clears its parameters.
  void reset();

  bool isNull(int column) const;
  double columnDouble(int column) const;
  std::int64_t columnInt64(int column) const;
  std::string columnText(int column) const;
  /// Valid until the next step or reset.
  std::span<const std::byte> columnBlob(int column) const;

 private:
  void check(int rc) const;

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace tovik::server
