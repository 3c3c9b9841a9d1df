// Byte encodings and digests: Base64 (standard and URL-safe), hex, SHA-256.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmor::core {

enum class Base64Alphabet { Standard, UrlSafe };
enum class Base64Padding { With, Without };

std::string base64_encode(std::string_view bytes, Base64Alphabet alphabet = Base64Alphabet::Standard,
                          Base64Padding padding = Base64Padding::With);
// Accepts either alphabet, with or without padding; nullopt on any other
// character or an impossible length.
std::optional<std::string> base64_decode(std::string_view text);
std::string hex_encode(std::string_view bytes);
// The 32-byte SHA-256 digest.
std::string sha256(std::string_view bytes);
std::string sha256_hex(std::string_view bytes);

}  // namespace velmor::core
