#pragma once

#include <initializer_list>
#include <string_view>

namespace tovik {

/// The kit's log: writes the items joined by `separator`, then `terminator`, to standard
/// output, only while `TkClientLocation::isLogEnabled()` is on. No prefix, no time stamp.
void sdkLog(std::initializer_list<std::string_view> items, std::string_view separator = " ",
            std::string_view terminator = "\n");
inline void sdkLog(std::string_view message) { sdkLog({message}); }

/// Writes one line to standard output whatever the log switch says (the version banner
/// and the two foreground-only warnings).
void consoleLine(std::string_view line);

/// The class-wide log switch behind `TkClientLocation::isLogEnabled`.
bool logEnabled();
void setLogEnabled(bool enabled);

}  // namespace tovik
