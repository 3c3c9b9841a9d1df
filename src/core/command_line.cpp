#include "core/command_line.h"

#include <fmt/format.h>

#include <algorithm>

namespace velmor::core {
namespace {

constexpr int kUsageError = 2;

std::string option_label(const ArgSpec& a) {
  if (a.kind == ArgKind::Flag) return "--" + a.name;
  if (a.kind == ArgKind::Option) return "--" + a.name + " <" + a.value_name + ">";
  return "<" + a.name + ">";
}

std::string usage_line(const ProgramSpec& program, const CommandSpec* command) {
  if (!command) return fmt::format("Usage: {} <COMMAND>", program.name);
  std::string line = fmt::format("Usage: {} {}", program.name, command->name);
  bool has_options =
      std::any_of(command->args.begin(), command->args.end(),
                  [](const ArgSpec& a) { return a.kind != ArgKind::Positional; });
  if (has_options) line += " [OPTIONS]";
  for (const auto& a : command->args)
    if (a.kind == ArgKind::Positional) line += a.required ? " <" + a.name + ">" : " [" + a.name + "]";
  return line;
}

// Two-column rows, the help column aligned two spaces past the widest label.
std::string rows(const std::vector<std::pair<std::string, std::string>>& items) {
  std::size_t width = 0;
  for (const auto& [label, _] : items) width = std::max(width, label.size());
  std::string out;
  for (const auto& [label, help] : items)
    out += fmt::format("  {:<{}}  {}\n", label, width, help);
  return out;
}

std::string root_help(const ProgramSpec& program) {
  std::vector<std::pair<std::string, std::string>> commands;
  for (const auto& c : program.commands) commands.emplace_back(c.name, c.about);
  commands.emplace_back("help", "Print this message or the help of the given subcommand(s)");
  return fmt::format("{}\n\n{}\n\nCommands:\n{}\nOptions:\n{}", program.about,
                     usage_line(program, nullptr), rows(commands),
                     rows({{"-h, --help", "Print help"}, {"-V, --version", "Print version"}}));
}

std::string command_help(const ProgramSpec& program, const CommandSpec& command) {
  std::vector<std::pair<std::string, std::string>> positionals, options;
  for (const auto& a : command.args) {
    std::string help = a.help;
    if (a.default_value) help += " [default: " + *a.default_value + "]";
    if (a.kind == ArgKind::Positional)
      positionals.emplace_back("<" + a.name + ">", help);
    else
      options.emplace_back("    " + option_label(a), help);
  }
  options.emplace_back("-h, --help", "Print help");
  std::string out = fmt::format("{}\n\n{}\n", command.about, usage_line(program, &command));
  if (!positionals.empty()) out += "\nArguments:\n" + rows(positionals);
  out += "\nOptions:\n" + rows(options);
  return out;
}

ParseOutcome usage_error(const ProgramSpec& program, const CommandSpec* command,
                         const std::string& message) {
  ParseOutcome o;
  o.exit_code = kUsageError;
  o.err = fmt::format("error: {}\n\n{}\n\nFor more information, try '--help'.\n", message,
                      usage_line(program, command));
  return o;
}

ParseOutcome print(std::string text) {
  ParseOutcome o;
  o.out = std::move(text);
  return o;
}

const CommandSpec* find_command(const ProgramSpec& program, std::string_view name) {
  for (const auto& c : program.commands)
    if (c.name == name) return &c;
  return nullptr;
}

ParseOutcome parse_subcommand(const ProgramSpec& program, const CommandSpec& command,
                              const std::vector<std::string>& argv, std::size_t start) {
  ParsedCommand parsed;
  parsed.command = command.name;
  std::vector<const ArgSpec*> positionals;
  for (const auto& a : command.args)
    if (a.kind == ArgKind::Positional) positionals.push_back(&a);
  std::size_t next_positional = 0;
  bool options_done = false;

  auto take_value = [&](const ArgSpec& spec, const std::string& value) -> std::optional<ParseOutcome> {
    if (spec.validate)
      if (auto why = spec.validate(value))
        return usage_error(program, &command,
                           fmt::format("invalid value '{}' for '{}': {}", value, option_label(spec), *why));
    parsed.values[spec.name] = value;
    return std::nullopt;
  };

  for (std::size_t i = start; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
      continue;
    }
    if (!options_done && (arg == "-h" || arg == "--help")) return print(command_help(program, command));
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      std::string name = arg.starts_with("--") ? arg.substr(2) : std::string();
      std::optional<std::string> inline_value;
      if (auto eq = name.find('='); eq != std::string::npos) {
        inline_value = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      auto spec = std::find_if(command.args.begin(), command.args.end(), [&](const ArgSpec& a) {
        return a.kind != ArgKind::Positional && a.name == name;
      });
      if (name.empty() || spec == command.args.end())
        return usage_error(program, &command, fmt::format("unexpected argument '{}' found", arg));
      if (spec->kind == ArgKind::Flag) {
        if (inline_value)
          return usage_error(program, &command,
                             fmt::format("unexpected value '{}' for '--{}' found; no more were expected",
                                         *inline_value, name));
        parsed.flags.insert(name);
        continue;
      }
      std::string value;
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < argv.size()) {
        value = argv[++i];
      } else {
        return usage_error(program, &command,
                           fmt::format("a value is required for '{}' but none was supplied",
                                       option_label(*spec)));
      }
      if (auto failure = take_value(*spec, value)) return *failure;
      continue;
    }
    if (next_positional >= positionals.size())
      return usage_error(program, &command, fmt::format("unexpected argument '{}' found", arg));
    if (auto failure = take_value(*positionals[next_positional++], arg)) return *failure;
  }

  std::vector<std::string> missing;
  for (const auto& a : command.args) {
    if (parsed.values.count(a.name) || a.kind == ArgKind::Flag) continue;
    if (a.default_value)
      parsed.values[a.name] = *a.default_value;
    else if (a.required)
      missing.push_back(option_label(a));
  }
  if (!missing.empty()) {
    std::string list;
    for (const auto& m : missing) list += "\n  " + m;
    return usage_error(program, &command,
                       "the following required arguments were not provided:" + list);
  }
  ParseOutcome o;
  o.parsed = std::move(parsed);
  return o;
}

}  // namespace

std::optional<std::string> ParsedCommand::value(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> validate_u16(std::string_view text) {
  if (text.empty()) return std::string("cannot parse integer from empty string");
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::string("invalid digit found in string");
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) break;
  }
  if (value > 65535) return fmt::format("{} is not in 0..=65535", text);
  return std::nullopt;
}

ParseOutcome parse_command_line(const ProgramSpec& program, const std::vector<std::string>& argv) {
  if (argv.size() < 2) return usage_error(program, nullptr, "a subcommand is required but one was not provided");
  const std::string& first = argv[1];
  if (first == "-h" || first == "--help") return print(root_help(program));
  if (first == "-V" || first == "--version")
    return print(fmt::format("{} {}\n", program.name, program.version));
  if (first == "help") {
    if (argv.size() < 3) return print(root_help(program));
    if (const auto* c = find_command(program, argv[2])) return print(command_help(program, *c));
    return usage_error(program, nullptr, fmt::format("the subcommand '{}' wasn't recognized", argv[2]));
  }
  if (first.size() > 1 && first[0] == '-')
    return usage_error(program, nullptr, fmt::format("unexpected argument '{}' found", first));
  const CommandSpec* command = find_command(program, first);
  if (!command)
    return usage_error(program, nullptr, fmt::format("the subcommand '{}' wasn't recognized", first));
  return parse_subcommand(program, *command, argv, 2);
}

}  // namespace velmor::core
