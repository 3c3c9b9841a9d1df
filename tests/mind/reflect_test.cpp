#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "mind/mind.h"

namespace velmor::mind {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Answers each chat with the next scripted reply and keeps what it was sent.
class ScriptedModel : public model::ChatModel {
 public:
  std::deque<Result<model::ChatReply>> replies;
  std::vector<std::string> systems;
  std::vector<std::vector<model::Message>> sent;

  void reply(std::string text, model::TokenUse usage = {}) {
    replies.push_back(model::ChatReply{std::move(text), usage});
  }

  Result<model::ChatReply> chat(const std::string& system,
                                const std::vector<model::Message>& messages) override {
    systems.push_back(system);
    sent.push_back(messages);
    if (replies.empty()) return fail(Error::inference("no scripted reply left"));
    auto next = std::move(replies.front());
    replies.pop_front();
    return next;
  }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  out.push_back(text.substr(start));
  return out;
}

TEST(ExtractJson, FindsTheValueInAReply) {
  const struct {
    const char* reply;
    const char* want;  // compact JSON, or nullptr for none
  } cases[] = {
      {R"({"a":1})", R"({"a":1})"},
      {"```json\n{\"a\": 1}\n```", R"({"a":1})"},
      {"  ```\n[1, 2]\n```  ", "[1,2]"},
      {"```json```json\n{\"a\":1}\n``````", R"({"a":1})"},
      {"Here is what I kept:\n{\"a\": {\"b\": [1]}}\nHope that helps.", R"({"a":{"b":[1]}})"},
      {"42", "42"},
      {"\"just a string\"", "\"just a string\""},
      {"Nothing worth keeping this time.", nullptr},
      {"{ \"a\": 1", nullptr},
      {"} backwards {", nullptr},
      {"two {\"a\":1} objects {\"b\":2}", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    auto got = extract_json(c.reply);
    if (!c.want) {
      EXPECT_FALSE(got) << c.reply;
      continue;
    }
    ASSERT_TRUE(got) << c.reply;
    EXPECT_EQ(got->dump(), c.want) << c.reply;
  }
}

TEST(LooksSecret, RefusesSecretsAndKeepsOrdinaryNumbers) {
  const struct {
    const char* text;
    bool secret;
  } cases[] = {
      {"Card 4111 1111 1111 1111 on file", true},
      {"Card 4111-1111-1111-1111", true},
      {"account 123456789012", true},
      {"Phone 555-123-4567", false},
      {"Phone 555 123 4567 and 2025", false},
      {"digits 123456  789012 with a double space", false},
      {"digits 123456--789012 with a double hyphen", false},
      {"The wifi PASSWORD is on the fridge", true},
      {"uses a passcode", true},
      {"enter the one-time code", true},
      {"the hotpot restaurant", true},  // "otp" inside a word counts
      {"CVV on the back", true},
      {"their API key", true},
      {"a secret santa", true},
      {"token sk-proj-abcdefghijklmnopqrstuvwxyz012345", true},
      {"abcdefghijklmnopqrstuvwxyzabcdefgh has no digit", false},
      {"short-key_123", false},
      {"Prefers aisle seats", false},
      {"Home airport is BOS, flight 1234", false},
  };
  for (const auto& c : cases) EXPECT_EQ(looks_secret(c.text), c.secret) << c.text;
}

TEST(Reflect, SendsTheClippedJobAndDecodesTheReply) {
  ScriptedModel model;
  model.reply(
      "```json\n"
      R"({"memories":[{"kind":"preference","text":"Prefers aisle seats","confidence":1},)"
      R"({"kind":"fact","text":"Home airport is BOS"}],)"
      R"("procedure":{"title":"Find cheap flights","when":"a flight is needed",)"
      R"("steps":["open the flight search","sort by price"]},"note":"Went well","extra":true})"
      "\n```",
      {100, 20, 30, false});
  const std::string task(1300, 't');
  const std::string steps(7000, 's');
  const std::string result(2500, 'r');
  auto got = reflect(model, task, steps, result);
  ASSERT_TRUE(got) << got.error().long_form();

  ASSERT_EQ(model.sent.size(), 1u);
  ASSERT_EQ(model.sent[0].size(), 1u);
  EXPECT_EQ(model.sent[0][0].role, model::Role::User);
  EXPECT_EQ(model.sent[0][0].text, "Task:\n" + std::string(1200, 't') +
                                       "\n\nSucceeded: true\n\nSteps taken:\n" +
                                       std::string(6000, 's') +
                                       "\n\nResult given to the person:\n" + std::string(2000, 'r'));
  const auto system = lines_of(model.systems[0]);
  ASSERT_EQ(system.size(), 11u);
  EXPECT_THAT(system[0], StartsWith("You keep notes for velmor, an assistant that does long "));
  EXPECT_EQ(system[2], "Rules:");
  EXPECT_THAT(system[7], HasSubstr("(\"google.com: on Flights, the date fields are comboboxes;"));
  EXPECT_EQ(system[10], "- Fewer, better entries. Empty arrays are fine.");

  const auto& r = got->reflection;
  ASSERT_EQ(r.memories.size(), 2u);
  EXPECT_EQ(r.memories[0].confidence, 1.0);
  EXPECT_EQ(r.memories[1].confidence, 0.7);
  ASSERT_TRUE(r.procedure);
  EXPECT_EQ(r.procedure->steps.size(), 2u);
  EXPECT_TRUE(r.procedure->sites.empty());
  EXPECT_EQ(r.note, "Went well");
  EXPECT_EQ(got->usage.input_tokens, 100u);
  EXPECT_EQ(got->usage.output_tokens, 30u);
}

TEST(Reflect, RepliesThatDoNotFitAreInferenceErrors) {
  const struct {
    const char* reply;
    const char* error;  // prefix of the error text
  } cases[] = {
      {"I learned nothing new.", "inference: reflection was not JSON"},
      {R"([{"kind":"fact","text":"x"}])", "inference: reflection shape: "},
      {R"({"memories":[{"kind":"fact"}]})", "inference: reflection shape: "},
      {R"({"memories":[{"kind":"fact","text":"x","confidence":"high"}]})",
       "inference: reflection shape: "},
      {R"({"procedure":{"title":"t","when":"w"}})", "inference: reflection shape: "},
      {R"({"memories":{"kind":"fact"}})", "inference: reflection shape: "},
      {R"({"note":3})", "inference: reflection shape: "},
  };
  for (const auto& c : cases) {
    ScriptedModel model;
    model.reply(c.reply);
    auto got = reflect(model, "task", "steps", "result");
    ASSERT_FALSE(got) << c.reply;
    EXPECT_THAT(got.error().to_string(), StartsWith(c.error)) << c.reply;
  }
  ScriptedModel empty_object;
  empty_object.reply("Sure: {} that is all");
  auto nothing = reflect(empty_object, "task", "steps", "result");
  ASSERT_TRUE(nothing);
  EXPECT_TRUE(nothing->reflection.memories.empty());
  EXPECT_FALSE(nothing->reflection.procedure);
  EXPECT_EQ(nothing->reflection.note, "");
}

TEST(Reflect, ModelFailureIsReturnedUnchanged) {
  ScriptedModel model;
  model.replies.push_back(fail(Error::inference("openai: 429 too many requests")));
  auto got = reflect(model, "task", "steps", "result");
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().to_string(), "inference: openai: 429 too many requests");
}

TEST(ReflectChat, SendsWhatThePersonSaidAndTheClippedReply) {
  ScriptedModel model;
  model.reply(R"({"memories":[{"kind":"profile","text":"Name: Yorrin","confidence":0.9}],"procedure":null,"note":""})");
  auto got = reflect_chat(model, std::string(1600, 'p') + "é", std::string(700, 'v'));
  ASSERT_TRUE(got);
  EXPECT_EQ(model.sent[0][0].text, "The person said:\n" + std::string(1500, 'p') +
                                       "\n\nvelmor replied:\n" + std::string(600, 'v'));
  const auto system = lines_of(model.systems[0]);
  ASSERT_EQ(system.size(), 8u);
  EXPECT_THAT(system[0], HasSubstr("This was a chat turn, not a job."));
  EXPECT_EQ(system[1],
            R"({"memories":[{"kind":"profile|preference|fact","text":"...","confidence":0.0}],"procedure":null,"note":""})");
  EXPECT_EQ(system[7], "- Nothing durable: memories is an empty array.");
  ASSERT_EQ(got->reflection.memories.size(), 1u);
  EXPECT_FALSE(got->reflection.procedure);

  ScriptedModel prose;
  prose.reply("Nice to meet you!");
  EXPECT_EQ(reflect_chat(prose, "hi", "hello").error().to_string(),
            "inference: reflection was not JSON");
}

}  // namespace
}  // namespace velmor::mind
