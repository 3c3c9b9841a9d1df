#include "core/encoding.h"

#include <gtest/gtest.h>

namespace velmor::core {
namespace {

TEST(Encoding, Base64KnownVectors) {
  struct Case {
    std::string bytes;
    const char* standard;
    const char* url_unpadded;
  } cases[] = {
      {"", "", ""},
      {"f", "Zg==", "Zg"},
      {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"},
      {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
      {"\xFB\xFF\xBF", "+/+/", "-_-_"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base64_encode(c.bytes), c.standard);
    EXPECT_EQ(base64_encode(c.bytes, Base64Alphabet::UrlSafe, Base64Padding::Without), c.url_unpadded);
    EXPECT_EQ(base64_decode(c.standard), c.bytes);
    EXPECT_EQ(base64_decode(c.url_unpadded), c.bytes);
  }
  EXPECT_FALSE(base64_decode("Zm9v!"));
  EXPECT_FALSE(base64_decode("Z"));
}

TEST(Encoding, Sha256KnownVectors) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256("abc").size(), 32u);
}

}  // namespace
}  // namespace velmor::core
