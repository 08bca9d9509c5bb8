#include "tovik/network/network_error.h"

#include <string>
#include <utility>

namespace tovik {

namespace {

Error make(NetworkError::Case kind) {
  return Error(std::string(NetworkError::kDomain), static_cast<long>(kind),
               std::string(NetworkError::errorDescription(kind)))
      .withDescription(std::string(NetworkError::name(kind)));
}

}  // namespace

Error NetworkError::networkError(Error transportError) {
  std::string description = "networkError(" + transportError.description() + ")";
  std::string text = transportError.localizedDescription();
  return Error(std::string(kDomain), static_cast<long>(Case::networkError), std::move(text))
      .withDescription(std::move(description))
      .withUnderlying(std::move(transportError));
}

Error NetworkError::invalidURL() { return make(Case::invalidURL); }
Error NetworkError::invalidRequest() { return make(Case::invalidRequest); }
Error NetworkError::encodingFailed() { return make(Case::encodingFailed); }
Error NetworkError::decodingFailed() { return make(Case::decodingFailed); }

std::optional<NetworkError::Case> NetworkError::caseOf(const Error& error) {
  if (error.domain() != kDomain || error.code() < 0 || error.code() > static_cast<long>(Case::decodingFailed)) {
    return std::nullopt;
  }
  return static_cast<Case>(error.code());
}

std::string_view NetworkError::errorDescription(Case kind) {
  switch (kind) {
    case Case::networkError:
      return "";
    case Case::invalidURL:
      return "无效的URL";
    case Case::invalidRequest:
      return "无效的请求";
    case Case::encodingFailed:
      return "数据编码失败";
    case Case::decodingFailed:
      return "数据解码失败";
  }
  return "";
}

std::string_view NetworkError::name(Case kind) {
  switch (kind) {
    case Case::networkError:
      return "networkError";
    case Case::invalidURL:
      return "invalidURL";
    case Case::invalidRequest:
      return "invalidRequest";
    case Case::encodingFailed:
      return "encodingFailed";
    case Case::decodingFailed:
      return "decodingFailed";
  }
  return "";
}

}  // namespace tovik
