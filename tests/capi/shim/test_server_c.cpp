#include "capi/shim/test_server_c.h"

#include <memory>
#include <string>

#include "support/test_server.h"

struct test_server {
  tovik::test::TestServer server;
  std::string baseURL = server.baseURL();
};

extern "C" {

test_server* test_server_start(void) {
  try {
    return std::make_unique<test_server>().release();
  } catch (...) {
    return nullptr;
  }
}

void test_server_stop(test_server* server) { const std::unique_ptr<test_server> owned(server); }

const char* test_server_base_url(const test_server* server) { return server->baseURL.c_str(); }

void test_server_respond(test_server* server, const char* method, const char* path, int status, const char* body) {
  server->server.respond(method, path, tovik::test::CannedResponse::json(status, body));
}

size_t test_server_request_count(const test_server* server) { return server->server.requestCount(); }

bool test_server_last_request_is(const test_server* server, const char* method, const char* path, const char* name,
                                 const char* value) {
  const auto requests = server->server.requests();
  if (requests.empty()) {
    return false;
  }
  const auto& last = requests.back();
  return last.method == method && last.path == path && last.queryValue(name) == std::string(value);
}

}  // extern "C"
