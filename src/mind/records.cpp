#include "mind/records.h"

#include <chrono>
#include <cstdio>

#include "core/files.h"
#include "core/random.h"
#include "core/utf8.h"
#include "mind/json_cursor.h"

namespace velmor::mind {

std::mutex MIND_LOCK;

namespace {

namespace fs = std::filesystem;
using detail::JsonCursor;
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

// Readers of one stored record. The cursor refuses repeated keys; each
// reader refuses a missing required key. Unknown keys are skipped.
bool decode(JsonCursor& c, Memory& m) {
  unsigned seen = 0;
  bool ok = c.object([&](std::string_view key) {
    if (key == "id") return seen |= 1, c.string(m.id);
    if (key == "kind") return seen |= 2, c.string(m.kind);
    if (key == "text") return seen |= 4, c.string(m.text);
    if (key == "confidence") return c.number(m.confidence);
    if (key == "source_session") return c.optional_string(m.source_session);
    if (key == "created_at") return seen |= 8, c.string(m.created_at);
    if (key == "last_used") return c.optional_string(m.last_used);
    if (key == "uses") return c.unsigned_integer(m.uses);
    return c.skip();
  });
  return ok && seen == 15;
}

bool decode(JsonCursor& c, Run& r) {
  unsigned seen = 0;
  bool ok = c.object([&](std::string_view key) {
    if (key == "at") return seen |= 1, c.string(r.at);
    if (key == "steps") return seen |= 2, c.unsigned_integer(r.steps);
    if (key == "usd") return seen |= 4, c.number(r.usd);
    if (key == "session") return c.optional_string(r.session);
    return c.skip();
  });
  return ok && seen == 7;
}

bool decode(JsonCursor& c, Procedure& p) {
  unsigned seen = 0;
  bool ok = c.object([&](std::string_view key) {
    if (key == "id") return seen |= 1, c.string(p.id);
    if (key == "title") return seen |= 2, c.string(p.title);
    if (key == "when") return seen |= 4, c.string(p.when);
    if (key == "steps") return seen |= 8, c.string_list(p.steps);
    if (key == "sites") return c.string_list(p.sites);
    if (key == "successes") return c.unsigned_integer(p.successes);
    if (key == "failures") return c.unsigned_integer(p.failures);
    if (key == "source_session") return c.optional_string(p.source_session);
    if (key == "created_at") return seen |= 16, c.string(p.created_at);
    if (key == "last_used") return c.optional_string(p.last_used);
    if (key == "runs") {
      p.runs.clear();
      return c.array([&] { return decode(c, p.runs.emplace_back()); });
    }
    if (key == "demoted") return c.boolean(p.demoted);
    return c.skip();
  });
  return ok && seen == 31;
}

bool decode(JsonCursor& c, JournalEntry& e) {
  unsigned seen = 0;
  bool ok = c.object([&](std::string_view key) {
    if (key == "id") return seen |= 1, c.string(e.id);
    if (key == "session") return seen |= 2, c.string(e.session);
    if (key == "title") return seen |= 4, c.string(e.title);
    if (key == "at") return seen |= 8, c.string(e.at);
    if (key == "mode") return seen |= 16, c.string(e.mode);
    if (key == "gist") return seen |= 32, c.string(e.gist);
    if (key == "report") return c.optional_string(e.report);
    return c.skip();
  });
  return ok && seen == 63;
}

template <class T>
std::optional<std::vector<T>> decode_list(std::string_view text) {
  JsonCursor c(text);
  std::vector<T> items;
  if (!c.array([&] { return decode(c, items.emplace_back()); }) || !c.at_end())
    return std::nullopt;
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
