// The checks an action passes before it runs: the spend cap, the answer
// check, hand-offs to the person, the desktop lock, the shell refusal,
// approval of what cannot be undone, and the repeated-action note.
#include <fmt/format.h>

#include <array>
#include <sstream>
#include <system_error>

#include "code/code.h"
#include "core/environment.h"
#include "core/utf8.h"
#include "operator/job_prompt.h"
#include "operator/job_run.h"
#include "tools/page_reading.h"

namespace velmor::op {

namespace {

constexpr std::array<std::string_view, 21> kIrreversible{
    "place order",   "buy now",          "pay now",         "purchase",          "checkout",
    "complete booking", "book now",      "confirm booking", "confirm purchase",  "send",
    "post comment",  "publish",          "delete",          "remove account",    "unsubscribe",
    "cancel membership", "cancel subscription", "submit application", "submit order",
    "transfer",      "confirm payment"};
constexpr std::array<std::string_view, 4> kEnterPhrases{"place order", "pay now", "complete booking",
                                                        "confirm payment"};
constexpr std::array<std::string_view, 46> kShellWords{
    "git",   "cd",   "ls",     "pwd",  "cat",     "rm",   "mv",    "cp",    "sudo",  "npm",
    "npx",   "pnpm", "yarn",   "cargo", "python", "python3", "pip", "pip3", "node",  "make",
    "brew",  "curl", "wget",   "ssh",  "chmod",   "chown", "kill", "pkill", "find",  "grep",
    "sed",   "awk",  "echo",   "export", "bash",  "sh",   "zsh",   "docker", "kubectl", "gh",
    "open",  "touch", "mkdir", "rmdir", "tar",    "unzip"};
constexpr std::array<std::string_view, 4> kShellJoiners{" && ", " | ", " > ", " ; "};
constexpr std::array<std::string_view, 14> kResearchWords{
    "research", "summar",   "compare",  "comparison", "find out", "what are",      "explain",
    "overview", "report",   "review",   "survey",     "list the", "pros and cons", "options"};
constexpr std::array<std::string_view, 5> kEmptyAnswerWords{"complete", "finished", "done",
                                                            "see above", "as requested"};

constexpr const char* kThinAnswerNote = "Asked for the findings, not just \"done\"";
constexpr const char* kRepeatNote =
    "You have sent this exact action three times. It is not working. Take a snapshot to re-read "
    "the page, try a different element or route, or ask_user if you are stuck.";

template <std::size_t N>
bool contains_any(const std::string& lower, const std::array<std::string_view, N>& words) {
  for (auto w : words)
    if (lower.find(w) != std::string::npos) return true;
  return false;
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string pending_text(const Action& action) {
  return action.tool + " " + tools::brief_args(action.arguments);
}

}  // namespace

JobRun::Check JobRun::apply_guards(const Action& action) {
  for (auto check : {&JobRun::spend_cap, &JobRun::finish_or_send_back, &JobRun::ask_user,
                     &JobRun::request_login, &JobRun::request_desktop}) {
    if (auto verdict = (this->*check)(action); verdict != Check::Pass) return verdict;
  }
  if (is_desktop_tool(action.tool) && !options_.desktop_allowed) {
    observation_ =
        "Desktop tools need the person's OK first. Call request_desktop (with your reason in "
        "`thought`) or stay in the browser.";
    return Check::Skip;
  }
  for (auto check : {&JobRun::shell_refusal, &JobRun::approval}) {
    if (auto verdict = (this->*check)(action); verdict != Check::Pass) return verdict;
  }
  repeated_action(action);
  return Check::Pass;
}

JobRun::Check JobRun::spend_cap(const Action& action) {
  if (!options_.budget_usd || *options_.budget_usd <= 0 || action.tool == "done") return Check::Pass;
  auto context = tokens_.input_tokens > 199'999 ? model::ContextLength::Long : model::ContextLength::Normal;
  double spent = model::cost(tokens_, seams_.price(context));
  if (spent < *options_.budget_usd) return Check::Pass;
  observer_.action(mode_, "Reached the spend cap for this job", "budget", fmt::format("${:.2f}", spent));
  record(action, "paused at the spend cap");
  ending_ = NeedsPerson{"budget", fmt::format("This job has used ${:.2f} of your plan so far ({} steps). "
                                              "Progress: {}. Keep going?",
                                              spent, steps_.size(), clip(progress_, 160))};
  return Check::End;
}

JobRun::Check JobRun::finish_or_send_back(const Action& action) {
  if (action.tool != "done") return Check::Pass;
  auto words = words_of(action.answer);
  if (!thin_answer_asked_ && !action.result && steps_.size() >= 3 && words.size() <= 59) {
    std::string lower_answer = core::to_lower(action.answer);
    bool thin = contains_any(core::to_lower(task_), kResearchWords) || action.answer.empty() ||
                (words.size() < 15 && contains_any(lower_answer, kEmptyAnswerWords));
    if (thin) {
      thin_answer_asked_ = true;
      observer_.note("answer", kThinAnswerNote);
      record(action, "answer too thin; asked for the findings");
      observation_ =
          "Not finished: your `answer` was \"" + clip(action.answer, 120) +
          "\", and that is all the person will ever see of this job. Write the findings themselves "
          "in `answer`: what you found on each page, the key facts, names and numbers, and what it "
          "adds up to, in plain sentences for the person (several paragraphs are fine). Put the "
          "sources in `result` as {\"kind\":\"links\",\"items\":[{\"title\":\u2026,\"url\":\u2026}]}. "
          "Then call done again. Use what you already read; do not browse more unless something is "
          "missing.";
      return Check::Skip;
    }
  }
  observer_.action(mode_, action.thought, "done", clip(action.answer, 160));
  std::string answer = action.answer.empty() ? summarize(progress_, steps_) : action.answer;
  record(action, "finished");
  result_ = action.result;
  ending_ = Done{answer};
  return Check::End;
}

JobRun::Check JobRun::ask_user(const Action& action) {
  if (action.tool != "ask_user") return Check::Pass;
  std::string question = string_arg(action.arguments, "question");
  if (question.empty()) question = action.thought;
  observer_.action(mode_, action.thought, "ask_user", clip(question, 160));
  record(action, "asked the person");
  ending_ = NeedsPerson{"question", question};
  return Check::End;
}

bool JobRun::chrome_browser() const {
  // The browser takes the person's Chrome by this same rule when it starts.
  return seams_.browsers->bridge_connected() && core::get_env("VELMOR_BROWSER") != "playwright";
}

JobRun::Check JobRun::request_login(const Action& action) {
  if (action.tool != "request_login") return Check::Pass;
  std::string site = string_arg(action.arguments, "site");
  if (site.empty() && current_url_)
    if (auto host = mind::host_of(*current_url_)) site = *host;
  if (site.empty()) site = "this site";
  std::string why(core::trim(string_arg(action.arguments, "why")));
  std::string reason = why.empty() ? "" : " (" + why + ")";
  observer_.action(mode_, action.thought, "request_login", site);
  record(action, "stopped for the person to sign in");
  std::string question =
      chrome_browser()
          ? site + " needs you to sign in" + reason +
                ". The page is open in the velmor window in your Chrome: sign in there (velmor "
                "never types passwords or codes), then tell me you are done and I will carry on."
          : site + " needs you to sign in" + reason +
                ", and the built-in browser is not one you can see. Connect your Chrome in Settings "
                "so velmor works in your own signed-in browser, then say you are done; or skip this "
                "site.";
  ending_ = NeedsPerson{"login", question};
  return Check::End;
}

JobRun::Check JobRun::request_desktop(const Action& action) {
  if (action.tool != "request_desktop") return Check::Pass;
  if (options_.desktop_allowed) {
    observation_ = "The desktop is already allowed. Use a desktop tool directly.";
    return Check::Skip;
  }
  observer_.action(mode_, action.thought, "request_desktop", std::nullopt);
  record(action, "asked to use the Mac");
  ending_ = NeedsPerson{"desktop", "velmor wants to use the pointer and keyboard on this Mac: " +
                                       clip(action.thought, 200) + ". Allow it?"};
  return Check::End;
}

JobRun::Check JobRun::shell_refusal(const Action& action) {
  if (action.tool != "type_text") return Check::Pass;
  std::string text(core::trim(string_arg(action.arguments, "text")));
  if (text.empty()) return Check::Pass;
  auto words = words_of(text);
  std::string first = words.empty() ? "" : core::to_lower(words.front());
  bool shell = std::find(kShellWords.begin(), kShellWords.end(), first) != kShellWords.end() ||
               contains_any(text, kShellJoiners) || text.starts_with("/");
  if (!shell) return Check::Pass;
  observer_.action(mode_, action.thought, "error", "shell command via the desktop, refused");
  record(action, "refused: shell command via the desktop");
  observation_ =
      "Refused: that is a shell command typed into a terminal. velmor never runs commands through "
      "the desktop. For code changes use code_run (a coder works in an allowed repo); to look at a "
      "repo use repo_inspect; if no repo is set up, ask_user to add the folder under Settings \u2192 "
      "Coding \u2192 Repos.";
  return Check::Skip;
}

std::optional<std::string> JobRun::unregistered_folder(const Action& action) const {
  if (!is_coding_tool(action.tool)) return std::nullopt;
  std::string repo(core::trim(string_arg(action.arguments, "repo")));
  if (!repo.starts_with("/") && !repo.starts_with("~/")) return std::nullopt;
  std::string path = code::expand_home(repo);
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec) || !std::filesystem::exists(std::filesystem::path(path) / ".git", ec))
    return std::nullopt;
  if (code::Repos::open_default().find(repo)) return std::nullopt;
  return path;
}

JobRun::Check JobRun::approval(const Action& action) {
  auto folder = unregistered_folder(action);
  std::string lower_element = core::to_lower(string_arg(action.arguments, "element"));
  const std::string& tool = action.tool;
  bool held = action.irreversible || tool == "code_ship" ||
              (tool == "plugin_call" && seams_.plugins->is_gated(string_arg(action.arguments, "tool"))) ||
              folder.has_value();
  if (!held && (tool == "browser_click" || tool == "left_click" || tool == "double_click" ||
                tool == "press_key" || tool == "browser_press_key"))
    held = contains_any(lower_element, kIrreversible);
  if (!held && tool == "browser_press_key" && string_arg(action.arguments, "key") == "Enter")
    held = contains_any(core::to_lower(observation_), kEnterPhrases);
  if (!held) return Check::Pass;

  std::string pending = pending_text(action);
  bool named = options_.approved && !approval_used_ &&
               options_.approved->substr(0, options_.approved->find(' ')) == tool;
  if (named || blanket_approval_) {
    approval_used_ = true;
    blanket_approval_ = false;
    register_folder_ = folder;
    return Check::Pass;
  }
  observer_.action(mode_, action.thought, "confirm", pending);
  record(action, "stopped to ask first");
  pending_action_ = pending;
  std::string question =
      folder ? "Allow velmor to work in " + *folder +
                   "? It will be added to your repos (Settings \u2192 Coding) and the coder will only "
                   "ever touch files inside it. Nothing is pushed without asking again."
             : "Before I do this: " + clip(action.thought, 220) + ". (" + pending + ") Go ahead?";
  ending_ = NeedsPerson{"action", question};
  return Check::End;
}

void JobRun::repeated_action(const Action& action) {
  if (steps_.size() < 2) return;
  std::string signature = Step::from_action(action, "").signature;
  if (steps_[steps_.size() - 1].signature == signature && steps_[steps_.size() - 2].signature == signature)
    note_ = kRepeatNote;
}

}  // namespace velmor::op
