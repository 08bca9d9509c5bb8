#include "tovik/system/uuid.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>

namespace tovik {

namespace {

using Bytes = std::array<std::uint8_t, 16>;

// Fills `bytes` from the kernel's random source; /dev/urandom, then std::random_device,
// only if getrandom(2) is unavailable.
void fillRandom(Bytes& bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      break;
    }
  }
  if (filled == bytes.size()) {
    return;
  }
  if (std::FILE* urandom = std::fopen("/dev/urandom", "rbe")) {
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), urandom);
    std::fclose(urandom);
    if (got == bytes.size()) {
      return;
    }
  }
  std::random_device device;
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(device());
  }
}

std::string format(Bytes bytes, unsigned version) {
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | (version << 4));
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += '-';
    }
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

// The 16 bytes a machine ID's 32 hex digits spell; empty for any other text.
std::string machineIdBytes(const std::string& text) {
  if (text.size() != 32) {
    return {};
  }
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) {
      return {};
    }
    bytes += static_cast<char>(value);
  }
  return bytes;
}

}  // namespace

std::string Uuid::random() {
  Bytes bytes{};
  fillRandom(bytes);
  return format(bytes, 4);
}

std::string Uuid::applicationSpecific(const std::string& machineId, const std::string& applicationId) {
  std::string key = machineIdBytes(machineId);
  if (key.empty()) {
    key = machineId;
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  Bytes bytes{};
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(applicationId.data()), applicationId.size(), digest.data(),
           &length) != nullptr &&
      length >= bytes.size()) {
    std::copy_n(digest.begin(), bytes.size(), bytes.begin());
  }
  return format(bytes, 4);
}

}  // namespace tovik
