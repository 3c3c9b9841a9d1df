#include <gtest/gtest.h>

#include <fstream>

#include "code/code.h"
#include "core/files.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::code {
namespace {

using velmor::testing::CleanEnv;
using velmor::testing::TempDir;

std::vector<Coder> coders_with(std::initializer_list<std::string> installed) {
  auto coders = known_coders();
  for (auto& c : coders) c.installed = c.id == "native";
  for (auto& c : coders)
    for (const auto& id : installed)
      if (c.id == id) c.installed = true;
  return coders;
}

TEST(ChooseCoder, AutoPrefersExperienceThenAgentsThenNative) {
  struct Case {
    const char* what;
    std::vector<Coder> coders;
    std::map<std::string, CoderStats> record;
    std::string expected;
  } cases[] = {
      {"only native", coders_with({}), {}, "native"},
      {"agent before native", coders_with({"codex"}), {}, "codex"},
      {"table order among agents", coders_with({"aider", "claude"}), {}, "claude"},
      {"clearly better rate wins", coders_with({"codex", "claude"}),
       {{"codex", {10, 7, 0}}, {"claude", {10, 8, 0}}}, "claude"},
      {"not more than 0.05 better stays", coders_with({"codex", "claude"}),
       {{"codex", {10, 7, 0}}, {"claude", {20, 15, 0}}}, "codex"},
      {"two runs are not experience", coders_with({"codex", "claude"}),
       {{"claude", {2, 2, 0}}}, "codex"},
      {"experience beats table order", coders_with({"codex"}),
       {{"codex", {5, 0, 0}}, {"native", {3, 3, 0}}}, "native"},
      {"record of an absent coder is ignored", coders_with({}), {{"codex", {9, 9, 0}}}, "native"},
  };
  for (const auto& c : cases) {
    auto picked = choose_coder(c.coders, c.record, "auto");
    ASSERT_TRUE(picked) << c.what;
    EXPECT_EQ(picked->id, c.expected) << c.what;
  }
}

TEST(ChooseCoder, SettingNamesTheCoder) {
  auto picked = choose_coder(coders_with({"claude"}), {}, "claude");
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->id, "claude");
  auto missing = choose_coder(coders_with({"codex"}), {}, "claude");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), "claude is set as the coder in Settings but is not installed on this Mac.");
  EXPECT_FALSE(choose_coder(coders_with({}), {}, "Claude"));
}

TEST(ChooseCoder, NothingInstalledFails) {
  auto coders = coders_with({});
  for (auto& c : coders) c.installed = false;
  auto picked = choose_coder(coders, {}, "auto");
  ASSERT_FALSE(picked);
  EXPECT_EQ(picked.error(), "No coder is available.");
}

class CoderDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin_ / "aider");  // a directory is not a program
    std::ofstream(bin_ / "gemini") << "";   // execute bit not needed
    env_.set("PATH", "/nonexistent:" + bin_.string());
    env_.set("VELMOR_HOME", home_.path().string());
  }
  TempDir home_;
  fs::path bin_ = home_ / "bin";
  CleanEnv env_;
};

TEST_F(CoderDetection, FindsRegularFilesOnPath) {
  EXPECT_TRUE(on_path("gemini"));
  EXPECT_FALSE(on_path("aider"));
  EXPECT_FALSE(on_path("codex"));
  std::vector<std::string> installed;
  for (const auto& c : known_coders())
    if (c.installed) installed.push_back(c.id);
  EXPECT_EQ(installed, (std::vector<std::string>{"gemini", "native"}));
  EXPECT_EQ(path_with_homebrew(), "/opt/homebrew/bin:/usr/local/bin:/nonexistent:" + bin_.string());
}

TEST_F(CoderDetection, SettingAndPickUseTheEnvironment) {
  EXPECT_EQ(coder_setting(), "auto");
  env_.set("VELMOR_CODER", "   ");
  EXPECT_EQ(coder_setting(), "auto");
  EXPECT_EQ(pick_coder()->id, "gemini");
  env_.set("VELMOR_CODER", " native");
  EXPECT_EQ(coder_setting(), " native");  // not trimmed, so it names no coder
  EXPECT_FALSE(pick_coder());
  env_.set("VELMOR_CODER", "native");
  EXPECT_EQ(pick_coder()->id, "native");
}

TEST_F(CoderDetection, RecordAddsRunsAndWritesSortedKeys) {
  auto file = home_ / "nested" / "coders.json";
  ASSERT_TRUE(CoderRecord::record(file, "native", true, 12));
  ASSERT_TRUE(CoderRecord::record(file, "codex", false, 30));
  ASSERT_TRUE(CoderRecord::record(file, "native", false, 3));
  auto stats = CoderRecord::load(file);
  ASSERT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats["native"].runs, 2u);
  EXPECT_EQ(stats["native"].ok, 1u);
  EXPECT_EQ(stats["native"].seconds, 15u);
  EXPECT_EQ(*core::read_file(file),
            "{\n  \"codex\": {\n    \"runs\": 1,\n    \"ok\": 0,\n    \"seconds\": 30\n  },\n"
            "  \"native\": {\n    \"runs\": 2,\n    \"ok\": 1,\n    \"seconds\": 15\n  }\n}");
}

TEST_F(CoderDetection, MalformedRecordLoadsEmpty) {
  auto file = home_ / "coders.json";
  for (std::string text : {"[]", "{\"codex\":{\"runs\":1,\"ok\":1}}", "{\"codex\":{\"runs\":-1,\"ok\":0,\"seconds\":0}}",
                           "nonsense"}) {
    std::ofstream(file) << text;
    EXPECT_TRUE(CoderRecord::load(file).empty()) << text;
  }
}

TEST_F(CoderDetection, StatusShowsTableRecordReposAndPick) {
  ASSERT_TRUE(CoderRecord::record(CoderRecord::default_file(), "native", true, 4));
  fs::create_directories(home_ / "shop");
  ASSERT_TRUE(Repos::open_default().upsert({"shop", (home_ / "shop").string(), "", ""}));
  auto s = status();
  ASSERT_EQ(s["coders"].size(), 6u);
  EXPECT_EQ(s["coders"][2], (nlohmann::json{{"id", "gemini"}, {"title", "Gemini CLI"}, {"present", true},
                                             {"needs", "Google account (`npm i -g @google/gemini-cli`)"}}));
  EXPECT_EQ(s["picked"], "gemini");
  EXPECT_EQ(s["record"]["native"], (nlohmann::json{{"runs", 1}, {"ok", 1}, {"seconds", 4}}));
  EXPECT_EQ(s["repos"][0]["name"], "shop");
  EXPECT_EQ(s["setting"], "auto");
  env_.set("VELMOR_CODER", "codex");
  EXPECT_TRUE(status()["picked"].is_null());
}

}  // namespace
}  // namespace velmor::code
