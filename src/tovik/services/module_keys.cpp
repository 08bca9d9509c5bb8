#include "tovik/services/module_keys.h"

#include <mutex>

namespace tovik {
namespace {

struct Keys {
  std::mutex mutex;
  std::string access;
  std::string poi;
};

Keys& keys() {
  static Keys instance;
  return instance;
}

}  // namespace

std::string moduleAccessKey() {
  const std::lock_guard lock(keys().mutex);
  return keys().access;
}

void setModuleAccessKey(std::string key) {
  const std::lock_guard lock(keys().mutex);
  keys().access = std::move(key);
}

std::string modulePoiKey() {
  const std::lock_guard lock(keys().mutex);
  return keys().poi;
}

void setModulePoiKey(std::string key) {
  const std::lock_guard lock(keys().mutex);
  keys().poi = std::move(key);
}

}  // namespace tovik
