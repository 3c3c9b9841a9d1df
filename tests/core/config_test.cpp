#include "core/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::core {
namespace {

namespace fs = std::filesystem;
using velmor::testing::CleanEnv;
using velmor::testing::TempDir;

// Each test runs from an empty working directory of its own, with a home of
// its own and no setting variables.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    fs::create_directories(dir_ / "work" / "deep");
    fs::current_path(dir_ / "work" / "deep");
    env_.set("VELMOR_HOME", (dir_ / "home").string());
  }
  void TearDown() override { fs::current_path(old_cwd_); }

  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  TempDir dir_;
  CleanEnv env_;
  fs::path old_cwd_;
};

TEST_F(ConfigTest, DefaultsWhenNothingIsSet) {
  auto c = Config::from_env().value();
  EXPECT_EQ(c.qdrant_url, "http://127.0.0.1:6333");
  EXPECT_EQ(c.graph, "thinkweave");
  EXPECT_EQ(c.tenant, "default");
  EXPECT_EQ(c.quv_model, "quv-latest");
  EXPECT_EQ(c.llm_model, "local-heuristic");
  EXPECT_EQ(c.llm_timeout_secs, 60u);
  EXPECT_EQ(c.xai_model, "grok-4.7");
  EXPECT_EQ(c.cua_url, "http://127.0.0.1:8000");
  EXPECT_EQ(c.model_provider, "auto");
  EXPECT_EQ(c.openai_model, "gpt-5.5");
  EXPECT_EQ(c.anthropic_model, "claude-sonnet-5-5");
  EXPECT_EQ(c.chatgpt_model, "gpt-5.5");
  EXPECT_EQ(c.openai_client_id.size(), 20u);
  EXPECT_EQ(c.openai_client_id.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), std::string::npos);
  EXPECT_FALSE(c.llm_api_key);
  EXPECT_FALSE(c.openai_api_key);
}

TEST_F(ConfigTest, ValidationFailures) {
  struct Case {
    const char* name;
    const char* value;
    const char* error;
  } cases[] = {
      {"QDRANT_URL", "   ", "config: QDRANT_URL is empty"},
      {"QDRANT_URL", "", "config: QDRANT_URL is empty"},
      {"VELMOR_GRAPH", "", "config: VELMOR_GRAPH is empty"},
  };
  for (const auto& c : cases) {
    velmor::testing::EnvGuard local;
    local.set(c.name, c.value);
    auto config = Config::from_env();
    ASSERT_FALSE(config) << c.name;
    EXPECT_EQ(config.error().to_string(), c.error);
    EXPECT_EQ(config.error().kind(), ErrorKind::Config);
  }
}

TEST_F(ConfigTest, AsIsFieldsKeepTheirSpaces) {
  env_.set("QDRANT_URL", " http://q:1 ");
  env_.set("VELMOR_GRAPH", " g ");
  env_.set("VELMOR_TENANT", " ");
  auto c = Config::from_env().value();
  EXPECT_EQ(c.qdrant_url, " http://q:1 ");
  EXPECT_EQ(c.graph, " g ");
  EXPECT_EQ(c.tenant, " ");
}

TEST_F(ConfigTest, FirstNonemptySkipsBlankValuesAndTrims) {
  env_.set("LLM_API_KEY", " \t ");
  env_.set("OPENAI_API_KEY", "  sk-openai  ");
  env_.set("LLM_MODEL", "");
  env_.set("OPENAI_MODEL", "gpt-x");
  auto c = Config::from_env().value();
  EXPECT_EQ(c.llm_api_key, "sk-openai");
  EXPECT_EQ(c.openai_api_key, "sk-openai");
  EXPECT_EQ(c.llm_model, "gpt-x");
  EXPECT_EQ(c.openai_model, "gpt-x");
  env_.set("LLM_API_BASE", "http://base");
  EXPECT_EQ(Config::from_env().value().llm_api_url, "http://base");
  env_.set("OPENAI_BASE_URL", "http://openai-base");
  EXPECT_EQ(Config::from_env().value().llm_api_url, "http://openai-base");
}

TEST_F(ConfigTest, FirstNonemptyIgnoresInvalidUtf8) {
  env_.set("LLM_API_KEY", "bad\xFF");
  env_.set("OPENAI_API_KEY", "good");
  EXPECT_EQ(first_nonempty({"LLM_API_KEY", "OPENAI_API_KEY"}), "good");
  EXPECT_EQ(first_nonempty({"VELMOR_TEST_NEVER_SET"}), std::nullopt);
}

TEST_F(ConfigTest, TimeoutFallbacks) {
  struct Case {
    const char* llm;  // nullptr: unset
    const char* quv;
    std::uint64_t want;
  } cases[] = {
      {"abc", "30", 60}, {nullptr, "30", 30}, {"+45", nullptr, 45},  {"", "30", 60},
      {" 45", nullptr, 60}, {"18446744073709551616", nullptr, 60}, {nullptr, nullptr, 60},
      {"18446744073709551615", nullptr, 18446744073709551615ull}, {"-5", nullptr, 60},
  };
  for (const auto& c : cases) {
    velmor::testing::EnvGuard local;
    c.llm ? local.set("LLM_TIMEOUT_SECS", c.llm) : local.unset("LLM_TIMEOUT_SECS");
    c.quv ? local.set("QUV_TIMEOUT_SECS", c.quv) : local.unset("QUV_TIMEOUT_SECS");
    EXPECT_EQ(Config::from_env().value().llm_timeout_secs, c.want)
        << (c.llm ? c.llm : "unset") << " / " << (c.quv ? c.quv : "unset");
  }
}

TEST_F(ConfigTest, ProviderIsLowerCased) {
  env_.set("MODEL_PROVIDER", " OpenAI ");
  EXPECT_EQ(Config::from_env().value().model_provider, "openai");
}

TEST_F(ConfigTest, DotenvPrecedenceEnvironmentThenWorkingDirectoryThenHome) {
  // The nearest .env upwards from the working directory is the one read.
  write(dir_ / "work" / ".env", "XAI_MODEL=from-work\nXAI_API_URL=\"http://work/v1\"\n");
  write(dir_ / "home" / ".env", "XAI_MODEL=from-home\nCUA_URL=http://home-cua\n# comment\n");
  env_.keep("XAI_MODEL");
  env_.keep("XAI_API_URL");
  env_.keep("CUA_URL");
  auto c = Config::from_env().value();
  EXPECT_EQ(c.xai_model, "from-work");
  EXPECT_EQ(c.xai_api_url, "http://work/v1");
  EXPECT_EQ(c.cua_url, "http://home-cua");

  env_.set("XAI_MODEL", "exported");
  EXPECT_EQ(Config::from_env().value().xai_model, "exported");
}

TEST_F(ConfigTest, DotenvStopsAtTheFirstUnreadableLine) {
  write(dir_ / "work" / "deep" / ".env", "A_FIRST=1\nthis line is not a setting\nA_AFTER=2\n");
  env_.keep("A_FIRST");
  env_.keep("A_AFTER");
  ASSERT_TRUE(Config::from_env());
  EXPECT_STREQ(std::getenv("A_FIRST"), "1");
  EXPECT_EQ(std::getenv("A_AFTER"), nullptr);
}

TEST_F(ConfigTest, HomeDirectory) {
  env_.set("VELMOR_HOME", "  /tmp/with spaces  ");
  EXPECT_EQ(Config::home_dir(), fs::path("  /tmp/with spaces  "));
  env_.set("VELMOR_HOME", "   ");
  env_.set("HOME", "/Users/pat");
  EXPECT_EQ(Config::home_dir(), fs::path("/Users/pat/Library/Application Support/velmor"));
  env_.unset("VELMOR_HOME");
  env_.unset("HOME");
  EXPECT_EQ(Config::home_dir(), fs::path("./Library/Application Support/velmor"));
}

}  // namespace
}  // namespace velmor::core
