// Snapshot files in the browser's run directory: what is read, what is
// refused, and when the newest file stands in for a missing snapshot.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "core/utf8.h"
#include "support/temp_dir.h"
#include "tools/page_reading.h"

namespace velmor::tools {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

void set_age(const fs::path& path, std::chrono::seconds age) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

const std::string kSnap = "- generic [ref=e1]:\n  - button \"Pay\" [ref=e2]\n";
const std::string kHidden = "- heading \"Hidden folder\" [ref=e9]\n";
const std::string kSecret = "- text: the person's secret\n";

class SnapshotFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    write(run / "snap.yml", kSnap);
    write(run / ".playwright-mcp" / "p.yaml", kHidden);
    write(tmp / "secret.yml", kSecret);
    write(run / "notes.txt", kSnap);
    write(run / "big.yml", std::string(262145, 'x'));
    write(run / "exact.yml", std::string(262144, 'y'));
    write(run / "bad.yml", "- text: \xFF\xFE\n");
    fs::create_directories(run / "dir.yml");
    fs::create_symlink(tmp / "secret.yml", run / "escape.yml");
    fs::create_symlink(run / "snap.yml", run / "inner.yml");
    fs::create_symlink(tmp / "secret.yml", run / "plain-name");
    fs::create_directory_symlink(run, tmp / "run-link");
  }

  testing::TempDir tmp;
  fs::path run = tmp / "run";
};

TEST_F(SnapshotFiles, ReadsOnlyConfinedSnapshotFiles) {
  const std::string abs = run.string();
  const std::string secret = (tmp / "secret.yml").string();
  struct Case {
    std::string target;
    std::optional<std::string> expected;
  } cases[] = {
      {"snap.yml", kSnap},
      {"  ./././snap.yml  ", kSnap},
      {"\"<snap.yml>\"", kSnap},
      {"'snap.yml'", kSnap},
      {abs + "/snap.yml", kSnap},
      {"file://" + abs + "/snap.yml", kSnap},
      {".playwright-mcp/p.yaml", kHidden},
      {"inner.yml", kSnap},  // a link that stays inside
      {"../secret.yml", std::nullopt},
      {"./sub/../../secret.yml", std::nullopt},
      {secret, std::nullopt},
      {"file://" + secret, std::nullopt},
      {"escape.yml", std::nullopt},  // a link that climbs out
      {"notes.txt", std::nullopt},
      {"plain-name", std::nullopt},
      {"big.yml", std::nullopt},
      {"bad.yml", std::nullopt},
      {"dir.yml", std::nullopt},
      {"missing.yml", std::nullopt},
      {"http://127.0.0.1/snap.yml", std::nullopt},
      {"", std::nullopt},
      {"\"\"", std::nullopt},
      {"snap.yml\nsnap.yml", std::nullopt},
      {std::string("snap\0.yml", 9), std::nullopt},
      {".", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(read_snapshot(run, c.target), c.expected) << c.target;
}

TEST_F(SnapshotFiles, LengthLimitsOfTargetAndContents) {
  std::string climbs;
  for (int i = 0; i < 250; ++i) climbs += "./";
  EXPECT_EQ(read_snapshot(run, climbs + "snap.yml"), kSnap);  // 508 bytes
  EXPECT_EQ(read_snapshot(run, "./././" + climbs + "snap.yml"), std::nullopt);  // 514 bytes

  auto exact = read_snapshot(run, "exact.yml");
  ASSERT_TRUE(exact);
  EXPECT_EQ(*exact, std::string(8000, 'y') + "…");

  // The run directory may itself be reached through a symbolic link.
  EXPECT_EQ(read_snapshot(tmp / "run-link", "snap.yml"), kSnap);
  EXPECT_EQ(read_snapshot(tmp / "missing", "snap.yml"), std::nullopt);
}

TEST_F(SnapshotFiles, AppendsEachLinkedSnapshotOnce) {
  std::string text =
      "### Result\nSaved [Snapshot](snap.yml), [again](snap.yml), "
      "[hidden](file://" + run.string() + "/.playwright-mcp/p.yaml), [out](../secret.yml), "
      "[notes](notes.txt)";
  EXPECT_EQ(inline_snapshots(text, run), text + "\n\n### Accessibility snapshot\n" + kSnap +
                                             "\n\n### Accessibility snapshot\n" + kHidden);
}

TEST_F(SnapshotFiles, NewestFileStandsInOnlyWhenNoSnapshotIsInline) {
  // Files left from earlier pages; the hidden folder's one is the newest.
  set_age(run / "snap.yml", std::chrono::seconds(600));
  set_age(run / "exact.yml", std::chrono::seconds(600));
  set_age(run / "big.yml", std::chrono::seconds(600));
  set_age(run / "bad.yml", std::chrono::seconds(600));
  set_age(run / "inner.yml", std::chrono::seconds(600));
  set_age(tmp / "secret.yml", std::chrono::seconds(600));
  set_age(run / ".playwright-mcp" / "p.yaml", std::chrono::seconds(60));

  const std::string inline_answer =
      "### Page\n- Page URL: https://shop.test/\n- Page Title: Shop\n### Snapshot\n```yaml\n"
      "- generic [ref=e1]:\n  - link \"Today\" [ref=e5]\n```\n";
  const std::string tree_only = "### Snapshot\n- generic [ref=e1]:\n  - button \"Go\" [ref=e2]\n";
  const std::string mentions = "### Snapshot\nThe snapshot was saved to page-2.yml";
  const std::string empty_fence = "### Snapshot\n```yaml\n```\n";
  const std::string unrelated = "### Result\nClicked the button";

  EXPECT_EQ(inline_snapshots(inline_answer, run), inline_answer);
  EXPECT_EQ(inline_snapshots(tree_only, run), tree_only);
  EXPECT_EQ(inline_snapshots(unrelated, run), unrelated);
  EXPECT_EQ(inline_snapshots(mentions, run), mentions + "\n\n### Accessibility snapshot\n" + kHidden);
  EXPECT_EQ(inline_snapshots(empty_fence, run),
            empty_fence + "\n\n### Accessibility snapshot\n" + kHidden);

  // The newest file being a link out of the directory is still not followed.
  set_age(tmp / "secret.yml", std::chrono::seconds(0));
  EXPECT_EQ(inline_snapshots(mentions, run).find(kSecret), std::string::npos);
}

TEST(SnapshotFilesAlone, NothingToFallBackTo) {
  testing::TempDir tmp;
  write(tmp / ".yml", "- text: not a snapshot file\n");  // no extension at all
  EXPECT_EQ(inline_snapshots("Snapshot saved", tmp.path()), "Snapshot saved");
  EXPECT_EQ(inline_snapshots("Snapshot saved", tmp / "absent"), "Snapshot saved");
}

}  // namespace
}  // namespace velmor::tools
