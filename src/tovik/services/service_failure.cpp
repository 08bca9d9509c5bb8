#include "tovik/services/service_failure.h"

#include <chrono>
#include <string>

#include "tovik/network/network_client.h"
#include "tovik/network/network_error.h"
#include "tovik/network/request_builder.h"
#include "tovik/network/retry_after.h"
#include "tovik/network/transport_error.h"

namespace tovik {
namespace {

struct Sorted {
  TkErrorDomain domain;
  int code;
  std::string detail;
};

Sorted sortTransport(const Error& transport) {
  const auto kind = TransportError::kindOf(transport.code());
  const std::string curl = " (libcurl code " + std::to_string(transport.code()) + ")";
  switch (kind) {
    case TransportError::Kind::cannotConnect:
      return {TkErrorDomain::network, int(kind), "The service refused the connection or cannot be reached" + curl};
    case TransportError::Kind::hostNotFound:
      return {TkErrorDomain::network, int(kind), "The service's host name did not resolve" + curl};
    case TransportError::Kind::timedOut:
      return {TkErrorDomain::network, int(kind), "No answer came before the time-out" + curl};
    case TransportError::Kind::tls:
      return {TkErrorDomain::network, int(kind), "The TLS connection could not be set up" + curl};
    case TransportError::Kind::connectionLost:
      return {TkErrorDomain::network, int(kind), "The connection broke off before a whole answer" + curl};
    case TransportError::Kind::other:
      break;
  }
  return {TkErrorDomain::network, int(TransportError::Kind::other), "The transport failed" + curl};
}

constexpr int kNoResponse = 7;
constexpr int kUnusableAddress = 3;
constexpr int kUnencodable = 4;
constexpr int kUndecodable = 1;

Sorted sort(const Error& error) {
  if (error.domain() == NetworkClient::kStatusErrorDomain) {
    return {TkErrorDomain::http, int(error.code()), "The service answered HTTP " + std::to_string(error.code())};
  }
  if (error.domain() == RequestBuilder::kEncodingErrorDomain) {
    return {TkErrorDomain::precondition, kUnencodable, "The request body cannot be written as JSON"};
  }
  const Sorted unknown{TkErrorDomain::network, int(TransportError::Kind::other),
                       "The call failed: " + error.description()};
  const auto kind = NetworkError::caseOf(error);
  if (!kind) {
    return unknown;
  }
  switch (*kind) {
    case NetworkError::Case::networkError: {
      const Error* transport = error.underlying();
      return transport != nullptr && transport->domain() == TransportError::kDomain ? sortTransport(*transport)
                                                                                    : unknown;
    }
    case NetworkError::Case::invalidURL:
      return {TkErrorDomain::precondition, kUnusableAddress, "The service address is not a usable https address"};
    case NetworkError::Case::encodingFailed:
      return {TkErrorDomain::precondition, kUnencodable, "The request cannot be encoded"};
    case NetworkError::Case::invalidRequest:
      return {TkErrorDomain::network, kNoResponse, "No HTTP response came back"};
    case NetworkError::Case::decodingFailed:
      return {TkErrorDomain::decoding, kUndecodable, "The answer is not JSON of the expected shape, or is too large"};
  }
  return unknown;
}

}  // namespace

TkError typedFailure(TkCall call, const Error& error, const std::optional<HTTPURLResponse>& response, int attempts) {
  Sorted sorted = sort(error);
  std::optional<double> retryAfter;
  if (response) {
    if (const auto value = response->headerFields.value("Retry-After")) {
      retryAfter = retryAfterSeconds(*value, std::chrono::system_clock::now());
    }
  }
  return TkError{.domain = sorted.domain,
                 .code = sorted.code,
                 .call = call,
                 .message = error.localizedDescription(),
                 .detail = std::move(sorted.detail),
                 .retryAfter = retryAfter,
                 .attempts = attempts};
}

TkError refusedStatus(TkCall call, int status, int attempts) {
  return TkError{.domain = TkErrorDomain::service,
                 .code = status,
                 .call = call,
                 .message = std::to_string(status),
                 .detail = "The service answered HTTP " + std::to_string(status) + "; this call accepts only 200",
                 .retryAfter = std::nullopt,
                 .attempts = attempts};
}

}  // namespace tovik
