// SPDX-License-Identifier: MIT
// The Blowfish variant: the S-box constants against pi computed here, the
// textbook check vectors from the same tables, an independent reference of
// the variant (zero P-array start, little-endian halves), and the buffer
// operations.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "blowfish_internal.h"
#include "namreg/common.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The first `words` 32-bit words of the hexadecimal fraction of pi, from
// Machin's formula pi = 16 atan(1/5) - 4 atan(1/239) in fixed point (base
// 2^32, word 0 the integer part, a few guard words at the end).
std::vector<uint32_t> PiFractionWords(size_t words) {
  const size_t n = words + 1 + 4;
  using Fixed = std::vector<uint32_t>;
  auto div_small = [n](Fixed &a, uint32_t d) {
    uint64_t rem = 0;
    for (size_t i = 0; i < n; ++i) {
      uint64_t cur = (rem << 32) | a[i];
      a[i] = (uint32_t)(cur / d);
      rem = cur % d;
    }
  };
  auto add_to = [n](Fixed &a, const Fixed &b, bool subtract) {
    uint64_t carry = 0;
    for (size_t i = n; i-- > 0;) {
      if (!subtract) {
        uint64_t s = (uint64_t)a[i] + b[i] + carry;
        a[i] = (uint32_t)s;
        carry = s >> 32;
      } else {
        uint64_t s = (uint64_t)a[i] - b[i] - carry;
        a[i] = (uint32_t)s;
        carry = (s >> 32) ? 1 : 0;
      }
    }
  };
  auto is_zero = [](const Fixed &a) {
    for (uint32_t w : a)
      if (w) return false;
    return true;
  };
  // multiplier * atan(1/x)
  auto arctan_inv = [&](uint32_t x, uint32_t multiplier) {
    Fixed sum(n, 0), power(n, 0), term(n, 0);
    power[0] = multiplier;
    div_small(power, x);
    sum = power;
    for (uint32_t k = 1;; ++k) {
      div_small(power, x * x);
      if (is_zero(power)) break;
      term = power;
      div_small(term, 2 * k + 1);
      add_to(sum, term, k & 1);
    }
    return sum;
  };
  Fixed pi = arctan_inv(5, 16);
  add_to(pi, arctan_inv(239, 4), true);
  EXPECT_EQ(3u, pi[0]);
  return std::vector<uint32_t>(pi.begin() + 1, pi.begin() + 1 + (long)words);
}

const std::vector<uint32_t> &Pi() {
  static const std::vector<uint32_t> words =
      PiFractionWords(BLOWFISH_P_WORDS + BLOWFISH_SBOX_WORDS);
  return words;
}

TEST(PrimitivesBlowfishTables, SBoxesAreThePiWordsAfterThePArray) {
  const auto &pi = Pi();
  ASSERT_EQ(0x243F6A88u, pi[0]);
  const uint32_t *boxes[4] = {namreg::Blowfish_InitialSBox(0), namreg::Blowfish_InitialSBox(1),
                              namreg::Blowfish_InitialSBox(2), namreg::Blowfish_InitialSBox(3)};
  for (int b = 0; b < 4; ++b)
    for (int i = 0; i < 256; ++i)
      ASSERT_EQ(pi[BLOWFISH_P_WORDS + 256 * b + i], boxes[b][i]) << "ks" << b << "[" << i << "]";
}

// A word-level reference written from the cipher's description, independent
// of the library's code: textbook rounds, any starting P-array.
struct Reference {
  uint32_t s[4][256];
  uint32_t p[18];

  uint32_t F(uint32_t x) const {
    return ((s[0][x >> 24] + s[1][(x >> 16) & 255]) ^ s[2][(x >> 8) & 255]) + s[3][x & 255];
  }
  void Encipher(uint32_t &l, uint32_t &r) const {
    for (int i = 0; i < 16; ++i) {
      l ^= p[i];
      r ^= F(l);
      std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p[16];
    l ^= p[17];
  }
  Reference(const uint32_t p_init[18], const Bytes &k) {
    const uint32_t *boxes[4] = {namreg::Blowfish_InitialSBox(0), namreg::Blowfish_InitialSBox(1),
                                namreg::Blowfish_InitialSBox(2), namreg::Blowfish_InitialSBox(3)};
    for (int b = 0; b < 4; ++b) memcpy(s[b], boxes[b], sizeof s[b]);
    size_t len = std::min<size_t>(k.size(), 56), j = 0;
    for (int i = 0; i < 18; ++i) {
      uint32_t w = 0;
      for (int b = 0; b < 4; ++b) {
        w = (w << 8) | (len ? k[j] : 0);
        if (len) j = (j + 1) % len;
      }
      p[i] = p_init[i] ^ w;
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
      Encipher(l, r);
      p[i] = l;
      p[i + 1] = r;
    }
    for (int b = 0; b < 4; ++b)
      for (int i = 0; i < 256; i += 2) {
        Encipher(l, r);
        s[b][i] = l;
        s[b][i + 1] = r;
      }
  }
  // The variant's block: halves read little-endian.
  void EncryptBlock(unsigned char *blk) const {
    uint32_t l, r;
    l = blk[0] | blk[1] << 8 | blk[2] << 16 | (uint32_t)blk[3] << 24;
    r = blk[4] | blk[5] << 8 | blk[6] << 16 | (uint32_t)blk[7] << 24;
    Encipher(l, r);
    for (int i = 0; i < 4; ++i) {
      blk[i] = (unsigned char)(l >> (8 * i));
      blk[4 + i] = (unsigned char)(r >> (8 * i));
    }
  }
};

uint64_t Be64(const char *hex) {
  return strtoull(hex, nullptr, 16);
}

Bytes BytesOf(uint64_t v) {
  Bytes b(8);
  for (int i = 0; i < 8; ++i) b[i] = (unsigned char)(v >> (56 - 8 * i));
  return b;
}

// Textbook check vectors (key, plain, cipher; big-endian), run with the
// library's schedule and rounds started from the pi P-array.
TEST(PrimitivesBlowfishTables, TextbookScheduleFromTheseTablesMeetsTheCheckVectors) {
  struct Case {
    const char *key, *plain, *cipher;
  } const cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
  };
  const uint32_t *pi = Pi().data();
  for (const auto &c : cases) {
    Bytes k = BytesOf(Be64(c.key));
    uint64_t plain = Be64(c.plain);
    namreg::Blowfish_BuildSchedule(pi, k.data(), (uint32_t)k.size());
    uint32_t l = (uint32_t)(plain >> 32), r = (uint32_t)plain;
    namreg::Blowfish_EncipherWords(&l, &r);
    EXPECT_EQ(Be64(c.cipher), ((uint64_t)l << 32) | r) << "key " << c.key;
    namreg::Blowfish_DecipherWords(&l, &r);
    EXPECT_EQ(plain, ((uint64_t)l << 32) | r) << "key " << c.key;

    Reference ref(pi, k);
    l = (uint32_t)(plain >> 32);
    r = (uint32_t)plain;
    ref.Encipher(l, r);
    EXPECT_EQ(Be64(c.cipher), ((uint64_t)l << 32) | r) << "reference, key " << c.key;
  }
}

TEST(PrimitivesBlowfish, MatchesTheReferenceVariantForKeysOfEveryLength) {
  static const uint32_t kZero[18] = {};
  std::mt19937 rng(56);
  for (size_t klen = 0; klen <= 56; ++klen) {  // 0: no key bytes to mix in
    Bytes k(klen);
    for (auto &b : k) b = (unsigned char)rng();
    Blowfish_SetKey(k.data(), (uint32_t)klen);
    uint32_t stored = 0;
    const unsigned char *stored_key = namreg::Blowfish_CurrentKey(&stored);
    ASSERT_EQ(klen, stored);
    if (klen > 0) {
      ASSERT_EQ(0, memcmp(stored_key, k.data(), klen));
    }

    Reference ref(kZero, k);
    Bytes data(32);
    for (auto &b : data) b = (unsigned char)rng();
    Bytes expected = data;
    for (size_t off = 0; off < expected.size(); off += 8) ref.EncryptBlock(expected.data() + off);
    Bytes out(data.size());
    ASSERT_EQ(0, Blowfish_Encrypt(data.data(), out.data(), (uint32_t)data.size()));
    ASSERT_EQ(expected, out) << "key length " << klen;
  }
}

TEST(PrimitivesBlowfish, DiffersFromTheTextbookCipher) {
  // All-zero key and block: the textbook result would be 4EF997456198DD78
  // (as bytes, big-endian halves).
  Bytes zero(8, 0), out(8);
  Blowfish_SetKey(zero.data(), 8);
  Blowfish_Encrypt(zero.data(), out.data(), 8);
  EXPECT_NE(BytesOf(0x4EF997456198DD78ull), out);
  EXPECT_NE(zero, out);
}

TEST(PrimitivesBlowfish, RoundTripsInPlaceAndBetweenBuffers) {
  std::mt19937 rng(8);
  for (size_t len = 0; len <= 80; ++len) {
    Bytes k(1 + rng() % 56);
    for (auto &b : k) b = (unsigned char)rng();
    Blowfish_SetKey(k.data(), (uint32_t)k.size());
    Bytes plain(len);
    for (auto &b : plain) b = (unsigned char)rng();

    Bytes cipher(len), back(len);
    ASSERT_EQ(0, Blowfish_Encrypt(plain.data(), cipher.data(), (uint32_t)len));
    ASSERT_EQ(0, Blowfish_Decrypt(cipher.data(), back.data(), (uint32_t)len));
    EXPECT_EQ(plain, back) << "length " << len;
    if (len >= 8) {
      EXPECT_NE(plain, cipher) << "length " << len;
    }

    Bytes inplace = plain;
    Blowfish_Encrypt(inplace.data(), inplace.data(), (uint32_t)len);
    EXPECT_EQ(cipher, inplace) << "length " << len;
    Blowfish_Decrypt(inplace.data(), inplace.data(), (uint32_t)len);
    EXPECT_EQ(plain, inplace) << "length " << len;
  }
}

TEST(PrimitivesBlowfish, EcbOverWholeBlocksLeavesTheTailAsCopied) {
  const unsigned char k[] = "peanut";
  Blowfish_SetKey(k, 6);
  Bytes plain = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0xA, 0xB, 0xC, 0xD};
  Bytes out(plain.size());
  Blowfish_Encrypt(plain.data(), out.data(), 12);
  // Only the first 12 bytes are touched; the 4-byte tail is copied as is.
  EXPECT_NE(0, memcmp(plain.data(), out.data(), 8));
  EXPECT_EQ(0, memcmp(plain.data() + 8, out.data() + 8, 4));
  EXPECT_EQ(0, out[12]);
  Bytes back(12);
  Blowfish_Decrypt(out.data(), back.data(), 12);
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 12), back);

  // Equal blocks give equal cipher blocks: no chaining.
  Blowfish_Encrypt(plain.data(), out.data(), 16);
  EXPECT_EQ(0, memcmp(out.data(), out.data() + 8, 8));
}

TEST(PrimitivesBlowfish, KeyIsCappedAt56Bytes) {
  Bytes long_key(60);
  for (size_t i = 0; i < long_key.size(); ++i) long_key[i] = (unsigned char)(i * 37 + 1);
  Bytes data(24, 0x42), with60(24), with56(24);

  Blowfish_SetKey(long_key.data(), 60);
  uint32_t stored = 0;
  namreg::Blowfish_CurrentKey(&stored);
  EXPECT_EQ(56u, stored);
  Blowfish_Encrypt(data.data(), with60.data(), 24);
  Blowfish_SetKey(long_key.data(), 56);
  Blowfish_Encrypt(data.data(), with56.data(), 24);
  EXPECT_EQ(with56, with60);

  // The 57th byte is really ignored, not just equal by chance.
  long_key[56] ^= 0xFF;
  Bytes changed(24);
  Blowfish_SetKey(long_key.data(), 60);
  Blowfish_Encrypt(data.data(), changed.data(), 24);
  EXPECT_EQ(with56, changed);
  long_key[55] ^= 0xFF;
  Blowfish_SetKey(long_key.data(), 60);
  Blowfish_Encrypt(data.data(), changed.data(), 24);
  EXPECT_NE(with56, changed);
}

TEST(PrimitivesBlowfish, NewKeyReplacesTheWholeSchedule) {
  const unsigned char a[] = "first key", b[] = "second";
  Bytes data(16, 7), first(16), again(16);
  Blowfish_SetKey(a, 9);
  Blowfish_Encrypt(data.data(), first.data(), 16);
  Blowfish_SetKey(b, 6);
  Blowfish_SetKey(a, 9);
  Blowfish_Encrypt(data.data(), again.data(), 16);
  EXPECT_EQ(first, again);
}

// Missing buffers are refused rather than dereferenced; an empty length is
// nothing to do.
TEST(PrimitivesBlowfish, MissingBufferIsRefused) {
  unsigned char buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(-1, Blowfish_Encrypt(nullptr, buf, 8));
  EXPECT_EQ(-1, Blowfish_Decrypt(buf, nullptr, 8));
  EXPECT_EQ(1, buf[0]);
  EXPECT_EQ(0, Blowfish_Encrypt(nullptr, nullptr, 0));
}

}  // namespace
