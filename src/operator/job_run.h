// One run of the job loop: its state from the first recall to the report.
// Internal to src/operator; Operator::run_task is its only user.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/config.h"
#include "mind/mind.h"
#include "operator/action.h"
#include "operator/operator.h"
#include "operator/run_report.h"
#include "operator/seams.h"

namespace velmor::op {

class JobRun {
 public:
  JobRun(const Config& config, Observer& observer, Seams& seams, SideUsage& side,
         const std::filesystem::path& mind_dir, const std::string& task,
         const std::string& conversation, const RunOptions& options,
         const std::optional<std::string>& session_id);
  RunReport run();

 private:
  // What a guard decided about an action.
  enum class Check { Pass, Skip, End };

  void start();
  // One turn; returns the outcome when the run ends with it.
  std::optional<Outcome> step();
  std::optional<model::ChatReply> ask_model(const std::vector<model::Message>& messages);
  RunReport finish(Outcome outcome);
  void learn(const std::string& answer, RunReport& report);

  // guards.cpp: every check in its order; on End the outcome is in ending_.
  Check apply_guards(const Action& action);
  Check spend_cap(const Action& action);
  Check finish_or_send_back(const Action& action);
  Check ask_user(const Action& action);
  Check request_login(const Action& action);
  Check request_desktop(const Action& action);
  Check shell_refusal(const Action& action);
  Check approval(const Action& action);
  void repeated_action(const Action& action);
  // The absolute folder a coding action names that is not a registered repo.
  std::optional<std::string> unregistered_folder(const Action& action) const;
  bool chrome_browser() const;

  // tool_handling.cpp: carries out a tool that passed the guards.
  void carry_out(const Action& action);
  void browser_tool(const Action& action);
  void desktop_tool(const Action& action);
  void coding_tool(const Action& action);
  void plugin_tool(const Action& action);
  // Shows a failed browser, desktop, coding or plugin call to the model.
  void tool_failed(const Action& action, const Error& error);
  void announce(const Action& action);
  void record(const Action& action, std::string result);
  std::string site_notes_for(const std::string& url);

  const Config& config_;
  Observer& observer_;
  Seams& seams_;
  SideUsage& side_;
  mind::Mind mind_;
  const std::string& task_;
  const std::string& conversation_;
  const RunOptions& options_;
  const std::optional<std::string>& session_id_;

  mind::Recall recall_;
  std::string journal_text_;
  std::string system_;
  std::string job_message_;
  std::optional<std::string> procedure_id_;
  std::optional<std::string> procedure_title_;

  std::uint64_t max_steps_ = 40;
  std::uint64_t replies_ = 0;
  std::vector<Step> steps_;
  std::string mode_ = "browse";
  std::string progress_;
  std::string observation_;
  std::optional<std::string> note_;
  std::optional<std::string> pending_image_;
  std::optional<tools::Image> final_screen_;
  int invalid_in_a_row_ = 0;
  model::TokenUse tokens_;
  TokenSplit split_;
  std::set<std::string> seen_hosts_;
  std::unique_ptr<tools::BrowserTool> browser_;
  std::optional<std::string> current_url_;
  std::unique_ptr<tools::DesktopTool> desktop_;

  bool approval_used_ = false;
  bool blanket_approval_ = false;
  bool thin_answer_asked_ = false;
  std::optional<std::string> register_folder_;  // approved, to be added before the tool runs

  std::optional<Outcome> ending_;
  std::optional<std::string> pending_action_;
  std::optional<nlohmann::json> result_;
};

}  // namespace velmor::op
