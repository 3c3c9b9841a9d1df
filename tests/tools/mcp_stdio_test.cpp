#include "tools/mcp_stdio.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/files.h"
#include "core/utf8.h"
#include "support/temp_dir.h"
#include "tools/mcp_process_probe.h"

namespace velmor::tools {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using velmor::testing::TempDir;

std::filesystem::path fixture() {
  return std::filesystem::path(VELMOR_TOOLS_FIXTURES) / "mcp_server.py";
}

struct Server {
  std::string flags;
  std::map<std::string, std::string> env = {};
  std::filesystem::path work_dir = {};
  RemoveWorkDir remove = RemoveWorkDir::No;
};

std::unique_ptr<McpStdio> attach(const Server& s) {
  core::ProcessSpec spec;
  spec.program = "python3";
  spec.args = {fixture().string(), s.flags};
  spec.env_set = s.env;
  auto child = core::Process::spawn(spec);
  EXPECT_TRUE(child) << child.error().to_string();
  if (!child) return nullptr;
  auto client = McpStdio::attach("test server", std::move(*child), s.work_dir, s.remove);
  EXPECT_TRUE(client) << client.error().to_string();
  if (!client) return nullptr;
  (*client)->set_reply_timeout(std::chrono::seconds(5));
  return std::move(*client);
}

std::unique_ptr<McpStdio> start(const Server& s) {
  auto client = attach(s);
  if (!client) return nullptr;
  auto init = client->initialize();
  EXPECT_TRUE(init) << init.error().to_string();
  return client;
}

std::string error_of(const auto& result) {
  return result ? std::string("(no error)") : result.error().to_string();
}

TEST(McpStdio, HandshakeSendsCompactLinesInOrder) {
  TempDir tmp;
  auto record = tmp / "record.jsonl";
  auto client = start({"", {{"MCP_RECORD", record.string()}}});
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->request("ping", json::object()));
  auto text = core::read_file(record);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"initialize\",\"params\":{\"capabilities\":{},"
            "\"clientInfo\":{\"name\":\"velmor\",\"version\":\"0.1.0\"},\"protocolVersion\":"
            "\"2024-11-05\"}}\n"
            "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\",\"params\":{}}\n"
            "{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"ping\",\"params\":{}}\n");
}

// Every framing the client must understand, with log lines and other
// servers' chatter mixed in: the tool list still comes through whole.
TEST(McpStdio, UnderstandsEveryIncomingFraming) {
  for (const char* flags : {"", "logs", "content-length", "content-length-lower",
                            "content-length-upper", "content-length,logs", "stale",
                            "content-length,stale"}) {
    SCOPED_TRACE(flags);
    auto client = start({flags});
    ASSERT_TRUE(client);
    auto tools = client->list_tools();
    ASSERT_TRUE(tools) << tools.error().to_string();
    ASSERT_EQ(tools->size(), 2u);
    EXPECT_EQ((*tools)[0].name, "echo");
    EXPECT_EQ((*tools)[0].description, "Echoes its text");
    EXPECT_EQ((*tools)[0].input_schema, json({{"type", "object"}}));
    EXPECT_EQ((*tools)[1].name, "bare");
    EXPECT_EQ((*tools)[1].description, "");
    EXPECT_EQ((*tools)[1].input_schema, json::object());
    auto echoed = client->call_tool("echo", {{"text", "hé there"}});
    ASSERT_TRUE(echoed) << echoed.error().to_string();
    EXPECT_EQ(*echoed, "hé there");
  }
}

TEST(McpStdio, StaleRepliesDoNotEndTheWait) {
  // The stale copies come first; the request keeps its own id's answer.
  auto client = start({"stale"});
  ASSERT_TRUE(client);
  auto result = client->request("tools/call", {{"name", "echo"}, {"arguments", {{"text", "x"}}}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_EQ(*result, json::parse(R"({"content":[{"type":"text","text":"x"}]})"));
}

TEST(McpStdio, MissingResultIsNull) {
  auto client = start({"no-result"});
  ASSERT_TRUE(client);
  auto result = client->request("anything", json::object());
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_TRUE(result->is_null());
}

TEST(McpStdio, ErrorRepliesAndFailedTools) {
  auto failing = start({"error"});
  ASSERT_TRUE(failing);
  EXPECT_EQ(error_of(failing->list_tools()), "computer: tools/list: boom");
  EXPECT_EQ(error_of(failing->call_tool("echo", json::object())),
            "computer: tools/call: mcp error");

  auto client = start({""});
  ASSERT_TRUE(client);
  EXPECT_EQ(error_of(client->call_tool("fail", json::object())),
            "computer: fail failed: it broke");
  auto mixed = client->call_tool("mixed", json::object());
  ASSERT_TRUE(mixed);
  EXPECT_EQ(*mixed, "a\nb");
}

TEST(McpStdio, SilentServerTimesOutWithOneDeadline) {
  auto client = start({"silent,stale"});
  ASSERT_TRUE(client);
  client->set_reply_timeout(std::chrono::seconds(1));
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(error_of(client->call_tool("echo", json::object())),
            "computer: test server: no reply to tools/call within 1s");
  auto took = std::chrono::steady_clock::now() - began;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(3));
}

// What the reader says when the server's output goes wrong, and that the
// reader is then gone for good.
TEST(McpStdio, ReaderFailuresEndTheClient) {
  struct Case {
    const char* flags;
    const char* first;
  };
  const Case cases[] = {
      {"close-on-call", "computer: test server closed (status=None)"},
      {"bad-length", "computer: bad MCP Content-Length: Content-Length: abc (status=None)"},
      {"short-body", "computer: mcp body: "},
      {"bad-json", "computer: mcp json: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    auto client = start({c.flags});
    ASSERT_TRUE(client);
    EXPECT_THAT(error_of(client->call_tool("echo", json::object())), StartsWith(c.first));
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(error_of(client->list_tools()),
              "computer: test server: no reply to tools/list within 5s");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(500));
  }
}

TEST(McpStdio, ChildExitingMidRequest) {
  auto client = start({"exit-on-call"});
  ASSERT_TRUE(client);
  auto first = error_of(client->call_tool("echo", json::object()));
  EXPECT_THAT(first, StartsWith("computer: test server closed (status="));
  EXPECT_TRUE(first.ends_with("(status=None)") || first.ends_with("(status=exit status: 3)"))
      << first;
  // The child is gone: the next message cannot even be written.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_THAT(error_of(client->list_tools()), StartsWith("computer: mcp write: "));
}

TEST(McpStdio, ReleaseStopsTheWholeGroupAndNothingElse) {
  TempDir tmp;
  auto pidfile = tmp / "helper.pid";
  auto work = tmp / "work";
  std::filesystem::create_directories(work / "inner");

  core::ProcessSpec sibling_spec;
  sibling_spec.program = "sleep";
  sibling_spec.args = {"30"};
  sibling_spec.stdin_mode = core::Stdio::Null;
  sibling_spec.stdout_mode = core::Stdio::Null;
  auto sibling = core::Process::spawn(sibling_spec);
  ASSERT_TRUE(sibling);

  auto client = start({"group", {{"MCP_PIDFILE", pidfile.string()}}, work, RemoveWorkDir::Yes});
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->list_tools());  // the helper's pid file is written by now
  pid_t server = client->pid();
  pid_t helper = static_cast<pid_t>(std::stol(*core::read_file(pidfile)));
  ASSERT_TRUE(velmor::testing::process_alive(helper));

  client.reset();
  EXPECT_TRUE(velmor::testing::wait_gone(helper, std::chrono::seconds(3)));
  EXPECT_TRUE(velmor::testing::group_members(server).empty());
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_TRUE(velmor::testing::process_alive(sibling->pid()));
  EXPECT_FALSE(sibling->try_wait());
  sibling->stop_group();
}

TEST(McpStdio, ReleaseKeepsWorkDirWhenAskedAndCopesWithADeadChild) {
  TempDir tmp;
  auto work = tmp / "plugin";
  std::filesystem::create_directories(work);
  auto client = start({"exit-on-call", {}, work, RemoveWorkDir::No});
  ASSERT_TRUE(client);
  EXPECT_FALSE(client->call_tool("echo", json::object()));
  auto began = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
  EXPECT_TRUE(std::filesystem::exists(work));
}

TEST(McpStdio, ReleaseOfASilentLiveServerIsPrompt) {
  auto client = start({"silent"});
  ASSERT_TRUE(client);
  pid_t server = client->pid();
  auto began = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
  EXPECT_FALSE(velmor::testing::process_alive(server));
}

TEST(McpStdio, AttachNeedsBothPipes) {
  core::ProcessSpec spec;
  spec.program = "sleep";
  spec.args = {"5"};
  spec.stdout_mode = core::Stdio::Null;
  auto child = core::Process::spawn(spec);
  ASSERT_TRUE(child);
  auto client = McpStdio::attach("plugin x", std::move(*child), {}, RemoveWorkDir::No);
  EXPECT_EQ(error_of(client), "computer: plugin x: stdout missing");
}

TEST(ToolText, JoinsTextPartsOrFallsBackToCutJson) {
  struct Case {
    json result;
    std::string text;
  };
  const Case cases[] = {
      {json::parse(R"({"content":[{"type":"text","text":"a"},{"type":"image","data":"QQ=="},
                     {"type":"text","text":"b"}]})"),
       "a\nb"},
      {json::parse(R"({"content":[{"type":"text","text":""},{"type":"text","text":"b"}]})"), "b"},
      {json::parse(R"({"content":[]})"), R"({"content":[]})"},
      {json::parse(R"({"content":"not a list","isError":false})"),
       R"({"content":"not a list","isError":false})"},
      {json(nullptr), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(tool_text(c.result), c.text) << c.result.dump();

  // The fallback is cut by characters, never inside one.
  json accents = {{"content", json::array()}, {"note", std::string(2000, 'x') + [] {
                    std::string s;
                    for (int i = 0; i < 2000; ++i) s += "é";
                    return s;
                  }()}};
  std::string cut2 = tool_text(accents);
  EXPECT_TRUE(core::is_valid_utf8(cut2));
  EXPECT_EQ(core::char_count(cut2), 4000u);
}

}  // namespace
}  // namespace velmor::tools
