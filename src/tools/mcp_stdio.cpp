#include "tools/mcp_stdio.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <string_view>

#include <fmt/format.h>

#include "core/utf8.h"
#include "tools/mcp_stdio_reader.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

// The server gets this long to end on SIGTERM before its group is killed.
constexpr std::chrono::milliseconds kStopGrace{2000};

std::optional<std::int64_t> reply_id(const json& message) {
  if (!message.is_object()) return std::nullopt;
  auto it = message.find("id");
  if (it == message.end()) return std::nullopt;
  if (it->is_number_unsigned()) {
    auto v = it->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return static_cast<std::int64_t>(v);
  }
  if (it->is_number_integer()) return it->get<std::int64_t>();
  return std::nullopt;
}

std::string render_status(const core::ExitStatus& status) {
  if (status.signal != 0) return fmt::format("signal: {}", status.signal);
  return fmt::format("exit status: {}", status.code);
}

}  // namespace

std::string tool_text(const json& result) {
  std::string out;
  if (result.is_object()) {
    auto content = result.find("content");
    if (content != result.end() && content->is_array()) {
      for (const auto& part : *content) {
        if (!part.is_object()) continue;
        auto text = part.find("text");
        if (text == part.end() || !text->is_string()) continue;
        if (!out.empty()) out += '\n';
        out += text->get_ref<const std::string&>();
      }
    }
  }
  if (!out.empty()) return out;
  // Invalid UTF-8 inside the result is replaced rather than refused: this
  // text only informs the model.
  std::string compact = result.dump(-1, ' ', false, json::error_handler_t::replace);
  return std::string(core::prefix_chars(compact, 4000));
}

Result<std::unique_ptr<McpStdio>> McpStdio::attach(std::string name, core::Process child,
                                                   std::filesystem::path work_dir,
                                                   RemoveWorkDir remove) {
  if (child.stdin_fd() < 0) return fail(Error::computer(name + ": stdin missing"));
  if (child.stdout_fd() < 0) return fail(Error::computer(name + ": stdout missing"));
  int out = child.release_stdout();
  auto reader = VELMOR_TRY(McpReader::start(name, out));
  return std::unique_ptr<McpStdio>(new McpStdio(std::move(name), std::move(child),
                                                std::move(reader), std::move(work_dir), remove));
}

McpStdio::McpStdio(std::string name, core::Process child, std::unique_ptr<McpReader> reader,
                   std::filesystem::path work_dir, RemoveWorkDir remove)
    : name_(std::move(name)),
      child_(std::move(child)),
      reader_(std::move(reader)),
      work_dir_(std::move(work_dir)),
      remove_work_dir_(remove) {}

McpStdio::~McpStdio() {
  // The whole group goes, through kill(2): helpers the server started
  // (a browser under npx) must not outlive it.
  child_.stop_group(kStopGrace);
  child_.close_stdin();
  child_.wait();
  if (remove_work_dir_ == RemoveWorkDir::Yes && !work_dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(work_dir_, ec);
  }
  reader_.reset();
}

Result<void> McpStdio::send(const json& message) {
  std::string line;
  try {
    line = message.dump();
  } catch (const std::exception& e) {
    return fail(Error::computer(std::string("mcp encode: ") + e.what()));
  }
  line += '\n';
  auto written = child_.write_stdin(line);
  if (!written) return fail(Error::computer("mcp write: " + written.error().message()));
  return {};
}

std::string McpStdio::status_text() {
  auto status = child_.try_wait();
  return status ? render_status(*status) : "None";
}

Result<json> McpStdio::request(const std::string& method, const json& params) {
  std::uint64_t id = next_id_++;
  VELMOR_TRY(send(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}));
  auto deadline = std::chrono::steady_clock::now() + reply_timeout_;
  for (;;) {
    auto item = reader_->channel().receive_until(deadline);
    if (!item)
      return fail(Error::computer(
          fmt::format("{}: no reply to {} within {}s", name_, method, reply_timeout_.count())));
    if (auto* failure = std::get_if<McpFailure>(&*item))
      return fail(Error::computer(fmt::format("{} (status={})", failure->text, status_text())));
    json& message = std::get<json>(*item);
    auto got = reply_id(message);
    if (!got || static_cast<std::uint64_t>(*got) != id || *got < 0) continue;
    auto error = message.find("error");
    if (error != message.end()) {
      std::string text = "mcp error";
      if (error->is_object()) {
        auto m = error->find("message");
        if (m != error->end() && m->is_string()) text = m->get<std::string>();
      }
      return fail(Error::computer(method + ": " + text));
    }
    auto result = message.find("result");
    if (result == message.end()) return json(nullptr);
    return std::move(*result);
  }
}

Result<void> McpStdio::notify(const std::string& method, const json& params) {
  return send(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
}

Result<void> McpStdio::initialize() {
  json params = {{"protocolVersion", "2024-11-05"},
                 {"capabilities", json::object()},
                 {"clientInfo", {{"name", "velmor"}, {"version", "0.1.0"}}}};
  VELMOR_TRY(request("initialize", params));
  return notify("notifications/initialized", json::object());
}

Result<std::vector<McpTool>> McpStdio::list_tools() {
  json result = VELMOR_TRY(request("tools/list", json::object()));
  std::vector<McpTool> tools;
  if (!result.is_object() || !result.contains("tools") || !result["tools"].is_array())
    return tools;
  for (const auto& entry : result["tools"]) {
    if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string()) continue;
    McpTool tool;
    tool.name = entry["name"].get<std::string>();
    if (entry.contains("description") && entry["description"].is_string())
      tool.description = entry["description"].get<std::string>();
    if (entry.contains("inputSchema")) tool.input_schema = entry["inputSchema"];
    tools.push_back(std::move(tool));
  }
  return tools;
}

Result<std::string> McpStdio::call_tool(const std::string& name, const json& arguments) {
  json result =
      VELMOR_TRY(request("tools/call", json{{"name", name}, {"arguments", arguments}}));
  if (result.is_object()) {
    auto flag = result.find("isError");
    if (flag != result.end() && flag->is_boolean() && flag->get<bool>())
      return fail(Error::computer(name + " failed: " + tool_text(result)));
  }
  return tool_text(result);
}

}  // namespace velmor::tools
