// The operator: every message the person sends enters here. It decides
// whether the message is conversation, a job or a coding job, answers
// conversation with one model call enriched by what the mind remembers,
// and runs jobs through the job loop, reporting progress to an Observer and
// returning one RunReport. It also holds the console runs `ask` and `run`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/config.h"
#include "core/error.h"
#include "model/chat_model.h"
#include "operator/observer.h"
#include "operator/run_report.h"
#include "operator/seams.h"

namespace velmor::op {

// What a caller passes with a message.
struct RunOptions {
  std::optional<std::uint64_t> max_steps;  // the job's step limit; 40 when absent
  std::optional<double> budget_usd;        // the job's spend cap; none or 0 means no cap
  std::shared_ptr<Observer> observer;
  std::optional<std::string> session_id;
  std::optional<std::string> approved;  // the approved pending action, "{tool} {brief args}"
  bool resumed = false;          // continues a job: no intent decision
  bool confirmed = false;        // the person approved the held action
  bool desktop_allowed = false;  // the person allowed pointer and keyboard
  bool continuation = false;     // takes over the session's parked browser
};

enum class Intent { Chat, Task, Code };

// One per message; not shared between messages or threads (the observer
// and the side usage are the only parts other threads touch).
class Operator {
 public:
  // Builds the model client from `config` (its error is returned as is).
  static Result<Operator> create(const Config& config, std::shared_ptr<Observer> observer);
  // An operator over the given seams; for tests and benchmarks.
  Operator(const Config& config, std::shared_ptr<Observer> observer, Seams seams);

  // Handles one message. `conversation` is the recent conversation, one
  // "User: " or "velmor: " line per turn (empty from the command line).
  // Fails only when the chat reply's model call fails; a job never fails.
  Result<RunReport> handle(const std::string& message, const std::string& conversation,
                           const RunOptions& options, const std::optional<std::string>& session_id);
  // The job loop. Never fails: every failure becomes an observation for
  // the model or a final answer that begins "I had to stop".
  RunReport run_task(const std::string& task, const std::string& conversation,
                     const RunOptions& options, const std::optional<std::string>& session_id);

  const std::filesystem::path& mind_dir() const { return mind_dir_; }
  // Token counts of work done for the job outside its model calls.
  SideUsage& side_usage() { return *side_usage_; }

 private:
  Result<RunReport> chat_reply(const std::string& message, const std::string& conversation,
                               const std::optional<std::string>& session_id);

  Config config_;
  std::shared_ptr<Observer> observer_;
  Seams seams_;
  std::filesystem::path mind_dir_;
  std::unique_ptr<SideUsage> side_usage_;
};

// The entry of sessions and the `ask` console run.
struct Agent {
  // Operator::create with a copy of `config` and options.observer, then
  // Operator::handle. Errors from creating the operator come back unchanged.
  static Result<RunReport> handle_with(const Config& config, const std::string& message,
                                       const std::string& conversation, const RunOptions& options,
                                       const std::optional<std::string>& session_id);
};

// `text` cut to its first `n` characters followed by "…"; unchanged when it
// has at most `n` characters.
std::string clip(std::string_view text, std::size_t n);
// `text` cut to its last `n` characters with "…" in front.
std::string clip_tail(std::string_view text, std::size_t n);

// Keyword tests over the lower-cased message (substrings, so "java" also
// matches inside "javascript").
Intent fallback_intent(std::string_view message);
bool looks_like_code_request(std::string_view message);
bool refers_to_past_work(std::string_view message);

// Writes actions and page addresses to standard error.
class Printer final : public Observer {
 public:
  void action(const std::string& mode, const std::string& text, const std::string& tool,
              const std::optional<std::string>& detail) override;
  void screen(const std::string&, const std::string&, const std::string&) override {}
  void note(const std::string&, const std::string&) override {}
  void location(const std::string& url) override;
  bool should_stop() override { return false; }
  std::optional<std::string> take_steer() override { return std::nullopt; }
};

// Prints a report as the console runs do: the answer, "Paused. …" or
// "[{kind}] …" on standard output, then the mode, steps and tokens line and
// one "remembered: …" line per memory on standard error.
void print_report(const RunReport& report);

// `velmor ask MESSAGE`: the operator decides between chat, job and coding;
// nothing but the report is printed. Errors get "handling message".
Result<int> run_ask(const Config& config, const std::string& message);
// `velmor run TASK`: straight into the job loop, each action printed on
// standard error as it happens. Errors get "running job". Exit status 0
// whatever the job's outcome.
Result<int> run_job(const Config& config, const std::string& task);

}  // namespace velmor::op
