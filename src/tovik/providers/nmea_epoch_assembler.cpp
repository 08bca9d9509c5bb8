#include "tovik/providers/nmea_epoch_assembler.h"

#include <utility>

namespace tovik {

namespace {
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;
}  // namespace

std::optional<Location> NmeaEpochAssembler::add(const NmeaSentence& sentence) {
  return std::visit(
      Overloaded{
          [this](const NmeaGga& gga) -> std::optional<Location> {
            if (!gga.time) return std::nullopt;  // cannot be placed in any epoch
            auto closed = beginEpochAt(*gga.time);
            current_.gga = gga;
            return closed;
          },
          [this](const NmeaRmc& rmc) -> std::optional<Location> {
            if (!rmc.time) return std::nullopt;
            auto closed = beginEpochAt(*rmc.time);
            current_.rmc = rmc;
            return closed;
          },
          [this](const NmeaGsa& gsa) -> std::optional<Location> {
            // GSA carries no time: it belongs to the epoch in progress, unless that epoch
            // is already complete with its own GSA (receivers that lead with GSA).
            if (current_.gga && current_.rmc && current_.gsa) {
              nextGsa_ = gsa;
            } else {
              current_.gsa = gsa;
            }
            return std::nullopt;
          },
      },
      sentence);
}

std::optional<Location> NmeaEpochAssembler::finish() {
  auto closed = closeEpoch();
  nextGsa_.reset();
  return closed;
}

std::optional<Location> NmeaEpochAssembler::beginEpochAt(std::chrono::milliseconds time) {
  std::optional<Location> closed;
  if (current_.time && *current_.time != time) {
    closed = closeEpoch();
    current_.gsa = std::exchange(nextGsa_, std::nullopt);
  }
  current_.time = time;
  return closed;
}

std::optional<Location> NmeaEpochAssembler::closeEpoch() {
  const Epoch epoch = std::exchange(current_, Epoch{});
  if (!epoch.gga || !epoch.rmc || epoch.gga->quality == 0 || !epoch.rmc->valid || !epoch.rmc->date ||
      !epoch.rmc->time) {
    return std::nullopt;
  }
  const NmeaGga& gga = *epoch.gga;
  const NmeaRmc& rmc = *epoch.rmc;
  const auto position = gga.position ? gga.position : rmc.position;
  if (!position) {
    return std::nullopt;
  }

  Location fix;
  fix.coordinate = *position;
  if (gga.altitudeMsl) {
    fix.altitude = *gga.altitudeMsl + gga.geoidSeparation.value_or(0.0);
  }
  const auto hdop = gga.hdop ? gga.hdop : (epoch.gsa ? epoch.gsa->hdop : std::nullopt);
  fix.horizontalAccuracy = hdop ? *hdop * kUereMetres : -1.0;
  fix.verticalAccuracy =
      (gga.altitudeMsl && epoch.gsa && epoch.gsa->vdop) ? *epoch.gsa->vdop * kUereMetres : -1.0;
  fix.speed = rmc.speedKnots ? *rmc.speedKnots * kMetresPerSecondPerKnot : -1.0;
  fix.course = rmc.course ? *rmc.course : -1.0;
  fix.timestamp = std::chrono::sys_days(*rmc.date) + *rmc.time;
  return fix;
}

}  // namespace tovik
