#include "core/utf8.h"
#include "model/wire.h"

namespace velmor::model::wire {
namespace {

json responses_content(const Message& message) {
  if (message.role != Role::User || !message.image) return message.text;
  return json::array({
      {{"type", "input_image"}, {"image_url", png_data_url(*message.image)}, {"detail", "high"}},
      {{"type", "input_text"}, {"text", message.text}},
  });
}

std::string trimmed(std::string_view text) { return std::string(core::trim(text)); }

// The top-level output_text when it says something, else every text part
// of every output item, joined as they come.
std::string output_text(const json& response) {
  if (auto it = response.find("output_text"); it != response.end() && it->is_string()) {
    std::string top = trimmed(it->get_ref<const std::string&>());
    if (!top.empty()) return top;
  }
  std::string joined;
  auto output = response.find("output");
  if (output == response.end() || !output->is_array()) return joined;
  for (const auto& item : *output) {
    if (!item.is_object()) continue;
    auto content = item.find("content");
    if (content == item.end() || !content->is_array()) continue;
    for (const auto& part : *content) {
      if (!part.is_object()) continue;
      auto type = part.find("type");
      auto text = part.find("text");
      if (type == part.end() || !type->is_string() || text == part.end() || !text->is_string())
        continue;
      if (*type == "text" || *type == "output_text") joined += text->get_ref<const std::string&>();
    }
  }
  return trimmed(joined);
}

TokenUse responses_usage(const json& usage) {
  TokenUse use;
  use.input_tokens = usage_number(usage, "/input_tokens"_json_pointer);
  use.cached_tokens = usage_number(usage, "/input_tokens_details/cached_tokens"_json_pointer);
  use.output_tokens = usage_number(usage, "/output_tokens"_json_pointer);
  return use;
}

}  // namespace

json responses_body(Provider provider, const std::string& model, const std::string& system,
                    const std::vector<Message>& messages,
                    const std::optional<std::string>& prompt_cache_key) {
  bool chatgpt = provider == Provider::ChatGpt;
  json input = json::array();
  // ChatGPT takes the system prompt as `instructions` instead.
  if (!chatgpt) input.push_back({{"role", "system"}, {"content", system}});
  for (const auto& m : messages)
    input.push_back({{"role", role_word(m.role)}, {"content", responses_content(m)}});
  json body = {{"model", model}, {"store", false}, {"stream", chatgpt}, {"input", std::move(input)}};
  if (chatgpt) body["instructions"] = system;
  if (provider != Provider::Xai && prompt_cache_key) body["prompt_cache_key"] = *prompt_cache_key;
  return body;
}

Result<ChatReply> responses_reply(Provider provider, const json& sent, std::string_view body) {
  std::string label(provider_label(provider));
  json response;
  std::string delta_text;
  if (provider == Provider::ChatGpt) {
    StreamResult stream = read_event_stream(body);
    delta_text = std::move(stream.delta_text);
    if (stream.final_response)
      response = std::move(*stream.final_response);
    else if (!delta_text.empty())
      response = {{"output_text", delta_text}};
    else
      return fail(Error::inference(label + ": stream ended without a completed response"));
  } else {
    auto parsed = parse(body);
    if (!parsed) return fail(Error::inference(label + " response was not json: " + parsed.error()));
    response = std::move(*parsed);
  }
  if (!response.is_object()) return fail(Error::inference(label + " returned no output text"));
  if (auto message = string_at(response, "/error/message"_json_pointer)) return fail(Error::inference(label + ": " + *message));

  std::string text = output_text(response);
  // A completion event whose response lists no output must not throw away
  // the text that streamed in before it.
  if (text.empty()) text = trimmed(delta_text);
  if (text.empty()) return fail(Error::inference(label + " returned no output text"));

  return make_reply(std::move(text), response, sent, responses_usage);
}

}  // namespace velmor::model::wire
