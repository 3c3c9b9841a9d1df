// What every model test starts from: no setting variables, a fresh home
// (so no real sign-in is ever seen) and a fake provider on loopback.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/model.h"
#include "support/env_guard.h"
#include "support/fake_provider.h"
#include "support/temp_dir.h"

namespace velmor::model {

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() {
    env_.set("VELMOR_HOME", home_.path().string());
    env_.unset("VELMOR_OAUTH_TOKEN_URL");
  }

  // A client for the fake as `provider`; fails the test when it cannot be built.
  ModelClient client(std::string_view provider = "compatible") {
    for (const auto& [k, v] : fake_.env(provider)) env_.set(k, v);
    auto built = ModelClient::from_config(fake_.config(provider));
    if (!built) ADD_FAILURE() << built.error().to_string();
    return std::move(built).value();
  }

  static std::vector<Message> user(std::string text) { return {Message{Role::User, std::move(text), {}}}; }

  // An error text: exactly `want`, or starting with it when `want` ends in
  // ": " (the rest is a library's own description).
  static void expect_message(const Error& error, const std::string& want) {
    if (want.ends_with(": ")) {
      EXPECT_TRUE(error.message().starts_with(want)) << error.message();
    } else {
      EXPECT_EQ(error.message(), want);
    }
  }

  // Scripts one raw reply and checks that a call fails on it with an
  // Inference error whose text is `message` (as expect_message takes it).
  void expect_chat_fails(ModelClient& c, int status, const std::string& body, const std::string& message) {
    fake_.push_status(status, body);
    auto reply = c.chat("s", user("u"));
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.error().kind(), ErrorKind::Inference);
    expect_message(reply.error(), message);
  }

  testing::CleanEnv env_;
  testing::TempDir home_;
  testing::FakeProvider fake_;
};

}  // namespace velmor::model
