// The stored ChatGPT sign-in and the token-endpoint helpers that keep it
// fresh. The browser sign-in flow builds on the same helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/config.h"
#include "core/error.h"

namespace velmor::model {

// The sign-in, stored as "chatgpt.json" in oauth::auth_dir() with these
// keys in this order (email and id_token written as null when absent).
struct ChatGptAuth {
  std::string access_token;
  std::string refresh_token;
  std::uint64_t expires_at = 0;  // seconds since the Unix epoch
  std::string client_id;         // empty when unknown
  std::optional<std::string> email;
  std::optional<std::string> id_token;

  // The stored sign-in; nullopt when the file is missing, unreadable or
  // malformed.
  static std::optional<ChatGptAuth> load();
  // Writes the file whole, owner read and write only. Errors are kind
  // Config: "create {directory}: {error}", "write {path}: {error}"; "auth
  // encode: {error}" when a field is not valid text.
  Result<void> save() const;
  // Deletes the file; a missing file is success. "remove {path}: {error}"
  // (kind Config). The learned client identifier is kept.
  static Result<void> forget();

  bool operator==(const ChatGptAuth&) const = default;
};

namespace oauth {

// The public client name that asks the provider to register this app; the
// provider then returns the real identifier at the end of a sign-in.
inline constexpr std::string_view kDefaultClientId = core::kDefaultOpenAiClientId;

// {VELMOR_AUTH_HOME}/auth when that variable is set and not blank, else
// {home}/auth. Holds chatgpt.json and chatgpt_client_id.
std::filesystem::path auth_dir();
std::filesystem::path auth_file();  // {auth_dir}/chatgpt.json

// 1 to 200 ASCII letters, digits, "-" or "_", and not kDefaultClientId.
bool is_valid_client_id(std::string_view id);
// `configured` when valid, else the valid trimmed content of
// {auth_dir}/chatgpt_client_id, else kDefaultClientId.
std::string client_id(std::string_view configured);

// VELMOR_OAUTH_TOKEN_URL when set, else the provider's token endpoint.
std::string token_url();

// POSTs `pairs` form-encoded (in order) with a 30-second timeout and returns
// the parsed JSON body, whatever the status. Errors (kind Inference):
// "chatgpt token: {error}", "chatgpt token read: {error}", "chatgpt token
// endpoint returned something that is not JSON: {first 160 characters}".
Result<nlohmann::json> post_form(const std::string& url,
                                 const std::vector<std::pair<std::string, std::string>>& pairs);

// The sign-in a token response describes. A missing refresh or identity
// token is taken from `previous`; the e-mail comes from the identity token.
// "invalid_grant" fails with kind Config ("your ChatGPT sign-in has expired
// or was used from another copy of velmor. ..."); other faults are kind
// Inference ("chatgpt sign-in: ...").
Result<ChatGptAuth> auth_from_token_response(const nlohmann::json& response,
                                             const std::string& client_id,
                                             const std::optional<ChatGptAuth>& previous);

// Seconds before expiry at which a sign-in is refreshed.
inline constexpr std::uint64_t kRefreshMarginSecs = 120;

// `auth` itself when it lives for more than kRefreshMarginSecs, else the
// refreshed sign-in, already saved. Refreshes in one process are serialised
// so that concurrent calls spend one refresh token once.
Result<ChatGptAuth> fresh_auth(const ChatGptAuth& auth, const Config& config);

}  // namespace oauth
}  // namespace velmor::model
