// Identifiers and random bytes from the operating system's entropy source.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmor::core {

// `n` bytes from the OS random source (OpenSSL's RAND_bytes, seeded by it).
std::string random_bytes(std::size_t n);
// `n` random lower-case hexadecimal digits.
std::string random_hex(std::size_t n);
// "{prefix}_{digits random hex digits}", e.g. short_id("m", 10).
std::string short_id(std::string_view prefix, std::size_t digits);
// A version-4 UUID in its canonical lower-case form.
std::string uuid_v4();

}  // namespace velmor::core
