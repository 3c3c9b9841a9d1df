// Internal to the mind: a strict JSON reader that decodes stored lists
// straight into records. Recall re-reads every file on every call, and
// building a document tree first cost more than all the ranking; this reads
// the text once, in place. Not part of the module's public face.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmor::mind::detail {

// Reads one JSON text from the front. Every method consumes one value (and
// the white space before it) and returns false on anything that is not
// well-formed JSON of the asked-for type; after a false the cursor is
// spent. Strings must be valid UTF-8; objects may not repeat a key.
class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) : text_(text) {}

  // An object; `on_key(key)` is called once per key and must consume that
  // key's value, returning false to stop.
  template <class OnKey>
  bool object(OnKey&& on_key);
  // An array; `on_item()` must consume one item, returning false to stop.
  template <class OnItem>
  bool array(OnItem&& on_item);

  bool string(std::string& out);
  bool optional_string(std::optional<std::string>& out);  // a string or null
  bool number(double& out);
  bool unsigned_integer(std::uint64_t& out);
  bool unsigned_integer(std::uint32_t& out);  // and no more than 32 bits
  bool boolean(bool& out);
  bool string_list(std::vector<std::string>& out);
  // Any value, checked and thrown away.
  bool skip();
  // Only white space is left.
  bool at_end();

 private:
  void skip_space();
  bool take(char c);
  bool literal(std::string_view word);
  bool number_text(std::string_view& out);
  bool open_nested();
  bool begin_object();
  // The next key of an object, or false at its end; `first` is set by the
  // caller before the first key.
  bool next_key(bool& first, std::string& key, bool& ok);
  bool begin_array();
  bool next_item(bool& first, bool& ok);

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

template <class OnKey>
bool JsonCursor::object(OnKey&& on_key) {
  if (!begin_object()) return false;
  std::vector<std::string> keys;
  keys.reserve(16);
  std::string key;
  bool first = true;
  bool ok = true;
  while (next_key(first, key, ok)) {
    for (const auto& seen : keys)
      if (seen == key) return false;
    keys.push_back(key);
    if (!on_key(std::string_view(keys.back()))) return false;
  }
  --depth_;
  return ok;
}

template <class OnItem>
bool JsonCursor::array(OnItem&& on_item) {
  if (!begin_array()) return false;
  bool first = true;
  bool ok = true;
  while (next_item(first, ok))
    if (!on_item()) return false;
  --depth_;
  return ok;
}

}  // namespace velmor::mind::detail
