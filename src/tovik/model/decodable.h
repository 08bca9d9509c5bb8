#pragma once

namespace tovik {

/// How a generic caller (the network client) turns a parsed answer into a `T`: each
/// specialisation has `static T decode(const nlohmann::json&)`, which returns the value or
/// throws (`DecodingError` for a well-formed document of the wrong shape). The result
/// headers specialise it for their answer types, next to the types.
template <class T>
struct Decodable;

}  // namespace tovik
