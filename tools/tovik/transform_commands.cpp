#include "tools/tovik/transform_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/tovik/batch_transformer.h"
#include "tools/tovik/command_context.h"
#include "tools/tovik/datum_conversion.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/output.h"
#include "tools/tovik/point_lines.h"
#include "tools/tovik/result_format.h"
#include "tools/tovik/usage_error.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/system/number_text.h"

namespace tovik::cli {
namespace {

/// The options that say how lines of standard input hold their points.
struct TransformOptions {
  bool json = false;
  LineOptions lines;
  std::string inverse = "search";
  std::string from;
  std::string to;
  std::string latitude;
  std::string longitude;
  std::string region = "rectangle";
};

struct DistanceOptions {
  bool json = false;
  bool each = false;
  bool ellipsoid = false;
  LineOptions lines;
  std::string latitude1;
  std::string longitude1;
  std::string latitude2;
  std::string longitude2;
};

int runTransform(const TransformOptions& options, Output& output) {
  const PointLines lines = options.lines.lines();
  const DatumConversion conversion(datumArgument("FROM", options.from), datumArgument("TO", options.to),
                                   options.region == "precise" ? Region::precise : Region::rectangle,
                                   options.inverse == "precise");
  if (options.latitude.empty() != options.longitude.empty()) {
    throw UsageError("LON: missing (give LAT and LON, or neither to read LAT,LON lines from standard input)");
  }
  if (!options.latitude.empty()) {
    const Coordinate point{.latitude = parseNumber("LAT", options.latitude),
                           .longitude = parseNumber("LON", options.longitude)};
    const Coordinate converted = conversion.convert(point);
    output.result(options.json ? jsonLine({{"latitude", converted.latitude}, {"longitude", converted.longitude}})
                               : coordinateText(converted));
    return kExitSuccess;
  }
  BatchTransformer batch(conversion, options.json, lines);
  if (const auto failure = batch.run(STDIN_FILENO, output)) {
    output.message("tovik transform: " + failure->message);
    return failure->badInput ? kExitUsage : kExitKitError;
  }
  return kExitSuccess;
}

std::string metresText(double metres) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f m", metres);
  return text;
}

double segment(const DistanceOptions& options, Coordinate from, Coordinate to) {
  return options.ellipsoid ? OrbCoorTransform::geodesicDistance(from, to) : OrbCoorTransform::distanceByPoint(from, to);
}

std::string distanceLine(const DistanceOptions& options, double metres) {
  return options.json ? jsonLine({{"distance", metres}}) : metresText(metres);
}

/// The track of standard input: its length, or with --each the length of every segment.
int runTrack(const DistanceOptions& options, const PointLines& lines, Output& output) {
  const std::optional<std::string> input = readStandardInput();
  if (!input) {
    output.message("tovik distance: cannot read standard input: " + std::generic_category().message(errno));
    return kExitKitError;
  }
  std::optional<Coordinate> previous;
  double total = 0.0;
  std::size_t lineNumber = 0;
  std::string_view rest(*input);
  while (!rest.empty()) {
    const std::size_t newline = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(std::min(newline + 1, rest.size()));
    ++lineNumber;
    if ((lines.header && lineNumber == 1) || line.find_first_not_of(" \t\r") == std::string_view::npos) {
      continue;
    }
    const auto parsed = lines.parse(line);
    if (!parsed) {
      output.flush();
      const std::string shown(line.substr(0, 80));
      throw UsageError("line " + std::to_string(lineNumber) + ": expected " + lines.expected() + ", got '" + shown +
                       "'");
    }
    if (previous) {
      const double metres = segment(options, *previous, parsed->point);
      total += metres;
      if (options.each) {
        output.write(distanceLine(options, metres) + "\n");
      }
    }
    previous = parsed->point;
  }
  if (!options.each) {
    output.write(distanceLine(options, total) + "\n");
  }
  if (!output.flush()) {
    output.message("tovik distance: cannot write standard output: " + std::generic_category().message(errno));
    return kExitKitError;
  }
  return kExitSuccess;
}

int runDistance(const DistanceOptions& options, Output& output) {
  const PointLines lines = options.lines.lines();
  const bool anyPoint = !options.latitude1.empty() || !options.longitude1.empty() || !options.latitude2.empty() ||
                        !options.longitude2.empty();
  if (!anyPoint) {
    return runTrack(options, lines, output);
  }
  if (options.longitude2.empty()) {
    throw UsageError("LON2: missing (give two points, or none to read a track of LAT,LON lines from standard input)");
  }
  const Coordinate from{.latitude = parseNumber("LAT1", options.latitude1),
                        .longitude = parseNumber("LON1", options.longitude1)};
  const Coordinate to{.latitude = parseNumber("LAT2", options.latitude2),
                      .longitude = parseNumber("LON2", options.longitude2)};
  output.result(distanceLine(options, segment(options, from, to)));
  return kExitSuccess;
}

void addTransform(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<TransformOptions>();
  CLI::App* command = app.add_subcommand(
      "transform", "Convert a point between WGS-84, GCJ-02 and BD-09; without a point, LAT,LON lines from standard input");
  command->add_option("FROM", options->from, "Datum of the input: wgs84, gcj02 or bd09")->required();
  command->add_option("TO", options->to, "Datum of the output: wgs84, gcj02 or bd09")->required();
  command->add_option("LAT", options->latitude, "Latitude, degrees");
  command->add_option("LON", options->longitude, "Longitude, degrees");
  command
      ->add_option("--region", options->region,
                   "Where WGS-84 and GCJ-02 differ: rectangle (the GCJ-02 rectangle, default) or precise "
                   "(mainland China and its coastal waters)")
      ->check(CLI::IsMember({"rectangle", "precise"}));
  command
      ->add_option("--inverse", options->inverse,
                   "GCJ-02 or BD-09 to WGS-84 by: search (the kit's bisection, within about a metre; default) or "
                   "precise (Newton's method, within a millimetre)")
      ->check(CLI::IsMember({"search", "precise"}));
  addLineOptions(*command, options->lines);
  addJsonOption(*command, options->json);
  command->callback([options, &context] {
    context.action = [options, &context] { return runTransform(*options, context.output); };
  });
}

void addDistance(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<DistanceOptions>();
  CLI::App* command = app.add_subcommand(
      "distance", "Distance between two points, in metres; without points, the length of a track of LAT,LON lines "
                  "from standard input");
  command->add_option("LAT1", options->latitude1, "Latitude of the first point, degrees");
  command->add_option("LON1", options->longitude1, "Longitude of the first point, degrees");
  command->add_option("LAT2", options->latitude2, "Latitude of the second point, degrees");
  command->add_option("LON2", options->longitude2, "Longitude of the second point, degrees");
  command->add_flag("--each", options->each, "With a track: print the length of every segment instead of the total");
  command->add_flag("--ellipsoid", options->ellipsoid,
                    "Along the WGS-84 ellipsoid's geodesic (GeographicLib) instead of the sphere's great circle");
  addLineOptions(*command, options->lines);
  addJsonOption(*command, options->json);
  command->callback([options, &context] {
    context.action = [options, &context] { return runDistance(*options, context.output); };
  });
}

}  // namespace

void addTransformCommands(CLI::App& app, CommandContext& context) {
  addTransform(app, context);
  addDistance(app, context);
}

}  // namespace tovik::cli
