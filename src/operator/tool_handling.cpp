// Carrying out the tools that passed the guards: the browser, the desktop,
// coding runs and plugin tools, and what the model is shown afterwards.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <array>

#include "code/code.h"
#include "core/utf8.h"
#include "operator/job_prompt.h"
#include "operator/job_run.h"
#include "tools/page_reading.h"

namespace velmor::op {

namespace {

using nlohmann::json;

constexpr std::size_t kObservationLimit = 12000;

constexpr std::array<std::string_view, 11> kSignInSigns{
    "textbox \"password", "type=\"password\"", "\"password\"", "verification code", "one-time code",
    "enter the code", "2-step verification", "two-factor", "captcha", "i'm not a robot",
    "unusual traffic"};
constexpr std::array<std::string_view, 2> kSignInWords{"sign in", "log in"};
constexpr std::array<std::string_view, 3> kSignInFields{"textbox \"email", "textbox \"username",
                                                        "textbox \"phone"};

constexpr const char* kSignInHint =
    "\n\n(This looks like a sign-in, verification-code or captcha page. Do not type credentials: "
    "call request_login {site, why} and the person will do it in this browser.)";
constexpr const char* kNodeDownload = "https://nodejs.org/en/download";

template <std::size_t N>
bool contains_any(const std::string& lower, const std::array<std::string_view, N>& words) {
  for (auto w : words)
    if (lower.find(w) != std::string::npos) return true;
  return false;
}

bool looks_like_sign_in(const std::string& text) {
  std::string lower = core::to_lower(text);
  return contains_any(lower, kSignInSigns) ||
         (contains_any(lower, kSignInWords) && contains_any(lower, kSignInFields));
}

// The tool's text followed by velmor's guidance, all within what the turn
// message shows: the tool's text is cut first so that the guidance (the
// sign-in hint, the site notes) always reaches the model whole.
std::string fit_observation(const std::string& tool_text, const std::string& guidance) {
  std::size_t guidance_chars = core::char_count(guidance);
  std::size_t room = guidance_chars < kObservationLimit ? kObservationLimit - guidance_chars : 0;
  if (core::char_count(tool_text) <= room) return tool_text + guidance;
  if (room == 0) return guidance;
  return clip(tool_text, room - 1) + guidance;
}

// What the model is told about a failed tool call.
std::string tool_error_message(const std::string& error) {
  if (error.find("Executable doesn't exist") != std::string::npos ||
      error.find("playwright install") != std::string::npos)
    return "the built-in browser is not set up yet. Open Settings or the first-run steps and choose "
           "Set up built-in, or pair Chrome.";
  if (error.find("npx") != std::string::npos || error.find("spawn") != std::string::npos)
    return fmt::format(
        "the browser helper could not start (Node/npx missing?). Install Node from {} and try "
        "again.",
        kNodeDownload);
  auto page = error.find("\n\n### Page now");
  if (page == std::string::npos) return tools::truncate(error, 400);
  return tools::truncate(std::string_view(error).substr(0, page), 400) + error.substr(page);
}

// The first line of the progress note that says what is left.
std::string left_line(const std::string& progress) {
  std::size_t start = 0;
  while (start <= progress.size()) {
    auto end = progress.find('\n', start);
    std::string line = progress.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string lead(core::to_lower(line.substr(std::min(line.find_first_not_of(" \t\r"), line.size()))));
    if (lead.starts_with("left")) return line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}

std::optional<std::string> detail_of(const json& arguments) {
  std::string brief = tools::brief_args(arguments);
  if (brief.empty()) return std::nullopt;
  return brief;
}

}  // namespace

void JobRun::announce(const Action& action) {
  observer_.action(mode_, action.thought, action.tool, detail_of(action.arguments));
}

void JobRun::record(const Action& action, std::string result) {
  steps_.push_back(Step::from_action(action, std::move(result)));
}

void JobRun::tool_failed(const Action& action, const Error& error) {
  std::string message = tool_error_message(error.long_form());
  observer_.action(mode_, "That did not work", "error", clip(message, 160));
  observation_ = "tool error: " + message;
  record(action, "error: " + clip(message, 140));
}

std::string JobRun::site_notes_for(const std::string& url) {
  auto host = mind::host_of(url);
  if (!host || !seen_hosts_.insert(*host).second) return "";
  auto notes = mind_.site_notes(*host);
  if (notes.empty()) return "";
  observer_.note("site", "Using what I know about " + *host);
  std::string text = "\n\nWhat you learned about " + *host + " in earlier jobs:\n";
  for (const auto& n : notes) text += "- " + n + "\n";
  return text;
}

void JobRun::carry_out(const Action& action) {
  const std::string& tool = action.tool;
  if (is_browser_tool(tool)) return browser_tool(action);
  if (is_desktop_tool(tool)) return desktop_tool(action);
  if (is_coding_tool(tool)) return coding_tool(action);
  if (tool == "plugin_describe" || tool == "plugin_call") return plugin_tool(action);
  observation_ = "`" + tool + "` is not a tool you have. Browser: " + fmt::format("{}", fmt::join(browser_tool_names(), ", ")) +
                 ". Desktop (after request_desktop): " + fmt::format("{}", fmt::join(desktop_tool_names(), ", ")) +
                 ". Plugins: plugin_describe, plugin_call. Code: code_run, repo_inspect, code_ship. "
                 "Also: ask_user, request_login, request_desktop, done.";
}

void JobRun::browser_tool(const Action& action) {
  mode_ = "browse";
  announce(action);
  browser_->set_focus(clip(task_, 300) + " " + clip(left_line(progress_), 200));
  auto result = browser_->call({action.tool, action.arguments});
  if (!result) return tool_failed(action, result.error());
  if (result->image) {
    observer_.screen(mode_, result->image->mime, result->image->data);
    final_screen_ = result->image;
  }
  std::string notes;
  if (result->url) {
    observer_.location(*result->url);
    current_url_ = result->url;
    notes = site_notes_for(*result->url);
  }
  std::string hint = looks_like_sign_in(result->text) ? kSignInHint : "";
  observation_ = fit_observation(result->text, hint + notes);
  record(action, clip(observation_, 160));
}

void JobRun::desktop_tool(const Action& action) {
  mode_ = "desktop";
  announce(action);
  if (!desktop_) desktop_ = seams_.desktop();
  auto result = desktop_->call({action.tool, action.arguments});
  if (!result) return tool_failed(action, result.error());
  if (result->image) {
    observer_.screen(mode_, result->image->mime, result->image->data);
    final_screen_ = result->image;
    pending_image_ = result->image->data;
  }
  std::string hint = looks_like_sign_in(result->text) ? kSignInHint : "";
  observation_ = fit_observation(result->text, hint);
  record(action, clip(observation_, 160));
}

void JobRun::plugin_tool(const Action& action) {
  std::string tool = string_arg(action.arguments, "tool");
  if (action.tool == "plugin_describe") {
    mode_ = "browse";
    observer_.action(mode_, action.thought, "plugin_describe", tool);
    auto described = seams_.plugins->describe(tool);
    observation_ = described ? "Tool " + tool + ":\n" + described->dump(2, ' ', false, json::error_handler_t::replace)
                             : "tool error: " + described.error().long_form();
    record(action, clip(observation_, 160));
    return;
  }
  if (mode_ != "code") mode_ = "browse";
  announce(action);
  json arguments = json::object();
  if (action.arguments.is_object())
    if (auto it = action.arguments.find("arguments"); it != action.arguments.end()) arguments = *it;
  auto called = seams_.plugins->call(tool, arguments);
  if (!called) return tool_failed(action, called.error());
  observation_ = tools::truncate(*called, kObservationLimit);
  record(action, clip(observation_, 160));
}

void JobRun::coding_tool(const Action& action) {
  mode_ = "code";
  announce(action);
  auto outcome = [&]() -> Result<std::string> {
    auto repos = code::Repos::open_default();
    if (auto folder = std::exchange(register_folder_, std::nullopt)) {
      auto added = VELMOR_TRY(repos.upsert({"", *folder, string_arg(action.arguments, "test"), ""}));
      observer_.note("coder", "Added " + added.name + " (" + added.path + ") to your repos");
    }
    auto repo = repos.find(string_arg(action.arguments, "repo"));
    if (!repo) repo = repos.find(task_);
    if (!repo) {
      auto all = repos.list();
      if (all.empty())
        return std::string(
            "No repos are set up. The person adds the folders velmor may work in under Settings "
            "\u2192 Coding \u2192 Repos. Tell them so with ask_user.");
      std::vector<std::string> names;
      for (const auto& r : all) names.push_back(r.name);
      return fmt::format("Which repo? Pass `repo` as one of: {}.", fmt::join(names, ", "));
    }

    if (action.tool == "repo_inspect") {
      std::string what = string_arg(action.arguments, "what");
      auto output = VELMOR_TRY(seams_.coding->inspect(*repo, what.empty() ? "status" : what, observer_));
      return tools::truncate(output, kObservationLimit);
    }
    if (action.tool == "code_ship") {
      std::string title(core::trim(string_arg(action.arguments, "title")));
      if (title.empty()) title = clip(task_, 70);
      std::string body = string_arg(action.arguments, "body");
      if (body.empty()) body = "Opened by velmor.";
      return seams_.coding->ship(repo->path, title, body);
    }

    std::string instruction(core::trim(string_arg(action.arguments, "instruction")));
    if (instruction.empty())
      return std::string(
          "code_run needs `instruction`: what to change, in plain words, with any file names you "
          "know");
    auto coder = code::pick_coder();
    if (!coder) return coder.error();
    observer_.note("coder", "Handing this to " + coder->label + " in " + repo->name);
    auto run = VELMOR_TRY(coder->id == "native"
                              ? seams_.coding->native_run(*repo, instruction, observer_, side_)
                              : seams_.coding->delegate_run(*coder, *repo, instruction, observer_));
    std::string tests;
    bool passed = true;
    if (!repo->test.empty()) {
      observer_.note("coder", "Running tests: " + repo->test);
      auto output = seams_.coding->inspect(*repo, "test", observer_);
      if (output) {
        tests = "Tests (" + repo->test + "):\n" + tools::truncate(*output, 3000);
        passed = output->find("\nexit 0\n") != std::string::npos;
      } else {
        tests = "Tests could not run: " + output.error().long_form();
        passed = false;
      }
    } else {
      tests = "Tests: no test command set for this repo (add one in Settings \u2192 Coding \u2192 Repos).";
    }
    (void)code::CoderRecord::record(code::CoderRecord::default_file(), coder->id, run.ok && passed,
                                    run.seconds);
    std::string changes = core::trim(run.stat).empty() ? "(no file changes)" : run.stat;
    return fmt::format(
        "{} finished in {}s ({}).\nBranch: {} (nothing pushed)\nChanges:\n{}\n\nWhat it said:\n{}\n\n{}"
        "\n\nNext: if the tests pass, done with a plain summary (what changed, branch, test result); "
        "if not, code_run again with what failed; code_ship only if the person asked for a PR (they "
        "will be asked first).",
        coder->label, run.seconds, run.ok ? "exit ok" : "exit not ok", run.branch, changes,
        run.summary, tests);
  }();
  tokens_ += side_.take();
  if (!outcome) return tool_failed(action, outcome.error());
  observation_ = *outcome;
  record(action, clip(observation_, 160));
}

}  // namespace velmor::op
