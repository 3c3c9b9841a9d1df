#include <cmath>
#include <limits>

#include "core/utf8.h"
#include "model/wire.h"

namespace velmor::model::wire {

std::string compact(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::expected<json, std::string> parse(std::string_view text) {
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    std::string what = e.what();
    if (what.starts_with("[json.exception.")) {
      auto close = what.find("] ");
      if (close != std::string::npos) what.erase(0, close + 2);
    }
    return std::unexpected(what);
  }
}

const json* json_at(const json& value, const json::json_pointer& where) {
  try {
    if (value.contains(where)) return &value.at(where);
  } catch (const json::exception&) {
    // A path through a value of another shape: nothing there.
  }
  return nullptr;
}

std::optional<std::string> string_at(const json& value, const json::json_pointer& where) {
  const json* found = json_at(value, where);
  if (!found || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::expected<Posted, PostFailure> post(const core::HttpRequest& request) {
  // The body is collected through the chunk callback so that a failure
  // after the first byte can be told apart from one before any answer.
  std::string body;
  bool got_body = false;
  auto result = core::http_send(request, [&](std::string_view chunk) {
    got_body = true;
    body.append(chunk);
    return true;
  });
  if (!result) {
    auto stage = got_body ? FailureStage::Body : FailureStage::Transport;
    return std::unexpected(PostFailure{stage, result.error().message()});
  }
  return Posted{result->status, std::move(body)};
}

Error http_err(Provider provider, std::string_view transport_error) {
  return Error::inference(std::string(provider_label(provider)) + ": " + std::string(transport_error));
}

Error http_err(Provider provider, long status, std::string_view body) {
  std::string hint;
  if (provider == Provider::ChatGpt) {
    if (body.find("subscription_sharing_usage_limit_exceeded") != std::string_view::npos)
      hint = " (your ChatGPT plan's shared limit for apps is used up for now; wait, or paste an API "
             "key in Settings)";
    else if (status == 401)
      hint = " (ChatGPT sign-in expired; sign in again from Settings)";
  }
  // Error texts end up in session files and JSON answers: keep them valid.
  std::string cut = core::to_valid_utf8(core::prefix_chars(body, 180));
  return Error::inference(std::string(provider_label(provider)) + " http " + std::to_string(status) +
                          ": " + cut + hint);
}

std::uint64_t usage_number(const json& usage, const json::json_pointer& where) {
  const json* found = json_at(usage, where);
  if (!found) return 0;
  const json& v = *found;
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer()) {
    auto n = v.get<std::int64_t>();
    return n < 0 ? 0 : static_cast<std::uint64_t>(n);
  }
  if (v.is_number_float()) {
    double d = std::trunc(v.get<double>());
    if (!(d > 0)) return 0;
    if (d >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(d);
  }
  return 0;
}

ChatReply make_reply(std::string text, const json& response, const json& sent,
                     TokenUse (*read_usage)(const json& usage)) {
  ChatReply reply;
  auto usage = response.is_object() ? response.find("usage") : response.end();
  if (usage != response.end() && usage->is_object())
    reply.usage = read_usage(*usage);
  else
    reply.usage = estimate(sent, text.size());
  reply.text = std::move(text);
  return reply;
}

std::string png_data_url(const std::string& image) { return "data:image/png;base64," + image; }

std::string_view role_word(Role role) { return role == Role::User ? "user" : "assistant"; }

}  // namespace velmor::model::wire
