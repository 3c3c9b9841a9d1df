#include "core/utf8.h"

#include <utf8proc.h>

namespace velmor::core {
namespace {

// Decodes one scalar at `i`; returns its length in bytes (1 for an invalid
// byte) and stores the code point, or -1 when invalid.
std::size_t decode(std::string_view s, std::size_t i, utf8proc_int32_t* cp) {
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                            static_cast<utf8proc_ssize_t>(s.size() - i), cp);
  if (n <= 0) {
    *cp = -1;
    return 1;
  }
  return static_cast<std::size_t>(n);
}

bool is_space(utf8proc_int32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

void append_utf8(std::string& out, utf8proc_int32_t cp) {
  utf8proc_uint8_t buf[4];
  auto n = utf8proc_encode_char(cp, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  utf8proc_int32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    i += decode(s, i, &cp);
    if (cp < 0) return false;
  }
  return true;
}

std::string to_valid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  utf8proc_int32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    auto n = decode(s, i, &cp);
    if (cp < 0)
      out += "\xEF\xBF\xBD";
    else
      out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

// ASCII bytes are one character each and skip the decoder: page texts and
// snapshots of tens of kilobytes are counted on every browser action.
std::size_t char_count(std::string_view s) {
  std::size_t count = 0;
  utf8proc_int32_t cp;
  for (std::size_t i = 0; i < s.size(); ++count)
    i += static_cast<unsigned char>(s[i]) < 0x80 ? 1 : decode(s, i, &cp);
  return count;
}

std::size_t byte_offset_of_char(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  utf8proc_int32_t cp;
  for (std::size_t k = 0; k < n && i < s.size(); ++k)
    i += static_cast<unsigned char>(s[i]) < 0x80 ? 1 : decode(s, i, &cp);
  return i;
}

std::string_view prefix_chars(std::string_view s, std::size_t n) {
  return s.substr(0, byte_offset_of_char(s, n));
}

std::string_view suffix_chars(std::string_view s, std::size_t n) {
  std::size_t total = char_count(s);
  if (total <= n) return s;
  return s.substr(byte_offset_of_char(s, total - n));
}

std::string_view trim(std::string_view s) {
  utf8proc_int32_t cp;
  std::size_t start = 0;
  while (start < s.size()) {
    auto n = decode(s, start, &cp);
    if (!is_space(cp)) break;
    start += n;
  }
  // From the back one character at a time, so that trimming a long text
  // costs only its white space. White space is always well-formed, so a lead
  // byte whose sequence does not end exactly here is not white space.
  std::size_t end = s.size();
  while (end > start) {
    std::size_t lead = end - 1;
    while (lead > start && end - lead < 4 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80)
      --lead;
    auto n = decode(s, lead, &cp);
    if (lead + n != end || !is_space(cp)) break;
    end = lead;
  }
  return s.substr(start, end - start);
}

bool is_word_char(std::int32_t code_point) {
  if (code_point < 0) return false;
  switch (utf8proc_category(code_point)) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_LO: case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC: case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

std::string to_lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  utf8proc_int32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    auto n = decode(s, i, &cp);
    if (cp < 0)
      out.append(s.substr(i, n));
    else
      append_utf8(out, utf8proc_tolower(cp));
    i += n;
  }
  return out;
}

std::string to_lower_ascii(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace velmor::core
