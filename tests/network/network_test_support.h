#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/log_capture.h"
#include "tovik/system/console.h"
#include "tovik/model/decodable.h"
#include "tovik/model/decoding_error.h"
#include "tovik/network/network_client.h"
#include "tovik/network/request_builder.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::test {

/// The answer size limit this test program configures (small, to test it cheaply).
constexpr std::size_t kTestBodyLimit = 256 * 1024;

/// A small answer type: {"text": "<string>"}.
struct Greeting {
  std::string text;
};

/// What a completion saw.
template <class T>
struct Delivery {
  std::optional<RequestResult<T>> result;
  int calls = 0;
  bool onMainThread = false;
};

/// Sends `request` through the shared client and drives the main queue until the
/// completion has run (or a generous time-out passes).
template <class T>
std::shared_ptr<Delivery<T>> sendAndWait(URLRequest request) {
  auto delivery = std::make_shared<Delivery<T>>();
  NetworkClient::shared().send<T>(std::move(request), [delivery](RequestResult<T> result) {
    ++delivery->calls;
    delivery->onMainThread = MainQueue::shared().isMainThread();
    delivery->result.emplace(std::move(result));
  });
  MainQueue::shared().runUntil([&] { return delivery->calls > 0; }, std::chrono::seconds(30));
  return delivery;
}

/// Builds a request that must build.
inline URLRequest built(const RequestBuilder& builder) {
  auto result = builder.makeURLRequest();
  if (auto* error = std::get_if<Error>(&result)) {
    ADD_FAILURE() << "makeURLRequest failed: " << error->description();
    return {};
  }
  return std::get<URLRequest>(std::move(result));
}

/// What the kit logs while `action` runs.
inline std::string loggedDuring(const std::function<void()>& action) {
  setLogEnabled(true);
  auto text = consoleOf(action);
  setLogEnabled(false);
  return text;
}

}  // namespace tovik::test

template <>
struct tovik::Decodable<tovik::test::Greeting> {
  static tovik::test::Greeting decode(const nlohmann::json& json) {
    if (!json.is_object() || !json.contains("text") || !json["text"].is_string()) {
      throw DecodingError("text", "expected a string");
    }
    return {json["text"].get<std::string>()};
  }
};
