#pragma once

#include <string_view>

namespace tovik {

/// Whether `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
/// U+10FFFF). Used before a body is shown as text.
bool isValidUTF8(std::string_view bytes);

}  // namespace tovik
