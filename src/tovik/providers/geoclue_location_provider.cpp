#include "tovik/providers/geoclue_location_provider.h"

#include <errno.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "tovik/system/bundle.h"
#include "tovik/providers/provider_reader.h"
#include "tovik/providers/retry_backoff.h"

namespace tovik {

namespace {

using namespace std::chrono_literals;

constexpr const char* kService = "org.freedesktop.GeoClue2";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClientInterface = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocationInterface = "org.freedesktop.GeoClue2.Location";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// GeoClue answers at once, unless it waits for an agent; a request must end well within
// the manager's own wait for a fix.
constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;
// Stopping the client should not keep a stopped reader alive for long.
constexpr std::uint64_t kCleanupTimeoutMicroseconds = 1'000'000;
// How long one wait on the bus lasts when the system gave no stop descriptor.
constexpr int kFallbackWaitMilliseconds = 200;

// GeoClue's accuracy levels (GClueAccuracyLevel).
constexpr std::uint32_t kLevelCountry = 1;
constexpr std::uint32_t kLevelCity = 4;
constexpr std::uint32_t kLevelNeighborhood = 5;
constexpr std::uint32_t kLevelStreet = 6;
constexpr std::uint32_t kLevelExact = 8;

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;

  sd_bus_error* get() { return &error_; }
  bool has(const char* name) const { return sd_bus_error_has_name(&error_, name) != 0; }
  bool isSet() const { return sd_bus_error_is_set(&error_) != 0; }
  const char* message() const { return error_.message; }
  // GeoClue's own words when it gave some, else the system's for `code`.
  std::string text(int code) const {
    if (error_.message != nullptr && error_.message[0] != '\0') return error_.message;
    if (error_.name != nullptr) return error_.name;
    return systemErrorText(code < 0 ? -code : code);
  }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL, which is a C compound literal
};

std::string busName(const std::string& address) { return address.empty() ? "系统总线" : address; }

Error unavailableError(const std::string& text) {
  return Error(GeoclueLocationProvider::kErrorDomain, GeoclueLocationProvider::kErrorUnavailable, text);
}

Error busError(const std::string& address, int code) {
  return unavailableError("无法连接到 D-Bus（" + busName(address) + "）：" + systemErrorText(-code) +
                          "；GeoClue2 定位需要系统总线");
}

Error absentError(const std::string& address) {
  return unavailableError("D-Bus（" + busName(address) +
                          "）上没有 GeoClue2 定位服务（org.freedesktop.GeoClue2）：请安装 geoclue-2.0 "
                          "并确认它能启动");
}

Error deniedError(const std::string& desktopId, const std::string& reason) {
  return Error(GeoclueLocationProvider::kErrorDomain, GeoclueLocationProvider::kErrorDenied,
               "GeoClue2 拒绝为应用“" + desktopId + "”定位（" + reason +
                   "）：请在 /etc/geoclue/geoclue.conf 中加入 [" + desktopId +
                   "] 一节并写上 allowed=true，或运行一个 GeoClue 授权代理（agent）");
}

// GeoClue holds a new client until a location agent registers; naming the application in
// geoclue.conf does not help then.
Error noAgentError(const std::string& desktopId) {
  return Error(GeoclueLocationProvider::kErrorDomain, GeoclueLocationProvider::kErrorDenied,
               "GeoClue2 没有为应用“" + desktopId +
                   "”创建定位客户端：它在等待授权代理（agent），而没有代理应答。请运行桌面的定位代理，"
                   "或 geoclue-2.0 软件包中的 /usr/libexec/geoclue-2.0/demos/agent");
}

Error callError(const char* call, const std::string& reason) {
  return Error(GeoclueLocationProvider::kErrorDomain, GeoclueLocationProvider::kErrorFailed,
               std::string("GeoClue2 的 ") + call + " 调用失败：" + reason);
}

bool isAbsence(const BusError& error) {
  return error.has(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.has(SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

// GeoClue refuses a client with AccessDenied ("... disallowed, no agent for UID ...",
// "... disallowed by configuration").
bool isRefusal(const BusError& error) {
  return error.has(SD_BUS_ERROR_ACCESS_DENIED) ||
         (error.isSet() && error.message() != nullptr && std::strstr(error.message(), "disallowed") != nullptr);
}

Bus openBus(const std::string& address, int& code) {
  sd_bus* raw = nullptr;
  if (address.empty()) {
    code = sd_bus_open_system(&raw);
    return Bus(code < 0 ? nullptr : raw);
  }
  code = sd_bus_new(&raw);
  if (code < 0) return nullptr;
  Bus bus(raw);
  if ((code = sd_bus_set_address(bus.get(), address.c_str())) < 0 ||
      (code = sd_bus_set_bus_client(bus.get(), 1)) < 0 || (code = sd_bus_start(bus.get())) < 0) {
    return nullptr;
  }
  return bus;
}

std::chrono::system_clock::time_point timeOf(std::uint64_t seconds, std::uint64_t microseconds) {
  return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds)));
}

// Reads the properties of a Location object (`a{sv}` from GetAll).
std::optional<Location> readLocation(sd_bus_message* reply) {
  Location fix;
  fix.verticalAccuracy = -1.0;
  bool latitude = false;
  bool longitude = false;
  if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return std::nullopt;
  int r = 0;
  while ((r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(reply, "s", &key) < 0) return std::nullopt;
    const std::string_view name(key);
    double value = 0.0;
    if (name == "Latitude" || name == "Longitude" || name == "Accuracy" || name == "Altitude" || name == "Speed" ||
        name == "Heading") {
      if (sd_bus_message_read(reply, "v", "d", &value) < 0) return std::nullopt;
      if (name == "Latitude") {
        fix.coordinate.latitude = value;
        latitude = true;
      } else if (name == "Longitude") {
        fix.coordinate.longitude = value;
        longitude = true;
      } else if (name == "Accuracy") {
        fix.horizontalAccuracy = std::isfinite(value) && value >= 0.0 ? value : -1.0;
      } else if (name == "Altitude") {
        // GeoClue says "unknown" with -DBL_MAX.
        fix.altitude = std::isfinite(value) && value > -1e7 ? value : 0.0;
      } else if (name == "Speed") {
        fix.speed = std::isfinite(value) && value >= 0.0 ? value : -1.0;
      } else {
        fix.course = std::isfinite(value) && value >= 0.0 ? value : -1.0;
      }
    } else if (name == "Timestamp") {
      std::uint64_t seconds = 0;
      std::uint64_t microseconds = 0;
      if (sd_bus_message_read(reply, "v", "(tt)", &seconds, &microseconds) < 0) return std::nullopt;
      if (seconds != 0) fix.timestamp = timeOf(seconds, microseconds);
    } else if (sd_bus_message_skip(reply, "v") < 0) {
      return std::nullopt;
    }
    if (sd_bus_message_exit_container(reply) < 0) return std::nullopt;
  }
  if (r < 0 || sd_bus_message_exit_container(reply) < 0 || !latitude || !longitude ||
      !std::isfinite(fix.coordinate.latitude) || !std::isfinite(fix.coordinate.longitude)) {
    return std::nullopt;
  }
  if (fix.timestamp == std::chrono::system_clock::time_point{}) fix.timestamp = std::chrono::system_clock::now();
  return fix;
}

// Milliseconds until sd-bus's next deadline (-1: none).
int timeoutMilliseconds(sd_bus* bus) {
  std::uint64_t deadline = 0;
  if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) return -1;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t nowMicroseconds =
      static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
  if (deadline <= nowMicroseconds) return 0;
  return static_cast<int>(std::min<std::uint64_t>((deadline - nowMicroseconds + 999) / 1000, 60'000));
}

}  // namespace

// What the reader thread needs, by value: it may outlive its provider.
struct GeoclueSettings {
  std::string busAddress;
  std::string desktopId;
  std::uint32_t accuracyLevel = kLevelExact;
  std::uint32_t distanceThreshold = 0;
};

struct GeoclueLocationProvider::Impl {
  Impl(GeoclueLocationProvider& owner, Options options) : owner(owner), options(std::move(options)) {}

  GeoclueLocationProvider& owner;
  const Options options;

  bool connected = false;  // main thread only, as is everything below
  bool running = false;
  UpdateRequirements requirements;  // what the listening managers ask for
  AuthorizationStatus status = AuthorizationStatus::notDetermined;
  ProviderReader reader;  // last, so that it is stopped before the rest goes

  GeoclueSettings settings() const {
    GeoclueSettings s;
    s.busAddress = options.busAddress;
    s.desktopId = options.desktopId;
    if (s.desktopId.empty()) {
      if (const auto id = Bundle::main().objectForInfoDictionaryKey("CFBundleIdentifier")) {
        if (const auto* text = std::get_if<std::string>(&*id)) s.desktopId = *text;
      }
    }
    if (s.desktopId.empty()) s.desktopId = program_invocation_short_name;
    // The host's own options, when set, win over what the sessions ask for.
    const double accuracy = options.desiredAccuracy > 0.0 ? options.desiredAccuracy : requirements.desiredAccuracy;
    const double distance = options.distanceFilter > 0.0 ? options.distanceFilter : requirements.distanceFilter;
    s.accuracyLevel = accuracyLevel(accuracy);
    s.distanceThreshold = distance > 0.0 ? static_cast<std::uint32_t>(std::min(distance, 4.0e9)) : 0;
    return s;
  }

  void start() {
    stop();
    running = true;
    const bool started = reader.start(
        [this, settings = settings()](const ProviderReader::Run& run) { read(run, settings, Sink{this}); });
    if (!started) {
      owner.noteFailure(unavailableError("无法启动 GeoClue2 读取线程：" + systemErrorText(EAGAIN)));
    }
  }

  void stop() {
    connected = false;
    running = false;
    reader.stop();
  }

  // Hands the reader's results to the provider on the main thread.
  struct Sink {
    Impl* impl;
    void error(const ProviderReader::Run& run, Error error, bool denied) const {
      run.post([impl = impl, error = std::move(error), denied] {
        impl->connected = false;
        if (denied) impl->status = AuthorizationStatus::denied;
        impl->owner.enterFailure(error);
      });
    }
    void active(const ProviderReader::Run& run) const {
      run.post([impl = impl] {
        impl->connected = true;
        impl->status = AuthorizationStatus::authorizedAlways;
        impl->owner.recovered();
      });
    }
    void ended(const ProviderReader::Run& run) const {
      run.post([impl = impl] { impl->connected = false; });
    }
    void fix(const ProviderReader::Run& run, const Location& location) const {
      run.post([impl = impl, location] { impl->owner.deliver(location); });
    }
  };

  enum class Outcome { stopped, lost, failed };

  struct Failure {
    Error error;
    bool denied = false;
  };

  // One connection's session; lives on the reader thread.
  struct Session {
    const ProviderReader::Run& run;
    const GeoclueSettings& settings;
    const Sink& sink;
    Bus bus;
    std::string client;  // the client's object path, once created
    bool lost = false;
    std::optional<Failure> failure;

    Outcome fail(Error error, bool denied = false) {
      failure = Failure{std::move(error), denied};
      return Outcome::failed;
    }

    bool activated = false;

    Outcome perform() {
      const Outcome outcome = session();
      // A client GeoClue refused, or that failed half-way, is not left behind.
      if (outcome == Outcome::failed && !client.empty() && bus) deleteClient();
      return outcome;
    }

    Outcome session() {
      int code = 0;
      bus = openBus(settings.busAddress, code);
      if (!bus) return fail(busError(settings.busAddress, code));
      sd_bus_set_method_call_timeout(bus.get(), kCallTimeoutMicroseconds);

      // GeoClue leaving the bus (a crash, a restart) ends the session.
      sd_bus_slot* rawSlot = nullptr;
      if ((code = sd_bus_add_match(bus.get(), &rawSlot,
                                   "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                                   "member='NameOwnerChanged',arg0='org.freedesktop.GeoClue2'",
                                   &Session::onOwnerChanged, this)) < 0) {
        return fail(busError(settings.busAddress, code));
      }
      const Slot ownerSlot(rawSlot);

      BusError error;
      sd_bus_message* rawReply = nullptr;
      code = sd_bus_call_method(bus.get(), kService, kManagerPath, kManagerInterface, "CreateClient", error.get(),
                                &rawReply, "");
      Message reply(rawReply);
      if (code < 0) {
        if (isAbsence(error)) return fail(absentError(settings.busAddress));
        // GeoClue holds a new client until a location agent registers for the user.
        if (code == -ETIMEDOUT) return fail(noAgentError(settings.desktopId), true);
        return fail(callError("CreateClient", error.text(code)));
      }
      const char* path = nullptr;
      if ((code = sd_bus_message_read(reply.get(), "o", &path)) < 0) {
        return fail(callError("CreateClient", systemErrorText(-code)));
      }
      client = path;
      reply.reset();

      const std::string updates = "type='signal',sender='org.freedesktop.GeoClue2',path='" + client +
                                  "',interface='org.freedesktop.GeoClue2.Client',member='LocationUpdated'";
      const std::string changes = "type='signal',sender='org.freedesktop.GeoClue2',path='" + client +
                                  "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'";
      rawSlot = nullptr;
      if ((code = sd_bus_add_match(bus.get(), &rawSlot, updates.c_str(), &Session::onLocationUpdated, this)) < 0) {
        return fail(busError(settings.busAddress, code));
      }
      const Slot updatesSlot(rawSlot);
      rawSlot = nullptr;
      if ((code = sd_bus_add_match(bus.get(), &rawSlot, changes.c_str(), &Session::onPropertiesChanged, this)) < 0) {
        return fail(busError(settings.busAddress, code));
      }
      const Slot changesSlot(rawSlot);

      if (auto outcome = configure(); outcome) return *outcome;
      if (auto outcome = abandonedIfStopped(); outcome) return *outcome;

      BusError startError;
      code = sd_bus_call_method(bus.get(), kService, client.c_str(), kClientInterface, "Start", startError.get(),
                                nullptr, "");
      if (code < 0) {
        if (isRefusal(startError)) return fail(deniedError(settings.desktopId, startError.text(code)), true);
        if (isAbsence(startError)) return lostOrAbsent();
        return fail(callError("Start", startError.text(code)));
      }
      int active = 0;
      BusError activeError;
      code = sd_bus_get_property_trivial(bus.get(), kService, client.c_str(), kClientInterface, "Active",
                                         activeError.get(), 'b', &active);
      if (code < 0) return fail(callError("Active", activeError.text(code)));
      if (!active) return fail(deniedError(settings.desktopId, "Start 之后客户端未激活"), true);
      activated = true;
      sink.active(run);
      return loop();
    }

    // A reader stopped while it sets its client up (new settings start another) lets the
    // client go rather than configure and start it.
    std::optional<Outcome> abandonedIfStopped() {
      if (!run.stopping()) return std::nullopt;
      deleteClient();
      return Outcome::stopped;
    }

    std::optional<Outcome> configure() {
      const auto set = [&](const char* property, const char* type, auto value) -> std::optional<Outcome> {
        if (auto outcome = abandonedIfStopped(); outcome) return outcome;
        BusError error;
        const int code =
            sd_bus_set_property(bus.get(), kService, client.c_str(), kClientInterface, property, error.get(), type, value);
        if (code >= 0) return std::nullopt;
        if (isAbsence(error)) return lostOrAbsent();
        return fail(callError(property, error.text(code)));
      };
      if (auto outcome = set("DesktopId", "s", settings.desktopId.c_str())) return outcome;
      if (auto outcome = set("RequestedAccuracyLevel", "u", settings.accuracyLevel)) return outcome;
      return set("DistanceThreshold", "u", settings.distanceThreshold);
    }

    Outcome lostOrAbsent() { return fail(absentError(settings.busAddress)); }

    // Dispatches the bus until a stop, the loss of GeoClue or of the bus, or a refusal.
    Outcome loop() {
      while (true) {
        int code = 0;
        while ((code = sd_bus_process(bus.get(), nullptr)) > 0) {
          if (lost || failure || run.stopping()) break;
        }
        if (run.stopping()) return finish();
        if (failure) return Outcome::failed;
        if (lost || code < 0) return Outcome::lost;
        std::array<pollfd, 2> fds{{{sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0},
                                   {run.stopDescriptor(), POLLIN, 0}}};
        const int nfds = run.stopDescriptor() >= 0 ? 2 : 1;
        int timeout = timeoutMilliseconds(bus.get());
        if (nfds == 1 && (timeout < 0 || timeout > kFallbackWaitMilliseconds)) timeout = kFallbackWaitMilliseconds;
        if (::poll(fds.data(), nfds, timeout) < 0 && errno != EINTR) return Outcome::lost;
        if (nfds == 2 && (fds[1].revents & POLLIN) != 0) return finish();
      }
    }

    // The updates are no longer wanted: let GeoClue stop its sources and forget the client.
    Outcome finish() {
      sd_bus_set_method_call_timeout(bus.get(), kCleanupTimeoutMicroseconds);
      sd_bus_call_method(bus.get(), kService, client.c_str(), kClientInterface, "Stop", nullptr, nullptr, "");
      deleteClient();
      return Outcome::stopped;
    }

    void deleteClient() {
      sd_bus_set_method_call_timeout(bus.get(), kCleanupTimeoutMicroseconds);
      sd_bus_call_method(bus.get(), kService, kManagerPath, kManagerInterface, "DeleteClient", nullptr, nullptr, "o",
                         client.c_str());
    }

    static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
      auto* self = static_cast<Session*>(userdata);
      const char* name = nullptr;
      const char* oldOwner = nullptr;
      const char* newOwner = nullptr;
      if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 && oldOwner != nullptr &&
          oldOwner[0] != '\0') {
        // The owner our client lived in is gone, whether or not another took its place.
        self->lost = true;
      }
      return 0;
    }

    static int onLocationUpdated(sd_bus_message* message, void* userdata, sd_bus_error*) {
      auto* self = static_cast<Session*>(userdata);
      const char* previous = nullptr;
      const char* current = nullptr;
      if (sd_bus_message_read(message, "oo", &previous, &current) < 0 || current == nullptr ||
          std::strcmp(current, "/") == 0) {
        return 0;
      }
      sd_bus_message* rawReply = nullptr;
      const int code = sd_bus_call_method(self->bus.get(), kService, current, kPropertiesInterface, "GetAll",
                                          nullptr, &rawReply, "s", kLocationInterface);
      const Message reply(rawReply);
      if (code < 0) return 0;  // the object went before it was read: the next update follows
      if (const auto fix = readLocation(reply.get())) self->sink.fix(self->run, *fix);
      return 0;
    }

    // GeoClue taking the client's authorisation back mid-session.
    static int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
      auto* self = static_cast<Session*>(userdata);
      const char* interface = nullptr;
      if (sd_bus_message_read(message, "s", &interface) < 0 || std::strcmp(interface, kClientInterface) != 0) return 0;
      if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return 0;
      while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0) return 0;
        if (std::strcmp(key, "Active") == 0) {
          int active = 1;
          if (sd_bus_message_read(message, "v", "b", &active) < 0) return 0;
          if (!active) {
            self->failure = Failure{deniedError(self->settings.desktopId, "GeoClue 停用了该客户端"), true};
          }
        } else if (sd_bus_message_skip(message, "v") < 0) {
          return 0;
        }
        if (sd_bus_message_exit_container(message) < 0) return 0;
      }
      return 0;
    }
  };

  // The reader thread: a session, and a new one after a failure or a loss, until stopped.
  static void read(const ProviderReader::Run& run, const GeoclueSettings& settings, const Sink& sink) {
    RetryBackoff backoff;
    bool failureReported = false;  // once per spell of failures; later sessions ask the provider
    while (!run.stopping()) {
      Session session{run, settings, sink, nullptr, {}, false, std::nullopt};
      const Outcome outcome = session.perform();
      if (outcome == Outcome::stopped) return;
      if (session.activated) {
        // The session ran: what ends it starts a new spell.
        failureReported = false;
      }
      if (outcome == Outcome::lost) {
        sink.ended(run);
      } else if (!failureReported) {
        sink.error(run, session.failure->error, session.failure->denied);
        failureReported = true;
      }
      // GeoClue may be restarting after a session that ran.
      if (!run.waitFor(session.activated ? backoff.afterLoss() : backoff.next())) return;
    }
  }
};

GeoclueLocationProvider::GeoclueLocationProvider(Options options)
    : impl_(std::make_unique<Impl>(*this, std::move(options))) {
  identify("geoclue", false);
  watchSilence(false);
}

GeoclueLocationProvider::GeoclueLocationProvider() : GeoclueLocationProvider(Options{}) {}

GeoclueLocationProvider::~GeoclueLocationProvider() { impl_->stop(); }

bool GeoclueLocationProvider::isOnBus(const std::string& busAddress, std::chrono::milliseconds timeout) {
  int code = 0;
  const Bus bus = openBus(busAddress, code);
  if (!bus) return false;
  sd_bus_set_method_call_timeout(bus.get(),
                                 static_cast<std::uint64_t>(std::max<std::int64_t>(timeout.count(), 1)) * 1000);
  int owned = 0;
  {
    sd_bus_message* rawReply = nullptr;
    if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &rawReply, "s", kService) < 0) {
      return false;
    }
    const Message reply(rawReply);
    if (sd_bus_message_read(reply.get(), "b", &owned) < 0) return false;
  }
  if (owned) return true;
  // A system that starts GeoClue on demand lists it as activatable.
  sd_bus_message* rawReply = nullptr;
  if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListActivatableNames", nullptr, &rawReply, "") < 0) {
    return false;
  }
  const Message reply(rawReply);
  char** names = nullptr;
  if (sd_bus_message_read_strv(reply.get(), &names) < 0 || names == nullptr) return false;
  bool found = false;
  for (char** name = names; *name != nullptr; ++name) {
    found = found || std::strcmp(*name, kService) == 0;
    std::free(*name);
  }
  std::free(names);
  return found;
}

std::uint32_t GeoclueLocationProvider::accuracyLevel(double desiredAccuracy) {
  if (!(desiredAccuracy > 10.0)) return kLevelExact;  // best, or "nearest ten metres"
  if (desiredAccuracy <= 100.0) return kLevelStreet;
  if (desiredAccuracy <= 1000.0) return kLevelNeighborhood;
  if (desiredAccuracy <= 10000.0) return kLevelCity;
  return kLevelCountry;
}

bool GeoclueLocationProvider::isConnected() const { return impl_->connected; }

AuthorizationStatus GeoclueLocationProvider::authorizationStatus() const { return impl_->status; }

void GeoclueLocationProvider::startUpdates() { impl_->start(); }

void GeoclueLocationProvider::stopUpdates() { impl_->stop(); }

void GeoclueLocationProvider::applyRequirements(const UpdateRequirements& requirements) {
  const auto before = impl_->settings();
  impl_->requirements = requirements;
  const auto after = impl_->settings();
  // A client keeps the level and threshold it was started with: a new one takes the new ones.
  if (impl_->running &&
      (before.accuracyLevel != after.accuracyLevel || before.distanceThreshold != after.distanceThreshold)) {
    impl_->start();
  }
}

}  // namespace tovik
