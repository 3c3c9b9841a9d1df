#include "operator/job_prompt.h"

#include <algorithm>

#include "core/utf8.h"
#include "operator/operator.h"

namespace velmor::op {

namespace {

// The rules and tools every job starts from.
constexpr const char* kFixedPrompt = R"PROMPT(You are velmor, doing a job on this person's Mac for them: one action per reply, then you see the result.

Reply with exactly one JSON object and nothing else:
{"thought":"what you see and why this step","progress":"done: … | left: …","tool":"<name>","arguments":{},"irreversible":false,"answer":""}

Browser tools (accessibility tree, not pixels):
browser_navigate {url} · browser_read_page {query?, start?} (readable text; long pages show the opening plus the parts about your job or `query`; `start` reads 12k chars at a time) · browser_snapshot {} (controls with refs) · browser_find {query} (just the snapshot lines mentioning these words, with refs) · browser_click {element, ref} · browser_type {element, ref, text, submit?} · browser_fill_form {fields:[{name, type, ref, value}]} · browser_select_option {element, ref, values:[…]} · browser_hover {element, ref} · browser_press_key {key, e.g. Enter, Escape, Cmd+Enter, Shift+Tab} · browser_navigate_back {} · browser_wait_for {text?|textGone?|time? seconds, 15 max} · browser_tabs {action, index?} · browser_take_screenshot {}.
Other: ask_user {question} for what only the person knows · request_login {site, why} when a page wants a sign-in, a code or a captcha (the person does it in this browser, then you continue) · request_desktop {} before any desktop tool · done {} with the result in `answer`.

Rules:
- Keep `thought` to one short sentence (what you see, why this step) and `progress` to two short lines, done | left, updated every step: they are output tokens on every step. If the job comes with a plan from last time, follow it and skip steps that do not apply; do not re-explore.
- Snapshot before acting on a new page and after anything changes it; use the exact ref from the latest snapshot (refs die on navigation). To read or extract, browser_read_page. To locate one thing on a page you have seen, browser_find. When an error comes with the page as it is now, act on it instead of snapshotting again. If the page did not change after an action, read it before repeating.
- Cookie banners: decline what you can. Logins, codes, captchas: request_login; card numbers: ask_user. You never type those yourself.
- "irreversible": true on anything that buys, pays, books, sends, posts, submits a final form, deletes, cancels or changes settings; the loop asks the person first. Reading, filtering, adding to cart and filling fields are not.
- Same approach failed twice: change approach. Still stuck: ask_user with a precise question.
- done: `answer` is written for the person and IS the deliverable: what you found or did, the key facts and numbers, what you deliberately did not do. For research, reading, comparison or summary jobs it holds the findings themselves (several paragraphs are fine) with sources in a links result; "done" or "see above" is not an answer. Plain sentences, no headings, nothing about tools or snapshots.
- When the result is a table, links or a list, also put it in `result`: {"kind":"table","columns":[…],"rows":[[…]]} | {"kind":"links","items":[{"title","url"}]} | {"kind":"list","items":[…]}, and keep `answer` short.
- Never run scripts, upload files or use browser_evaluate. Never make up a result you did not see.)PROMPT";

std::string join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += items[i];
  }
  return out;
}

// The first non-blank line, trimmed; longer than 110 characters it is cut.
std::string description_line(const std::string& description) {
  std::size_t start = 0;
  std::string line;
  while (start <= description.size()) {
    auto end = description.find('\n', start);
    line = std::string(core::trim(description.substr(start, end - start)));
    if (!line.empty() || end == std::string::npos) break;
    start = end + 1;
  }
  return clip(line, 110);
}

std::string repo_entry(const code::Repo& repo) {
  std::string entry = repo.name + " at " + repo.path;
  if (!repo.test.empty()) entry += " (tests: " + repo.test + ")";
  return entry;
}

}  // namespace

const std::vector<std::string>& browser_tool_names() {
  static const std::vector<std::string> names{
      "browser_navigate",      "browser_read_page",   "browser_snapshot",      "browser_find",
      "browser_click",         "browser_type",        "browser_fill_form",     "browser_select_option",
      "browser_hover",         "browser_press_key",   "browser_navigate_back", "browser_wait_for",
      "browser_tabs",          "browser_take_screenshot"};
  return names;
}

const std::vector<std::string>& desktop_tool_names() {
  static const std::vector<std::string> names{
      "screenshot", "left_click", "right_click", "double_click", "move_cursor", "type_text",
      "press_key",  "hotkey",     "scroll",      "scroll_up",    "scroll_down"};
  return names;
}

bool is_browser_tool(const std::string& tool) {
  const auto& names = browser_tool_names();
  return std::find(names.begin(), names.end(), tool) != names.end();
}

bool is_desktop_tool(const std::string& tool) {
  const auto& names = desktop_tool_names();
  return std::find(names.begin(), names.end(), tool) != names.end();
}

bool is_coding_tool(const std::string& tool) {
  return tool == "code_run" || tool == "repo_inspect" || tool == "code_ship";
}

std::string system_prompt(const PromptSetup& setup) {
  std::string prompt = kFixedPrompt;
  if (!setup.plugin_tools.empty()) {
    prompt +=
        "\n\nPlugin tools (call plugin_describe {tool} once to see the arguments, then plugin_call "
        "{tool, arguments}; ones marked \u2731 ask the person first):\n";
    std::size_t shown = 0;
    for (const auto& tool : setup.plugin_tools) {
      if (shown++ == 80) break;
      prompt += "- " + tool.name + (tool.irreversible ? " \u2731" : "") + ": " +
                description_line(tool.description) + "\n";
    }
  }

  if (!setup.coder) {
    prompt +=
        "\n\nCoding: no coding agent is installed, so code changes are not possible here; never "
        "try them through the desktop. If the job needs code, ask_user and mention Settings \u2192 "
        "Coding.";
  } else {
    prompt += "\n\nCoding: " + *setup.coder +
              " does the edits; you manage. Tools: code_run {repo, instruction} (one clear task; it "
              "works on a velmor/\u2026 branch, runs the tests, commits, never pushes), repo_inspect "
              "{repo, what: status|diff|log|test}, code_ship {repo, title, body?} (push + PR; the "
              "person is asked first). Code changes happen ONLY through code_run: never edit files "
              "or run commands through the desktop or a terminal. A coding job: repo_inspect status "
              "\u2192 code_run \u2192 done (what changed, tests, branch), or code_ship when the "
              "person asked for a PR.";
    if (!setup.repos.empty()) {
      std::vector<std::string> entries;
      for (const auto& repo : setup.repos) entries.push_back(repo_entry(repo));
      prompt +=
          " A folder not listed here can be passed as an absolute path in `repo`; the person is "
          "asked once. Repos: " +
          join(entries, "; ") + ".";
    } else {
      prompt +=
          " No repo is allowed yet. If the job names a folder, pass its absolute path as `repo` "
          "(with `test` if you know the test command): the person is asked once and it is added. "
          "Otherwise ask_user which folder, and mention Settings \u2192 Coding \u2192 Repos.";
    }
  }

  if (setup.desktop_allowed) {
    prompt += "\nThe person has allowed desktop control. Desktop tools: " +
              join(desktop_tool_names(), ", ") +
              ". Coordinates are screen pixels from the latest screenshot. Call screenshot to look "
              "before you click.";
  } else {
    prompt +=
        "\nDesktop tools are locked until you call request_desktop and the person agrees. Prefer "
        "the browser; use the desktop only when the job needs a Mac app.";
  }

  if (setup.chrome) {
    prompt +=
        "\nThe browser is the person's own Chrome, in a window of its own, signed in to their "
        "accounts. Logins are usually already done; if a page still asks for a password or a "
        "code, call request_login.";
  } else {
    prompt +=
        "\nThe browser is a private built-in one with no logins. If a page asks for a sign-in, "
        "call request_login; the person can connect their Chrome in Settings.";
  }

  if (!setup.memories.empty()) prompt += "\n\n" + setup.memories;
  return prompt;
}

std::string job_message(const std::string& task, const std::string& conversation,
                        const std::string& plan, const std::string& journal) {
  std::string message = "Job:\n" + task;
  if (!core::trim(conversation).empty())
    message += "\n\nEarlier in this conversation:\n" + clip_tail(conversation, 1500);
  if (!plan.empty()) message += "\n\n" + plan;
  if (!journal.empty()) message += "\n\n" + journal;
  return message;
}

std::optional<std::string> step_log_message(const std::vector<Step>& steps) {
  if (steps.empty()) return std::nullopt;
  std::string log = "What you have done so far:\n";
  std::size_t first = steps.size() > 30 ? steps.size() - 30 : 0;
  if (first > 0) log += "(" + std::to_string(first) + " earlier steps omitted)\n";
  for (std::size_t i = first; i < steps.size(); ++i) {
    const Step& s = steps[i];
    if (steps.size() - i > 10) {
      std::string mark = s.result.starts_with("error") ? " \u2717" : "";
      log += s.args.empty() ? "- " + s.tool + mark : "- " + s.tool + " " + clip(s.args, 60) + mark;
    } else {
      log += s.args.empty() ? "- " + s.tool + " (" + s.thought + ") \u2192 " + s.result
                            : "- " + s.tool + " " + s.args + " (" + s.thought + ") \u2192 " + s.result;
    }
    log += "\n";
  }
  return log;
}

std::string turn_message(const std::string& progress, const std::optional<std::string>& note,
                         const std::optional<std::string>& steer, const std::string& observation) {
  std::string message;
  if (!progress.empty()) message += "Your last progress note:\n" + progress + "\n\n";
  if (note) message += "Note: " + *note + "\n\n";
  if (steer)
    message += "The person just added, mid-job: \"" + clip(*steer, 500) +
               "\"\nFold that in and keep going.\n\n";
  message += "Latest observation:\n" + clip(observation, 12000) + "\n\nNext action as one JSON object.";
  return message;
}

std::uint64_t prompt_tokens(const std::string& text) { return (core::char_count(text) + 3) / 4; }

TokenSplit turn_split(const std::string& system, const std::string& memories,
                      const std::string& journal, const std::vector<model::Message>& messages) {
  auto less = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; };
  TokenSplit split;
  std::uint64_t memory_tokens = prompt_tokens(memories);
  std::uint64_t journal_tokens = prompt_tokens(journal);
  split.system = less(prompt_tokens(system), memory_tokens);
  if (messages.size() > 1) split.system += less(prompt_tokens(messages.front().text), journal_tokens);
  split.memory = memory_tokens + journal_tokens;
  for (std::size_t i = 1; i + 1 < messages.size(); ++i) split.log += prompt_tokens(messages[i].text);
  if (!messages.empty()) split.observation = prompt_tokens(messages.back().text);
  split.steps = 1;
  return split;
}

}  // namespace velmor::op
