#pragma once

#include <initializer_list>
#include <string_view>

#include "tovik/system/log_handler.h"

namespace tovik {

/// Sends the kit's console to `handler` from now on; an empty handler restores standard
/// output. The handler must not call back into the log.
void setLogHandler(LogHandler handler);

/// The kit's log: writes the items joined by `separator`, then `terminator`, to the console,
/// only while `TkClientLocation::isLogEnabled()` is on. No prefix, no time stamp.
void sdkLog(std::initializer_list<std::string_view> items, std::string_view separator = " ",
            std::string_view terminator = "\n");
inline void sdkLog(std::string_view message) { sdkLog({message}); }

/// Writes one line to the console whatever the log switch says (the version banner and the
/// two foreground-only warnings).
void consoleLine(std::string_view line);

/// The class-wide log switch behind `TkClientLocation::isLogEnabled`.
bool logEnabled();
void setLogEnabled(bool enabled);

}  // namespace tovik
