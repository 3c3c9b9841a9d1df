#include "core/utf8.h"
#include "model/wire.h"

namespace velmor::model::wire {
namespace {

json messages_content(const Message& message) {
  if (message.role != Role::User || !message.image) return message.text;
  return json::array({
      {{"type", "image"},
       {"source", {{"type", "base64"}, {"media_type", "image/png"}, {"data", *message.image}}}},
      {{"type", "text"}, {"text", message.text}},
  });
}

// Anthropic counts cache reads and cache writes apart from the other input.
TokenUse messages_usage(const json& usage) {
  TokenUse use;
  use.cached_tokens = usage_number(usage, "/cache_read_input_tokens"_json_pointer);
  use.input_tokens = usage_number(usage, "/input_tokens"_json_pointer) + use.cached_tokens +
                     usage_number(usage, "/cache_creation_input_tokens"_json_pointer);
  use.output_tokens = usage_number(usage, "/output_tokens"_json_pointer);
  return use;
}

}  // namespace

json messages_body(const std::string& model, const std::string& system,
                   const std::vector<Message>& messages) {
  json list = json::array();
  for (const auto& m : messages)
    list.push_back({{"role", role_word(m.role)}, {"content", messages_content(m)}});
  return {{"model", model}, {"max_tokens", 4096}, {"system", system}, {"messages", std::move(list)}};
}

Result<ChatReply> messages_reply(const json& sent, std::string_view body) {
  auto parsed = parse(body);
  if (!parsed) return fail(Error::inference("anthropic response was not json: " + parsed.error()));
  const json& response = *parsed;
  if (!response.is_object()) return fail(Error::inference("anthropic returned no text"));
  if (auto message = string_at(response, "/error/message"_json_pointer))
    return fail(Error::inference("anthropic: " + *message));

  std::string joined;
  if (auto content = response.find("content"); content != response.end() && content->is_array()) {
    for (const auto& block : *content) {
      if (!block.is_object() || block.value("type", json()) != "text") continue;
      if (auto t = block.find("text"); t != block.end() && t->is_string())
        joined += t->get_ref<const std::string&>();
    }
  }
  std::string text(core::trim(joined));
  if (text.empty()) return fail(Error::inference("anthropic returned no text"));

  return make_reply(std::move(text), response, sent, messages_usage);
}

}  // namespace velmor::model::wire
