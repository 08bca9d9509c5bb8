#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovik {

/// Header fields in the order they were set. Names compare without regard to case, as
/// HTTP requires; each name occurs once.
class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaderFields() = default;
  HTTPHeaderFields(std::initializer_list<Field> fields);

  /// Sets `name` to `value`, replacing an earlier field of that name (in any letter case)
  /// in place and keeping the earlier spelling of the name.
  void set(std::string_view name, std::string value);
  /// Appends a further value for `name` joined with ", " (how a repeated response field reads).
  void append(std::string_view name, std::string_view value);
  /// The value of `name`, in any letter case, or none.
  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  bool remove(std::string_view name);

  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  std::vector<Field>::const_iterator begin() const { return fields_.begin(); }
  std::vector<Field>::const_iterator end() const { return fields_.end(); }

  static bool namesEqual(std::string_view a, std::string_view b);

  bool operator==(const HTTPHeaderFields&) const = default;

 private:
  Field* find(std::string_view name);
  const Field* find(std::string_view name) const;

  std::vector<Field> fields_;
};

}  // namespace tovik
