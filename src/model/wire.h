// Internal to the model module: the pieces the three wire formats share and
// the body builders and reply readers of each format.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/http_client.h"
#include "model/model.h"

namespace velmor::model::wire {

using nlohmann::json;

// Compact JSON text of a body the client built. Text that is not valid
// UTF-8 (page text, file contents) is replaced, not thrown on.
std::string compact(const json& value);

// JSON text parsed; the error is nlohmann's description without its
// "[json.exception...]" tag.
std::expected<json, std::string> parse(std::string_view text);

// The value at `where`, or nullptr when the path leads nowhere (a missing
// member, or a value of another shape on the way).
const json* json_at(const json& value, const json::json_pointer& where);
// The string at `where`, if there is one.
std::optional<std::string> string_at(const json& value, const json::json_pointer& where);

// A POST that produced an HTTP status and a whole body, or that failed
// before any of the body arrived (Transport) or while reading it (Body).
struct Posted {
  long status = 0;
  std::string body;
};
enum class FailureStage { Transport, Body };
struct PostFailure {
  FailureStage stage = FailureStage::Transport;
  std::string error;
};
std::expected<Posted, PostFailure> post(const core::HttpRequest& request);

// "{provider}: {error}" for a transport failure; "{provider} http {status}:
// {first 180 characters of the body}{hint}" for an error status, with the
// two ChatGPT hints. Both kind Inference.
Error http_err(Provider provider, std::string_view transport_error);
Error http_err(Provider provider, long status, std::string_view body);

// A usage count of any JSON number type as an unsigned integer: floats are
// truncated, negatives and non-numbers count as 0.
std::uint64_t usage_number(const json& usage, const json::json_pointer& where);
// The reply: `text` with the counts `read_usage` takes from the response's
// `usage` object, or, when there is none, the estimate from `sent`.
ChatReply make_reply(std::string text, const json& response, const json& sent,
                     TokenUse (*read_usage)(const json& usage));

// "data:image/png;base64,{image}".
std::string png_data_url(const std::string& image);
std::string_view role_word(Role role);

// Responses format (ChatGPT streamed, OpenAI and xAI plain).
json responses_body(Provider provider, const std::string& model, const std::string& system,
                    const std::vector<Message>& messages,
                    const std::optional<std::string>& prompt_cache_key);
Result<ChatReply> responses_reply(Provider provider, const json& sent, std::string_view body);

// What a ChatGPT event stream came to: the final response object, if any
// event gave one, and the text of every delta.
struct StreamResult {
  std::optional<json> final_response;
  std::string delta_text;
};
StreamResult read_event_stream(std::string_view body);

// Messages format (Anthropic).
json messages_body(const std::string& model, const std::string& system,
                   const std::vector<Message>& messages);
Result<ChatReply> messages_reply(const json& sent, std::string_view body);

// Chat-completions format (compatible endpoints).
json chat_completions_body(const std::string& model, const std::string& system,
                           const std::vector<Message>& messages);
Result<ChatReply> chat_completions_reply(const json& sent, std::string_view body);

}  // namespace velmor::model::wire
