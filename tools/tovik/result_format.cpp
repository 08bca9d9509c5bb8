#include "tools/tovik/result_format.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "tovik/geofence/geofence_event.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/system/number_text.h"

namespace tovik::cli {
namespace {

constexpr const char* kNone = "-";

std::string orNone(const std::string& text) { return text.empty() ? kNone : text; }

// Milliseconds since the epoch as local time: "2024-05-01 10:00:00.000 +0800".
std::string localTime(std::int64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000 - (milliseconds % 1000 < 0 ? 1 : 0));
  const int millis = static_cast<int>((milliseconds % 1000 + 1000) % 1000);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) {
    return std::to_string(milliseconds) + " ms";
  }
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d %s", date, millis, zone);
  return text;
}

std::int64_t millisecondsOf(std::chrono::system_clock::time_point time) {
  return std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// Six significant digits, without an exponent: "135.407", "12.5", "2272.02".
std::string readableNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, std::fabs(value) < 1e6 ? "%.6g" : "%.1f", value);
  return text;
}

std::string fixed6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

}  // namespace

std::string coordinateText(Coordinate point) {
  return shortestText(point.latitude) + "," + shortestText(point.longitude);
}

std::string describe(const LocationRes& result) {
  std::string address = kNone;
  std::string place = kNone;
  std::string position = kNone;
  std::int64_t timestamp = 0;
  if (const auto& detail = result.location) {
    timestamp = detail->timestamp;
    if (detail->address) address = orNone(detail->address->name);
    if (detail->place && !detail->place->name.empty()) {
      place = detail->place->name;
      if (detail->place->distance) place += " (" + readableNumber(detail->place->distance->line) + " m)";
    }
    if (detail->position && detail->position->point) {
      position = fixed6(detail->position->point->latitude) + ", " + fixed6(detail->position->point->longitude);
    }
  }
  return address + " | " + place + " | " + position + " | " + localTime(timestamp);
}

std::string describe(const GeocodeRes& result) {
  const std::string address = result.address ? orNone(result.address->name) : kNone;
  return orNone(result.name) + " | " + address + " | " + orNone(result.geoPoint) + " | " +
         readableNumber(result.distance) + " m";
}

namespace {

// JSON has no NaN or infinity: an unknown number is null.
nlohmann::json number(double value) { return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(); }

}  // namespace

std::string describeFix(const Location& fix) {
  return "fix " + fixed6(fix.coordinate.latitude) + ", " + fixed6(fix.coordinate.longitude) + " ±" +
         readableNumber(fix.horizontalAccuracy) + " m | " + localTime(millisecondsOf(fix.timestamp)) + " | " +
         orNone(fix.source) + (fix.simulated ? " (simulated)" : "");
}

nlohmann::json fixDocument(const Location& fix) {
  return {{"fix",
           {{"latitude", number(fix.coordinate.latitude)},
            {"longitude", number(fix.coordinate.longitude)},
            {"accuracy", number(fix.horizontalAccuracy)},
            {"altitude", number(fix.altitude)},
            {"verticalAccuracy", number(fix.verticalAccuracy)},
            {"speed", number(fix.speed)},
            {"course", number(fix.course)},
            {"time", millisecondsOf(fix.timestamp)},
            {"source", fix.source},
            {"simulated", fix.simulated}}}};
}

std::string describeAvailability(const LocationAvailability& availability) {
  const std::string source = "source " + orNone(availability.source);
  if (availability.available) {
    return source + " available again";
  }
  return source + " unavailable (" + std::string(toString(availability.reason)) + ")" +
         (availability.lastFixAge ? ", last fix " + readableNumber(availability.lastFixAge->count()) + " s ago"
                                  : ", no fix yet");
}

nlohmann::json availabilityDocument(const LocationAvailability& availability) {
  return {{"availability",
           {{"available", availability.available},
            {"reason", toString(availability.reason)},
            {"source", availability.source},
            {"lastFixAge", availability.lastFixAge ? number(availability.lastFixAge->count()) : nlohmann::json()},
            {"expectedInterval", number(availability.expectedInterval.count())}}}};
}

nlohmann::json errorDocument(const TkError& error) {
  nlohmann::json body{{"domain", toString(error.domain)},
                      {"code", error.code},
                      {"call", toString(error.call)},
                      {"message", error.message},
                      {"detail", error.detail},
                      {"attempts", error.attempts}};
  if (error.retryAfter) {
    body["retryAfter"] = *error.retryAfter;
  }
  return {{"error", std::move(body)}};
}

std::string describe(const GeofenceEvent& event) {
  const Coordinate& at = event.location.coordinate;
  return event.id + " | " + geofenceTransitionName(event.transition) + " | " + fixed6(at.latitude) + ", " +
         fixed6(at.longitude) + " | " + localTime(millisecondsOf(event.time));
}

std::string eventJsonLine(const GeofenceEvent& event) {
  const nlohmann::ordered_json document = {{"id", event.id},
                                           {"transition", geofenceTransitionName(event.transition)},
                                           {"time", millisecondsOf(event.time)},
                                           {"latitude", event.location.coordinate.latitude},
                                           {"longitude", event.location.coordinate.longitude}};
  return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string jsonLine(const nlohmann::json& document) {
  return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tovik::cli
