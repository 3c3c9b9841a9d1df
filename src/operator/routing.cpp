// Message routing: conversation, job or coding job, and the chat reply.
#include <nlohmann/json.hpp>

#include "code/code.h"
#include "core/console.h"
#include "core/utf8.h"
#include "mind/mind.h"
#include "operator/operator.h"

namespace velmor::op {

namespace {

constexpr const char* kDecisionPrompt =
    "Decide whether the newest message asks velmor to DO something on a computer (a task), is "
    "conversation (chat), or asks for software to be written or changed (code). Reply with one "
    "JSON object only: {\"kind\":\"task\"|\"chat\"|\"code\"}.\ncode: write a script, program, "
    "function, app or website; fix, refactor or review source code; set up a dev environment; "
    "anything whose deliverable is code. Not: using a website, filling a form, or reading a page "
    "that happens to be technical.\ntask: find, compare, book, buy, check, cancel, fill in, "
    "download, open a site or app, search a site, read a page, watch for something, anything that "
    "needs a browser or the Mac. Also an answer to a question velmor asked while doing a task.\n"
    "chat: greetings, thanks, questions velmor can answer from general knowledge or memory, "
    "questions about what velmor can do, questions about something velmor already did, small "
    "talk.\nWhen in doubt, task.";

constexpr const char* kChatPrompt =
    "You are velmor, an assistant on this person's Mac that does long computer jobs for them: it "
    "uses the browser and their apps for as long as a job takes, saves its place as it goes, and "
    "remembers how they like things. Right now you are chatting, not working. Reply in plain "
    "sentences, one to three unless asked for more. A greeting gets a short greeting back. If they "
    "are describing a job they want done, say you can do it and ask only what you truly need to "
    "start. If they ask about a job you already did (what you found, where something was), answer "
    "from the conversation above, which holds your report; do not fill gaps from general "
    "knowledge. If the detail is not there, say so and offer to run the job again. If you know "
    "their name, use it when it is natural, not every message. When they tell you something about "
    "themselves, acknowledge it in a few words; it is kept for next time without you saying so. "
    "Never describe your internals (memory files, models, tools, snapshots). Do not quote your "
    "notes about them; use them quietly.";

constexpr const char* kAboutThemselves[] = {
    " my name",     " i am ",        " i'm ",          " im ",          " i live",
    " i work",      " call me",      " i like",        " i prefer",     " i don't like",
    " i dont like", " i hate",       " i have ",       " i use ",       " my wife",
    " my husband",  " my kids",      " my son",        " my daughter",  " my job",
    " my home",     " my timezone",  " my time zone",  " remember that", " remember my",
    " i usually",   " i always",     " i never",       " we live",      " our home"};

// The decision call's verdict, or none when the reply decides nothing.
std::optional<Intent> decided_intent(const std::string& reply, const std::string& message) {
  auto value = mind::extract_json(reply);
  if (!value || !value->is_object()) return std::nullopt;
  auto kind = value->find("kind");
  if (kind == value->end() || !kind->is_string()) return std::nullopt;
  const auto& k = kind->get_ref<const std::string&>();
  if (k == "task") return Intent::Task;
  if (k == "chat") return Intent::Chat;
  if (k == "code") return looks_like_code_request(message) ? Intent::Code : Intent::Task;
  return std::nullopt;
}

// "User: " and "velmor: " lines as messages; other lines continue the one
// before. The conversation must start with the person.
std::vector<model::Message> conversation_messages(const std::string& conversation) {
  std::vector<model::Message> messages;
  std::size_t start = 0;
  while (start < conversation.size()) {
    auto end = conversation.find('\n', start);
    std::string line = conversation.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.starts_with("User: "))
      messages.push_back({model::Role::User, line.substr(6), std::nullopt});
    else if (line.starts_with("velmor: "))
      messages.push_back({model::Role::Assistant, line.substr(8), std::nullopt});
    else if (!messages.empty())
      messages.back().text += "\n" + line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::size_t first_user = 0;
  while (first_user < messages.size() && messages[first_user].role == model::Role::Assistant) ++first_user;
  messages.erase(messages.begin(), messages.begin() + static_cast<std::ptrdiff_t>(first_user));
  return messages;
}

bool speaks_about_themselves(const std::string& message) {
  std::string padded = " " + core::to_lower(message) + " ";
  for (const char* phrase : kAboutThemselves)
    if (padded.find(phrase) != std::string::npos) return true;
  return false;
}

}  // namespace

Operator::Operator(const Config& config, std::shared_ptr<Observer> observer, Seams seams)
    : config_(config),
      observer_(std::move(observer)),
      seams_(std::move(seams)),
      mind_dir_(Config::home_dir() / "memory"),
      side_usage_(std::make_unique<SideUsage>()) {
  if (!observer_) observer_ = std::make_shared<Quiet>();
}

Result<Operator> Operator::create(const Config& config, std::shared_ptr<Observer> observer) {
  auto seams = VELMOR_TRY(real_seams(config));
  return Operator(config, std::move(observer), std::move(seams));
}

Result<RunReport> Operator::handle(const std::string& message, const std::string& conversation,
                                   const RunOptions& options,
                                   const std::optional<std::string>& session_id) {
  if (seams_.set_cache_key) seams_.set_cache_key("velmor-" + session_id.value_or("cli"));
  if (options.resumed) return run_task(message, conversation, options, session_id);

  model::TokenUse decision_tokens;
  std::string question = "Recent conversation:\n" + clip_tail(conversation, 1200) +
                         "\n\nNewest message:\n" + clip(message, 1200);
  auto decision = seams_.model->chat(kDecisionPrompt, {{model::Role::User, question, std::nullopt}});
  Intent intent;
  if (!decision) {
    core::print_err("classify failed (" + decision.error().long_form() + "); using keyword fallback\n");
    intent = fallback_intent(message);
  } else {
    decision_tokens = decision->usage;
    intent = decided_intent(decision->text, message).value_or(fallback_intent(message));
  }

  RunReport report;
  if (intent == Intent::Code) {
    if (auto coder = code::pick_coder(); !coder) {
      report.outcome = Done{"I can take coding jobs, but not yet on this Mac. " + coder.error()};
    } else {
      report = run_task(message, conversation, options, session_id);
    }
  } else if (intent == Intent::Task) {
    report = run_task(message, conversation, options, session_id);
  } else {
    report = VELMOR_TRY(chat_reply(message, conversation, session_id));
  }
  report.tokens += decision_tokens;
  return report;
}

Result<RunReport> Operator::chat_reply(const std::string& message, const std::string& conversation,
                                       const std::optional<std::string>& session_id) {
  mind::Mind mind(mind_dir_);
  auto recall = mind.recall(message, 8, 0);
  bool past = refers_to_past_work(message);
  auto journal = mind::Mind::journal_prompt(mind.journal_for(message, past ? 4 : 3, session_id), past);
  std::string memory = recall.memories_prompt();
  if (auto plan = recall.plan_prompt(); !plan.empty()) memory += "\n" + plan;
  std::string system = std::string(kChatPrompt) + "\n\n" + memory + "\n" + journal;

  auto messages = conversation_messages(conversation);
  messages.push_back({model::Role::User, message, std::nullopt});
  auto reply = VELMOR_TRY(seams_.model->chat(system, messages));
  (void)mind.mark_used(recall);

  RunReport report;
  report.mode = "chat";
  std::string answer(core::trim(reply.text));
  report.tokens = reply.usage;
  if (speaks_about_themselves(message)) {
    auto reflected = mind::reflect_chat(*seams_.model, message, answer);
    if (!reflected) {
      core::print_err("chat reflection skipped: " + reflected.error().long_form() + "\n");
    } else {
      report.tokens += reflected->usage;
      auto absorbed = mind.absorb(reflected->reflection, session_id);
      if (!absorbed) {
        core::print_err("chat reflection skipped: " + absorbed.error().long_form() + "\n");
      } else {
        for (const auto& m : absorbed->memories) report.remembered.push_back(m.kind + ": " + m.text);
      }
    }
  }
  report.outcome = Done{answer};
  return report;
}

Result<RunReport> Agent::handle_with(const Config& config, const std::string& message,
                                     const std::string& conversation, const RunOptions& options,
                                     const std::optional<std::string>& session_id) {
  auto op = VELMOR_TRY(Operator::create(Config(config), options.observer));
  return op.handle(message, conversation, options, session_id);
}

}  // namespace velmor::op
