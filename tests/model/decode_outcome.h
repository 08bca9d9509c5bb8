#pragma once

#include <string>

#include "tovik/model/decoding_error.h"

namespace tovik::test {

// The text of the decoding error `decode` throws, or "" when it decodes.
template <class Decode>
std::string decodeError(Decode&& decode) {
  try {
    decode();
  } catch (const DecodingError& error) {
    return error.what();
  }
  return "";
}

}  // namespace tovik::test
