// The allowed-repository list, repos.json.
#include <nlohmann/json.hpp>

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

std::optional<Repo> repo_from_json(const json& j) {
  if (!j.is_object()) return std::nullopt;
  auto name = j.find("name");
  auto path = j.find("path");
  if (name == j.end() || !name->is_string() || path == j.end() || !path->is_string())
    return std::nullopt;
  Repo repo{name->get<std::string>(), path->get<std::string>(), "", ""};
  for (auto [key, field] : {std::pair{"test", &repo.test}, std::pair{"notes", &repo.notes}}) {
    auto it = j.find(key);
    if (it == j.end()) continue;
    if (!it->is_string()) return std::nullopt;
    *field = it->get<std::string>();
  }
  return repo;
}

std::string trimmed(const std::string& s) { return std::string(core::trim(s)); }

// The last path component, ignoring trailing slashes ("/a/shop/" is "shop").
std::string last_component(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return fs::path(path).filename().string();
}

}  // namespace

Repos Repos::open_default() { return Repos(Config::home_dir() / "repos.json"); }

std::vector<Repo> Repos::list() const {
  auto text = core::read_file(file_);
  if (!text) return {};
  json doc = json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_array()) return {};
  std::vector<Repo> repos;
  for (const auto& item : doc) {
    auto repo = repo_from_json(item);
    if (!repo) return {};
    repos.push_back(std::move(*repo));
  }
  return repos;
}

std::optional<Repo> Repos::find(const std::string& query) const {
  auto repos = list();
  std::string q = trimmed(query);
  if (q.empty()) {
    if (repos.size() == 1) return repos.front();
    return std::nullopt;
  }
  std::string lower = core::to_lower(q);
  std::string expanded = expand_home(q);
  for (const auto& r : repos)
    if (core::to_lower(r.name) == lower || r.path == expanded) return r;
  for (const auto& r : repos)
    if (expanded.starts_with(r.path)) return r;
  for (const auto& r : repos)
    if (lower.find(core::to_lower(r.name)) != std::string::npos) return r;
  return std::nullopt;
}

Result<Repo> Repos::upsert(const Repo& given) const {
  Repo repo;
  repo.path = expand_home(trimmed(given.path));
  repo.name = trimmed(given.name);
  if (repo.name.empty()) repo.name = last_component(repo.path);
  if (repo.name.empty()) return fail(Error::config("repo needs a name"));
  std::error_code ec;
  if (!fs::is_directory(repo.path, ec))
    return fail(Error::config(repo.path + " is not a folder on this Mac"));
  repo.test = trimmed(given.test);
  repo.notes = trimmed(given.notes);

  auto repos = list();
  std::erase_if(repos, [&](const Repo& r) { return r.name == repo.name; });
  repos.push_back(repo);
  VELMOR_TRY(write(repos));
  return repo;
}

Result<void> Repos::write(const std::vector<Repo>& repos) const {
  std::string text;
  try {
    nlohmann::ordered_json doc = nlohmann::ordered_json::array();
    for (const auto& r : repos)
      doc.push_back({{"name", r.name}, {"path", r.path}, {"test", r.test}, {"notes", r.notes}});
    text = doc.dump(2);
  } catch (const std::exception& e) {
    return fail(Error::config(std::string("repos: ") + e.what()));
  }
  return write_list_file(file_, text, "repos");
}

std::string expand_home(const std::string& path) {
  if (!path.starts_with("~/")) return path;
  auto home = core::get_env("HOME");
  if (!home) return path;
  return *home + "/" + path.substr(2);
}

}  // namespace velmor::code
