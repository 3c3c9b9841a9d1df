#include "tools/desktop.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/utf8.h"
#include "desktop_fake_computer.h"

namespace velmor::tools {
namespace {

using nlohmann::json;
using testing::FakeComputer;
using namespace std::chrono_literals;

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

std::string not_running(const std::string& base, const std::string& why) {
  return "computer: Cua computer server is not running at " + base +
         ". Start it yourself when you want the desktop driven: pip install "
         "\"cua-computer-server[driver]\" && python -m computer_server. velmor does not start it. (" +
         why + ")";
}

TEST(Desktop, ChecksArgumentsBeforeAnythingIsSent) {
  FakeComputer computer;
  Desktop desktop(computer.url(), 0ms);
  ASSERT_TRUE(desktop.cua());  // status check and screen size out of the way
  struct Case {
    std::string name;
    json args;
    std::optional<std::string> error;  // none: accepted and sent unchanged
  } cases[] = {
      {"left_click", {{"x", "640"}, {"y", 400}}, std::nullopt},
      {"left_click", {{"x", 20000}, {"y", 0}}, std::nullopt},
      {"right_click", {{"x", 12.7}, {"y", "+3"}}, std::nullopt},
      {"double_click", {{"x", -1}, {"y", 400}}, "coordinates -1,400 are outside 0..=20000"},
      {"move_cursor", {{"x", 5}, {"y", 20001}}, "coordinates 5,20001 are outside 0..=20000"},
      {"left_click", {{"x", "12px"}, {"y", 4}}, "click needs numeric x and y"},
      {"left_click", {{"x", 1}}, "click needs numeric x and y"},
      {"left_click", {{"x", true}, {"y", 1}}, "click needs numeric x and y"},
      {"left_click", json::array({1, 2}), "click needs numeric x and y"},
      {"type_text", {{"text", repeat("\xC3\xA9", 2000)}}, std::nullopt},
      {"type_text", {{"text", ""}}, "type_text needs a text value up to 2000 characters"},
      {"type_text", {{"text", repeat("a", 2001)}}, "type_text needs a text value up to 2000 characters"},
      {"type_text", {{"text", 42}}, "type_text needs a text value up to 2000 characters"},
      {"press_key", {{"key", "Return"}}, std::nullopt},
      {"press_key", {{"key", repeat("k", 32)}}, std::nullopt},
      {"press_key", {{"key", repeat("k", 33)}}, "rejected key name `" + repeat("k", 33) + "`"},
      {"press_key", {{"key", "page down"}}, "rejected key name `page down`"},
      {"press_key", {{"key", "\xC3\xA9"}}, "rejected key name `\xC3\xA9`"},
      {"press_key", json::object(), "rejected key name ``"},
      {"hotkey", {{"keys", {"cmd", "shift", "4"}}}, std::nullopt},
      {"hotkey", {{"keys", {"ctrl+c"}}}, std::nullopt},
      {"hotkey", {{"keys", {"a", "b", "c", "d", "e"}}}, "hotkey accepts 1 to 4 keys"},
      {"hotkey", {{"keys", json::array()}}, "hotkey accepts 1 to 4 keys"},
      {"hotkey", {{"keys", "cmd+c"}}, "hotkey needs a keys array"},
      {"hotkey", {{"keys", {"cmd", "page up"}}}, "rejected key name `page up`"},
      {"hotkey", {{"keys", {"cmd", 5}}}, "rejected key name ``"},
      {"scroll", {{"x", -5}, {"direction", "sideways"}}, std::nullopt},
      {"scroll_down", nullptr, std::nullopt},
      {"open_app", {{"name", "Terminal"}}, "blocked desktop command `open_app`"},
      {"Screenshot", json::object(), "blocked desktop command `Screenshot`"},
  };
  for (const auto& c : cases) {
    auto before = computer.received().size();
    auto result = desktop.call({c.name, c.args});
    auto got = computer.received();
    if (c.error) {
      ASSERT_FALSE(result) << c.name << " " << c.args.dump();
      EXPECT_EQ(result.error().to_string(), "computer: " + *c.error) << c.args.dump();
      EXPECT_EQ(got.size(), before) << "nothing may reach the server: " << c.args.dump();
    } else {
      ASSERT_TRUE(result) << c.name << " " << c.args.dump() << ": " << result.error().to_string();
      // The action, then the screenshot after it.
      ASSERT_EQ(got.size(), before + 2) << c.args.dump();
      EXPECT_EQ(got[before].command, c.name);
      EXPECT_EQ(got[before].params, c.args) << "arguments pass through unchanged";
      EXPECT_EQ(got[before + 1].command, "screenshot");
    }
  }
}

TEST(Desktop, ActionSendsTheCommandSettlesAndTakesAScreenshot) {
  FakeComputer computer;
  computer.answer("left_click", {200, R"({"success": true, "clicked": [640, 400]})"});
  Desktop desktop(computer.url() + "///", 120ms);

  auto result = desktop.call({"left_click", {{"x", "640"}, {"y", 400}}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_EQ(result->text, R"({"clicked":[640,400],"success":true})");
  EXPECT_FALSE(result->url);
  ASSERT_TRUE(result->image);
  EXPECT_EQ(result->image->mime, "image/png");
  EXPECT_EQ(result->image->data, FakeComputer::kImage);
  EXPECT_EQ(desktop.screen(), R"({"height":900,"width":1440})");

  auto got = computer.received();
  ASSERT_EQ(computer.commands(),
            (std::vector<std::string>{"get_screen_size", "left_click", "screenshot"}));
  EXPECT_EQ(got[1].member_order, (std::vector<std::string>{"command", "params"}));
  EXPECT_EQ(got[1].content_type, "application/json");
  EXPECT_EQ(got[0].params, json::object());
  EXPECT_GE(got[2].at - got[1].at, 120ms) << "the screen settles before the screenshot";

  // The client stays: no second status check.
  ASSERT_TRUE(desktop.call({"scroll_up", json::object()}));
  EXPECT_EQ(computer.status_checks(), 1);
}

TEST(Desktop, FindsTheImageWhereverTheServerPutsIt) {
  struct Case {
    std::string body;
    std::optional<std::string> image;
  } cases[] = {
      {R"({"image_data": "QUJD"})", "QUJD"},
      {R"({"screenshot": 5, "data": " data:image/jpeg;base64,QUJD "})", "QUJD"},
      {R"({"success": true, "result": {"base64": "data:image/png;base64,QUJD"}})", "QUJD"},
      {R"({"result": {"result": "QUJD"}})", "QUJD"},
      {R"({"base64": "first", "image_data": "QUJD"})", "QUJD"},
      {"data: {\"result\": {\"screenshot\": \"QUJD\"}}\n\n", "QUJD"},
      {R"({"result": {"ok": true}})", std::nullopt},
      {R"({"image_data": ""})", std::nullopt},
      {R"("QUJD")", std::nullopt},
      {R"([{"image_data": "QUJD"}])", std::nullopt},
  };
  FakeComputer computer;
  Desktop desktop(computer.url(), 0ms);
  for (const auto& c : cases) {
    computer.answer("screenshot", {200, c.body});
    auto shot = desktop.call({"screenshot", json::object()});
    auto action = desktop.call({"scroll", json::object()});
    ASSERT_TRUE(action) << c.body;
    if (c.image) {
      ASSERT_TRUE(shot) << c.body << ": " << shot.error().to_string();
      EXPECT_EQ(shot->text, "screenshot taken");
      ASSERT_TRUE(shot->image);
      EXPECT_EQ(shot->image->mime, "image/png");
      EXPECT_EQ(shot->image->data, *c.image) << c.body;
      EXPECT_TRUE(action->image) << c.body;
    } else {
      ASSERT_FALSE(shot) << c.body;
      EXPECT_EQ(shot.error().to_string(),
                "computer: the computer server sent no image. Check that it is running.");
      // After an action a missing screenshot only drops the image.
      EXPECT_FALSE(action->image) << c.body;
    }
  }
}

TEST(Desktop, ReadsServerSentEventsAndPlainJson) {
  struct Case {
    std::string body;
    std::optional<std::string> text;  // none: the not-json error
  } cases[] = {
      {"data: {\"step\": 1}\n\ndata: {\"step\": 2}\n\ndata: not json\n\n", R"({"step":2})"},
      {"event: progress\r\ndata: [1]\r\n\r\n  data:\"done\"  \r\n", R"("done")"},
      {"data:\ndata: 1\n", "1"},
      {"  {\"ok\": true}\n", R"({"ok":true})"},
      {"data: nope\n\ndata: still not\n", std::nullopt},
      {"<html>busy</html>", std::nullopt},
      {"", std::nullopt},
  };
  FakeComputer computer;
  Desktop desktop(computer.url(), 0ms);
  for (const auto& c : cases) {
    computer.answer("scroll", {200, c.body});
    auto result = desktop.call({"scroll", json::object()});
    if (c.text) {
      ASSERT_TRUE(result) << c.body << ": " << result.error().to_string();
      EXPECT_EQ(result->text, *c.text) << c.body;
    } else {
      ASSERT_FALSE(result) << c.body;
      EXPECT_TRUE(result.error().to_string().starts_with("computer: cua response was not json: "))
          << result.error().to_string();
    }
  }
}

TEST(Desktop, LongAnswersAreCutAndServerErrorsNamed) {
  FakeComputer computer;
  Desktop desktop(computer.url(), 0ms);
  computer.answer("type_text", {200, json({{"echo", repeat("\xC3\xA9", 3000)}}).dump()});
  auto typed = desktop.call({"type_text", {{"text", "hello"}}});
  ASSERT_TRUE(typed);
  EXPECT_EQ(core::char_count(typed->text), 2001u);
  EXPECT_TRUE(typed->text.ends_with("\xC3\xA9…"));

  computer.answer("press_key", {500, R"({"error": "no focus"})"});
  auto pressed = desktop.call({"press_key", {{"key", "Tab"}}});
  ASSERT_FALSE(pressed);
  EXPECT_EQ(pressed.error().to_string(), "computer: cua press_key: HTTP status 500");

  // A screen size the server cannot give does not stop the desktop.
  FakeComputer sizeless;
  sizeless.answer("get_screen_size", {404, "{}"});
  Desktop other(sizeless.url(), 0ms);
  ASSERT_TRUE(other.call({"scroll", json::object()}));
  EXPECT_EQ(other.screen(), "(unknown)");
}

TEST(Desktop, ServerDownThenUpWithoutARestart) {
  int port = 0;
  {
    FakeComputer gone;
    port = gone.port();
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  Desktop desktop(base + "/", 0ms);
  EXPECT_EQ(desktop.screen(), "");
  for (const char* name : {"screenshot", "left_click"}) {
    auto result = desktop.call({name, {{"x", 1}, {"y", 1}}});
    ASSERT_FALSE(result) << name;
    // The message ends with the connection error in parentheses.
    auto lead = not_running(base, "");
    lead.pop_back();
    auto text = result.error().to_string();
    EXPECT_TRUE(text.starts_with(lead)) << text;
    EXPECT_TRUE(text.ends_with(")") && text.size() > lead.size() + 1) << text;
  }
  EXPECT_EQ(desktop.screen(), "") << "a failed check leaves the desktop as it was";

  FakeComputer computer(port);
  // Running but not healthy is not running either.
  computer.status_reply(503);
  auto unhealthy = desktop.call({"screenshot", json::object()});
  ASSERT_FALSE(unhealthy);
  EXPECT_EQ(unhealthy.error().to_string(), not_running(base, "HTTP status 503"));

  computer.status_reply(200);
  auto result = desktop.call({"left_click", {{"x", 10}, {"y", 20}}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_EQ(computer.status_checks(), 2);
  EXPECT_EQ(computer.commands(),
            (std::vector<std::string>{"get_screen_size", "left_click", "screenshot"}));
}

TEST(Desktop, ReadsIntegersLeniently) {
  using Limits = std::numeric_limits<std::int64_t>;
  struct Case {
    json value;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {640, 640},
      {-1, -1},
      {12.9, 12},
      {-12.9, -12},
      {1e300, Limits::max()},
      {-1e300, Limits::min()},
      {18446744073709551615u, Limits::max()},
      {"640", 640},
      {"+7", 7},
      {"-7", -7},
      {"9223372036854775807", Limits::max()},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"+-1", std::nullopt},
      {" 5", std::nullopt},
      {"5.0", std::nullopt},
      {true, std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(as_i64(c.value), c.expected) << c.value.dump();
}

}  // namespace
}  // namespace velmor::tools
