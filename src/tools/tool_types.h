// What the job loop hands a computer tool and what it gets back.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace velmor::tools {

struct ToolCall {
  std::string name;  // e.g. "browser_click"
  nlohmann::json args = nlohmann::json::object();
};

struct Image {
  std::string mime;  // e.g. "image/jpeg"
  std::string data;  // base64, without any "data:" prefix
};

struct ToolResult {
  std::string text;                // the model's observation
  std::optional<std::string> url;  // the page after the action, when known
  std::optional<Image> image;      // a screenshot
};

}  // namespace velmor::tools
