#include "tovik/info/bundle_text.h"

#include <variant>

#include "tovik/system/bundle.h"

namespace tovik::detail {

std::string bundleText(const Bundle& bundle, const std::string& key, const std::string& fallback) {
  const auto value = bundle.objectForInfoDictionaryKey(key);
  if (value) {
    if (const auto* text = std::get_if<std::string>(&*value)) {
      return *text;
    }
  }
  return fallback;
}

}  // namespace tovik::detail
