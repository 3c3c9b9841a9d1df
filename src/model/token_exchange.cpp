#include <chrono>
#include <limits>
#include <mutex>

#include "core/encoding.h"
#include "core/environment.h"
#include "core/files.h"
#include "core/utf8.h"
#include "model/chatgpt_auth.h"
#include "model/wire.h"

namespace velmor::model::oauth {
namespace {

using nlohmann::json;

constexpr std::string_view kTokenUrl = "https://auth.openai.com/oauth/token";
constexpr std::uint64_t kDefaultLifetimeSecs = 3600;

std::uint64_t now_secs() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  return secs < 0 ? 0 : static_cast<std::uint64_t>(secs);
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max()
                                                           : a + b;
}

bool expiring(const ChatGptAuth& auth) {
  return saturating_add(now_secs(), kRefreshMarginSecs) >= auth.expires_at;
}

std::optional<std::string> string_member(const json& object, const char* key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// The `email` claim of a JSON Web Token's payload, if it has one.
std::optional<std::string> email_of(const std::string& id_token) {
  auto first = id_token.find('.');
  if (first == std::string::npos) return std::nullopt;
  auto second = id_token.find('.', first + 1);
  if (second == std::string::npos) return std::nullopt;
  auto payload = core::base64_decode(std::string_view(id_token).substr(first + 1, second - first - 1));
  if (!payload) return std::nullopt;
  return string_member(json::parse(*payload, nullptr, false), "email");
}

std::optional<std::uint64_t> lifetime_secs(const json& response) {
  auto it = response.find("expires_in");
  if (it == response.end()) return std::nullopt;
  if (it->is_number_unsigned()) return it->get<std::uint64_t>();
  if (it->is_number_integer() && it->get<std::int64_t>() >= 0)
    return static_cast<std::uint64_t>(it->get<std::int64_t>());
  return std::nullopt;
}

}  // namespace

bool is_valid_client_id(std::string_view id) {
  if (id.empty() || id.size() > 200 || id == kDefaultClientId) return false;
  for (unsigned char c : id) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string client_id(std::string_view configured) {
  if (is_valid_client_id(configured)) return std::string(configured);
  if (auto stored = core::read_file(auth_dir() / "chatgpt_client_id")) {
    std::string_view id = core::trim(*stored);
    if (is_valid_client_id(id)) return std::string(id);
  }
  return std::string(kDefaultClientId);
}

std::string token_url() {
  if (auto url = core::get_env("VELMOR_OAUTH_TOKEN_URL"); url && !core::trim(*url).empty()) return *url;
  return std::string(kTokenUrl);
}

Result<json> post_form(const std::string& url,
                       const std::vector<std::pair<std::string, std::string>>& pairs) {
  core::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.timeout = std::chrono::seconds(30);
  request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
  request.body = core::form_encode(pairs);

  auto posted = wire::post(request);
  if (!posted) {
    const char* prefix =
        posted.error().stage == wire::FailureStage::Transport ? "chatgpt token: " : "chatgpt token read: ";
    return fail(Error::inference(prefix + posted.error().error));
  }
  // An error status still carries the endpoint's JSON explanation
  // ("invalid_grant"), which the caller turns into the person's message.
  auto parsed = wire::parse(posted->body);
  if (!parsed)
    return fail(Error::inference("chatgpt token endpoint returned something that is not JSON: " +
                                 core::to_valid_utf8(core::prefix_chars(posted->body, 160))));
  return std::move(*parsed);
}

Result<ChatGptAuth> auth_from_token_response(const json& response, const std::string& client,
                                             const std::optional<ChatGptAuth>& previous) {
  if (response.is_object()) {
    if (auto error = response.find("error"); error != response.end()) {
      if (*error == "invalid_grant")
        return fail(Error::config(
            "your ChatGPT sign-in has expired or was used from another copy of velmor. Open Settings "
            "and choose Continue with ChatGPT again."));
      std::string description;
      if (auto d = response.find("error_description"); d != response.end() && !d->is_null())
        description = d->is_string() ? d->get<std::string>() : wire::compact(*d);
      return fail(Error::inference("chatgpt sign-in: " + wire::compact(*error) + " " + description));
    }
  }

  ChatGptAuth auth;
  auto access = string_member(response, "access_token");
  if (!access) return fail(Error::inference("chatgpt sign-in: no access_token"));
  auth.access_token = std::move(*access);

  auto refresh = string_member(response, "refresh_token");
  if (!refresh && previous) refresh = previous->refresh_token;
  if (!refresh) return fail(Error::inference("chatgpt sign-in: no refresh_token"));
  auth.refresh_token = std::move(*refresh);

  auth.expires_at = saturating_add(now_secs(), lifetime_secs(response).value_or(kDefaultLifetimeSecs));

  auto id_token = string_member(response, "id_token");
  std::optional<std::string> email = id_token ? email_of(*id_token) : std::nullopt;
  auth.id_token = id_token ? id_token : (previous ? previous->id_token : std::nullopt);
  auth.email = email ? email : (previous ? previous->email : std::nullopt);
  auth.client_id = client;
  return auth;
}

Result<ChatGptAuth> fresh_auth(const ChatGptAuth& auth, const Config& config) {
  if (!expiring(auth)) return auth;
  static std::mutex refresh_mutex;
  std::lock_guard lock(refresh_mutex);
  // A refresh token is spent by its first use: a call that waited here
  // takes the sign-in the call before it has just saved.
  ChatGptAuth current = ChatGptAuth::load().value_or(auth);
  if (!expiring(current)) return current;

  std::string client =
      is_valid_client_id(current.client_id) ? current.client_id : client_id(config.openai_client_id);
  json response = VELMOR_TRY(post_form(token_url(), {{"grant_type", "refresh_token"},
                                                     {"refresh_token", current.refresh_token},
                                                     {"client_id", client}}));
  ChatGptAuth fresh = VELMOR_TRY(auth_from_token_response(response, client, current));
  VELMOR_TRY(fresh.save());
  return fresh;
}

}  // namespace velmor::model::oauth
