// A small command-line parser for one level of subcommands. Its help,
// version and usage-error texts follow the common "clap" layout, and its
// outcome says what to print and with which exit status, so main stays a
// table of subcommands.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velmor::core {

enum class ArgKind { Positional, Option, Flag };

struct ArgSpec {
  ArgKind kind = ArgKind::Flag;
  std::string name;        // "port" for --port, "MESSAGE" for a positional
  std::string value_name;  // "PORT" (options only)
  std::string help;
  std::optional<std::string> default_value;
  bool required = false;
  // Checks a value; returns the reason when it is refused.
  std::function<std::optional<std::string>(std::string_view)> validate;
};

struct CommandSpec {
  std::string name;
  std::string about;
  std::vector<ArgSpec> args;
};

struct ProgramSpec {
  std::string name;
  std::string version;
  std::string about;
  std::vector<CommandSpec> commands;
};

struct ParsedCommand {
  std::string command;
  std::map<std::string, std::string> values;  // positionals and options, defaults applied
  std::set<std::string> flags;

  std::optional<std::string> value(const std::string& name) const;
  bool flag(const std::string& name) const { return flags.count(name) > 0; }
};

struct ParseOutcome {
  // Set when a subcommand is to run; otherwise print `out`/`err` and exit.
  std::optional<ParsedCommand> parsed;
  std::string out;
  std::string err;
  int exit_code = 0;
};

ParseOutcome parse_command_line(const ProgramSpec& program, const std::vector<std::string>& argv);

// Refuses anything that is not an unsigned 16-bit decimal number.
std::optional<std::string> validate_u16(std::string_view text);

}  // namespace velmor::core
