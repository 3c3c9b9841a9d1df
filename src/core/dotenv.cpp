// A .env reader: KEY=value lines, "#" comments, an optional "export "
// prefix, and single, double or no quotes around the value.
#include <fstream>
#include <optional>
#include <string>

#include "core/config.h"
#include "core/environment.h"
#include "core/utf8.h"

namespace velmor::core {
namespace {

bool valid_key(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) return false;
  return true;
}

// Parses the value part of a line; nullopt when it cannot be read (an
// unterminated quote).
std::optional<std::string> parse_value(std::string_view v) {
  v = trim(v);
  if (v.empty()) return std::string();
  char q = v.front();
  if (q == '"' || q == '\'') {
    std::string out;
    std::size_t i = 1;
    for (; i < v.size() && v[i] != q; ++i) {
      if (q == '"' && v[i] == '\\' && i + 1 < v.size()) {
        char n = v[++i];
        out += n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
      } else {
        out += v[i];
      }
    }
    if (i >= v.size()) return std::nullopt;
    auto rest = trim(v.substr(i + 1));
    if (!rest.empty() && rest.front() != '#') return std::nullopt;
    return out;
  }
  // Unquoted: an inline comment starts at " #".
  auto hash = v.find(" #");
  if (hash != std::string_view::npos) v = v.substr(0, hash);
  return std::string(trim(v));
}

}  // namespace

void load_dotenv_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view l = trim(line);
    if (l.empty() || l.front() == '#') continue;
    if (l.starts_with("export ")) l = trim(l.substr(7));
    auto eq = l.find('=');
    if (eq == std::string_view::npos) return;
    std::string key(trim(l.substr(0, eq)));
    if (!valid_key(key)) return;
    auto value = parse_value(l.substr(eq + 1));
    if (!value || !is_valid_utf8(*value)) return;
    if (get_env(key)) continue;
    set_env(key, *value);
  }
}

}  // namespace velmor::core
