// What handling one message returns: how it ended (Outcome), what it cost
// (TokenUse and TokenSplit), what it learned and produced, and the Step
// records a job keeps for its log and prompt.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/chat_model.h"
#include "tools/tool_types.h"

namespace velmor::op {

struct Action;

// One executed action of a job.
struct Step {
  std::string tool;
  std::string args;       // brief_args of the arguments
  std::string thought;    // clipped to 120 characters
  std::string result;     // what the step came to
  std::string signature;  // "{tool} {arguments as compact JSON}": equal means the same action

  static Step from_action(const Action& action, std::string result);
};

// Where a job's input tokens went; `steps` counts the model calls.
struct TokenSplit {
  std::uint64_t system = 0;
  std::uint64_t memory = 0;
  std::uint64_t log = 0;
  std::uint64_t observation = 0;
  std::uint64_t steps = 0;

  TokenSplit& operator+=(const TokenSplit& other);
  // Exactly the five keys.
  nlohmann::json to_json() const;
  friend bool operator==(const TokenSplit&, const TokenSplit&) = default;
};

// The job finished, the chat reply was given, or the job gave up with an
// answer that begins "I had to stop".
struct Done {
  std::string answer;
};
// The observer asked to stop.
struct Stopped {
  std::string summary;
};
// The step limit was used up.
struct StepLimit {
  std::string summary;
};
// The job waits for the person. Kinds: "question", "login", "desktop",
// "action", "budget".
struct NeedsPerson {
  std::string kind;
  std::string question;
};
using Outcome = std::variant<Done, Stopped, StepLimit, NeedsPerson>;

// The answer of a job that gave up; such a run is neither reported as a
// success nor learned from.
inline constexpr const char* kStopPrefix = "I had to stop";

struct RunReport {
  std::string mode = "chat";             // "chat", or the job's mode at its end
  std::vector<std::string> remembered;   // "{kind}: {text}", "procedure: {title}"
  std::optional<tools::Image> final_screen;
  std::optional<std::string> procedure;  // id of the recalled procedure
  std::optional<std::string> recalled;   // its title
  std::optional<std::string> pending_action;
  Outcome outcome = Done{};
  model::TokenUse tokens;
  std::optional<nlohmann::json> result;  // the structured result given with done
  std::uint64_t steps = 0;
  TokenSplit split;
  bool stopped_early = false;
};

// The summary Stopped and StepLimit carry: the last progress note when not
// blank, else "Last step: {tool} {args}", else "Nothing done yet.".
std::string summarize(const std::string& progress, const std::vector<Step>& steps);

}  // namespace velmor::op
