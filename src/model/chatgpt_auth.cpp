#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/environment.h"
#include "core/files.h"
#include "core/utf8.h"
#include "model/chatgpt_auth.h"

namespace velmor::model {
namespace {

using nlohmann::ordered_json;

std::optional<std::string> optional_text(const ordered_json& file, const char* key, bool* ok) {
  auto it = file.find(key);
  if (it == file.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) *ok = false;
  return it->is_string() ? std::optional<std::string>(it->get<std::string>()) : std::nullopt;
}

std::optional<ChatGptAuth> decode(const std::string& text) {
  ordered_json file = ordered_json::parse(text, nullptr, false);
  if (!file.is_object()) return std::nullopt;
  auto access = file.find("access_token");
  auto refresh = file.find("refresh_token");
  auto expires = file.find("expires_at");
  if (access == file.end() || !access->is_string()) return std::nullopt;
  if (refresh == file.end() || !refresh->is_string()) return std::nullopt;
  if (expires == file.end() || !expires->is_number_unsigned()) return std::nullopt;

  bool ok = true;
  ChatGptAuth auth;
  auth.access_token = access->get<std::string>();
  auth.refresh_token = refresh->get<std::string>();
  auth.expires_at = expires->get<std::uint64_t>();
  auth.client_id = optional_text(file, "client_id", &ok).value_or("");
  auth.email = optional_text(file, "email", &ok);
  auth.id_token = optional_text(file, "id_token", &ok);
  if (!ok) return std::nullopt;
  return auth;
}

ordered_json nullable(const std::optional<std::string>& text) {
  return text ? ordered_json(*text) : ordered_json(nullptr);
}

}  // namespace

namespace oauth {

std::filesystem::path auth_dir() {
  if (auto home = core::get_env("VELMOR_AUTH_HOME"); home && !core::trim(*home).empty())
    return std::filesystem::path(*home) / "auth";
  return Config::home_dir() / "auth";
}

std::filesystem::path auth_file() { return auth_dir() / "chatgpt.json"; }

}  // namespace oauth

std::optional<ChatGptAuth> ChatGptAuth::load() {
  auto text = core::read_file(oauth::auth_file());
  if (!text) return std::nullopt;
  return decode(*text);
}

Result<void> ChatGptAuth::save() const {
  auto dir = oauth::auth_dir();
  if (auto made = core::create_dirs(dir); !made) return fail(Error::config(made.error().message()));

  std::string text;
  try {
    ordered_json file;
    file["access_token"] = access_token;
    file["refresh_token"] = refresh_token;
    file["expires_at"] = expires_at;
    file["client_id"] = client_id;
    file["email"] = nullable(email);
    file["id_token"] = nullable(id_token);
    text = file.dump(2) + "\n";
  } catch (const nlohmann::json::exception& e) {
    return fail(Error::config(std::string("auth encode: ") + e.what()));
  }

  // Owner-only from the first byte, so the tokens are never readable by
  // others, not even between the write and a later chmod.
  auto written = core::write_file_atomic(oauth::auth_file(), text, core::FileAccess::OwnerOnly);
  if (!written) return fail(Error::config(written.error().message()));
  return {};
}

Result<void> ChatGptAuth::forget() {
  auto path = oauth::auth_file();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return fail(Error::config("remove " + path.string() + ": " + std::strerror(errno)));
  return {};
}

}  // namespace velmor::model
