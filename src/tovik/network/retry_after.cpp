#include "tovik/network/retry_after.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <string>

namespace tovik {

std::optional<double> retryAfterSeconds(std::string_view value, std::chrono::system_clock::time_point now) {
  if (value.empty()) {
    return std::nullopt;
  }
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    unsigned long long seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    // Beyond a year is as good as never; the cap keeps the sum finite and exact.
    constexpr unsigned long long kYear = 366ULL * 24 * 3600;
    return error == std::errc::result_out_of_range ? double(kYear) : double(std::min(seconds, kYear));
  }
  // libcurl reads the three date forms HTTP allows.
  const time_t when = curl_getdate(std::string(value).c_str(), nullptr);
  if (when == -1) {
    return std::nullopt;
  }
  const double wait = std::chrono::duration<double>(std::chrono::system_clock::from_time_t(when) - now).count();
  return std::max(0.0, wait);
}

}  // namespace tovik
