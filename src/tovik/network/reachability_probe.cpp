#include "tovik/network/reachability_probe.h"

#include <linux/fib_rules.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "tovik/network/network_checker.h"

namespace tovik {

namespace {

using RoutingState = ReachabilityProbe::RoutingState;
using InterfaceState = ReachabilityProbe::InterfaceState;

// The fields of a fixed-size kernel structure at the start of `bytes`, if it is long enough.
// Copied out: netlink only promises 4-byte alignment.
template <class T>
std::optional<T> read(std::string_view bytes) {
  if (bytes.size() < sizeof(T)) {
    return std::nullopt;
  }
  T value;
  std::memcpy(&value, bytes.data(), sizeof(T));
  return value;
}

// Calls `each(type, payload)` for every attribute (rtattr and nlattr share their header).
template <class F>
void forEachAttribute(std::string_view bytes, F&& each) {
  while (const auto header = read<rtattr>(bytes)) {
    if (header->rta_len < sizeof(rtattr) || header->rta_len > bytes.size()) {
      return;
    }
    each(static_cast<unsigned short>(header->rta_type & NLA_TYPE_MASK),
         bytes.substr(RTA_LENGTH(0), header->rta_len - RTA_LENGTH(0)));
    bytes.remove_prefix(std::min<std::size_t>(RTA_ALIGN(header->rta_len), bytes.size()));
  }
}

// The attributes behind a message's fixed header `Header`.
template <class Header>
std::string_view attributesAfter(std::string_view payload) {
  return payload.substr(std::min<std::size_t>(NLMSG_ALIGN(sizeof(Header)), payload.size()));
}

// One rtnetlink socket asking the kernel for dumps; it only reads state, nothing is sent
// anywhere but to the kernel.
class RouteSocket {
 public:
  enum class Outcome { done, failed, interrupted };

  RouteSocket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ >= 0) {
      // The kernel answers at once; the limit only guards against waiting for ever.
      const timeval limit{.tv_sec = 2, .tv_usec = 0};
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    }
  }
  ~RouteSocket() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  RouteSocket(const RouteSocket&) = delete;
  RouteSocket& operator=(const RouteSocket&) = delete;

  bool valid() const { return fd_ >= 0; }

  // Sends a dump request of `type` with `header` as its body and calls `each(type, payload)`
  // for every answer.
  template <class Header, class F>
  Outcome dump(std::uint16_t type, const Header& header, F&& each) {
    struct {
      nlmsghdr message;
      Header body;
    } request{};
    request.message.nlmsg_len = NLMSG_LENGTH(sizeof(Header));
    request.message.nlmsg_type = type;
    request.message.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.message.nlmsg_seq = ++sequence_;
    request.body = header;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &request, request.message.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof(kernel)) < 0) {
      return Outcome::failed;
    }
    bool interrupted = false;
    while (true) {
      iovec part{.iov_base = buffer_.data(), .iov_len = buffer_.size()};
      msghdr received{};
      received.msg_iov = &part;
      received.msg_iovlen = 1;
      const ssize_t length = ::recvmsg(fd_, &received, 0);
      if (length < 0 && errno == EINTR) {
        continue;
      }
      if (length <= 0 || (received.msg_flags & MSG_TRUNC) != 0) {
        return Outcome::failed;
      }
      std::string_view bytes(buffer_.data(), static_cast<std::size_t>(length));
      while (const auto message = read<nlmsghdr>(bytes)) {
        if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > bytes.size()) {
          return Outcome::failed;
        }
        const std::string_view payload = bytes.substr(NLMSG_HDRLEN, message->nlmsg_len - NLMSG_HDRLEN);
        bytes.remove_prefix(std::min<std::size_t>(NLMSG_ALIGN(message->nlmsg_len), bytes.size()));
        if (message->nlmsg_seq != sequence_) {
          continue;
        }
        // The tables changed while the kernel wrote the dump: the answer may be torn.
        interrupted = interrupted || (message->nlmsg_flags & NLM_F_DUMP_INTR) != 0;
        if (message->nlmsg_type == NLMSG_DONE) {
          const auto status = read<int>(payload);
          if (status && *status < 0) {
            return Outcome::failed;
          }
          return interrupted ? Outcome::interrupted : Outcome::done;
        }
        if (message->nlmsg_type == NLMSG_ERROR) {
          const auto error = read<nlmsgerr>(payload);
          if (!error || error->error != 0) {
            return Outcome::failed;
          }
          continue;
        }
        each(message->nlmsg_type, payload);
      }
    }
  }

 private:
  const int fd_;
  std::uint32_t sequence_ = 0;
  // Large enough for any one read of a dump (the kernel fills at most 32 KiB per read).
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
};

InterfaceState linkState(unsigned flags, std::optional<std::uint8_t> operstate) {
  if ((flags & IFF_UP) == 0) {
    return InterfaceState::down;
  }
  if (!operstate) {
    return (flags & IFF_RUNNING) != 0 ? InterfaceState::up : InterfaceState::down;
  }
  switch (*operstate) {
    case IF_OPER_UP:
    case IF_OPER_UNKNOWN:  // drivers that do not report it: tunnels, WireGuard, dummies
      return InterfaceState::up;
    case IF_OPER_DORMANT:
      return InterfaceState::connecting;
    default:
      return InterfaceState::down;
  }
}

void readLink(std::string_view payload, RoutingState& state) {
  const auto link = read<ifinfomsg>(payload);
  if (!link || (link->ifi_flags & IFF_LOOPBACK) != 0) {
    return;
  }
  std::optional<std::uint8_t> operstate;
  forEachAttribute(attributesAfter<ifinfomsg>(payload), [&](unsigned short type, std::string_view value) {
    if (type == IFLA_OPERSTATE) {
      operstate = read<std::uint8_t>(value);
    }
  });
  state.interfaces[link->ifi_index] = linkState(link->ifi_flags, operstate);
}

// A default route, with the next-hop object it names, if any.
struct RouteRead {
  RoutingState::DefaultRoute route;
  std::optional<std::uint32_t> nexthopId;
};

std::optional<RouteRead> readDefaultRoute(std::string_view payload) {
  const auto header = read<rtmsg>(payload);
  if (!header || (header->rtm_family != AF_INET && header->rtm_family != AF_INET6) || header->rtm_dst_len != 0 ||
      header->rtm_type != RTN_UNICAST || (header->rtm_flags & RTM_F_CLONED) != 0) {
    return std::nullopt;
  }
  RouteRead read_{.route = {.family = header->rtm_family, .table = header->rtm_table, .interfaces = {}},
                  .nexthopId = std::nullopt};
  forEachAttribute(attributesAfter<rtmsg>(payload), [&](unsigned short type, std::string_view value) {
    switch (type) {
      case RTA_TABLE:
        read_.route.table = read<std::uint32_t>(value).value_or(read_.route.table);
        break;
      case RTA_OIF:
        if (const auto index = read<int>(value)) {
          read_.route.interfaces.push_back(*index);
        }
        break;
      case RTA_NH_ID:
        read_.nexthopId = read<std::uint32_t>(value);
        break;
      case RTA_MULTIPATH:
        while (const auto hop = read<rtnexthop>(value)) {
          if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > value.size()) {
            break;
          }
          if ((hop->rtnh_flags & RTNH_F_DEAD) == 0) {
            read_.route.interfaces.push_back(hop->rtnh_ifindex);
          }
          value.remove_prefix(std::min<std::size_t>(RTNH_ALIGN(hop->rtnh_len), value.size()));
        }
        break;
      default:
        break;
    }
  });
  return read_;
}

// Next-hop objects (routes made with `nhid`): the interfaces of each, a group's its members'.
struct Nexthops {
  std::map<std::uint32_t, int> interface;
  std::map<std::uint32_t, std::vector<std::uint32_t>> members;

  void read(std::string_view payload) {
    std::optional<std::uint32_t> id;
    std::optional<int> oif;
    std::vector<std::uint32_t> group;
    forEachAttribute(attributesAfter<nhmsg>(payload), [&](unsigned short type, std::string_view value) {
      if (type == NHA_ID) {
        id = tovik::read<std::uint32_t>(value);
      } else if (type == NHA_OIF) {
        oif = tovik::read<int>(value);
      } else if (type == NHA_GROUP) {
        while (const auto member = tovik::read<nexthop_grp>(value)) {
          group.push_back(member->id);
          value.remove_prefix(sizeof(nexthop_grp));
        }
      }
    });
    if (id && oif) {
      interface[*id] = *oif;
    } else if (id && !group.empty()) {
      members[*id] = std::move(group);
    }
  }

  void addInterfaces(std::uint32_t id, std::vector<int>& to) const {
    if (const auto found = interface.find(id); found != interface.end()) {
      to.push_back(found->second);
    } else if (const auto group = members.find(id); group != members.end()) {
      for (const std::uint32_t member : group->second) {
        if (const auto one = interface.find(member); one != interface.end()) {
          to.push_back(one->second);  // groups do not nest
        }
      }
    }
  }
};

// A rule that sends ordinary traffic to a table's default routes names that table.
void readRule(std::string_view payload, std::set<std::pair<int, std::uint32_t>>& tables) {
  const auto rule = read<fib_rule_hdr>(payload);
  if (!rule || rule->action != FR_ACT_TO_TBL) {
    return;
  }
  std::uint32_t table = rule->table;
  bool suppressesDefault = false;
  forEachAttribute(attributesAfter<fib_rule_hdr>(payload), [&](unsigned short type, std::string_view value) {
    if (type == FRA_TABLE) {
      table = read<std::uint32_t>(value).value_or(table);
    } else if (type == FRA_SUPPRESS_PREFIXLEN) {
      // "suppress_prefixlength N" ignores routes of prefix length N or less; -1 is unset.
      const auto length = read<std::uint32_t>(value);
      suppressesDefault = length && *length != 0xFFFFFFFFu;
    }
  });
  if (table != RT_TABLE_UNSPEC && !suppressesDefault) {
    tables.emplace(rule->family, table);
  }
}

enum class Reading { done, failed, interrupted };

Reading readOnce(RouteSocket& socket, RoutingState& state) {
  using Outcome = RouteSocket::Outcome;
  bool interrupted = false;
  const auto note = [&](Outcome outcome) {
    interrupted = interrupted || outcome == Outcome::interrupted;
    return outcome != Outcome::failed;
  };

  if (!note(socket.dump(RTM_GETLINK, ifinfomsg{}, [&](std::uint16_t type, std::string_view payload) {
        if (type == RTM_NEWLINK) {
          readLink(payload, state);
        }
      }))) {
    return Reading::failed;
  }

  std::vector<RouteRead> routes;
  bool anyFamily = false;
  std::set<std::pair<int, std::uint32_t>> tables;
  bool rulesRead = true;
  for (const int family : {AF_INET, AF_INET6}) {
    rtmsg routeRequest{};
    routeRequest.rtm_family = static_cast<unsigned char>(family);
    // A family the kernel lacks (IPv6 turned off) fails alone.
    anyFamily = note(socket.dump(RTM_GETROUTE, routeRequest,
                                 [&](std::uint16_t type, std::string_view payload) {
                                   if (type == RTM_NEWROUTE) {
                                     if (auto route = readDefaultRoute(payload)) {
                                       routes.push_back(std::move(*route));
                                     }
                                   }
                                 })) ||
                anyFamily;
    fib_rule_hdr ruleRequest{};
    ruleRequest.family = static_cast<std::uint8_t>(family);
    rulesRead = note(socket.dump(RTM_GETRULE, ruleRequest,
                                 [&](std::uint16_t type, std::string_view payload) {
                                   if (type == RTM_NEWRULE) {
                                     readRule(payload, tables);
                                   }
                                 })) &&
                rulesRead;
  }
  if (!anyFamily) {
    return Reading::failed;
  }

  Nexthops nexthops;
  if (std::any_of(routes.begin(), routes.end(), [](const RouteRead& r) { return r.nexthopId.has_value(); })) {
    // Kernels without next-hop objects fail this dump, but then no route names one.
    note(socket.dump(RTM_GETNEXTHOP, nhmsg{}, [&](std::uint16_t type, std::string_view payload) {
      if (type == RTM_NEWNEXTHOP) {
        nexthops.read(payload);
      }
    }));
  }
  for (auto& [route, nexthopId] : routes) {
    if (nexthopId) {
      nexthops.addInterfaces(*nexthopId, route.interfaces);
    }
    state.defaultRoutes.push_back(std::move(route));
  }
  if (rulesRead) {
    state.lookedUpTables = std::move(tables);
  }
  return interrupted ? Reading::interrupted : Reading::done;
}

}  // namespace

std::optional<RoutingState> ReachabilityProbe::readRoutingState() {
  RouteSocket socket;
  if (!socket.valid()) {
    return std::nullopt;
  }
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    RoutingState state;
    const Reading reading = readOnce(socket, state);
    if (reading == Reading::failed) {
      return std::nullopt;
    }
    // A torn reading is retried; the last one is taken as it is.
    if (reading == Reading::done || attempt == kAttempts) {
      return state;
    }
  }
}

std::optional<std::uint32_t> ReachabilityProbe::currentFlags() {
  const auto state = readRoutingState();
  if (!state) {
    return std::nullopt;
  }
  return flagsFrom(*state);
}

std::uint32_t ReachabilityProbe::flagsFrom(const RoutingState& state) {
  std::uint32_t flags = 0;
  for (const auto& route : state.defaultRoutes) {
    if (state.lookedUpTables && !state.lookedUpTables->contains({route.family, route.table})) {
      continue;
    }
    for (const int index : route.interfaces) {
      const auto found = state.interfaces.find(index);
      switch (found == state.interfaces.end() ? InterfaceState::down : found->second) {
        case InterfaceState::up:
          return NetworkChecker::kReachable;
        case InterfaceState::connecting:
          flags = NetworkChecker::kReachable | NetworkChecker::kConnectionRequired;
          break;
        case InterfaceState::down:
          break;
      }
    }
  }
  return flags;
}

}  // namespace tovik
