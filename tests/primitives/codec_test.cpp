// SPDX-License-Identifier: MIT
// HLDM request codec: sizes, the capacity rule, the encoding at chosen clock
// values, round trips, and rejection of malformed texts.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "codec_internal.h"
#include "namreg/ddnsclient.h"

namespace {

const unsigned char *U(const char *s) {
  return reinterpret_cast<const unsigned char *>(s);
}

// Encodes at divisor index k into a buffer of exactly the needed size.
std::string EncodeAt(const std::string &in, uint32_t k) {
  int32_t cap = HALDStrCodec_GetEncodeSize((int32_t)in.size());
  std::vector<char> out((size_t)cap);
  int32_t n =
      namreg::HALDStrCodec_EncodeWithIndex(U(in.data()), (int32_t)in.size(), out.data(), &cap, k);
  EXPECT_GE(n, 0);
  if (n < 0) return "<error>";
  EXPECT_EQ('\0', out[(size_t)n]);
  return std::string(out.data(), (size_t)n);
}

// Decodes into a buffer of exactly the needed size; the result code, and
// the bytes on success.
int32_t Decode(const std::string &text, std::string *bytes) {
  int32_t cap = HALDStrCodec_GetDecodeSize((int32_t)text.size());
  std::vector<unsigned char> out((size_t)std::max(cap, 1), 0xEE);
  int32_t n = HALDStrCodec_Decode(text.data(), (int32_t)text.size(), out.data(), &cap);
  if (n >= 0) {
    EXPECT_EQ(0, out[(size_t)n]) << "no zero byte after the decoded bytes";
    bytes->assign(reinterpret_cast<const char *>(out.data()), (size_t)n);
  }
  return n;
}

TEST(PrimitivesCodecSizes, EncodeAndDecodeBufferSizes) {
  const struct {
    int32_t n, encode;
  } sizes[] = {{0, 2}, {1, 8}, {2, 8}, {3, 8}, {4, 14}, {5, 14}, {6, 14}, {246, 494}, {247, 500}};
  for (const auto &s : sizes) EXPECT_EQ(s.encode, HALDStrCodec_GetEncodeSize(s.n)) << s.n;

  const struct {
    int32_t n, decode;
  } dsizes[] = {{1, 1}, {7, 4}, {13, 7}, {8, 4}, {493, 247}, {0, 1}};
  for (const auto &s : dsizes) EXPECT_EQ(s.decode, HALDStrCodec_GetDecodeSize(s.n)) << s.n;
}

TEST(PrimitivesCodecEncode, ExamplesAtChosenClockValues) {
  EXPECT_EQ("o2MI6ea", EncodeAt("abc", 0));
  EXPECT_EQ("QtXVqda", EncodeAt("abc", 5));
  EXPECT_EQ(EncodeAt("abc", 5), EncodeAt("abc", 13)) << "only the three low bits count";
  std::string bytes;
  EXPECT_EQ(3, Decode("o2MI6ea", &bytes));
  EXPECT_EQ("abc", bytes);
  EXPECT_EQ(3, Decode("QtXVqda", &bytes));
  EXPECT_EQ("abc", bytes);
}

TEST(PrimitivesCodecEncode, LengthAndPadCharacter) {
  const struct {
    const char *in;
    size_t length;
    char pad;
  } cases[] = {{"", 1, 'a'},      {"x", 7, 'c'},      {"xy", 7, 'b'},     {"xyz", 7, 'a'},
               {"wxyz", 13, 'c'}, {"vwxyz", 13, 'b'}, {"uvwxyz", 13, 'a'}};
  for (uint32_t k = 0; k < 8; ++k)
    for (const auto &c : cases) {
      std::string out = EncodeAt(c.in, k);
      ASSERT_EQ(c.length, out.size()) << c.in;
      EXPECT_EQ(c.pad, out.back()) << c.in;
      EXPECT_EQ(std::string::npos, out.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789"))
          << "digits beyond index 60: " << out;
    }
  // A negative count encodes like an empty input.
  char out[2];
  int32_t cap = 2;
  EXPECT_EQ(1, namreg::HALDStrCodec_EncodeWithIndex(U("abc"), -4, out, &cap, 0));
  EXPECT_STREQ("a", out);
}

// The public encoder takes its divisor index from time().
TEST(PrimitivesCodecEncode, PublicEncoderUsesTheClock) {
  const std::string in = "hostname=cam01&firmwareversion=1.0";
  char out[128];
  int32_t cap = sizeof out;
  time_t before = time(nullptr);
  int32_t n = HALDStrCodec_Encode(U(in.data()), (int32_t)in.size(), out, &cap);
  time_t after = time(nullptr);
  ASSERT_GT(n, 0);
  EXPECT_EQ((int32_t)sizeof out, cap);
  std::string got(out, (size_t)n);
  EXPECT_TRUE(got == EncodeAt(in, (uint32_t)before & 7) ||
              got == EncodeAt(in, (uint32_t)after & 7));
  std::string bytes;
  EXPECT_EQ((int32_t)in.size(), Decode(got, &bytes));
  EXPECT_EQ(in, bytes);
}

// Too small a buffer: the needed size comes back, nothing is written.
TEST(PrimitivesCodecCapacity, TooSmallReportsTheNeededSize) {
  char out[600];
  for (int32_t n : {0, 1, 3, 4, 246, 247}) {
    std::vector<unsigned char> in((size_t)n + 1, 'q');
    int32_t need = HALDStrCodec_GetEncodeSize(n);
    for (int32_t cap : {need - 1, 0, -5}) {
      memset(out, '#', sizeof out);
      int32_t c = cap;
      EXPECT_EQ(CODEC_ERR_OUTPUT_SIZE, HALDStrCodec_Encode(in.data(), n, out, &c)) << n;
      EXPECT_EQ(need, c) << n;
      EXPECT_EQ('#', out[0]) << n;
      c = cap;
      EXPECT_EQ(CODEC_ERR_OUTPUT_SIZE,
                namreg::HALDStrCodec_EncodeWithIndex(in.data(), n, out, &c, 3));
      EXPECT_EQ(need, c) << n;
    }
    int32_t c = need;
    EXPECT_EQ(need - 1, HALDStrCodec_Encode(in.data(), n, out, &c)) << n;
    EXPECT_EQ(need, c) << "capacity changed on success";
  }

  std::string text = EncodeAt("abcdef", 2);  // 13 characters, needs 7
  unsigned char dec[16];
  memset(dec, 0xEE, sizeof dec);
  int32_t c = 6;
  EXPECT_EQ(CODEC_ERR_OUTPUT_SIZE, HALDStrCodec_Decode(text.data(), 13, dec, &c));
  EXPECT_EQ(7, c);
  EXPECT_EQ(0xEE, dec[0]);
  EXPECT_EQ(6, HALDStrCodec_Decode(text.data(), 13, dec, &c));
  EXPECT_EQ(7, c);
}

// A count so large that its encoded size does not fit in 32 bits can never
// be satisfied (and must not wrap to a small size).
TEST(PrimitivesCodecCapacity, HugeCountIsRefused) {
  EXPECT_EQ(INT32_MAX, HALDStrCodec_GetEncodeSize(INT32_MAX));
  char out[8];
  int32_t cap = INT32_MAX;
  EXPECT_EQ(CODEC_ERR_OUTPUT_SIZE, HALDStrCodec_Encode(U("abc"), INT32_MAX, out, &cap));
  EXPECT_EQ(INT32_MAX, cap);
}

TEST(PrimitivesCodecRoundTrip, EveryClockValueAndLengthUpTo300) {
  std::mt19937 rng(83);
  for (uint32_t k = 0; k < 8; ++k)
    for (size_t n = 0; n <= 300; ++n) {
      std::string in(n, '\0');
      // Plenty of zero and 0xFF bytes among random ones.
      for (auto &ch : in) {
        uint32_t r = rng() % 8;
        ch = r == 0 ? '\0' : r == 1 ? '\xff' : (char)rng();
      }
      std::string text = EncodeAt(in, k), bytes;
      ASSERT_EQ((int32_t)n, Decode(text, &bytes)) << "k " << k << ", length " << n;
      ASSERT_EQ(in, bytes) << "k " << k << ", length " << n;
    }
}

TEST(PrimitivesCodecRoundTrip, AllGroupValues) {
  // Every value of the first byte with fixed neighbours, then of the last:
  // each 6-bit digit reaches 0 and 63 somewhere.
  for (uint32_t k = 0; k < 8; ++k)
    for (int v = 0; v < 256; ++v) {
      std::string in = {(char)v, '\x00', (char)~v, '\xff', (char)v, '\x5a'};
      std::string bytes;
      ASSERT_EQ(6, Decode(EncodeAt(in, k), &bytes));
      ASSERT_EQ(in, bytes) << "k " << k << ", v " << v;
    }
}

TEST(PrimitivesCodecDecode, MalformedTexts) {
  const std::string good = EncodeAt("abcdef", 4);
  const char *const texts[] = {
      "o2MI6eab",  // 8 characters
      "o2MI6ed",   // last character not a, b or c
      "o2MI6e",    // 6 characters
      "o2MI6e=",  "o2MI6eA",
      "b",  // pad count alone: nothing to take it from
      "c",
      "o2M*6ea",  // character outside the table
      "o2M 6ea",
  };
  for (const char *t : texts) {
    std::string bytes;
    EXPECT_EQ(CODEC_ERR_MALFORMED, Decode(t, &bytes)) << t;
  }
  std::string bytes;
  EXPECT_EQ(CODEC_ERR_MALFORMED, Decode(std::string("o2M\0"
                                                    "6ea",
                                                    7),
                                        &bytes));
  EXPECT_EQ(CODEC_ERR_MALFORMED, Decode("", &bytes));
  EXPECT_EQ(0, Decode("a", &bytes));
  EXPECT_EQ("", bytes);

  unsigned char out[8];
  int32_t cap = sizeof out;
  EXPECT_EQ(CODEC_ERR_MALFORMED, HALDStrCodec_Decode("o2MI6ea", -7, out, &cap));
}

// A zero byte at the start of a group ends the text there.
TEST(PrimitivesCodecDecode, ZeroByteAtAGroupStartEndsTheText) {
  std::string text = EncodeAt("abcdefghi", 1);
  text[6] = '\0';
  std::string bytes;
  EXPECT_EQ(3, Decode(text, &bytes));
  EXPECT_EQ("abc", bytes);
  text[0] = '\0';
  EXPECT_EQ(0, Decode(text, &bytes));
  // With a pad count to take from the (now absent) groups it is malformed.
  std::string padded = EncodeAt("abcd", 1);
  padded[0] = '\0';
  EXPECT_EQ(CODEC_ERR_MALFORMED, Decode(padded, &bytes));
}

// Table characters 61..63 ("0", "+", "=") are accepted as digit values
// although the encoder never writes them.
TEST(PrimitivesCodecDecode, AcceptsTheUnusedTableCharacters) {
  const std::string table = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890+=";
  std::mt19937 rng(61);
  int accepted = 0;
  for (int tries = 0; tries < 2000 && accepted < 20; ++tries) {
    std::string text(6, 'a');
    for (auto &ch : text) ch = table[rng() % 64];
    text[rng() % 6] = table[61 + rng() % 3];
    text += 'a';
    std::string bytes;
    int32_t n = Decode(text, &bytes);
    if (n == CODEC_ERR_MALFORMED) continue;
    ASSERT_EQ(3, n) << text;
    ++accepted;
  }
  EXPECT_EQ(20, accepted);
}

// Changing one character of a later group almost always breaks its
// divisibility test (a change survives only when the divisor happens to
// divide the new value, a few percent of cases).
TEST(PrimitivesCodecDecode, CorruptedCharacterIsUsuallyDetected) {
  const std::string table = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890+=";
  std::mt19937 rng(7);
  std::string in(60, '\0');
  for (auto &ch : in) ch = (char)rng();
  int changed = 0, detected = 0;
  for (uint32_t k = 0; k < 8; ++k) {
    std::string text = EncodeAt(in, k);
    for (size_t pos = 6; pos + 1 < text.size(); ++pos)
      for (char repl : table) {
        if (repl == text[pos]) continue;
        std::string bad = text, bytes;
        bad[pos] = repl;
        ++changed;
        if (Decode(bad, &bytes) == CODEC_ERR_MALFORMED) ++detected;
      }
  }
  EXPECT_GT(detected, changed * 9 / 10) << detected << " of " << changed;
}

}  // namespace
