#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/config.h"
#include "core/files.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::core {
namespace {

class SettingsWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("VELMOR_HOME", (dir_ / "home").string());
    for (const char* k : {"XAI_MODEL", "XAI_API_KEY", "OPENAI_API_KEY", "CUA_URL"}) env_.keep(k);
  }
  std::filesystem::path env_file() const { return dir_ / "home" / ".env"; }
  std::string file() const { return read_file(env_file()).value_or("<missing>"); }

  velmor::testing::TempDir dir_;
  velmor::testing::CleanEnv env_;
};

TEST_F(SettingsWrite, AppendsInKeyOrderAndRemovesEmptiedKeys) {
  ASSERT_TRUE(write_file_atomic(env_file(), "# mine\nXAI_API_KEY=old\nCUA_URL = http://cua\n\njunk\n"));
  env_.set("XAI_API_KEY", "old");
  ASSERT_TRUE(
      write_settings(R"({"XAI_MODEL":"grok-4.7","XAI_API_KEY":"","OPENAI_API_KEY":" sk-1 "})"));
  EXPECT_EQ(file(), "CUA_URL=http://cua\nOPENAI_API_KEY=sk-1\nXAI_MODEL=grok-4.7\n");
  EXPECT_EQ(std::getenv("XAI_API_KEY"), nullptr);
  EXPECT_STREQ(std::getenv("XAI_MODEL"), "grok-4.7");
  EXPECT_STREQ(std::getenv("OPENAI_API_KEY"), "sk-1");
  struct stat st {};
  ASSERT_EQ(::stat(env_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The next load sees the new value.
  EXPECT_EQ(Config::from_env().value().xai_model, "grok-4.7");
}

TEST_F(SettingsWrite, NonStringMembersAreIgnored) {
  ASSERT_TRUE(write_settings(R"({"XAI_MODEL":"m","HOME":3,"CUA_URL":null})"));
  EXPECT_EQ(file(), "XAI_MODEL=m\n");
}

TEST_F(SettingsWrite, RefusalsLeaveTheFileUnchanged) {
  ASSERT_TRUE(write_file_atomic(env_file(), "CUA_URL=http://keep\n"));
  struct Case {
    const char* body;
    const char* error;
  } cases[] = {
      {"not json", "config: body must be JSON"},
      {"[1,2]", "config: body must be an object of KEY: value"},
      {R"({"HOME":"/tmp"})", "config: setting HOME is not allowed"},
      {R"({"xai_model":"m"})", "config: setting xai_model is not allowed"},
      {R"({"XAI_MODEL":"a\nb"})", "config: setting XAI_MODEL has a line break"},
      {R"({"XAI_MODEL":"a\rb"})", "config: setting XAI_MODEL has a line break"},
  };
  for (const auto& c : cases) {
    auto r = write_settings(c.body);
    ASSERT_FALSE(r) << c.body;
    EXPECT_EQ(r.error().to_string(), c.error);
    EXPECT_EQ(file(), "CUA_URL=http://keep\n") << c.body;
  }
}

TEST_F(SettingsWrite, MembersBeforeABadOneReachTheEnvironmentOnly) {
  // "CUA_URL" sorts before "HOME": it is applied to the environment, but
  // the refusal keeps the file as it was.
  auto r = write_settings(R"({"HOME":"x","CUA_URL":"http://new"})");
  ASSERT_FALSE(r);
  EXPECT_STREQ(std::getenv("CUA_URL"), "http://new");
  EXPECT_EQ(file(), "<missing>");
}

}  // namespace
}  // namespace velmor::core
