// SPDX-License-Identifier: MIT
// Base64 encoders (with the string encoder's capacity rule) and the lenient
// decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "namreg/common.h"

namespace {

std::string Encode(const std::string &in) {
  std::vector<char> out(4 * ((in.size() + 2) / 3) + 8, '#');
  int n = Base64_Encode(reinterpret_cast<const unsigned char *>(in.data()), (uint16_t)in.size(),
                        out.data(), 0);
  EXPECT_EQ('#', out[(size_t)n]) << "wrote past the encoded characters";
  return std::string(out.data(), (size_t)n);
}

// Decodes into a buffer of exactly `capacity` bytes (so an overrun shows
// under ASan); returns the result and the decoded bytes.
int Decode(const std::string &text, std::string *bytes, int capacity = -1) {
  if (capacity < 0) capacity = (int)(3 * (text.size() / 4) + 1);
  std::vector<unsigned char> out((size_t)capacity, 0xEE);
  int n = Base64_Decode(text.c_str(), out.data(), capacity);
  if (n >= 0) {
    EXPECT_LT(n, capacity);
    EXPECT_EQ(0, out[(size_t)n]) << "no zero byte after the decoded bytes";
    bytes->assign(reinterpret_cast<const char *>(out.data()), (size_t)n);
  }
  return n;
}

const struct {
  const char *plain, *encoded;
} kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(PrimitivesBase64Encode, Rfc4648VectorsAndPadding) {
  for (const auto &c : kRfc4648) EXPECT_EQ(c.encoded, Encode(c.plain)) << c.plain;
  EXPECT_EQ("/+8=", Encode("\xff\xef"));
  EXPECT_EQ("AAAA", Encode(std::string(3, '\0')));
}

TEST(PrimitivesBase64Encode, EmptyInputWritesNothing) {
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(0, Base64_Encode(reinterpret_cast<const unsigned char *>(""), 0, out, 4));
  EXPECT_EQ('#', out[0]);
}

TEST(PrimitivesBase64EncodeString, EncodesTheTextWithoutItsTerminator) {
  for (const auto &c : kRfc4648) {
    char out[64];
    memset(out, '#', sizeof out);
    int n = Base64_EncodeString(c.plain, out, sizeof out);
    EXPECT_EQ(c.encoded, std::string(out, (size_t)n));
    EXPECT_EQ('#', out[n]);
  }
}

// The capacity must exceed 4 * (length / 3 + length % 3); a refusal writes
// nothing.
TEST(PrimitivesBase64EncodeString, CapacityRule) {
  const struct {
    const char *text;
    int smallest_accepted;
  } cases[] = {
      {"", 1}, {"a", 5}, {"ab", 9}, {"abc", 5}, {"abcd", 9}, {"abcde", 13}, {"abcdef", 9},
  };
  for (const auto &c : cases) {
    char out[32];
    memset(out, '#', sizeof out);
    EXPECT_EQ(-1, Base64_EncodeString(c.text, out, c.smallest_accepted - 1)) << c.text;
    EXPECT_EQ('#', out[0]) << c.text;
    EXPECT_EQ((int)(4 * ((strlen(c.text) + 2) / 3)),
              Base64_EncodeString(c.text, out, c.smallest_accepted))
        << c.text;
  }
  char out[8];
  EXPECT_EQ(-1, Base64_EncodeString("abc", out, -3));
}

// Inputs are counted in 16 bits: a longer text is refused, not truncated.
TEST(PrimitivesBase64EncodeString, TextLongerThan65535IsRefused) {
  std::string big(65536, 'x');
  std::vector<char> out(100000);
  EXPECT_EQ(-1, Base64_EncodeString(big.c_str(), out.data(), (int)out.size()));
  big.pop_back();
  EXPECT_EQ(87380, Base64_EncodeString(big.c_str(), out.data(), (int)out.size()));
}

TEST(PrimitivesBase64Decode, Rfc4648VectorsAndRandomRoundTrips) {
  for (const auto &c : kRfc4648) {
    std::string bytes;
    EXPECT_EQ((int)strlen(c.plain), Decode(c.encoded, &bytes)) << c.encoded;
    EXPECT_EQ(c.plain, bytes);
  }
  std::mt19937 rng(4648);
  for (size_t n = 0; n <= 300; ++n) {
    std::string plain(n, '\0');
    for (auto &ch : plain) ch = (char)rng();
    std::string bytes;
    ASSERT_EQ((int)n, Decode(Encode(plain), &bytes)) << "length " << n;
    ASSERT_EQ(plain, bytes) << "length " << n;
  }
}

TEST(PrimitivesBase64Decode, SkipsLineBreaksWithinAndBetweenGroups) {
  const char *texts[] = {
      "Zm9v\r\nYmFy",
      "Zm9vYmFy\r\n",
      "\r\nZm9vYmFy",
      "Z\rm\n9v\r\n\r\nYm\nFy",
      "Zm9v\n\n\n\nYmFy",
      "Zm\r\n9vYm\r\nFy\r\n",
      "\n\rZ\n\rm\n\r9\n\rv\n\rYmFy",
  };
  for (const char *t : texts) {
    std::string bytes;
    EXPECT_EQ(6, Decode(t, &bytes)) << t;
    EXPECT_EQ("foobar", bytes) << t;
  }
  std::string bytes;
  EXPECT_EQ(2, Decode("Zm8\r\n=", &bytes));
  EXPECT_EQ("fo", bytes);
  EXPECT_EQ(1, Decode("Zg\n=\n=", &bytes));
  EXPECT_EQ("f", bytes);
}

TEST(PrimitivesBase64Decode, ShortTextGivesAnEmptyResult) {
  for (const char *t : {"", "Z", "Zm", "Zm9"}) {
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, Base64_Decode(t, out, sizeof out)) << t;
    EXPECT_EQ(0, out[0]) << t;
  }
}

TEST(PrimitivesBase64Decode, LenientAboutPaddingAndUnknownCharacters) {
  const struct {
    const char *text;
    std::string bytes;
  } cases[] = {
      // Outside the alphabet, and "=" in the first two places, count as 0.
      {"A*AA", std::string(3, '\0')},
      {"Zm9v*mFy",
       "foo\x02"
       "ar"},
      {"==AA", std::string(3, '\0')},
      {"Z=9v",
       "d\x0f"
       "o"},  // Z, 0, 9, v = 25, 0, 61, 47
      // "=" in the third place ends the group after one byte, whatever the
      // fourth character is; decoding goes on with the next group.
      {"Zg=xZm8=", "ffo"},
      {"Zg==Zm8=Zm9v", "ffofoo"},
      // A trailing partial group is dropped.
      {"Zm9vYmE", "foo"},
      {"Zm9vYm\r\n", "foo"},
  };
  for (const auto &c : cases) {
    std::string bytes;
    EXPECT_EQ((int)c.bytes.size(), Decode(c.text, &bytes)) << c.text;
    EXPECT_EQ(c.bytes, bytes) << c.text;
  }
}

// The capacity must exceed 3 * (strlen(text) / 4), line breaks included.
TEST(PrimitivesBase64Decode, CapacityRule) {
  std::string bytes;
  unsigned char out[16];
  memset(out, 0xEE, sizeof out);
  EXPECT_EQ(-1, Base64_Decode("Zm9vYmFy", out, 6));
  EXPECT_EQ(0xEE, out[0]);
  EXPECT_EQ(6, Decode("Zm9vYmFy", &bytes, 7));
  EXPECT_EQ(-1, Base64_Decode("Zm9vYmFy\r\n\r\n", out, 9));
  EXPECT_EQ(6, Decode("Zm9vYmFy\r\n\r\n", &bytes, 10));
  EXPECT_EQ(-1, Base64_Decode("", out, 0));
  EXPECT_EQ(0, Decode("Zm9", &bytes, 1));
}

}  // namespace
