// SPDX-License-Identifier: MIT
// MD5, the hex helpers and HMAC-MD5: the RFC 1321 and RFC 2202 vectors, and
// OpenSSL's libcrypto as an oracle on random inputs.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "namreg/common.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string Hex(const unsigned char *p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

Bytes RandomBytes(std::mt19937 &rng, size_t n) {
  Bytes b(n);
  for (auto &x : b) x = (unsigned char)rng();
  return b;
}

std::string OpenSslMd5(const Bytes &data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), md, &len, EVP_md5(), nullptr));
  return Hex(md, len);
}

std::string OpenSslHmacMd5(const Bytes &key, const Bytes &data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  static const unsigned char kEmpty = 0;
  HMAC(EVP_md5(), key.empty() ? &kEmpty : key.data(), (int)key.size(),
       data.empty() ? &kEmpty : data.data(), data.size(), md, &len);
  return Hex(md, len);
}

std::string OurMd5(const Bytes &data) {
  MD5Context ctx;
  unsigned char digest[16];
  MD5Init(&ctx);
  MD5Update(&ctx, data.data(), (unsigned int)data.size());
  MD5Final(digest, &ctx);
  return Hex(digest, 16);
}

std::string OurHmac(const Bytes &key, const Bytes &data) {
  unsigned char out[16];
  HMAC_MD5(key.data(), (int)key.size(), data.data(), (int)data.size(), out);
  return Hex(out, 16);
}

TEST(PrimitivesMd5, Rfc1321TestSuiteInLowerCaseHex) {
  struct Case {
    const char *text;
    const char *digest;
  } const cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890"
       "1234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto &c : cases) {
    char hex[34];
    memset(hex, 'X', sizeof hex);
    MD5_StringHex(hex, c.text);
    EXPECT_STREQ(c.digest, hex) << "text \"" << c.text << "\"";
    EXPECT_EQ('X', hex[33]) << "wrote past the 33-byte output";

    unsigned char raw[18];
    memset(raw, 0xEE, sizeof raw);
    MD5_String(raw, c.text);
    EXPECT_EQ(c.digest, Hex(raw, 16));
    EXPECT_EQ(0, raw[16]);
    EXPECT_EQ(0xEE, raw[17]);
  }
}

TEST(PrimitivesMd5, ListHexJoinsTextsWithNothingBetween) {
  char joined[33], listed[33];
  MD5_StringHex(joined, "a:b");
  MD5_ListHex(listed, "a", ":", "b", (const char *)nullptr);
  EXPECT_STREQ(joined, listed);

  MD5_StringHex(joined, "user:realm:password");
  MD5_ListHex(listed, "user", ":", "realm", ":", "", "password", (const char *)nullptr);
  EXPECT_STREQ(joined, listed);

  MD5_StringHex(joined, "");
  MD5_ListHex(listed, (const char *)nullptr);
  EXPECT_STREQ(joined, listed);
}

TEST(PrimitivesMd5, FinalClearsTheContext) {
  MD5Context ctx;
  unsigned char digest[16];
  MD5Init(&ctx);
  MD5Update(&ctx, reinterpret_cast<const unsigned char *>("secret key material"), 19);
  MD5Final(digest, &ctx);
  MD5Context zero;
  memset(&zero, 0, sizeof zero);
  EXPECT_EQ(0, memcmp(&ctx, &zero, sizeof ctx));
}

// Every length 0..300 in one update, against OpenSSL.
TEST(PrimitivesMd5, MatchesOpenSslOnEveryLengthUpTo300) {
  std::mt19937 rng(1321);
  for (size_t n = 0; n <= 300; ++n) {
    Bytes data = RandomBytes(rng, n);
    ASSERT_EQ(OpenSslMd5(data), OurMd5(data)) << "length " << n;
  }
}

// The buffering across updates: the same data fed in random pieces, and
// split at every position of a three-block input.
TEST(PrimitivesMd5, PiecewiseUpdatesGiveTheOneShotDigest) {
  std::mt19937 rng(77);
  Bytes data = RandomBytes(rng, 4096 + 37);
  const std::string expected = OpenSslMd5(data);
  for (int round = 0; round < 200; ++round) {
    MD5Context ctx;
    MD5Init(&ctx);
    size_t at = 0;
    while (at < data.size()) {
      size_t piece = std::min<size_t>(data.size() - at, rng() % 150);
      MD5Update(&ctx, data.data() + at, (unsigned int)piece);
      at += piece;
    }
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    ASSERT_EQ(expected, Hex(digest, 16)) << "round " << round;
  }
  Bytes small(data.begin(), data.begin() + 192);
  const std::string small_expected = OpenSslMd5(small);
  for (size_t split = 0; split <= small.size(); ++split) {
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, small.data(), (unsigned int)split);
    MD5Update(&ctx, small.data() + split, (unsigned int)(small.size() - split));
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    ASSERT_EQ(small_expected, Hex(digest, 16)) << "split at " << split;
  }
}

// The bit count is 64 bits wide, low word first: a carry out of the low word
// reaches the high one.
TEST(PrimitivesMd5, BitCountCarriesIntoTheHighWord) {
  MD5Context ctx;
  MD5Init(&ctx);
  ctx.count[0] = 0xFFFFFFF0u;  // 2^32 - 16 bits so far
  unsigned char ten[10] = {0};
  MD5Update(&ctx, ten, sizeof ten);
  EXPECT_EQ(0x40u, ctx.count[0]);
  EXPECT_EQ(1u, ctx.count[1]);
}

Bytes Repeat(unsigned char b, size_t n) {
  return Bytes(n, b);
}
Bytes Text(const char *s) {
  return Bytes(s, s + strlen(s));
}

TEST(PrimitivesHmacMd5, Rfc2202TestCases) {
  Bytes key4;
  for (unsigned char b = 1; b <= 25; ++b) key4.push_back(b);
  struct Case {
    Bytes key;
    Bytes data;
    const char *mac;
  } const cases[] = {
      {Repeat(0x0b, 16), Text("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
      {Text("Jefe"), Text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
      {Repeat(0xaa, 16), Repeat(0xdd, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
      {key4, Repeat(0xcd, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
      {Repeat(0x0c, 16), Text("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
      {Repeat(0xaa, 80), Text("Test Using Larger Than Block-Size Key - Hash Key First"),
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {Repeat(0xaa, 80),
       Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  int number = 1;
  for (const auto &c : cases) EXPECT_EQ(c.mac, OurHmac(c.key, c.data)) << "case " << number++;
}

TEST(PrimitivesHmacMd5, KeyLongerThanABlockActsAsItsDigest) {
  std::mt19937 rng(2104);
  for (size_t klen : {65u, 80u, 200u}) {
    Bytes key = RandomBytes(rng, klen);
    Bytes data = RandomBytes(rng, 40);
    Bytes hashed(16);
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, key.data(), (unsigned int)key.size());
    MD5Final(hashed.data(), &ctx);
    EXPECT_EQ(OurHmac(hashed, data), OurHmac(key, data)) << "key length " << klen;
  }
}

// Every key length 0..200 with every data length 0..300.
TEST(PrimitivesHmacMd5, MatchesOpenSslOnEveryKeyAndDataLength) {
  std::mt19937 rng(2202);
  Bytes pool = RandomBytes(rng, 600);
  for (size_t klen = 0; klen <= 200; ++klen) {
    Bytes key(pool.begin() + (long)(klen * 7 % 300), pool.begin() + (long)(klen * 7 % 300 + klen));
    for (size_t dlen = 0; dlen <= 300; ++dlen) {
      Bytes data(pool.begin() + (long)(dlen % 250), pool.begin() + (long)(dlen % 250 + dlen));
      ASSERT_EQ(OpenSslHmacMd5(key, data), OurHmac(key, data))
          << "key length " << klen << ", data length " << dlen;
    }
  }
}

TEST(PrimitivesHmacMd5, NegativeLengthsCountAsEmpty) {
  const unsigned char k[] = "key", d[] = "data";
  unsigned char neg[16], empty[16];
  HMAC_MD5(k, -5, d, -1, neg);
  HMAC_MD5(k, 0, d, 0, empty);
  EXPECT_EQ(Hex(empty, 16), Hex(neg, 16));
  EXPECT_EQ(OpenSslHmacMd5({}, {}), Hex(empty, 16));
}

}  // namespace
