#include "tovik/network/http_header_fields.h"

#include <algorithm>

namespace tovik {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) {
    set(name, value);
  }
}

bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

HTTPHeaderFields::Field* HTTPHeaderFields::find(std::string_view name) {
  auto it = std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
  return it == fields_.end() ? nullptr : &*it;
}

const HTTPHeaderFields::Field* HTTPHeaderFields::find(std::string_view name) const {
  return const_cast<HTTPHeaderFields*>(this)->find(name);
}

void HTTPHeaderFields::set(std::string_view name, std::string value) {
  if (Field* field = find(name)) {
    field->second = std::move(value);
  } else {
    fields_.emplace_back(std::string(name), std::move(value));
  }
}

void HTTPHeaderFields::append(std::string_view name, std::string_view value) {
  if (Field* field = find(name)) {
    field->second.append(", ").append(value);
  } else {
    fields_.emplace_back(std::string(name), std::string(value));
  }
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
  if (const Field* field = find(name)) {
    return field->second;
  }
  return std::nullopt;
}

bool HTTPHeaderFields::remove(std::string_view name) {
  auto it = std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
  if (it == fields_.end()) {
    return false;
  }
  fields_.erase(it);
  return true;
}

}  // namespace tovik
