// The texts of every job turn: the system prompt (built once per job), the
// job message (once), the step-log message and the turn message (each
// turn), and how each turn's input tokens are attributed to a TokenSplit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "code/code.h"
#include "model/chat_model.h"
#include "operator/run_report.h"
#include "operator/seams.h"

namespace velmor::op {

// What this Mac offers the job right now.
struct PromptSetup {
  std::vector<PluginToolInfo> plugin_tools;
  std::optional<std::string> coder;  // the coder's label; none when no coder is available
  std::vector<code::Repo> repos;
  bool desktop_allowed = false;
  bool chrome = false;  // the person's Chrome drives the job
  std::string memories;  // Recall::memories_prompt
};

// The fixed rules and tools text, then plugins, coding, desktop, browser
// and memory.
std::string system_prompt(const PromptSetup& setup);
// "Job:\n{task}", the conversation's last 1500 characters, the plan and
// the journal text, each when not empty.
std::string job_message(const std::string& task, const std::string& conversation,
                        const std::string& plan, const std::string& journal);
// The last 30 steps (the last 10 in full); none without steps.
std::optional<std::string> step_log_message(const std::vector<Step>& steps);
// Progress, note, steer (clipped to 500) and the observation (clipped to
// 12000), ending with the request for the next action.
std::string turn_message(const std::string& progress, const std::optional<std::string>& note,
                         const std::optional<std::string>& steer, const std::string& observation);

// Characters divided by 4, rounded up.
std::uint64_t prompt_tokens(const std::string& text);
// The split of one turn whose messages are `messages` (the job message
// first, the turn message last).
TokenSplit turn_split(const std::string& system, const std::string& memories,
                      const std::string& journal, const std::vector<model::Message>& messages);

// The 14 browser tools and the 11 desktop tools, in the order the model is
// told about them.
const std::vector<std::string>& browser_tool_names();
const std::vector<std::string>& desktop_tool_names();
bool is_browser_tool(const std::string& tool);
bool is_desktop_tool(const std::string& tool);
bool is_coding_tool(const std::string& tool);

}  // namespace velmor::op
