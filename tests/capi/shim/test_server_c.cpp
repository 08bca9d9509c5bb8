// The loopback test server, seen from C: a real HTTP server on 127.0.0.1 with canned answers.
#include <fstream>
#include <memory>
#include <string>

#include "support/test_server.h"

extern "C" {
#include "capi/harness.h"
}

struct test_server {
  tovik::test::TestServer server;
  std::string baseURL = server.baseURL();
};

extern "C" {

// A server that cannot listen throws out of here, which ends the program loudly.
test_server* test_server_start(void) { return std::make_unique<test_server>().release(); }

void test_server_stop(test_server* server) { const std::unique_ptr<test_server> owned(server); }

const char* test_server_base_url(const test_server* server) { return server->baseURL.c_str(); }

// A missing file answers an empty body, which fails every check on the result.
void test_server_respond_file(test_server* server, const char* method, const char* path, const char* name) {
  std::ifstream file(std::string(TOVIK_CAPI_DATA_DIR "/") + name);
  server->server.respond(method, path, tovik::test::CannedResponse::json(200, {std::istreambuf_iterator(file), {}}));
}

size_t test_server_request_count(const test_server* server) { return server->server.requestCount(); }

bool test_server_last_request_is(const test_server* server, const char* method, const char* path, const char* name,
                                 const char* value) {
  const auto requests = server->server.requests();
  return !requests.empty() && requests.back().method == method && requests.back().path == path &&
         requests.back().queryValue(name) == std::string(value);
}

}  // extern "C"
