#pragma once

#include <string>

namespace tovik {

class Bundle;

namespace detail {

/// The text stored under `key` in `bundle`, or `fallback` when the key is missing or its
/// value is not text (a number is not converted).
std::string bundleText(const Bundle& bundle, const std::string& key, const std::string& fallback);

}  // namespace detail
}  // namespace tovik
