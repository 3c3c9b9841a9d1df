#include <array>

#include "core/utf8.h"
#include "mind/json_fields.h"
#include "mind/mind.h"

namespace velmor::mind {
namespace {

using detail::Fields;
using detail::Need;
using nlohmann::json;

std::string join_lines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (auto line : lines) {
    if (!out.empty()) out += '\n';
    out += line;
  }
  return out;
}

const std::string& job_prompt() {
  static const std::string prompt = join_lines({
      "You keep notes for velmor, an assistant that does long computer jobs for one person. A job "
      "just ended. From the task, the steps taken and the result, write what is worth keeping for "
      "next time. Reply with one JSON object and nothing else:",
      R"({"memories":[{"kind":"profile|preference|fact|outcome|site","text":"...","confidence":0.0}],"procedure":{"title":"...","when":"...","steps":["..."],"sites":["..."]}|null,"note":"one sentence"})",
      "Rules:",
      "- profile: who the person is, when they say so: name, what to call them, where they live, "
      "their work, family, time zone. One short line each (\"Name: Yorrin\", \"Lives in Marrowby, "
      "TL\"). These are always shown to future jobs, so keep them few and sure.",
      "- preference: something the person wants in general (seat type, budget habits, tools they "
      "like). Only if they said it or clearly acted on it. One short sentence each, written about "
      "them (\"Prefers aisle seats\").",
      "- fact: a durable fact about them or their world (home airport, employer name, where files "
      "go). Not one-off details.",
      "- outcome: the result of this job in one line with the key numbers, so a repeat can start "
      "from it. At most one.",
      "- site: how one website works, so the next job there wastes no steps: which element to use, "
      "what to wait for, what to skip (a banner, a popup), where the answer appears. Written "
      "\"host: note\" (\"google.com: on Flights, the date fields are comboboxes; type the date and "
      "press Enter; results appear under Best flights\"). Only things that cost steps to find out "
      "this time. At most three.",
      "- procedure: only when the job succeeded and the method would work again for a similar job. "
      "Title under 8 words. Steps are 3 to 10 short imperative lines that a future run can follow, "
      "written generally (\"open Google Flights\", not the exact dates). sites lists the domains "
      "used. Set it to null for chat-only turns, failures and jobs that were trivial.",
      "- Never write passwords, codes, card or account numbers, addresses, or anything the person "
      "would not want kept. Skip private details of other people.",
      "- Fewer, better entries. Empty arrays are fine.",
  });
  return prompt;
}

const std::string& chat_prompt() {
  static const std::string prompt = join_lines({
      "You keep notes for velmor, an assistant that does computer jobs for one person. This was a "
      "chat turn, not a job. From what the PERSON said (never from velmor's reply), write down only "
      "durable things about them. Reply with one JSON object and nothing else:",
      R"({"memories":[{"kind":"profile|preference|fact","text":"...","confidence":0.0}],"procedure":null,"note":""})",
      "Rules:",
      "- profile: name or what to call them, where they live, their work, family, time zone. One "
      "short line each (\"Name: Yorrin\", \"Lives in Marrowby, TL\").",
      "- preference: what they want in general, when they say so (\"Prefers aisle seats\", \"Wants "
      "short answers\").",
      "- fact: a durable fact about their world (home airport, employer, where files go).",
      "- Skip anything about this one conversation, questions, moods, passwords, codes, card or "
      "account numbers, health, and details about other people.",
      "- Nothing durable: memories is an empty array.",
  });
  return prompt;
}

// Decodes the model's reflection; the error says what did not fit.
Result<Reflection> decode_reflection(const json& value) {
  Reflection out;
  Fields top(value);
  if (const json* memories = top.find("memories", Need::Optional)) {
    if (!memories->is_array()) {
      top.fail(std::string("invalid type for `memories`: expected a list, found ") +
               memories->type_name());
    } else {
      for (const auto& item : *memories) {
        NewMemory m;
        Fields f(item);
        f.get("kind", m.kind, Need::Required);
        f.get("text", m.text, Need::Required);
        f.get("confidence", m.confidence, Need::Optional);
        if (!f.ok()) {
          top.fail("memories: " + f.error());
          break;
        }
        out.memories.push_back(std::move(m));
      }
    }
  }
  if (const json* procedure = top.find("procedure", Need::Optional);
      procedure && !procedure->is_null()) {
    NewProcedure p;
    Fields f(*procedure);
    f.get("title", p.title, Need::Required);
    f.get("when", p.when, Need::Required);
    f.get("steps", p.steps, Need::Required);
    f.get("sites", p.sites, Need::Optional);
    if (f.ok())
      out.procedure = std::move(p);
    else
      top.fail("procedure: " + f.error());
  }
  top.get("note", out.note, Need::Optional);
  if (!top.ok()) return fail(Error::inference("reflection shape: " + top.error()));
  return out;
}

Result<Reflected> ask_for_reflection(model::ChatModel& client, const std::string& system,
                                     std::string user_message) {
  std::vector<model::Message> messages{{model::Role::User, std::move(user_message), std::nullopt}};
  auto reply = VELMOR_TRY(client.chat(system, messages));
  auto value = extract_json(reply.text);
  if (!value) return fail(Error::inference("reflection was not JSON"));
  auto reflection = VELMOR_TRY(decode_reflection(*value));
  return Reflected{std::move(reflection), reply.usage};
}

bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool has_long_digit_run(std::string_view text) {
  int run = 0;
  bool after_digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (++run >= 12) return true;
      after_digit = true;
    } else if ((c == ' ' || c == '-') && after_digit) {
      after_digit = false;  // one separator keeps the run; a second ends it
    } else {
      run = 0;
      after_digit = false;
    }
  }
  return false;
}

bool has_key_like_piece(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_ascii_space(text[i])) ++i;
    std::size_t start = i;
    bool plain = true;
    bool digit = false;
    for (; i < text.size() && !is_ascii_space(text[i]); ++i) {
      char c = text[i];
      if (c >= '0' && c <= '9')
        digit = true;
      else if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_'))
        plain = false;
    }
    if (i - start >= 32 && plain && digit) return true;
  }
  return false;
}

}  // namespace

std::optional<json> extract_json(std::string_view reply) {
  std::string_view s = core::trim(reply);
  while (s.starts_with("```json")) s.remove_prefix(7);
  while (s.starts_with("```")) s.remove_prefix(3);
  while (s.ends_with("```")) s.remove_suffix(3);
  s = core::trim(s);
  json value = json::parse(s, nullptr, /*allow_exceptions=*/false);
  if (!value.is_discarded()) return value;
  auto open = s.find('{');
  auto close = s.rfind('}');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  value = json::parse(s.substr(open, close - open + 1), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

bool looks_secret(std::string_view text) {
  static constexpr std::array<std::string_view, 7> kWords = {
      "password", "passcode", "one-time code", "otp", "cvv", "api key", "secret"};
  const std::string lowered = core::to_lower(text);
  for (auto word : kWords)
    if (lowered.find(word) != std::string::npos) return true;
  return has_long_digit_run(text) || has_key_like_piece(text);
}

Result<Reflected> reflect(model::ChatModel& client, std::string_view task,
                          std::string_view steps_text, std::string_view result) {
  std::string message = "Task:\n" + clip(task, 1200) + "\n\nSucceeded: true\n\nSteps taken:\n" +
                        clip(steps_text, 6000) + "\n\nResult given to the person:\n" +
                        clip(result, 2000);
  return ask_for_reflection(client, job_prompt(), std::move(message));
}

Result<Reflected> reflect_chat(model::ChatModel& client, std::string_view said,
                               std::string_view reply) {
  std::string message =
      "The person said:\n" + clip(said, 1500) + "\n\nvelmor replied:\n" + clip(reply, 600);
  return ask_for_reflection(client, chat_prompt(), std::move(message));
}

}  // namespace velmor::mind
