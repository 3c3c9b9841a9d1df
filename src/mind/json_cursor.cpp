#include "mind/json_cursor.h"

#include <charconv>
#include <cstdint>

namespace velmor::mind::detail {
namespace {

// Deep enough for any stored record, shallow enough for the stack.
constexpr int kMaxDepth = 256;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the well-formed UTF-8 sequence at the front of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n;
  std::uint32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

void JsonCursor::skip_space() {
  while (pos_ < text_.size()) {
    char c = text_[pos_];
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
    ++pos_;
  }
}

bool JsonCursor::take(char c) {
  skip_space();
  if (pos_ < text_.size() && text_[pos_] == c) {
    ++pos_;
    return true;
  }
  return false;
}

bool JsonCursor::literal(std::string_view word) {
  skip_space();
  if (text_.substr(pos_, word.size()) != word) return false;
  pos_ += word.size();
  return true;
}

bool JsonCursor::at_end() {
  skip_space();
  return pos_ == text_.size();
}

bool JsonCursor::open_nested() { return ++depth_ <= kMaxDepth; }

bool JsonCursor::begin_object() { return take('{') && open_nested(); }

bool JsonCursor::begin_array() { return take('[') && open_nested(); }

bool JsonCursor::next_key(bool& first, std::string& key, bool& ok) {
  ok = false;
  if (first) {
    first = false;
    if (take('}')) return ok = true, false;
  } else if (take('}')) {
    return ok = true, false;
  } else if (!take(',')) {
    return false;
  }
  if (!string(key) || !take(':')) return false;
  ok = true;
  return true;
}

bool JsonCursor::next_item(bool& first, bool& ok) {
  ok = false;
  if (first) {
    first = false;
    if (take(']')) return ok = true, false;
  } else if (take(']')) {
    return ok = true, false;
  } else if (!take(',')) {
    return false;
  }
  ok = true;
  return true;
}

bool JsonCursor::string(std::string& out) {
  if (!take('"')) return false;
  out.clear();
  while (pos_ < text_.size()) {
    // Copy the plain run up to the next quote, escape or non-ASCII byte.
    std::size_t run = pos_;
    while (run < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[run]);
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
      ++run;
    }
    out.append(text_.data() + pos_, run - pos_);
    pos_ = run;
    if (pos_ >= text_.size()) return false;
    const auto c = static_cast<unsigned char>(text_[pos_]);
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c < 0x20) return false;
    if (c >= 0x80) {
      std::size_t n = utf8_length(text_.substr(pos_));
      if (n == 0) return false;
      out.append(text_.data() + pos_, n);
      pos_ += n;
      continue;
    }
    // An escape.
    if (++pos_ >= text_.size()) return false;
    switch (text_[pos_++]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        auto hex4 = [&](std::uint32_t& v) {
          if (pos_ + 4 > text_.size()) return false;
          v = 0;
          for (int i = 0; i < 4; ++i) {
            int h = hex_value(text_[pos_++]);
            if (h < 0) return false;
            v = (v << 4) | static_cast<std::uint32_t>(h);
          }
          return true;
        };
        std::uint32_t cp;
        if (!hex4(cp)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          std::uint32_t low;
          if (text_.substr(pos_, 2) != "\\u") return false;
          pos_ += 2;
          if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
          return false;
        }
        append_utf8(out, cp);
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

bool JsonCursor::optional_string(std::optional<std::string>& out) {
  skip_space();
  if (literal("null")) {
    out.reset();
    return true;
  }
  std::string value;
  if (!string(value)) return false;
  out = std::move(value);
  return true;
}

bool JsonCursor::number_text(std::string_view& out) {
  skip_space();
  const std::size_t start = pos_;
  auto digits = [&] {
    const std::size_t from = pos_;
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    return pos_ > from;
  };
  if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '0')
    ++pos_;
  else if (!digits())
    return false;
  if (pos_ < text_.size() && text_[pos_] == '.') {
    ++pos_;
    if (!digits()) return false;
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    if (!digits()) return false;
  }
  out = text_.substr(start, pos_ - start);
  return true;
}

bool JsonCursor::number(double& out) {
  std::string_view lexeme;
  if (!number_text(lexeme)) return false;
  auto [end, err] = std::from_chars(lexeme.data(), lexeme.data() + lexeme.size(), out);
  return err == std::errc() && end == lexeme.data() + lexeme.size();
}

bool JsonCursor::unsigned_integer(std::uint64_t& out) {
  std::string_view lexeme;
  if (!number_text(lexeme)) return false;
  // Only a plain run of digits is an unsigned integer; "1.0", "1e2" and
  // "-0" are numbers of another type.
  for (char c : lexeme)
    if (!is_digit(c)) return false;
  auto [end, err] = std::from_chars(lexeme.data(), lexeme.data() + lexeme.size(), out);
  return err == std::errc() && end == lexeme.data() + lexeme.size();
}

bool JsonCursor::unsigned_integer(std::uint32_t& out) {
  std::uint64_t wide = 0;
  if (!unsigned_integer(wide) || wide > UINT32_MAX) return false;
  out = static_cast<std::uint32_t>(wide);
  return true;
}

bool JsonCursor::boolean(bool& out) {
  if (literal("true")) return out = true, true;
  if (literal("false")) return out = false, true;
  return false;
}

bool JsonCursor::string_list(std::vector<std::string>& out) {
  out.clear();
  return array([&] {
    out.emplace_back();
    return string(out.back());
  });
}

bool JsonCursor::skip() {
  skip_space();
  if (pos_ >= text_.size()) return false;
  switch (text_[pos_]) {
    case '{':
      return object([&](std::string_view) { return skip(); });
    case '[':
      return array([&] { return skip(); });
    case '"': {
      std::string ignored;
      return string(ignored);
    }
    case 't':
      return literal("true");
    case 'f':
      return literal("false");
    case 'n':
      return literal("null");
    default: {
      std::string_view ignored;
      return number_text(ignored);
    }
  }
}

}  // namespace velmor::mind::detail
