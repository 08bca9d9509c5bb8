#include "tovik/network/reachability_probe.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tovik/network/network_checker.h"

namespace tovik {

namespace {

constexpr unsigned long kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned long kRouteReject = 0x0200;  // RTF_REJECT

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

bool parseHex(const std::string& text, unsigned long& value) {
  try {
    std::size_t used = 0;
    value = std::stoul(text, &used, 16);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

bool usableRoute(const std::string& flagsText) {
  unsigned long flags = 0;
  return parseHex(flagsText, flags) && (flags & kRouteUp) != 0 && (flags & kRouteReject) == 0;
}

// The interfaces that carry a default route, from either table.
std::vector<std::string> defaultRouteInterfaces(std::optional<std::string_view> ipv4Routes,
                                                std::optional<std::string_view> ipv6Routes) {
  std::vector<std::string> interfaces;
  if (ipv4Routes) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first line names them.
    std::istringstream in{std::string(*ipv4Routes)};
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      const auto f = fields(line);
      if (f.size() >= 8 && f[1] == "00000000" && f[7] == "00000000" && f[0] != "lo" && usableRoute(f[3])) {
        interfaces.push_back(f[0]);
      }
    }
  }
  if (ipv6Routes) {
    // destination prefix source prefix next-hop metric refcount use flags device
    std::istringstream in{std::string(*ipv6Routes)};
    std::string line;
    while (std::getline(in, line)) {
      const auto f = fields(line);
      if (f.size() >= 10 && f[0] == std::string(32, '0') && f[1] == "00" && f[9] != "lo" && usableRoute(f[8])) {
        interfaces.push_back(f[9]);
      }
    }
  }
  return interfaces;
}

ReachabilityProbe::InterfaceState stateFromFlags(std::string_view name) {
  ifreq request{};
  if (name.empty() || name.size() >= sizeof(request.ifr_name)) {
    return ReachabilityProbe::InterfaceState::down;
  }
  std::memcpy(request.ifr_name, name.data(), name.size());
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return ReachabilityProbe::InterfaceState::down;
  }
  const bool read = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  ::close(fd);
  const auto flags = static_cast<unsigned>(request.ifr_flags);
  return read && (flags & IFF_UP) && (flags & IFF_RUNNING) ? ReachabilityProbe::InterfaceState::up
                                                             : ReachabilityProbe::InterfaceState::down;
}

}  // namespace

std::optional<std::uint32_t> ReachabilityProbe::currentFlags() {
  const auto ipv4 = readFile("/proc/net/route");
  const auto ipv6 = readFile("/proc/net/ipv6_route");
  if (!ipv4 && !ipv6) {
    return std::nullopt;
  }
  return flagsFromRoutes(ipv4 ? std::optional<std::string_view>(*ipv4) : std::nullopt,
                         ipv6 ? std::optional<std::string_view>(*ipv6) : std::nullopt, interfaceState);
}

std::uint32_t ReachabilityProbe::flagsFromRoutes(std::optional<std::string_view> ipv4Routes,
                                                 std::optional<std::string_view> ipv6Routes,
                                                 const InterfaceStateReader& interfaceState) {
  std::uint32_t flags = 0;
  for (const auto& name : defaultRouteInterfaces(ipv4Routes, ipv6Routes)) {
    switch (interfaceState(name)) {
      case InterfaceState::up:
        return NetworkChecker::kReachable;
      case InterfaceState::connecting:
        flags = NetworkChecker::kReachable | NetworkChecker::kConnectionRequired;
        break;
      case InterfaceState::down:
        break;
    }
  }
  return flags;
}

ReachabilityProbe::InterfaceState ReachabilityProbe::interfaceState(std::string_view interfaceName) {
  // A name from the routing table never holds '/', but the path must not be steerable.
  if (interfaceName.empty() || interfaceName.find('/') != std::string_view::npos || interfaceName == "." ||
      interfaceName == "..") {
    return InterfaceState::down;
  }
  const auto state = readFile("/sys/class/net/" + std::string(interfaceName) + "/operstate");
  if (!state) {
    return stateFromFlags(interfaceName);
  }
  const auto text = fields(*state);
  const std::string word = text.empty() ? "" : text.front();
  if (word == "up" || word == "unknown") {
    return InterfaceState::up;
  }
  if (word == "dormant") {
    return InterfaceState::connecting;
  }
  return InterfaceState::down;
}

}  // namespace tovik
