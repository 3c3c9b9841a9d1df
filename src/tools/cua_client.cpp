#include "tools/cua_client.h"

#include <fmt/format.h>

#include "core/http_client.h"
#include "core/utf8.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

bool success(long status) { return status >= 200 && status < 300; }

}  // namespace

CuaClient::CuaClient(std::string_view url) : base_(url) {
  while (base_.ends_with('/')) base_.pop_back();
}

Result<void> CuaClient::status() const {
  core::HttpRequest request;
  request.url = base_ + "/status";
  request.connect_timeout = kConnectTimeout;
  request.timeout = kRequestTimeout;
  // The body says nothing we rely on; do not keep it.
  auto response = core::http_send(request, [](std::string_view) { return true; });
  if (!response) return fail(response.error());
  if (!success(response->status))
    return fail(Error::other(fmt::format("HTTP status {}", response->status)));
  return {};
}

Result<json> CuaClient::cmd(std::string_view command, const json& params) const {
  nlohmann::ordered_json body;
  body["command"] = command;
  body["params"] = params;

  core::HttpRequest request;
  request.method = "POST";
  request.url = base_ + "/cmd";
  request.headers = {{"Content-Type", "application/json"}};
  request.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  request.connect_timeout = kConnectTimeout;
  request.timeout = kRequestTimeout;

  // Streaming the body tells a failure while reading it apart from one
  // before any answer came.
  std::string text;
  bool reading = false;
  auto response = core::http_send(request, [&](std::string_view chunk) {
    reading = true;
    text.append(chunk);
    return true;
  });
  if (!response) {
    const auto& why = response.error().long_form();
    if (reading) return fail(Error::computer(fmt::format("cua read: {}", why)));
    return fail(Error::computer(fmt::format("cua {}: {}", command, why)));
  }
  if (!success(response->status))
    return fail(Error::computer(fmt::format("cua {}: HTTP status {}", command, response->status)));
  return parse_cua_reply(core::to_valid_utf8(text));
}

Result<json> parse_cua_reply(std::string_view body) {
  std::optional<json> last;
  std::size_t begin = 0;
  while (begin < body.size()) {
    auto end = body.find('\n', begin);
    auto line = core::trim(body.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (line.size() > 4 && line.starts_with("data:")) {
      auto value = json::parse(core::trim(line.substr(5)), nullptr, false);
      if (!value.is_discarded()) last = std::move(value);
    }
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  if (last) return *last;
  try {
    return json::parse(core::trim(body));
  } catch (const json::exception& e) {
    return fail(Error::computer(fmt::format("cua response was not json: {}", e.what())));
  }
}

}  // namespace velmor::tools
