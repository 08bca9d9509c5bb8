#include "tovik/services/service_answer.h"

#include "tovik/network/utf8.h"
#include "tovik/system/console.h"

namespace tovik {
namespace {

// A log line quotes at most this much of a body: enough to see what the service sent, never
// megabytes in one line.
constexpr std::size_t kQuotedBodyLimit = 4096;

// The longest prefix of valid UTF-8 `text` of at most `limit` bytes that ends between
// characters.
std::string_view utf8Prefix(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) {
    return text;
  }
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
    --end;
  }
  return text.substr(0, end);
}

}  // namespace

void logDecodingFailure(std::string_view reason, std::string_view body) {
  if (!logEnabled()) {
    return;  // not even the UTF-8 check of a body nobody will see
  }
  if (!isValidUTF8(body)) {
    sdkLog({"解析错误：", reason, "，原始数据：", "无数据"}, "");
    return;
  }
  const std::string_view shown = utf8Prefix(body, kQuotedBodyLimit);
  if (shown.size() == body.size()) {
    sdkLog({"解析错误：", reason, "，原始数据：", shown}, "");
    return;
  }
  const std::string cut = "…（已截断，共" + std::to_string(body.size()) + "字节）";
  sdkLog({"解析错误：", reason, "，原始数据：", shown, cut}, "");
}

}  // namespace tovik
