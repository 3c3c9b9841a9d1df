// The coding agents: which exist, which one a run gets, and how each has
// fared so far (coders.json).
#include <nlohmann/json.hpp>

#include <array>
#include <system_error>

#include "code/code.h"
#include "code/stored_file.h"
#include "core/config.h"
#include "core/environment.h"
#include "core/files.h"
#include "core/utf8.h"

namespace velmor::code {

namespace {

using nlohmann::json;

struct CoderRow {
  const char* id;
  const char* label;
  const char* needs;
};

constexpr std::array<CoderRow, 6> kCoders{{
    {"codex", "Codex CLI", "ChatGPT sign-in or OpenAI key (`npm i -g @openai/codex`)"},
    {"claude", "Claude Code", "Anthropic account (`npm i -g @anthropic-ai/claude-code`)"},
    {"gemini", "Gemini CLI", "Google account (`npm i -g @google/gemini-cli`)"},
    {"aider", "Aider", "a model key in its config (`pip install aider-chat`)"},
    {"opencode", "OpenCode", "a model key in its config"},
    {"native", "velmor native", "your configured model; no install"},
}};

constexpr const char* kHomebrewDirs[] = {"/opt/homebrew/bin", "/usr/local/bin"};

std::vector<std::string> path_entries() {
  std::vector<std::string> entries;
  auto path = core::get_env("PATH");
  if (!path) return entries;
  std::size_t start = 0;
  while (true) {
    auto colon = path->find(':', start);
    entries.push_back(path->substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return entries;
}

std::optional<std::uint64_t> unsigned_member(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_unsigned()) return std::nullopt;
  return it->get<std::uint64_t>();
}

}  // namespace

bool on_path(const std::string& name) {
  auto dirs = path_entries();
  for (const char* d : kHomebrewDirs) dirs.emplace_back(d);
  for (const auto& dir : dirs) {
    std::error_code ec;
    if (fs::is_regular_file(fs::path(dir) / name, ec)) return true;
  }
  return false;
}

std::string path_with_homebrew() {
  std::string joined = std::string(kHomebrewDirs[0]) + ":" + kHomebrewDirs[1];
  if (!core::get_env("PATH")) return joined;
  for (const auto& entry : path_entries()) joined += ":" + entry;
  return joined;
}

std::vector<Coder> known_coders() {
  std::vector<Coder> coders;
  for (const auto& row : kCoders) {
    bool native = std::string_view(row.id) == "native";
    coders.push_back({row.id, row.label, row.needs, native || on_path(row.id)});
  }
  return coders;
}

std::string coder_setting() {
  auto value = core::get_env("VELMOR_CODER");
  if (value && !core::trim(*value).empty()) return *value;
  return "auto";
}

std::expected<Coder, std::string> choose_coder(const std::vector<Coder>& coders,
                                               const std::map<std::string, CoderStats>& record,
                                               const std::string& setting) {
  if (setting != "auto") {
    for (const auto& c : coders)
      if (c.id == setting && c.installed) return c;
    return std::unexpected(setting +
                           " is set as the coder in Settings but is not installed on this Mac.");
  }
  std::vector<Coder> candidates;
  for (const auto& c : coders)
    if (c.installed) candidates.push_back(c);
  if (candidates.empty()) return std::unexpected(std::string("No coder is available."));

  const Coder* best = nullptr;
  double best_rate = 0;
  for (const auto& c : candidates) {
    auto it = record.find(c.id);
    if (it == record.end() || it->second.runs < 3) continue;
    double rate = static_cast<double>(it->second.ok) / static_cast<double>(it->second.runs);
    if (!best || rate > best_rate + 0.05) {
      best = &c;
      best_rate = rate;
    }
  }
  if (best) return *best;
  for (const auto& c : candidates)
    if (c.id != "native") return c;
  return candidates.front();
}

std::expected<Coder, std::string> pick_coder() {
  return choose_coder(known_coders(), CoderRecord::load(CoderRecord::default_file()),
                      coder_setting());
}

fs::path CoderRecord::default_file() { return Config::home_dir() / "coders.json"; }

std::map<std::string, CoderStats> CoderRecord::load(const fs::path& file) {
  auto text = core::read_file(file);
  if (!text) return {};
  json doc = json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return {};
  std::map<std::string, CoderStats> stats;
  for (const auto& [id, entry] : doc.items()) {
    if (!entry.is_object()) return {};
    auto runs = unsigned_member(entry, "runs");
    auto ok = unsigned_member(entry, "ok");
    auto seconds = unsigned_member(entry, "seconds");
    if (!runs || !ok || !seconds) return {};
    stats[id] = {*runs, *ok, *seconds};
  }
  return stats;
}

Result<void> CoderRecord::record(const fs::path& file, const std::string& id, bool ok,
                                 std::uint64_t seconds) {
  auto stats = load(file);
  auto& entry = stats[id];
  entry.runs += 1;
  if (ok) entry.ok += 1;
  entry.seconds += seconds;
  std::string text;
  try {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    for (const auto& [key, s] : stats)
      doc[key] = {{"runs", s.runs}, {"ok", s.ok}, {"seconds", s.seconds}};
    text = doc.dump(2);
  } catch (const std::exception& e) {
    return fail(Error::config(std::string("coders: ") + e.what()));
  }
  return write_list_file(file, text, "coders");
}

json status() {
  json coders = json::array();
  auto detected = known_coders();
  for (const auto& c : detected)
    coders.push_back({{"id", c.id}, {"title", c.label}, {"present", c.installed}, {"needs", c.needs}});
  auto stats = CoderRecord::load(CoderRecord::default_file());
  auto picked = choose_coder(detected, stats, coder_setting());
  json record = json::object();
  for (const auto& [id, s] : stats) record[id] = {{"runs", s.runs}, {"ok", s.ok}, {"seconds", s.seconds}};
  json repos = json::array();
  for (const auto& r : Repos::open_default().list())
    repos.push_back({{"name", r.name}, {"path", r.path}, {"test", r.test}, {"notes", r.notes}});
  return {{"coders", coders},
          {"picked", picked ? json(picked->id) : json(nullptr)},
          {"record", record},
          {"repos", repos},
          {"setting", coder_setting()}};
}

}  // namespace velmor::code
