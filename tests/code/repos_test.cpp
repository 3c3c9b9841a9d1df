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

class ReposTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", home_.path().string());
    env_.set("VELMOR_HOME", (home_ / "velmor").string());
  }
  std::string folder(const std::string& rel) {
    fs::create_directories(home_ / rel);
    return (home_ / rel).string();
  }
  Repos repos() const { return Repos(home_ / "velmor" / "repos.json"); }
  std::string file_text() const { return *core::read_file(home_ / "velmor" / "repos.json"); }

  TempDir home_;
  CleanEnv env_;
};

TEST_F(ReposTest, UpsertWithoutNameTakesLastFolderAndExpandsHome) {
  folder("code/shopfront");
  auto stored = repos().upsert({"  ", "  ~/code/shopfront ", " npm test ", ""});
  ASSERT_TRUE(stored) << stored.error().to_string();
  EXPECT_EQ(stored->name, "shopfront");
  EXPECT_EQ(stored->path, (home_ / "code/shopfront").string());
  EXPECT_EQ(stored->test, "npm test");
  EXPECT_EQ(file_text(), "[\n  {\n    \"name\": \"shopfront\",\n    \"path\": \"" + stored->path +
                             "\",\n    \"test\": \"npm test\",\n    \"notes\": \"\"\n  }\n]");
  EXPECT_EQ(Repos::open_default().list(), std::vector<Repo>{*stored});
}

TEST_F(ReposTest, UpsertSameNameReplacesAndGoesLast) {
  auto a = folder("a"), b = folder("b"), c = folder("c");
  ASSERT_TRUE(repos().upsert({"one", a, "", ""}));
  ASSERT_TRUE(repos().upsert({"two", b, "", ""}));
  ASSERT_TRUE(repos().upsert({"one", c, "make", "notes"}));
  std::vector<Repo> expected{{"two", b, "", ""}, {"one", c, "make", "notes"}};
  EXPECT_EQ(repos().list(), expected);
}

TEST_F(ReposTest, UpsertRefusesWhatIsNotAFolder) {
  std::ofstream(home_ / "plain.txt") << "x";
  for (std::string path : {(home_ / "missing").string(), (home_ / "plain.txt").string()}) {
    auto stored = repos().upsert({"x", path, "", ""});
    ASSERT_FALSE(stored);
    EXPECT_EQ(stored.error().to_string(), "config: " + path + " is not a folder on this Mac");
  }
  auto nameless = repos().upsert({"", "/", "", ""});
  ASSERT_FALSE(nameless);
  EXPECT_EQ(nameless.error().to_string(), "config: repo needs a name");
  EXPECT_FALSE(fs::exists(home_ / "velmor" / "repos.json"));
}

TEST_F(ReposTest, FindByNamePathFolderInsideAndMention) {
  auto shop = folder("code/shopfront"), blog = folder("code/blog");
  ASSERT_TRUE(repos().upsert({"Shopfront", shop, "", ""}));
  ASSERT_TRUE(repos().upsert({"blog", blog, "", ""}));
  struct Case {
    std::string query;
    std::optional<std::string> name;
  } cases[] = {
      {"", std::nullopt},  // two repos: no default
      {"  SHOPFRONT ", "Shopfront"},
      {blog, "blog"},
      {"~/code/blog", "blog"},
      {shop + "/src/app.js", "Shopfront"},
      {"fix the footer in the blog please", "blog"},
      {"something else", std::nullopt},
  };
  for (const auto& c : cases) {
    auto found = repos().find(c.query);
    EXPECT_EQ(found ? std::optional(found->name) : std::nullopt, c.name) << c.query;
  }
}

TEST_F(ReposTest, EmptyQueryFindsTheOnlyRepo) {
  ASSERT_TRUE(repos().upsert({"solo", folder("solo"), "", ""}));
  auto found = repos().find("   ");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "solo");
}

TEST_F(ReposTest, DamagedFilesReadEmpty) {
  fs::create_directories(home_ / "velmor");
  for (std::string text : {"not json", "{}", "[{\"name\":\"x\"}]", "[{\"name\":\"x\",\"path\":\"/\",\"test\":1}]"}) {
    std::ofstream(home_ / "velmor" / "repos.json") << text;
    EXPECT_TRUE(repos().list().empty()) << text;
  }
  std::ofstream(home_ / "velmor" / "repos.json") << "[{\"path\":\"/p\",\"name\":\"n\",\"extra\":true}]";
  EXPECT_EQ(repos().list(), (std::vector<Repo>{{"n", "/p", "", ""}}));
}

TEST_F(ReposTest, FileThatIsNotJsonIsKeptAsideBeforeTheWrite) {
  fs::create_directories(home_ / "velmor");
  std::ofstream(home_ / "velmor" / "repos.json") << "garbage {";
  ASSERT_TRUE(repos().upsert({"a", folder("a"), "", ""}));
  EXPECT_EQ(repos().list().size(), 1u);
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(home_ / "velmor")) {
    auto name = entry.path().filename().string();
    if (name.starts_with("repos.unreadable-")) {
      ++aside;
      EXPECT_EQ(*core::read_file(entry.path()), "garbage {");
    }
  }
  EXPECT_EQ(aside, 1);
}

TEST(ExpandHome, OnlyTildeSlashWithHomeSet) {
  CleanEnv env;
  env.set("HOME", "/Users/yorrin");
  EXPECT_EQ(expand_home("~/code/x"), "/Users/yorrin/code/x");
  EXPECT_EQ(expand_home("~"), "~");
  EXPECT_EQ(expand_home("/abs/~/x"), "/abs/~/x");
  EXPECT_EQ(expand_home("~other/x"), "~other/x");
  env.unset("HOME");
  EXPECT_EQ(expand_home("~/code/x"), "~/code/x");
}

}  // namespace
}  // namespace velmor::code
