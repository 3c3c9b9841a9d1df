#include "core/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "support/temp_dir.h"

namespace velmor::core {
namespace {

TEST(Files, AtomicWriteCreatesParentsAndLeavesNoTemporary) {
  velmor::testing::TempDir dir;
  auto path = dir / "a" / "b" / "list.json";
  ASSERT_TRUE(write_file_atomic(path, "[1]"));
  ASSERT_TRUE(write_file_atomic(path, "[1,2]"));
  EXPECT_EQ(read_file(path).value(), "[1,2]");
  EXPECT_FALSE(fs::exists(dir / "a" / "b" / "list.json.tmp"));
}

TEST(Files, OwnerOnlyFilesAre0600EvenOverAnOldTemporary) {
  velmor::testing::TempDir dir;
  auto path = dir / ".env";
  // A world-readable leftover temporary must not lend its mode to a secret.
  ASSERT_TRUE(write_file_atomic(dir / ".env.tmp.keep", "x"));
  fs::copy_file(dir / ".env.tmp.keep", dir / ".env.tmp");
  ::chmod((dir / ".env.tmp").c_str(), 0644);
  ASSERT_TRUE(write_file_atomic(path, "KEY=v\n", FileAccess::OwnerOnly));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Files, ErrorsNameThePath) {
  velmor::testing::TempDir dir;
  auto missing = read_file(dir / "nope.json");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message().find("nope.json"), std::string::npos);
  ASSERT_TRUE(write_file_atomic(dir / "file", "x"));
  auto under_file = write_file_atomic(dir / "file" / "child", "y");
  ASSERT_FALSE(under_file);
  EXPECT_EQ(under_file.error().message().rfind("write " + (dir / "file" / "child").string(), 0), 0u);
}

TEST(Files, ReadersNeverSeeATornFile) {
  velmor::testing::TempDir dir;
  auto path = dir / "big.json";
  std::string a(200000, 'a'), b(200000, 'b');
  ASSERT_TRUE(write_file_atomic(path, a));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) (void)write_file_atomic(path, i % 2 ? a : b);
    done = true;
  });
  int reads = 0;
  while (!done && reads < 10000) {
    auto text = read_file(path);
    ASSERT_TRUE(text);
    ASSERT_TRUE(*text == a || *text == b) << "torn read of " << text->size() << " bytes";
    ++reads;
  }
  writer.join();
}

}  // namespace
}  // namespace velmor::core
