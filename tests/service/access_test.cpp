#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "service/access_keys.h"
#include "service/access_log.h"
#include "service_test_env.h"

namespace tovik::service {
namespace {

TEST(AccessLogTest, TheKeyNeverReachesTheLog) {
  const struct {
    const char* target;
    const char* logged;
  } cases[] = {
      {"/p?access_key=SECRET&name=x", "/p?access_key=[redacted]&name=x"},
      {"/p?name=x&access%5Fkey=SECRET", "/p?name=x&access%5Fkey=[redacted]"},
      {"/p?access_key=SECRET&access_key=TWO", "/p?access_key=[redacted]&access_key=[redacted]"},
      {"/p?access_key", "/p?access_key=[redacted]"},
      {"/p?access_keys=visible", "/p?access_keys=visible"},
      {"/p?name=a\nb\"c", "/p?name=a\\x0Ab\\x22c"},
      {"/plain", "/plain"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AccessLog::redact(c.target), c.logged) << c.target;
  }
}

TEST(AccessLogTest, WritesOneLineAndKeepsTheSlowestTime) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  AccessLog log(file, true);
  log.write("127.0.0.1:5000", "GET", "/x?access_key=SECRET", 200, 42, std::chrono::microseconds(1500));
  log.write("127.0.0.1:5000", "GET", "/y", 404, 10, std::chrono::microseconds(150000));
  log.recordWait(std::chrono::microseconds(7));
  std::rewind(file);
  char buffer[1024] = {};
  const auto read = std::fread(buffer, 1, sizeof buffer - 1, file);
  const std::string text(buffer, read);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.find("SECRET"), std::string::npos);
  EXPECT_NE(text.find("\"GET /x?access_key=[redacted]\" 200 42B 1.500ms"), std::string::npos) << text;
  const auto stats = log.stats();
  EXPECT_EQ(stats.requests, 2U);
  EXPECT_EQ(stats.slowRequests, 1U);
  EXPECT_EQ(stats.longestHandling, std::chrono::microseconds(150000));
  EXPECT_EQ(stats.longestWait, std::chrono::microseconds(7));
}

TEST(AccessKeysTest, KeysFromAFile) {
  const auto path = testing::scratchDir() / "keys.txt";
  std::ofstream(path) << "# accepted keys\n\n  alpha  \r\nbeta\n";
  const auto keys = AccessKeys::fromFile(path.string());
  EXPECT_EQ(keys.size(), 2U);
  EXPECT_FALSE(keys.refusal("alpha"));
  EXPECT_FALSE(keys.refusal("beta"));
  EXPECT_EQ(keys.refusal("gamma"), "unknown access_key");
  EXPECT_EQ(keys.refusal(""), "missing access_key");
  EXPECT_EQ(keys.refusal("# accepted keys"), "unknown access_key");

  const AccessKeys any;
  EXPECT_FALSE(any.refusal("demo"));
  EXPECT_EQ(any.refusal(""), "missing access_key");

  const auto empty = testing::scratchDir() / "empty-keys.txt";
  std::ofstream(empty) << "# none\n";
  EXPECT_THROW(AccessKeys::fromFile(empty.string()), std::runtime_error);
  EXPECT_THROW(AccessKeys::fromFile((testing::scratchDir() / "absent").string()), std::runtime_error);
}

}  // namespace
}  // namespace tovik::service
