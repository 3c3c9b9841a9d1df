#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <map>

#include "tools/browser.h"

namespace velmor::tools {
namespace {

using namespace std::chrono_literals;

// What happened to the fakes, kept outside them: the park frees a browser
// right after closing it.
struct Journal {
  std::map<std::string, int> closes;
  std::map<std::string, bool> park_free_while_closing;
};

// A browser that notes its closes and checks, while closing, that the park
// it sits in is not locked (a locked park would leave the probe waiting).
struct FakeBrowser : BrowserTool {
  FakeBrowser(std::string n, std::shared_ptr<Journal> j, BrowserPark* p, bool s = true)
      : name(std::move(n)), journal(std::move(j)), park(p), is_started(s) {}
  Result<ToolResult> call(const ToolCall&) override { return ToolResult{name, {}, {}}; }
  void close() override {
    ++journal->closes[name];
    auto probe = std::async(std::launch::async, [p = park] { return p->size(); });
    journal->park_free_while_closing[name] = probe.wait_for(2s) == std::future_status::ready;
  }
  void set_focus(std::string) override {}
  bool started() const override { return is_started; }

  std::string name;
  std::shared_ptr<Journal> journal;
  BrowserPark* park;
  bool is_started;
};

class Park : public ::testing::Test {
 protected:
  void put(const std::string& key, const std::string& name,
           std::optional<std::string> url = std::nullopt, bool started = true) {
    park_.park(key, std::make_unique<FakeBrowser>(name, journal_, &park_, started), std::move(url));
  }
  static std::string name_of(const ParkedBrowser& p) {
    return static_cast<FakeBrowser*>(p.browser.get())->name;
  }

  std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::time_point(1h);
  BrowserPark park_{[this] { return now_; }};
  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
};

TEST_F(Park, TakeReturnsTheBrowserWithItsPageOnce) {
  put("s_1", "first", "https://example.com/cart");
  put("s_2", "second");
  auto taken = park_.take("s_1");
  ASSERT_TRUE(taken);
  EXPECT_EQ(name_of(*taken), "first");
  EXPECT_EQ(taken->url, "https://example.com/cart");
  EXPECT_FALSE(park_.take("s_1"));
  EXPECT_EQ(park_.size(), 1u);
  EXPECT_TRUE(journal_->closes.empty());
}

TEST_F(Park, ParkingUnderAnOccupiedKeyClosesTheOlderOutsideTheLock) {
  put("s_1", "old");
  put("s_1", "newer");
  EXPECT_EQ(journal_->closes["old"], 1);
  EXPECT_TRUE(journal_->park_free_while_closing["old"]);
  auto taken = park_.take("s_1");
  ASSERT_TRUE(taken);
  EXPECT_EQ(name_of(*taken), "newer");
}

TEST_F(Park, EntriesExpireAfterTwentyMinutes) {
  put("a", "a");
  put("b", "b");
  now_ += 1200s;
  auto a = park_.take("a");  // exactly 1200 s old is still kept
  ASSERT_TRUE(a);
  EXPECT_EQ(name_of(*a), "a");
  now_ += 1s;
  EXPECT_FALSE(park_.take("b"));  // 1201 s: closed, not returned
  EXPECT_EQ(journal_->closes["b"], 1);
  EXPECT_TRUE(journal_->park_free_while_closing["b"]);
  EXPECT_EQ(park_.size(), 0u);
}

TEST_F(Park, ParkingSweepsExpiredEntriesOfOtherKeys) {
  put("old", "old");
  now_ += 1201s;
  put("fresh", "fresh");
  EXPECT_EQ(journal_->closes["old"], 1);
  EXPECT_EQ(park_.size(), 1u);
}

TEST_F(Park, NeverStartedBrowsersAreNotKept) {
  put("s_1", "idle", std::nullopt, false);
  park_.park("s_2", nullptr, std::nullopt);
  EXPECT_EQ(park_.size(), 0u);
}

TEST_F(Park, DropAndCloseAllCloseEveryBrowserOutsideTheLock) {
  for (const char* key : {"a", "b", "c"}) put(key, key);
  park_.drop("b");
  park_.drop("missing");
  EXPECT_EQ(journal_->closes, (std::map<std::string, int>{{"b", 1}}));
  park_.close_all();
  EXPECT_EQ(journal_->closes, (std::map<std::string, int>{{"a", 1}, {"b", 1}, {"c", 1}}));
  for (const auto& [name, free] : journal_->park_free_while_closing) EXPECT_TRUE(free) << name;
  EXPECT_EQ(park_.size(), 0u);
}

}  // namespace
}  // namespace velmor::tools
