#include "tovik/system/bundle.h"

#include "tovik/system/build_config.h"

namespace tovik {

Bundle& Bundle::main() {
  static Bundle bundle;
  return bundle;
}

Bundle& Bundle::kit() {
  static Bundle& bundle = []() -> Bundle& {
    static Bundle filled;
    filled.setObject("CFBundleShortVersionString", std::string(TOVIK_BUNDLE_SHORT_VERSION));
    filled.setObject("CFBundleVersion", std::string(TOVIK_BUNDLE_VERSION));
    return filled;
  }();
  return bundle;
}

void Bundle::setObject(const std::string& key, BundleValue value) {
  const std::lock_guard lock(mutex_);
  values_.insert_or_assign(key, std::move(value));
}

void Bundle::removeObject(const std::string& key) {
  const std::lock_guard lock(mutex_);
  values_.erase(key);
}

std::optional<BundleValue> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  const std::lock_guard lock(mutex_);
  const auto found = values_.find(key);
  if (found == values_.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace tovik
