// The velmor command line: parse, load the configuration, install the
// interrupt handler, run one subcommand.
#include <signal.h>

#include <fmt/format.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/config.h"
#include "core/console.h"
#include "core/interrupt.h"
#include "mind/mind.h"
#include "operator/operator.h"
#include "tools/browser.h"

namespace {

using velmor::Config;
using velmor::Result;
using velmor::core::ArgKind;
using velmor::core::ArgSpec;
using velmor::core::CommandSpec;
using velmor::core::ParsedCommand;

using Action = std::function<Result<int>(const Config&, const ParsedCommand&)>;

struct Subcommand {
  CommandSpec spec;
  Action action;
};

Result<int> memory(const Config& config, const ParsedCommand& args) {
  std::ostringstream out;
  auto done = velmor::mind::memory_command(config, args.value("forget"), out);
  velmor::core::print_out(out.str());
  if (!done) return velmor::fail(done.error());
  return 0;
}

Action not_built(std::string name) {
  return [name](const Config&, const ParsedCommand&) -> Result<int> {
    return velmor::fail(velmor::Error::other(name + " is not built yet"));
  };
}

ArgSpec positional(std::string name, std::string help) {
  return {ArgKind::Positional, std::move(name), "", std::move(help), std::nullopt, true, {}};
}

ArgSpec port_option(std::string help) {
  return {ArgKind::Option, "port", "PORT", std::move(help), "8787", false, velmor::core::validate_u16};
}

ArgSpec flag(std::string name, std::string help) {
  return {ArgKind::Flag, std::move(name), "", std::move(help), std::nullopt, false, {}};
}

std::vector<Subcommand> subcommands() {
  return {
      {{"ask", "Send one message, as the app would. Chat or job, velmor decides",
        {positional("MESSAGE", "What to say")}},
       [](const Config& c, const ParsedCommand& a) { return velmor::op::run_ask(c, *a.value("MESSAGE")); }},
      {{"run", "Run one job through the loop, printing each action", {positional("TASK", "The job")}},
       [](const Config& c, const ParsedCommand& a) { return velmor::op::run_job(c, *a.value("TASK")); }},
      {{"memory", "Show what velmor remembers (memories and procedures)",
        {{ArgKind::Option, "forget", "FORGET", "Forget one entry by id, or `all`", std::nullopt, false, {}}}},
       memory},
      {{"ping", "Check the model, the browser helper, the desktop helper and Qdrant", {}},
       not_built("ping")},
      {{"seed", "Seed a few Engram + ReasoningBank demo nodes into the Qdrant ledger", {}},
       not_built("seed")},
      {{"ui", "Serve the local app on 127.0.0.1",
        {port_option("Port on 127.0.0.1"), flag("open", "Open the app in the browser"),
         flag("demo", "Scripted demo runner: no keys, no network, nothing is really clicked")}},
       not_built("ui")},
      {{"app", "Open the Velmor desktop app", {}}, not_built("app")},
      {{"mcp",
        "Serve velmor as an MCP server over stdio, for Claude Code, Codex, Cursor and other agents. "
        "Talks to the running app on this port",
        {port_option("Port the velmor app listens on")}},
       not_built("mcp")},
  };
}

// Closes whatever outlives a job (parked browsers) when the person presses
// Ctrl-C.
void interrupt_cleanup() { velmor::tools::close_parked_browsers(); }

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  auto table = subcommands();
  velmor::core::ProgramSpec program{
      "velmor", "0.1.0", "An agent that does long computer jobs for you and gets better at them", {}};
  for (const auto& s : table) program.commands.push_back(s.spec);

  auto outcome = velmor::core::parse_command_line(program, std::vector<std::string>(argv, argv + argc));
  if (!outcome.parsed) {
    velmor::core::print_out(outcome.out);
    velmor::core::print_err(outcome.err);
    return outcome.exit_code;
  }

  auto config = Config::from_env();
  if (!config) {
    velmor::core::print_err(config.error().context("loading config").report());
    return 1;
  }

  velmor::core::install_interrupt_handler(interrupt_cleanup);

  for (const auto& s : table) {
    if (s.spec.name != outcome.parsed->command) continue;
    auto result = s.action(*config, *outcome.parsed);
    if (!result) {
      velmor::core::print_err(result.error().report());
      return 1;
    }
    return *result;
  }
  return 1;
}
