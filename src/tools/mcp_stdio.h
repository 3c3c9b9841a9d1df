// A client for Model Context Protocol servers that run as child processes
// and speak JSON-RPC 2.0 over their standard input and output: the browser
// automation server and plugin servers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/error.h"
#include "core/process.h"

namespace velmor::tools {

class McpReader;

// One tool as a server describes it in its tools/list answer.
struct McpTool {
  std::string name;
  std::string description;  // empty when the server gives none
  nlohmann::json input_schema = nlohmann::json::object();
};

enum class RemoveWorkDir { No, Yes };

// The text of a tools/call result: its text parts joined by line feeds, or,
// when it has none, its compact JSON cut to 4000 characters.
std::string tool_text(const nlohmann::json& result);

// Owns one server child for its whole life. Not thread-safe: one caller at
// a time (requests are strictly sequential). Destroying the client stops
// the child's whole process group with kill(2), reaps it, and removes the
// work directory when asked. Every error is of kind Computer.
class McpStdio {
 public:
  static constexpr std::chrono::seconds kReplyTimeout{120};

  // Takes over a spawned child whose standard input and output are pipes
  // and starts the reader thread "mcp-{name}". Fails with "{name}: stdin
  // missing" / "{name}: stdout missing" when a pipe is absent.
  static Result<std::unique_ptr<McpStdio>> attach(std::string name, core::Process child,
                                                  std::filesystem::path work_dir,
                                                  RemoveWorkDir remove);

  ~McpStdio();
  McpStdio(const McpStdio&) = delete;
  McpStdio& operator=(const McpStdio&) = delete;

  // The handshake: "initialize" with protocol 2024-11-05, then the
  // initialized notification.
  Result<void> initialize();
  // Sends one request and waits (one deadline, kReplyTimeout unless changed)
  // for the reply with its id; other messages are dropped. Returns the
  // reply's `result`, or JSON null when it has none.
  Result<nlohmann::json> request(const std::string& method, const nlohmann::json& params);
  // Writes one message without an id.
  Result<void> notify(const std::string& method, const nlohmann::json& params);
  // The first page of the server's tools.
  Result<std::vector<McpTool>> list_tools();
  // The tool's text; fails with "{name} failed: {text}" when the server
  // marks the result as an error.
  Result<std::string> call_tool(const std::string& name, const nlohmann::json& arguments);

  const std::string& name() const { return name_; }
  const std::filesystem::path& work_dir() const { return work_dir_; }
  pid_t pid() const { return child_.pid(); }
  // Shortens the reply deadline (tests); whole seconds, as errors name it.
  void set_reply_timeout(std::chrono::seconds timeout) { reply_timeout_ = timeout; }

 private:
  McpStdio(std::string name, core::Process child, std::unique_ptr<McpReader> reader,
           std::filesystem::path work_dir, RemoveWorkDir remove);
  Result<void> send(const nlohmann::json& message);
  std::string status_text();

  std::string name_;
  core::Process child_;
  std::unique_ptr<McpReader> reader_;
  std::uint64_t next_id_ = 1;
  std::filesystem::path work_dir_;
  RemoveWorkDir remove_work_dir_;
  std::chrono::seconds reply_timeout_ = kReplyTimeout;
};

}  // namespace velmor::tools
