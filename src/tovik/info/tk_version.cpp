#include "tovik/info/tk_version.h"

#include "tovik/info/bundle_text.h"
#include "tovik/system/bundle.h"

namespace tovik {

// Read once from the kit's own bundle; function-local statics make concurrent first
// reads compute the value once, and later bundle changes are not seen.
const std::string& TkVersion::sdkVersion() {
  static const std::string value = detail::bundleText(Bundle::kit(), "CFBundleShortVersionString", "0.0.0");
  return value;
}

const std::string& TkVersion::buildNumber() {
  static const std::string value = detail::bundleText(Bundle::kit(), "CFBundleVersion", "0");
  return value;
}

}  // namespace tovik
