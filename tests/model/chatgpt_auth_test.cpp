#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "core/encoding.h"
#include "core/files.h"
#include "model_fixture.h"

namespace velmor::model {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kExpired =
    "your ChatGPT sign-in has expired or was used from another copy of velmor. Open Settings and choose "
    "Continue with ChatGPT again.";

std::uint64_t now_secs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

std::string jwt_with(const json& payload) {
  using core::Base64Alphabet, core::Base64Padding;
  auto part = [](const std::string& s) {
    return core::base64_encode(s, Base64Alphabet::UrlSafe, Base64Padding::Without);
  };
  return part(R"({"alg":"none"})") + "." + part(payload.dump()) + ".sig";
}

using SignInFile = ModelTest;

TEST_F(SignInFile, SavedWithKeysInOrderNullsAndOwnerOnly) {
  ChatGptAuth auth{"acc", "ref", 1700000000, "app_1", std::nullopt, std::nullopt};
  ASSERT_TRUE(auth.save());
  fs::path file = home_.path() / "auth" / "chatgpt.json";
  EXPECT_EQ(oauth::auth_file(), file);
  EXPECT_EQ(core::read_file(file).value(),
            "{\n"
            "  \"access_token\": \"acc\",\n"
            "  \"refresh_token\": \"ref\",\n"
            "  \"expires_at\": 1700000000,\n"
            "  \"client_id\": \"app_1\",\n"
            "  \"email\": null,\n"
            "  \"id_token\": null\n"
            "}\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ChatGptAuth::load(), auth);

  auth.email = "me@example.com";
  auth.id_token = "a.b.c";
  ASSERT_TRUE(auth.save());
  EXPECT_EQ(ChatGptAuth::load(), auth);
}

TEST_F(SignInFile, AuthHomeMovesTheDirectoryUnlessBlank) {
  testing::TempDir other;
  env_.set("VELMOR_AUTH_HOME", "   ");
  EXPECT_EQ(oauth::auth_dir(), home_.path() / "auth");
  env_.set("VELMOR_AUTH_HOME", other.path().string());
  EXPECT_EQ(oauth::auth_dir(), other.path() / "auth");
  ASSERT_TRUE((ChatGptAuth{"a", "r", 1, "", std::nullopt, std::nullopt}.save()));
  EXPECT_TRUE(fs::exists(other.path() / "auth" / "chatgpt.json"));
  EXPECT_FALSE(fs::exists(home_.path() / "auth"));
}

TEST_F(SignInFile, MalformedFilesReadAsNoSignIn) {
  const char* files[] = {
      "",
      "not json",
      "[]",
      R"({"refresh_token":"r","expires_at":1})",
      R"({"access_token":"a","expires_at":1})",
      R"({"access_token":"a","refresh_token":"r"})",
      R"({"access_token":"a","refresh_token":"r","expires_at":"1"})",
      R"({"access_token":"a","refresh_token":"r","expires_at":-1})",
      R"({"access_token":"a","refresh_token":"r","expires_at":1.5})",
      R"({"access_token":1,"refresh_token":"r","expires_at":1})",
      R"({"access_token":"a","refresh_token":"r","expires_at":1,"email":7})",
  };
  EXPECT_EQ(ChatGptAuth::load(), std::nullopt);  // no file at all
  for (const char* text : files) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(core::write_file_atomic(oauth::auth_file(), text));
    EXPECT_EQ(ChatGptAuth::load(), std::nullopt);
  }
  // Optional members may be missing altogether.
  ASSERT_TRUE(core::write_file_atomic(oauth::auth_file(), R"({"access_token":"a","refresh_token":"r","expires_at":5})"));
  auto loaded = ChatGptAuth::load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->client_id, "");
  EXPECT_EQ(loaded->email, std::nullopt);
}

TEST_F(SignInFile, ForgetRemovesOnlyTheSignIn) {
  ASSERT_TRUE(core::write_file_atomic(oauth::auth_dir() / "chatgpt_client_id", "app_kept\n"));
  ASSERT_TRUE((ChatGptAuth{"a", "r", 1, "", std::nullopt, std::nullopt}.save()));
  ASSERT_TRUE(ChatGptAuth::forget());
  EXPECT_EQ(ChatGptAuth::load(), std::nullopt);
  EXPECT_TRUE(fs::exists(oauth::auth_dir() / "chatgpt_client_id"));
  EXPECT_TRUE(ChatGptAuth::forget());  // already gone: still success
}

TEST_F(SignInFile, SaveFailuresAreConfigErrors) {
  // A file where the directory should be.
  ASSERT_TRUE(core::write_file_atomic(home_.path() / "auth", "x"));
  auto saved = ChatGptAuth{"a", "r", 1, "", std::nullopt, std::nullopt}.save();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind(), ErrorKind::Config);
  EXPECT_TRUE(saved.error().message().starts_with("create " + (home_.path() / "auth").string() + ": "))
      << saved.error().message();

  fs::remove(home_.path() / "auth");
  auto bad_text = ChatGptAuth{"a\xff", "r", 1, "", std::nullopt, std::nullopt}.save();
  ASSERT_FALSE(bad_text);
  EXPECT_TRUE(bad_text.error().message().starts_with("auth encode: ")) << bad_text.error().message();
}

TEST(ClientId, ValidOnlyWithinTheRule) {
  struct Case {
    std::string id;
    bool valid;
  } cases[] = {
      {"app_ABC-123", true},
      {std::string(200, 'a'), true},
      {std::string(201, 'a'), false},
      {"", false},
      {"app.1", false},
      {"app 1", false},
      {"appé", false},
      {std::string(oauth::kDefaultClientId), false},
  };
  for (const auto& c : cases) EXPECT_EQ(oauth::is_valid_client_id(c.id), c.valid) << c.id;
}

TEST_F(SignInFile, ClientIdFallsBackToTheLearnedOneThenTheDefault) {
  EXPECT_EQ(oauth::client_id("app.with.dots"), oauth::kDefaultClientId);
  ASSERT_TRUE(core::write_file_atomic(oauth::auth_dir() / "chatgpt_client_id", "  app_learned \n"));
  EXPECT_EQ(oauth::client_id("app_configured"), "app_configured");
  EXPECT_EQ(oauth::client_id(std::string(201, 'a')), "app_learned");
  EXPECT_EQ(oauth::client_id(oauth::kDefaultClientId), "app_learned");
  ASSERT_TRUE(core::write_file_atomic(oauth::auth_dir() / "chatgpt_client_id", "bad id"));
  EXPECT_EQ(oauth::client_id(""), oauth::kDefaultClientId);
}

TEST_F(SignInFile, TokenUrlComesFromTheEnvironment) {
  EXPECT_TRUE(oauth::token_url().starts_with("https://"));
  env_.set("VELMOR_OAUTH_TOKEN_URL", "http://127.0.0.1:9/token");
  EXPECT_EQ(oauth::token_url(), "http://127.0.0.1:9/token");
}

TEST(TokenResponse, ErrorsAndWhatTheyBecome) {
  ChatGptAuth previous{"pa", "pr", 1, "app_old", std::string("old@example.com"), std::string("old.jwt")};
  struct Case {
    const char* name;
    json response;
    bool with_previous;
    ErrorKind kind;
    std::string message;
  } cases[] = {
      {"invalid_grant alone", {{"error", "invalid_grant"}}, true, ErrorKind::Config, kExpired},
      {"invalid_grant with a description", {{"error", "invalid_grant"}, {"error_description", "used"}}, false,
       ErrorKind::Config, kExpired},
      {"other error", {{"error", "invalid_client"}, {"error_description", "unknown app"}}, true,
       ErrorKind::Inference, R"(chatgpt sign-in: "invalid_client" unknown app)"},
      {"error object", {{"error", {{"code", 7}}}}, true, ErrorKind::Inference, R"(chatgpt sign-in: {"code":7} )"},
      {"no access token", {{"refresh_token", "r"}}, true, ErrorKind::Inference, "chatgpt sign-in: no access_token"},
      {"not an object", json::array(), true, ErrorKind::Inference, "chatgpt sign-in: no access_token"},
      {"no refresh token anywhere", {{"access_token", "a"}}, false, ErrorKind::Inference,
       "chatgpt sign-in: no refresh_token"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto auth = oauth::auth_from_token_response(c.response, "app_new",
                                                c.with_previous ? std::optional(previous) : std::nullopt);
    ASSERT_FALSE(auth);
    EXPECT_EQ(auth.error().kind(), c.kind);
    EXPECT_EQ(auth.error().message(), c.message);
  }
}

TEST(TokenResponse, FillsGapsFromThePreviousSignIn) {
  ChatGptAuth previous{"pa", "pr", 1, "app_old", std::string("old@example.com"), std::string("old.jwt")};
  std::uint64_t before = now_secs();

  auto kept = oauth::auth_from_token_response({{"access_token", "a"}}, "app_new", previous).value();
  EXPECT_EQ(kept.access_token, "a");
  EXPECT_EQ(kept.refresh_token, "pr");
  EXPECT_GE(kept.expires_at, before + 3600);
  EXPECT_LE(kept.expires_at, now_secs() + 3600);
  EXPECT_EQ(kept.client_id, "app_new");
  EXPECT_EQ(kept.email, "old@example.com");
  EXPECT_EQ(kept.id_token, "old.jwt");

  std::string token = jwt_with({{"email", "new@example.com"}, {"sub", "x"}});
  json full = {{"access_token", "a"}, {"refresh_token", "r"}, {"expires_in", 60}, {"id_token", token}};
  auto fresh = oauth::auth_from_token_response(full, "app_new", previous).value();
  EXPECT_EQ(fresh.refresh_token, "r");
  EXPECT_LE(fresh.expires_at, now_secs() + 60);
  EXPECT_GE(fresh.expires_at, before + 60);
  EXPECT_EQ(fresh.id_token, token);
  EXPECT_EQ(fresh.email, "new@example.com");

  // A negative or fractional lifetime is not one: the default hour applies.
  json odd = {{"access_token", "a"}, {"refresh_token", "r"}, {"expires_in", -5}, {"id_token", "not-a-jwt"}};
  auto defaulted = oauth::auth_from_token_response(odd, "app_new", std::nullopt).value();
  EXPECT_GE(defaulted.expires_at, before + 3600);
  EXPECT_EQ(defaulted.email, std::nullopt);
  EXPECT_EQ(defaulted.id_token, "not-a-jwt");
}

using PostForm = ModelTest;

TEST_F(PostForm, SendsPairsInOrderAndReadsJsonWhateverTheStatus) {
  fake_.push_status(400, R"({"error":"invalid_grant"})");
  auto answer = oauth::post_form(fake_.root_url() + "/oauth/token",
                                 {{"grant_type", "authorization_code"}, {"code", "a b&c"}, {"redirect_uri", "http://x/cb?"}});
  ASSERT_TRUE(answer) << answer.error().to_string();
  EXPECT_EQ((*answer)["error"], "invalid_grant");
  auto sent = fake_.requests().at(0);
  EXPECT_EQ(sent.header("content-type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.body, "grant_type=authorization_code&code=a%20b%26c&redirect_uri=http%3A%2F%2Fx%2Fcb%3F");
}

TEST_F(PostForm, FailuresHaveTheirOwnTexts) {
  fake_.push_status(502, std::string(200, 'y') + "tail", "text/html");
  auto not_json = oauth::post_form(fake_.root_url() + "/oauth/token", {});
  ASSERT_FALSE(not_json);
  EXPECT_EQ(not_json.error().message(),
            "chatgpt token endpoint returned something that is not JSON: " + std::string(160, 'y'));

  fake_.push_cut(R"({"access_)");
  auto cut = oauth::post_form(fake_.root_url() + "/oauth/token", {});
  ASSERT_FALSE(cut);
  EXPECT_TRUE(cut.error().message().starts_with("chatgpt token read: ")) << cut.error().message();

  std::string closed_url;
  {
    testing::FakeProvider closed;
    closed_url = closed.root_url() + "/oauth/token";
  }
  auto refused = oauth::post_form(closed_url, {});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), ErrorKind::Inference);
  EXPECT_TRUE(refused.error().message().starts_with("chatgpt token: ")) << refused.error().message();
}

}  // namespace
}  // namespace velmor::model
