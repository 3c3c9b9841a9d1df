#include "core/random.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace velmor::core {
namespace {

TEST(Random, ShortIdsHavePrefixAndHexDigits) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    auto id = short_id("m", 10);
    EXPECT_TRUE(std::regex_match(id, std::regex("m_[0-9a-f]{10}"))) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_TRUE(std::regex_match(short_id("s", 16), std::regex("s_[0-9a-f]{16}")));
  EXPECT_EQ(random_hex(7).size(), 7u);
}

TEST(Random, UuidsAreVersionFour) {
  std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (int i = 0; i < 50; ++i) {
    auto u = uuid_v4();
    EXPECT_TRUE(std::regex_match(u, shape)) << u;
  }
}

}  // namespace
}  // namespace velmor::core
