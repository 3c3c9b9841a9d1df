#include "core/error.h"

#include <gtest/gtest.h>

namespace velmor::core {
namespace {

TEST(Error, EachKindShowsItsOwnForm) {
  struct Case {
    Error error;
    const char* shown;
  } cases[] = {
      {Error::qdrant("down"), "qdrant: down"},
      {Error::config("QDRANT_URL is empty"), "config: QDRANT_URL is empty"},
      {Error::schema("bad"), "schema: bad"},
      {Error::not_found("s_1"), "not found: s_1"},
      {Error::inference("openai 500"), "inference: openai 500"},
      {Error::computer("no browser"), "computer: no browser"},
      {Error::other("desktop app build failed"), "desktop app build failed"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.to_string(), c.shown);
}

TEST(Error, KindsKeepDeclarationOrder) {
  EXPECT_LT(ErrorKind::Qdrant, ErrorKind::Config);
  EXPECT_LT(ErrorKind::Config, ErrorKind::Schema);
  EXPECT_LT(ErrorKind::Schema, ErrorKind::NotFound);
  EXPECT_LT(ErrorKind::NotFound, ErrorKind::Inference);
  EXPECT_LT(ErrorKind::Inference, ErrorKind::Computer);
  EXPECT_LT(ErrorKind::Computer, ErrorKind::Other);
}

TEST(Error, ContextWordsStackOutermostFirst) {
  Error e = Error::config("QDRANT_URL is empty").context("loading config").context("starting");
  EXPECT_EQ(e.kind(), ErrorKind::Other);
  EXPECT_EQ(e.root_kind(), ErrorKind::Config);
  EXPECT_EQ(e.to_string(), "starting");
  EXPECT_EQ(e.long_form(), "starting: loading config: config: QDRANT_URL is empty");
  EXPECT_EQ(e.report(),
            "Error: starting\n\nCaused by:\n    loading config\n    config: QDRANT_URL is empty\n");
}

TEST(Error, ReportWithoutCausesIsOneLine) {
  EXPECT_EQ(Error::other("ask is not built yet").report(), "Error: ask is not built yet\n");
}

Result<int> inner(bool ok) {
  if (!ok) return fail(Error::schema("broken"));
  return 7;
}

Result<int> outer(bool ok) {
  int v = VELMOR_TRY_CTX(inner(ok), "reading file");
  return v + VELMOR_TRY(inner(true));
}

TEST(Error, TryMacrosPassErrorsUpWithContext) {
  EXPECT_EQ(outer(true).value(), 14);
  auto failed = outer(false);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().long_form(), "reading file: schema: broken");
}

}  // namespace
}  // namespace velmor::core
