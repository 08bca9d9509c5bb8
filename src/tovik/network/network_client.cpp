#include "tovik/network/network_client.h"

#include <mutex>

#include "tovik/system/console.h"
#include "tovik/runloop/main_queue.h"

namespace tovik {

namespace {

struct PendingConfiguration {
  std::mutex mutex;
  SessionConfiguration configuration;
  bool taken = false;
};

PendingConfiguration& pendingConfiguration() {
  static PendingConfiguration pending;
  return pending;
}

SessionConfiguration takeConfiguration() {
  auto& pending = pendingConfiguration();
  std::lock_guard lock(pending.mutex);
  pending.taken = true;
  return pending.configuration;
}

}  // namespace

NetworkClient& NetworkClient::shared() {
  // The main queue must exist first: it is then destroyed after the client, whose worker
  // posts to it, and the thread that asks first stays the main thread.
  (void)MainQueue::shared();
  static NetworkClient client(takeConfiguration());
  return client;
}

bool NetworkClient::configure(SessionConfiguration configuration) {
  auto& pending = pendingConfiguration();
  std::lock_guard lock(pending.mutex);
  if (pending.taken) {
    sdkLog("网络客户端已在使用，新的会话配置不生效");
    return false;
  }
  pending.configuration = std::move(configuration);
  return true;
}

NetworkClient::NetworkClient(SessionConfiguration configuration)
    : session_(std::move(configuration), [](std::function<void()> work) { MainQueue::shared().async(std::move(work)); }) {}

NetworkClient::~NetworkClient() = default;

void NetworkClient::send(URLRequest request, Completion completion) {
  // The session's worker only posts; the completion runs on the main queue.
  session_.dataTask(std::move(request), std::move(completion));
}

Error NetworkClient::statusError(int statusCode) {
  return Error(std::string(kStatusErrorDomain), statusCode, "请求失败，状态码: " + std::to_string(statusCode));
}

}  // namespace tovik
