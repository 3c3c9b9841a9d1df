// The job loop: one model reply per turn, parsed, checked, carried out and
// shown back to the model, until the job is done, needs the person, is
// stopped or runs out of steps.
#include <fmt/format.h>

#include "code/code.h"
#include "core/console.h"
#include "core/environment.h"
#include "core/utf8.h"
#include "operator/job_prompt.h"
#include "operator/job_run.h"

namespace velmor::op {

namespace {

constexpr const char* kInvalidThrice =
    "I had to stop: I could not produce a valid next step three times in a row. Send the task "
    "again and I will start from the saved checkpoint.";
constexpr const char* kSignInExpired =
    "I had to stop: your ChatGPT sign-in has expired. Open Settings and choose Continue with "
    "ChatGPT again, then send the job once more.";

std::string steps_text(const std::vector<Step>& steps) {
  std::string text;
  for (const auto& s : steps) {
    if (!text.empty()) text += "\n";
    text += s.args.empty() ? "- " + s.tool + " (" + s.thought + ") \u2192 " + s.result
                           : "- " + s.tool + " " + s.args + " (" + s.thought + ") \u2192 " + s.result;
  }
  return text;
}

bool starts_with_stop(const Outcome& outcome) {
  auto* done = std::get_if<Done>(&outcome);
  return done && done->answer.starts_with(kStopPrefix);
}

}  // namespace

JobRun::JobRun(const Config& config, Observer& observer, Seams& seams, SideUsage& side,
               const std::filesystem::path& mind_dir, const std::string& task,
               const std::string& conversation, const RunOptions& options,
               const std::optional<std::string>& session_id)
    : config_(config),
      observer_(observer),
      seams_(seams),
      side_(side),
      mind_(mind_dir),
      task_(task),
      conversation_(conversation),
      options_(options),
      session_id_(session_id) {
  blanket_approval_ = options.confirmed && !options.approved;
}

void JobRun::start() {
  recall_ = mind_.recall(task_, 12, 3);
  if (!recall_.procedures.empty()) {
    procedure_id_ = recall_.procedures.front().id;
    procedure_title_ = recall_.procedures.front().title;
    observer_.note("recall", "Starting from what I learned last time: " + *procedure_title_);
  }

  max_steps_ = std::max<std::uint64_t>(options_.max_steps.value_or(40), 1);

  bool past = refers_to_past_work(task_);
  journal_text_ = mind::Mind::journal_prompt(mind_.journal_for(task_, 3, session_id_), past);

  bool parked = false;
  std::optional<std::string> parked_url;
  if (session_id_) {
    if (options_.continuation) {
      if (auto taken = seams_.browsers->take_parked(*session_id_)) {
        browser_ = std::move(taken->browser);
        parked_url = std::move(taken->url);
        parked = true;
        std::string text = "Picking up where I stopped";
        if (parked_url)
          if (auto host = mind::host_of(*parked_url)) text += ", still on " + *host;
        observer_.note("resume", text);
        current_url_ = parked_url;
      }
    } else {
      seams_.browsers->drop_parked(*session_id_);
    }
  }
  if (!browser_) browser_ = seams_.browsers->fresh();

  if (parked && parked_url)
    observation_ = "You are continuing a job you stopped partway. The browser is still open on " +
                   *parked_url +
                   ", exactly where you left it: nothing was lost. Start with browser_snapshot (not "
                   "browser_navigate) and carry on from there.";
  else if (parked)
    observation_ =
        "You are continuing a job you stopped partway. The browser is still open where you left "
        "it. Start with browser_snapshot (not browser_navigate) and carry on.";
  else
    observation_ = "(nothing yet. Start with a plan in `progress`, then your first action.)";

  PromptSetup setup;
  setup.plugin_tools = seams_.plugins->list();
  if (auto coder = code::pick_coder()) setup.coder = coder->label;
  setup.repos = code::Repos::open_default().list();
  setup.desktop_allowed = options_.desktop_allowed;
  setup.chrome = seams_.browsers->bridge_connected() && core::get_env("VELMOR_BROWSER") != "playwright";
  setup.memories = recall_.memories_prompt();
  system_ = system_prompt(setup);
  job_message_ = job_message(task_, conversation_, recall_.plan_prompt(), journal_text_);
}

std::optional<model::ChatReply> JobRun::ask_model(const std::vector<model::Message>& messages) {
  std::optional<Error> last;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    auto reply = seams_.model->chat(system_, messages);
    if (reply) return std::move(*reply);
    last = reply.error();
    core::print_err(fmt::format("model call failed (attempt {}): {}\n", attempt, last->long_form()));
    seams_.sleeper->sleep(std::chrono::milliseconds(600 * attempt));
  }
  std::string error = last->long_form();
  if (error.find("sign-in has expired") != std::string::npos ||
      error.find("invalid_grant") != std::string::npos)
    ending_ = Done{kSignInExpired};
  else
    ending_ = Done{"I had to stop: the model stopped answering (" + error +
                   "). Everything done so far is saved; send the task again to continue."};
  return std::nullopt;
}

std::optional<Outcome> JobRun::step() {
  if (observer_.should_stop()) return Stopped{summarize(progress_, steps_)};
  auto steer = observer_.take_steer();

  std::vector<model::Message> messages{{model::Role::User, job_message_, std::nullopt}};
  if (auto log = step_log_message(steps_)) messages.push_back({model::Role::Assistant, *log, std::nullopt});
  messages.push_back({model::Role::User, turn_message(progress_, note_, steer, observation_),
                      std::exchange(pending_image_, std::nullopt)});
  note_.reset();
  split_ += turn_split(system_, recall_.memories_prompt(), journal_text_, messages);

  auto reply = ask_model(messages);
  if (!reply) return ending_;
  tokens_ += reply->usage;
  ++replies_;

  auto action = parse_action(reply->text);
  if (!action) {
    if (++invalid_in_a_row_ >= 3) return Done{kInvalidThrice};
    observation_ = "Your reply was not a single JSON object (" + action.error().to_string() +
                   "). Reply with exactly one JSON object in the required shape.";
  } else {
    invalid_in_a_row_ = 0;
    if (!action->progress.empty()) progress_ = action->progress;
    switch (apply_guards(*action)) {
      case Check::End:
        return ending_;
      case Check::Skip:
        break;
      case Check::Pass:
        carry_out(*action);
        break;
    }
  }
  if (replies_ >= max_steps_) return StepLimit{summarize(progress_, steps_)};
  return std::nullopt;
}

RunReport JobRun::run() {
  start();
  std::optional<Outcome> outcome;
  while (!outcome) outcome = step();
  return finish(std::move(*outcome));
}

void JobRun::learn(const std::string& answer, RunReport& report) {
  auto reflected = mind::reflect(*seams_.model, task_, steps_text(steps_), answer);
  if (!reflected) {
    core::print_err("reflection skipped: " + reflected.error().long_form() + "\n");
    return;
  }
  report.tokens += reflected->usage;
  mind::Reflection reflection = std::move(reflected->reflection);
  if (steps_.size() < 6 && !options_.confirmed && !procedure_id_) reflection.procedure.reset();
  auto absorbed = mind_.absorb(reflection, session_id_);
  if (!absorbed) {
    core::print_err("reflection skipped: " + absorbed.error().long_form() + "\n");
    return;
  }
  for (const auto& m : absorbed->memories) report.remembered.push_back(m.kind + ": " + m.text);
  if (absorbed->procedure) report.remembered.push_back("procedure: " + absorbed->procedure->title);
}

RunReport JobRun::finish(Outcome outcome) {
  bool waits = std::holds_alternative<NeedsPerson>(outcome) || std::holds_alternative<Stopped>(outcome);
  if (waits && session_id_ && browser_ && browser_->started())
    seams_.browsers->park(*session_id_, std::move(browser_), current_url_);
  else if (browser_)
    browser_->close();
  browser_.reset();

  RunReport report;
  report.mode = mode_;
  report.tokens = tokens_;
  bool stopped_early = starts_with_stop(outcome);
  if (auto* done = std::get_if<Done>(&outcome);
      done && !stopped_early && (steps_.size() >= 2 || options_.confirmed || options_.resumed))
    learn(done->answer, report);
  (void)mind_.mark_used(recall_);

  report.final_screen = final_screen_;
  report.procedure = procedure_id_;
  report.recalled = procedure_title_;
  report.pending_action = pending_action_;
  report.outcome = std::move(outcome);
  report.result = result_;
  report.steps = steps_.size();
  report.split = split_;
  report.stopped_early = stopped_early;
  return report;
}

RunReport Operator::run_task(const std::string& task, const std::string& conversation,
                             const RunOptions& options, const std::optional<std::string>& session_id) {
  JobRun run(config_, *observer_, seams_, *side_usage_, mind_dir_, task, conversation, options,
             session_id);
  return run.run();
}

}  // namespace velmor::op
