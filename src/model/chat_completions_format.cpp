#include "core/utf8.h"
#include "model/wire.h"

namespace velmor::model::wire {
namespace {

json chat_content(const Message& message) {
  if (message.role != Role::User || !message.image) return message.text;
  return json::array({
      {{"type", "image_url"}, {"image_url", {{"url", png_data_url(*message.image)}}}},
      {{"type", "text"}, {"text", message.text}},
  });
}

TokenUse chat_usage(const json& usage) {
  TokenUse use;
  use.input_tokens = usage_number(usage, "/prompt_tokens"_json_pointer);
  use.output_tokens = usage_number(usage, "/completion_tokens"_json_pointer);
  return use;
}

}  // namespace

json chat_completions_body(const std::string& model, const std::string& system,
                           const std::vector<Message>& messages) {
  json list = json::array();
  list.push_back({{"role", "system"}, {"content", system}});
  for (const auto& m : messages)
    list.push_back({{"role", role_word(m.role)}, {"content", chat_content(m)}});
  return {{"model", model}, {"messages", std::move(list)}};
}

Result<ChatReply> chat_completions_reply(const json& sent, std::string_view body) {
  auto parsed = parse(body);
  if (!parsed) return fail(Error::inference("llm response was not json: " + parsed.error()));
  const json& response = *parsed;

  std::string text(core::trim(string_at(response, "/choices/0/message/content"_json_pointer).value_or("")));
  if (text.empty()) return fail(Error::inference("llm returned no content"));

  return make_reply(std::move(text), response, sent, chat_usage);
}

}  // namespace velmor::model::wire
