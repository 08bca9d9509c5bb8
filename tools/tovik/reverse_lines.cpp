#include "tools/tovik/reverse_lines.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/tovik/datum_conversion.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_host.h"
#include "tools/tovik/output.h"
#include "tools/tovik/result_format.h"
#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/json_codec.h"
#include "tovik/model/location_res.h"

namespace tovik::cli {
namespace {

// Calls in flight at once. A facade's delegate cannot tell its calls apart, so each call in
// flight has a facade of its own.
constexpr std::size_t kInFlight = 4;

// What became of one input line: a result's text, or a failure's message (and, with --json,
// its error document).
struct Outcome {
  std::string text;
  bool failed = false;
};

// The delegate of one facade: hands its one outcome on.
class OutcomeListener : public LocationDelegate {
 public:
  explicit OutcomeListener(bool json) : json_(json) {}
  std::function<void(Outcome)> heard;

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>&) override {}
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& result) override {
    const std::string text =
        !result ? std::string() : json_ ? jsonLine(JsonCodec<LocationRes>::encode(*result)) : describe(*result);
    heard(Outcome{text, false});
  }
  void onLocationErrorWithMsg(const std::string& message) override {
    if (!json_) {
      heard(Outcome{message, true});
    }
  }
  void onLocationErrorWithError(const TkError& error) override {
    if (json_) {
      heard(Outcome{jsonLine(errorDocument(error)), true});
    }
  }

 private:
  const bool json_;
};

// One input line to resolve: its number and the point as the service takes it (GCJ-02), or
// why it has none.
struct Item {
  std::size_t lineNumber = 0;
  std::optional<Coordinate> gcj;
  std::string refusal;
};

std::vector<Item> itemsOf(std::string_view input, const PointLines& lines, Datum datum) {
  const DatumConversion toService(datum, Datum::gcj02);
  std::vector<Item> items;
  std::size_t lineNumber = 0;
  while (!input.empty()) {
    const std::size_t newline = std::min(input.find('\n'), input.size());
    const std::string_view line = input.substr(0, newline);
    input.remove_prefix(std::min(newline + 1, input.size()));
    ++lineNumber;
    if ((lines.header && lineNumber == 1) || line.find_first_not_of(" \t\r") == std::string_view::npos) {
      continue;
    }
    Item item{.lineNumber = lineNumber, .gcj = std::nullopt, .refusal = {}};
    if (const auto parsed = lines.parse(line)) {
      item.gcj = toService.convert(parsed->point);
    } else {
      item.refusal = "expected " + lines.expected() + ", got '" + std::string(line.substr(0, 80)) + "'";
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

int reverseLines(std::string_view input, const PointLines& lines, Datum datum, const KitOptions& options,
                 Output& output) {
  const std::vector<Item> items = itemsOf(input, lines, datum);
  std::vector<std::optional<Outcome>> outcomes(items.size());
  std::size_t next = 0;     // the next item to start
  std::size_t printed = 0;  // items printed so far, in order
  bool anyFailed = false;

  const auto printReady = [&] {
    for (; printed < outcomes.size() && outcomes[printed]; ++printed) {
      const Outcome& outcome = *outcomes[printed];
      if (outcome.failed) {
        anyFailed = true;
        output.message("line " + std::to_string(items[printed].lineNumber) + ": " + outcome.text);
      } else if (!outcome.text.empty()) {
        output.result(outcome.text);
      }
    }
  };

  struct Slot {
    std::shared_ptr<OutcomeListener> listener;
    std::unique_ptr<KitHost> host;
    std::size_t index = 0;  // the item in flight
    bool starting = false;
    bool again = false;
  };
  std::array<Slot, kInFlight> slots;
  // Starts the next item that has a point on `slot`'s facade; lines without one are settled on
  // the way. An outcome heard inside the call (a missing consent or key) starts the next one
  // from this loop, not by recursion, however many lines fail so.
  const auto startNext = [&](Slot& slot) {
    if (slot.starting) {
      slot.again = true;
      return;
    }
    slot.starting = true;
    do {
      slot.again = false;
      while (next < items.size() && !items[next].gcj) {
        outcomes[next] = Outcome{items[next].refusal, true};
        ++next;
      }
      if (next < items.size()) {
        slot.index = next++;
        slot.host->facade().getReverseCode(items[slot.index].gcj->latitude, items[slot.index].gcj->longitude);
      }
    } while (slot.again);
    slot.starting = false;
  };
  for (Slot& slot : slots) {
    slot.listener = std::make_shared<OutcomeListener>(options.json);
    slot.listener->heard = [&, at = &slot](Outcome outcome) {
      outcomes[at->index] = std::move(outcome);
      printReady();
      startNext(*at);
    };
    slot.host = std::make_unique<KitHost>(output, options, nullptr, slot.listener);
  }
  for (Slot& slot : slots) {
    startNext(slot);
  }
  printReady();
  // Every call ends within the kit's time-out, so the run needs no limit of its own.
  const auto ending = slots[0].host->runUntil([&] { return printed == items.size(); }, std::nullopt);
  if (ending == KitHost::Ending::interrupted) {
    output.message("interrupted");
    return kExitInterrupted;
  }
  return anyFailed ? kExitKitError : kExitSuccess;
}

}  // namespace tovik::cli
