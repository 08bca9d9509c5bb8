#include "tovik/platform/uuid.h"

#include <sys/random.h>

#include <array>
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

// FNV-1a 64 over the name from a given basis, finished with the splitmix64 mixer so that
// every input bit reaches every output bit. Fixed here, so stable across builds.
std::uint64_t stableHash(const std::string& name, std::uint64_t basis) {
  std::uint64_t hash = basis;
  for (const unsigned char c : name) {
    hash ^= c;
    hash *= 0x100000001B3ULL;
  }
  hash ^= hash >> 30;
  hash *= 0xBF58476D1CE4E5B9ULL;
  hash ^= hash >> 27;
  hash *= 0x94D049BB133111EBULL;
  hash ^= hash >> 31;
  return hash;
}

}  // namespace

std::string Uuid::random() {
  Bytes bytes{};
  fillRandom(bytes);
  return format(bytes, 4);
}

std::string Uuid::fromStableName(const std::string& name) {
  const std::uint64_t high = stableHash(name, 0xCBF29CE484222325ULL);
  const std::uint64_t low = stableHash(name, 0x84222325CBF29CE4ULL);
  Bytes bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
    bytes[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  }
  return format(bytes, 5);
}

}  // namespace tovik
