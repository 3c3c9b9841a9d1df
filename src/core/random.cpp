#include "core/random.h"

#include <openssl/rand.h>

#include <cstdlib>
#include <cstdio>

namespace velmor::core {

std::string random_bytes(std::size_t n) {
  std::string out(n, '\0');
  if (n > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1) {
    // Without entropy no identifier is safe to hand out; this cannot be
    // recovered from by a caller.
    std::fputs("velmor: the system random source failed\n", stderr);
    std::abort();
  }
  return out;
}

std::string random_hex(std::size_t n) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string bytes = random_bytes((n + 1) / 2);
  std::string out;
  out.reserve(n);
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    if (out.size() < n) out += kHex[b & 15];
  }
  out.resize(n);
  return out;
}

std::string short_id(std::string_view prefix, std::size_t digits) {
  std::string out(prefix);
  out += '_';
  out += random_hex(digits);
  return out;
}

std::string uuid_v4() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string b = random_bytes(16);
  b[6] = static_cast<char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<char>((b[8] & 0x3F) | 0x80);
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    auto c = static_cast<unsigned char>(b[i]);
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace velmor::core
