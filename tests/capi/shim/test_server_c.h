/* The loopback test server, seen from C: a real HTTP server on 127.0.0.1 with canned
 * answers, for the C interface's own tests. */
#ifndef TOVIK_TESTS_CAPI_TEST_SERVER_C_H
#define TOVIK_TESTS_CAPI_TEST_SERVER_C_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct test_server test_server;

/** Starts a server; NULL if it could not listen. */
test_server* test_server_start(void);
void test_server_stop(test_server* server);
/** "http://127.0.0.1:PORT"; valid while the server lives. */
const char* test_server_base_url(const test_server* server);
/** Answers `method` on `path` with `status` and the JSON `body`. */
void test_server_respond(test_server* server, const char* method, const char* path, int status, const char* body);
size_t test_server_request_count(const test_server* server);
/** Whether the last request was `method` on `path` and its query item `name` is `value`. */
bool test_server_last_request_is(const test_server* server, const char* method, const char* path, const char* name,
                                 const char* value);

#ifdef __cplusplus
}
#endif

#endif
