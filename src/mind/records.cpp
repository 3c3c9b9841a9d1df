#include "mind/records.h"

#include <chrono>
#include <cstdio>
#include <unordered_set>

#include "core/files.h"
#include "core/random.h"
#include "core/utf8.h"
#include "mind/json_fields.h"

namespace velmor::mind {

std::mutex MIND_LOCK;

namespace {

namespace fs = std::filesystem;
using detail::Fields;
using detail::Need;
using nlohmann::json;
using nlohmann::ordered_json;

template <class J>
J optional_text(const std::optional<std::string>& text) {
  return text ? J(*text) : J(nullptr);
}

template <class J>
J encode(const Memory& m) {
  J j = J::object();
  j["id"] = m.id;
  j["kind"] = m.kind;
  j["text"] = m.text;
  j["confidence"] = m.confidence;
  j["source_session"] = optional_text<J>(m.source_session);
  j["created_at"] = m.created_at;
  j["last_used"] = optional_text<J>(m.last_used);
  j["uses"] = m.uses;
  return j;
}

template <class J>
J encode(const Run& r) {
  J j = J::object();
  j["at"] = r.at;
  j["steps"] = r.steps;
  j["usd"] = r.usd;
  j["session"] = optional_text<J>(r.session);
  return j;
}

template <class J>
J encode(const Procedure& p) {
  J j = J::object();
  j["id"] = p.id;
  j["title"] = p.title;
  j["when"] = p.when;
  j["steps"] = p.steps;
  j["sites"] = p.sites;
  j["successes"] = p.successes;
  j["failures"] = p.failures;
  j["source_session"] = optional_text<J>(p.source_session);
  j["created_at"] = p.created_at;
  j["last_used"] = optional_text<J>(p.last_used);
  J runs = J::array();
  for (const auto& r : p.runs) runs.push_back(encode<J>(r));
  j["runs"] = std::move(runs);
  j["demoted"] = p.demoted;
  return j;
}

template <class J>
J encode(const JournalEntry& e) {
  J j = J::object();
  j["id"] = e.id;
  j["session"] = e.session;
  j["title"] = e.title;
  j["at"] = e.at;
  j["mode"] = e.mode;
  j["gist"] = e.gist;
  j["report"] = optional_text<J>(e.report);
  return j;
}

bool decode(const json& v, Memory& m) {
  Fields f(v);
  f.get("id", m.id, Need::Required);
  f.get("kind", m.kind, Need::Required);
  f.get("text", m.text, Need::Required);
  f.get("confidence", m.confidence, Need::Optional);
  f.get("source_session", m.source_session);
  f.get("created_at", m.created_at, Need::Required);
  f.get("last_used", m.last_used);
  f.get("uses", m.uses, Need::Optional);
  return f.ok();
}

bool decode(const json& v, Run& r) {
  Fields f(v);
  f.get("at", r.at, Need::Required);
  f.get("steps", r.steps, Need::Required);
  f.get("usd", r.usd, Need::Required);
  f.get("session", r.session);
  return f.ok();
}

bool decode(const json& v, Procedure& p) {
  Fields f(v);
  f.get("id", p.id, Need::Required);
  f.get("title", p.title, Need::Required);
  f.get("when", p.when, Need::Required);
  f.get("steps", p.steps, Need::Required);
  f.get("sites", p.sites, Need::Optional);
  f.get("successes", p.successes, Need::Optional);
  f.get("failures", p.failures, Need::Optional);
  f.get("source_session", p.source_session);
  f.get("created_at", p.created_at, Need::Required);
  f.get("last_used", p.last_used);
  if (const json* runs = f.find("runs", Need::Optional)) {
    if (!runs->is_array()) return false;
    for (const auto& item : *runs) {
      Run r;
      if (!decode(item, r)) return false;
      p.runs.push_back(std::move(r));
    }
  }
  f.get("demoted", p.demoted, Need::Optional);
  return f.ok();
}

bool decode(const json& v, JournalEntry& e) {
  Fields f(v);
  f.get("id", e.id, Need::Required);
  f.get("session", e.session, Need::Required);
  f.get("title", e.title, Need::Required);
  f.get("at", e.at, Need::Required);
  f.get("mode", e.mode, Need::Required);
  f.get("gist", e.gist, Need::Required);
  f.get("report", e.report);
  return f.ok();
}

// JSON where no object names a key twice; nullopt for anything else. The
// library keeps the last of two equal keys, which would silently drop data.
std::optional<json> parse_strict(std::string_view text) {
  std::vector<std::unordered_set<std::string>> open;
  bool duplicate = false;
  auto watch = [&](int, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        open.emplace_back();
        break;
      case json::parse_event_t::object_end:
        if (!open.empty()) open.pop_back();
        break;
      case json::parse_event_t::key:
        if (!open.empty() && !open.back().insert(parsed.get<std::string>()).second)
          duplicate = true;
        break;
      default:
        break;
    }
    return true;
  };
  json value = json::parse(text, watch, /*allow_exceptions=*/false);
  if (value.is_discarded() || duplicate) return std::nullopt;
  return value;
}

template <class T>
std::optional<std::vector<T>> decode_list(std::string_view text) {
  if (!core::is_valid_utf8(text)) return std::nullopt;
  auto value = parse_strict(text);
  if (!value || !value->is_array()) return std::nullopt;
  std::vector<T> items;
  items.reserve(value->size());
  for (const auto& item : *value) {
    T record;
    if (!decode(item, record)) return std::nullopt;
    items.push_back(std::move(record));
  }
  return items;
}

std::string unix_seconds_now() {
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
  return std::to_string(secs < 0 ? 0 : secs);
}

void set_aside(const fs::path& path) {
  fs::path aside = path;
  aside.replace_extension("unreadable-" + unix_seconds_now() + ".json");
  std::error_code ec;
  fs::rename(path, aside, ec);
  if (ec) return;
  std::fprintf(stderr, "%s could not be read; kept as %s\n", path.c_str(), aside.c_str());
}

}  // namespace

void to_json(ordered_json& j, const Memory& m) { j = encode<ordered_json>(m); }
void to_json(ordered_json& j, const Run& r) { j = encode<ordered_json>(r); }
void to_json(ordered_json& j, const Procedure& p) { j = encode<ordered_json>(p); }
void to_json(ordered_json& j, const JournalEntry& e) { j = encode<ordered_json>(e); }
void to_json(json& j, const Memory& m) { j = encode<json>(m); }
void to_json(json& j, const Procedure& p) { j = encode<json>(p); }
void to_json(json& j, const JournalEntry& e) { j = encode<json>(e); }

void to_json(json& j, const Improvement& i) {
  j = json{{"procedure", i.procedure}, {"title", i.title},           {"run", i.run},
           {"steps", i.steps},         {"usd", i.usd},               {"first_steps", i.first_steps},
           {"first_usd", i.first_usd}};
}

template <class T>
std::vector<T> read_list(const fs::path& path) {
  auto text = core::read_file(path);
  if (!text) return {};
  return decode_list<T>(*text).value_or(std::vector<T>{});
}

void keep_unreadable_aside(const fs::path& path) {
  auto text = core::read_file(path);
  if (!text || core::trim(*text).empty()) return;
  if (json::accept(*text)) return;
  set_aside(path);
}

template <class T>
Result<void> write_list(const fs::path& path, const std::vector<T>& items) {
  if (path.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec)
      return fail(Error::config("memory dir " + path.parent_path().string() + ": " + ec.message()));
  }
  std::string bytes;
  try {
    ordered_json list = ordered_json::array();
    for (const auto& item : items) list.push_back(encode<ordered_json>(item));
    bytes = list.dump(2);
  } catch (const std::exception& e) {
    return fail(Error::config(std::string("memory encode: ") + e.what()));
  }
  keep_unreadable_aside(path);
  // A file that is JSON but not a list of these records would otherwise be
  // replaced by whatever the caller holds, which is nothing of it.
  if (auto current = core::read_file(path);
      current && !core::trim(*current).empty() && !decode_list<T>(*current))
    set_aside(path);
  if (auto written = core::write_file_atomic(path, bytes); !written) {
    std::string why = written.error().message();
    const std::string prefix = "write " + path.string() + ": ";
    if (why.starts_with(prefix)) why.erase(0, prefix.size());
    return fail(Error::config("memory write " + path.string() + ": " + why));
  }
  return {};
}

template std::vector<Memory> read_list<Memory>(const fs::path&);
template std::vector<Procedure> read_list<Procedure>(const fs::path&);
template std::vector<JournalEntry> read_list<JournalEntry>(const fs::path&);
template Result<void> write_list<Memory>(const fs::path&, const std::vector<Memory>&);
template Result<void> write_list<Procedure>(const fs::path&, const std::vector<Procedure>&);
template Result<void> write_list<JournalEntry>(const fs::path&, const std::vector<JournalEntry>&);

std::string short_id(std::string_view prefix) { return core::short_id(prefix, 10); }

std::string clip(std::string_view text, std::size_t n) {
  return std::string(core::prefix_chars(text, n));
}

}  // namespace velmor::mind
