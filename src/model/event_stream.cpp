#include "core/utf8.h"
#include "model/wire.h"

namespace velmor::model::wire {
namespace {

json failure(std::string message) { return {{"error", {{"message", std::move(message)}}}}; }

}  // namespace

StreamResult read_event_stream(std::string_view body) {
  StreamResult result;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(start, end - start);
    start = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.starts_with("data:")) continue;
    std::string_view payload = core::trim(line.substr(5));
    if (payload == "[DONE]") continue;
    auto event = parse(payload);
    if (!event || !event->is_object()) continue;

    auto type = string_at(*event, "/type"_json_pointer).value_or("");
    if (type == "response.output_text.delta") {
      if (auto delta = string_at(*event, "/delta"_json_pointer)) result.delta_text += *delta;
    } else if (type == "response.completed" || type == "response.incomplete") {
      if (auto it = event->find("response"); it != event->end()) result.final_response = *it;
    } else if (type == "response.failed") {
      result.final_response = failure(
          string_at(*event, "/response/error/message"_json_pointer).value_or("response failed"));
    } else if (type == "error") {
      auto message = string_at(*event, "/message"_json_pointer);
      if (!message) message = string_at(*event, "/error/message"_json_pointer);
      result.final_response = failure(message.value_or("stream error"));
    }
  }
  return result;
}

}  // namespace velmor::model::wire
