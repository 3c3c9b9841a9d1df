#include "core/command_line.h"

#include <gtest/gtest.h>

#include "support/run_velmor.h"

namespace velmor::core {
namespace {

using velmor::testing::run_velmor;

ProgramSpec tiny_program() {
  return {"tool", "1.2.3", "About the tool",
          {{"go", "Go somewhere", {{ArgKind::Positional, "WHERE", "", "Where to", std::nullopt, true, {}}}},
           {"serve", "Serve",
            {{ArgKind::Option, "port", "PORT", "Port", "8787", false, validate_u16},
             {ArgKind::Flag, "open", "", "Open it", std::nullopt, false, {}}}}}};
}

TEST(CommandLine, ParsesValuesDefaultsAndFlags) {
  struct Case {
    std::vector<std::string> argv;
    std::string port;
    bool open;
  } cases[] = {
      {{"tool", "serve"}, "8787", false},
      {{"tool", "serve", "--port", "9000", "--open"}, "9000", true},
      {{"tool", "serve", "--open", "--port=65535"}, "65535", true},
  };
  for (const auto& c : cases) {
    auto o = parse_command_line(tiny_program(), c.argv);
    ASSERT_TRUE(o.parsed) << o.err;
    EXPECT_EQ(o.parsed->command, "serve");
    EXPECT_EQ(o.parsed->value("port"), c.port);
    EXPECT_EQ(o.parsed->flag("open"), c.open);
  }
  auto go = parse_command_line(tiny_program(), {"tool", "go", "--", "--far away"});
  ASSERT_TRUE(go.parsed);
  EXPECT_EQ(go.parsed->value("WHERE"), "--far away");
}

TEST(CommandLine, UsageErrorsExitTwoWithTheirMessage) {
  struct Case {
    std::vector<std::string> argv;
    std::string first_line;
  } cases[] = {
      {{"tool"}, "error: a subcommand is required but one was not provided"},
      {{"tool", "frob"}, "error: the subcommand 'frob' wasn't recognized"},
      {{"tool", "go"}, "error: the following required arguments were not provided:"},
      {{"tool", "go", "a", "b"}, "error: unexpected argument 'b' found"},
      {{"tool", "serve", "--port", "70000"},
       "error: invalid value '70000' for '--port <PORT>': 70000 is not in 0..=65535"},
      {{"tool", "serve", "--port", "x1"}, "error: invalid value 'x1' for '--port <PORT>': invalid digit found in string"},
      {{"tool", "serve", "--port"}, "error: a value is required for '--port <PORT>' but none was supplied"},
      {{"tool", "serve", "--nope"}, "error: unexpected argument '--nope' found"},
  };
  for (const auto& c : cases) {
    auto o = parse_command_line(tiny_program(), c.argv);
    EXPECT_FALSE(o.parsed);
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_EQ(o.err.substr(0, o.err.find('\n')), c.first_line);
    EXPECT_NE(o.err.find("For more information, try '--help'."), std::string::npos);
  }
}

TEST(CommandLine, HelpAndVersionGoToStandardOutput) {
  auto version = parse_command_line(tiny_program(), {"tool", "-V"});
  EXPECT_EQ(version.out, "tool 1.2.3\n");
  EXPECT_EQ(version.exit_code, 0);
  auto help = parse_command_line(tiny_program(), {"tool", "serve", "--help"});
  EXPECT_EQ(help.out,
            "Serve\n\nUsage: tool serve [OPTIONS]\n\nOptions:\n"
            "      --port <PORT>  Port [default: 8787]\n"
            "      --open         Open it\n"
            "  -h, --help         Print help\n");
}

// The real binary: the subcommand set, its help texts and exit statuses.
TEST(VelmorCommandLine, VersionHelpAndUsageErrors) {
  auto version = run_velmor({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "velmor 0.1.0\n");

  for (auto args : {std::vector<std::string>{}, {"frob"}, {"ui", "--port", "70000"}}) {
    auto r = run_velmor(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
  }
  EXPECT_NE(run_velmor({"frob"}).err.find("the subcommand 'frob' wasn't recognized"), std::string::npos);

  auto ui = run_velmor({"ui", "--help"});
  EXPECT_EQ(ui.exit_code, 0);
  EXPECT_NE(ui.out.find("Serve the local app on 127.0.0.1"), std::string::npos);
  EXPECT_NE(ui.out.find("--port <PORT>  Port on 127.0.0.1 [default: 8787]"), std::string::npos);
  EXPECT_NE(ui.out.find("--open         Open the app in the browser"), std::string::npos);
  EXPECT_NE(ui.out.find("--demo         Scripted demo runner: no keys, no network, nothing is really clicked"),
            std::string::npos);
  auto mcp = run_velmor({"mcp", "--help"});
  EXPECT_NE(mcp.out.find("Port the velmor app listens on [default: 8787]"), std::string::npos);

  auto root = run_velmor({"--help"});
  EXPECT_NE(root.out.find("An agent that does long computer jobs for you and gets better at them"),
            std::string::npos);
  for (const char* name : {"ask", "run", "memory", "ping", "seed", "ui", "app", "mcp"})
    EXPECT_NE(root.out.find(std::string("\n  ") + name + " "), std::string::npos) << name;
}

TEST(VelmorCommandLine, EmptyQdrantUrlFailsBeforeAnySubcommand) {
  for (auto args : {std::vector<std::string>{"memory"}, {"ping"}, {"ui"}, {"ask", "hi"}}) {
    auto r = run_velmor(args, {.env = {{"QDRANT_URL", "   "}}});
    EXPECT_EQ(r.exit_code, 1) << args[0];
    EXPECT_EQ(r.err, "Error: loading config\n\nCaused by:\n    config: QDRANT_URL is empty\n");
  }
}

}  // namespace
}  // namespace velmor::core

namespace velmor::core {
namespace {

TEST(VelmorCommandLine, MemoryListsAndRefusesUnknownIds) {
  auto list = velmor::testing::run_velmor({"memory"});
  EXPECT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find("0 memories"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("0 procedures"), std::string::npos) << list.out;
  auto forget = velmor::testing::run_velmor({"memory", "--forget", "m_0000000000"});
  EXPECT_EQ(forget.exit_code, 1);
  EXPECT_EQ(forget.err, "Error: no memory or procedure with id m_0000000000\n");
  auto all = velmor::testing::run_velmor({"memory", "--forget", "ALL"});
  EXPECT_EQ(all.exit_code, 1) << "\"all\" is matched case-sensitively";
}

}  // namespace
}  // namespace velmor::core
