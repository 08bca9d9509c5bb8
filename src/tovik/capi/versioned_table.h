#pragma once

#include <algorithm>
#include <cstring>

namespace tovik::capi {

/// A copy of a C table that starts with its `size`: the members the application's `size`
/// covers, the rest as in `defaults` (zero: absent), and `size` this version's.
template <class Table>
Table knownMembers(const Table& table, const Table& defaults = Table{}) {
  Table copy = defaults;
  std::memcpy(&copy, &table, std::min(table.size, sizeof copy));
  copy.size = sizeof copy;
  return copy;
}

}  // namespace tovik::capi
