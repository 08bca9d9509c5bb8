#include "tovik/system/device.h"

#include <sys/utsname.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/system/bundle.h"
#include "tovik/system/uuid.h"

namespace tovik {

namespace {

std::string trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(kSpace);
  return std::string(text.substr(first, last - first + 1));
}

// The whole of a small system file, trimmed; empty when it cannot be read.
std::string readTrimmed(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    return {};
  }
  std::ostringstream contents;
  contents << in.rdbuf();
  return trim(contents.str());
}

// A system file as text for the request body: firmware strings are not always UTF-8, and
// an invalid sequence is replaced (U+FFFD) rather than failing every body it goes into.
std::string readText(const std::string& path) {
  const std::string raw = readTrimmed(path);
  // nlohmann's serializer does the replacing; its output is read back as the string.
  const std::string quoted = nlohmann::json(raw).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(quoted).get<std::string>();
}

// One value of an os-release file: KEY=value, the value optionally quoted, with the
// shell-style backslash escapes the format allows.
std::string osReleaseValue(const std::string& contents, std::string_view key) {
  std::istringstream lines(contents);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string trimmed = trim(line);
    if (trimmed.size() <= key.size() || trimmed.compare(0, key.size(), key) != 0 ||
        trimmed[key.size()] != '=') {
      continue;
    }
    std::string_view value = std::string_view(trimmed).substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        ++i;
      }
      unescaped += value[i];
    }
    return unescaped;
  }
  return {};
}

std::string hostBundleIdentifier() {
  const auto value = Bundle::main().objectForInfoDictionaryKey("CFBundleIdentifier");
  if (value) {
    if (const auto* text = std::get_if<std::string>(&*value)) {
      return *text;
    }
  }
  return {};
}

// The machine's own facts; the vendor identifier is derived from them per call, since the
// host may name itself in `Bundle::main()` after the first read.
struct SystemFacts {
  Device device;  // without identifierForVendor
  std::string machineId;
};

SystemFacts readFacts(const std::string& root) {
  utsname names{};
  const bool haveUname = ::uname(&names) == 0;

  SystemFacts facts;
  Device& device = facts.device;
  device.manufacturer = readText(root + "/sys/class/dmi/id/sys_vendor");
  if (device.manufacturer.empty()) {
    device.manufacturer = "unknown";
  }
  device.model = readText(root + "/sys/class/dmi/id/product_name");
  if (device.model.empty() && haveUname) {
    device.model = names.machine;
  }

  std::string osRelease = readText(root + "/etc/os-release");
  if (osRelease.empty()) {
    osRelease = readText(root + "/usr/lib/os-release");
  }
  device.systemName = osReleaseValue(osRelease, "NAME");
  device.systemVersion = osReleaseValue(osRelease, "VERSION_ID");
  if (device.systemName.empty() && haveUname) {
    device.systemName = names.sysname;
  }
  if (device.systemVersion.empty() && haveUname) {
    device.systemVersion = names.release;
  }

  facts.machineId = readTrimmed(root + "/etc/machine-id");
  if (facts.machineId.empty()) {
    facts.machineId = readTrimmed(root + "/var/lib/dbus/machine-id");
  }
  return facts;
}

Device withVendorIdentifier(const SystemFacts& facts) {
  Device device = facts.device;
  if (!facts.machineId.empty()) {
    // Stable for one machine and one host application, different across either.
    device.identifierForVendor = Uuid::applicationSpecific(facts.machineId, hostBundleIdentifier());
  }
  return device;
}

struct CurrentDevice {
  std::mutex mutex;
  std::optional<Device> override;
  std::optional<SystemFacts> system;
};

CurrentDevice& currentDevice() {
  static CurrentDevice instance;
  return instance;
}

}  // namespace

Device Device::readFromSystem() { return readFromSystem(""); }

Device Device::readFromSystem(const std::string& root) { return withVendorIdentifier(readFacts(root)); }

Device Device::current() {
  CurrentDevice& current = currentDevice();
  const std::lock_guard lock(current.mutex);
  if (current.override) {
    return *current.override;
  }
  if (!current.system) {
    current.system = readFacts("");
  }
  return withVendorIdentifier(*current.system);
}

void Device::setCurrent(std::optional<Device> device) {
  CurrentDevice& current = currentDevice();
  const std::lock_guard lock(current.mutex);
  current.override = std::move(device);
}

}  // namespace tovik
