// Unicode text by scalar values: counting, cutting and trimming never split
// a character. Invalid input bytes count as one character each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmor::core {

// True when `s` is well-formed UTF-8.
bool is_valid_utf8(std::string_view s);
// `s` with every ill-formed sequence replaced by U+FFFD.
std::string to_valid_utf8(std::string_view s);
// Number of Unicode scalar values in `s`.
std::size_t char_count(std::string_view s);
// The first `n` characters of `s` (all of it when shorter).
std::string_view prefix_chars(std::string_view s, std::size_t n);
// The last `n` characters of `s`.
std::string_view suffix_chars(std::string_view s, std::size_t n);
// Byte offset of character index `n` (s.size() when past the end).
std::size_t byte_offset_of_char(std::string_view s, std::size_t n);
// `s` without leading and trailing Unicode white space.
std::string_view trim(std::string_view s);
// Letters, the marks that combine with them (so accented and Indic words
// stay whole) and every kind of number: what counts as part of a word.
bool is_word_char(std::int32_t code_point);
// Full Unicode lower-casing.
std::string to_lower(std::string_view s);
// Lower-cases ASCII letters only; for keys, hosts and keyword tests.
std::string to_lower_ascii(std::string_view s);

}  // namespace velmor::core
