// SPDX-License-Identifier: MIT
// Label encoding and the resolver's answer walk on bare datagrams.  Every
// datagram is handed over in a heap block of exactly its size, so a read past
// the received bytes is caught by the sanitizer build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dns_wire.h"
#include "fake_dns.h"
#include "namreg/netutility.h"

namespace {

using netutility::DnsEncodeName;
using netutility::DnsParseAnswer;
using nrtest::Bytes;
using nrtest::FakeRecord;

constexpr uint16_t kId = 0x4D2A;

Bytes Query(const std::string &name, uint16_t type = 1) {
  Bytes q(12, 0);
  memcpy(q.data(), &kId, 2);
  q[2] = 0x01;
  q[5] = 1;
  Bytes n = nrtest::NameData(name);
  q.insert(q.end(), n.begin(), n.end());
  q.push_back(static_cast<uint8_t>(type >> 8));
  q.push_back(static_cast<uint8_t>(type));
  q.push_back(0);
  q.push_back(1);
  return q;
}

struct Parsed {
  int32_t result;
  uint32_t address;
};

Parsed Parse(const Bytes &answer, uint16_t id = kId) {
  uint8_t *copy = static_cast<uint8_t *>(malloc(answer.empty() ? 1 : answer.size()));
  if (!answer.empty()) memcpy(copy, answer.data(), answer.size());
  Parsed p{0, 0};
  p.result = DnsParseAnswer(copy, answer.size(), id, &p.address);
  free(copy);
  return p;
}

uint32_t Addr(const char *dotted) {
  Bytes b = nrtest::ARecordData(dotted);
  uint32_t v;
  memcpy(&v, b.data(), 4);
  return v;
}

FakeRecord A(const char *dotted, Bytes owner = {}) {
  FakeRecord r;
  r.rdata = nrtest::ARecordData(dotted);
  r.owner = std::move(owner);
  return r;
}

FakeRecord Other(uint16_t type, Bytes rdata) {
  FakeRecord r;
  r.type = type;
  r.rdata = std::move(rdata);
  return r;
}

// Encodes into a heap block of exactly `capacity` bytes.
size_t Encode(const std::string &name, size_t capacity = 255, Bytes *wire = nullptr) {
  uint8_t *out = static_cast<uint8_t *>(malloc(capacity ? capacity : 1));
  const size_t n = DnsEncodeName(name.c_str(), out, capacity);
  if (wire) wire->assign(out, out + n);
  free(out);
  return n;
}

TEST(NetUtilityDnsWire, NameEncoding) {
  Bytes wire;
  EXPECT_EQ(Encode("www.example.com", 255, &wire), 17u);
  EXPECT_EQ(wire, nrtest::NameData("www.example.com"));

  // Empty parts become a single zero byte, as written.
  struct Case {
    const char *name;
    Bytes wire;
  } cases[] = {
      {"", {0, 0}},
      {"a..b", {1, 'a', 0, 1, 'b', 0}},
      {".a", {0, 1, 'a', 0}},
      {"a.", {1, 'a', 0, 0}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Encode(c.name, 255, &wire), c.wire.size()) << c.name;
    EXPECT_EQ(wire, c.wire) << c.name;
  }

  // 63 bytes per label, 255 bytes for the whole encoded name.
  const std::string l63(63, 'a'), l64(64, 'a');
  EXPECT_EQ(Encode(l63), 65u);
  EXPECT_EQ(Encode(l64), 0u);
  EXPECT_EQ(Encode("x." + l64 + ".com"), 0u);
  EXPECT_EQ(Encode("x." + l63 + "a"), 0u);
  const std::string n255 = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'b');
  EXPECT_EQ(Encode(n255, 300), 255u);
  EXPECT_EQ(Encode(n255 + "b", 300), 0u);
  EXPECT_EQ(Encode(n255 + ".", 300), 0u);
  EXPECT_EQ(Encode(std::string(5000, 'c'), 300), 0u);
  // A long run of dots: each empty part is a byte of its own.
  EXPECT_EQ(Encode(std::string(253, '.')), 255u);
  EXPECT_EQ(Encode(std::string(254, '.')), 0u);

  // The capacity bounds the writing: exactly enough, one byte short.
  EXPECT_EQ(Encode("www.example.com", 17), 17u);
  EXPECT_EQ(Encode("www.example.com", 16), 0u);
  EXPECT_EQ(Encode("www.example.", 14), 14u);
  EXPECT_EQ(Encode("www.example.", 13), 0u);
  EXPECT_EQ(Encode("", 2), 2u);
  EXPECT_EQ(Encode("", 1), 0u);
  EXPECT_EQ(Encode("a", 0), 0u);
}

TEST(NetUtilityDnsWire, AnswerRecords) {
  const Bytes q = Query("www.example.test");
  FakeRecord cname = Other(5, nrtest::NameData("host.example.test"));

  Parsed p = Parse(nrtest::MakeAnswer(q, {A("192.0.2.1")}));
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.address, Addr("192.0.2.1"));

  // CNAME records are stepped over; the first A record after them counts.
  p = Parse(nrtest::MakeAnswer(q, {cname, cname, A("192.0.2.2"), A("192.0.2.3")}));
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.address, Addr("192.0.2.2"));

  // An owner written out as labels, and one of labels ending in a pointer.
  p = Parse(nrtest::MakeAnswer(q, {cname, A("192.0.2.4", nrtest::NameData("host.example.test"))}));
  EXPECT_EQ(p.address, Addr("192.0.2.4"));
  p = Parse(nrtest::MakeAnswer(q, {A("192.0.2.5", Bytes{3, 'w', 'w', 'w', 0xC0, 0x10})}));
  EXPECT_EQ(p.address, Addr("192.0.2.5"));
  // The root name as owner.
  p = Parse(nrtest::MakeAnswer(q, {A("192.0.2.6", Bytes{0})}));
  EXPECT_EQ(p.address, Addr("192.0.2.6"));

  // First usable record not an A record: 0, nothing written.
  Bytes aaaa(16, 0x20);
  Bytes mx{0, 10};
  Bytes mx_name = nrtest::NameData("mail.example.test");
  mx.insert(mx.end(), mx_name.begin(), mx_name.end());
  for (const auto &records :
       {std::vector<FakeRecord>{Other(28, aaaa), A("192.0.2.7")},
        std::vector<FakeRecord>{Other(15, mx), A("192.0.2.7")},
        std::vector<FakeRecord>{cname, Other(28, aaaa)}, std::vector<FakeRecord>{cname}}) {
    p = Parse(nrtest::MakeAnswer(q, records));
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.address, 0u);
  }
}

TEST(NetUtilityDnsWire, AnswerHeaderChecks) {
  const Bytes q = Query("www.example.test");
  const Bytes good = nrtest::MakeAnswer(q, {A("192.0.2.1")});

  // RCODE 3 is a name error before anything else is looked at, the ID too.
  Bytes nx = nrtest::MakeAnswer(q, {}, 3);
  EXPECT_EQ(Parse(nx).result, DNS_RESULT_NAME_ERROR);
  EXPECT_EQ(Parse(nx, kId ^ 0x0101).result, DNS_RESULT_NAME_ERROR);
  EXPECT_EQ(Parse(Bytes{0, 0, 0x81, 0x83}).result, DNS_RESULT_NAME_ERROR);
  // Other codes are ordinary failures only when the header says so.
  EXPECT_EQ(Parse(nrtest::MakeAnswer(q, {}, 2)).result, -1);

  struct Case {
    const char *what;
    size_t offset;
    uint8_t value;
  } cases[] = {
      {"wrong ID", 0, static_cast<uint8_t>((kId & 0xFF) ^ 1)},
      {"QDCOUNT 0", 5, 0},
      {"QDCOUNT 2", 5, 2},
      {"QDCOUNT 257", 4, 1},
      {"ANCOUNT 0", 7, 0},
      {"question type AAAA", 12 + 18 + 1, 28},
  };
  for (const Case &c : cases) {
    Bytes b = good;
    b[c.offset] = c.value;
    Parsed p = Parse(b);
    EXPECT_EQ(p.result, -1) << c.what;
    EXPECT_EQ(p.address, 0u) << c.what;
  }
  EXPECT_EQ(Parse(good, kId ^ 0x0100).result, -1);
  // ANCOUNT only gates: a count above the records present is not followed.
  Bytes many = good;
  many[7] = 200;
  EXPECT_EQ(Parse(many).address, Addr("192.0.2.1"));
}

// Every prefix of several answers: the walk must stay inside the bytes it
// got and never take an address from a cut-off record.
TEST(NetUtilityDnsWire, CutOffAnswersAtEveryLength) {
  const Bytes q = Query("www.example.test");
  const Bytes answers[] = {
      nrtest::MakeAnswer(q, {A("192.0.2.1")}),
      nrtest::MakeAnswer(q, {Other(5, nrtest::NameData("h.example.test")), A("192.0.2.1")}),
      nrtest::MakeAnswer(q, {A("192.0.2.1", nrtest::NameData("www.example.test"))}),
  };
  for (const Bytes &full : answers) {
    ASSERT_EQ(Parse(full).address, Addr("192.0.2.1"));
    for (size_t len = 0; len < full.size(); ++len) {
      Parsed p = Parse(Bytes(full.begin(), full.begin() + static_cast<long>(len)));
      EXPECT_NE(p.result, DNS_RESULT_NAME_ERROR) << len;
      EXPECT_EQ(p.address, 0u) << "cut at " << len << " of " << full.size();
    }
  }
}

TEST(NetUtilityDnsWire, LengthsAndPointersThatLie) {
  const Bytes q = Query("www.example.test");
  const size_t answer_start = q.size();

  // RDLENGTH running past the end, huge, or too small for an address.
  for (uint16_t rdlength : {5, 200, 0xFFFF, 0, 3}) {
    Bytes b = nrtest::MakeAnswer(q, {A("192.0.2.1")});
    b[answer_start + 10] = static_cast<uint8_t>(rdlength >> 8);
    b[answer_start + 11] = static_cast<uint8_t>(rdlength);
    if (rdlength < 4) b.resize(answer_start + 12 + rdlength);
    Parsed p = Parse(b);
    EXPECT_EQ(p.result, 0) << rdlength;
    EXPECT_EQ(p.address, 0u) << rdlength;
  }
  // A CNAME whose RDLENGTH jumps beyond the data.
  for (uint16_t rdlength : {0xFFFF, 0x8000, 40}) {
    Bytes b = nrtest::MakeAnswer(q, {Other(5, nrtest::NameData("h.example.test")), A("192.0.2.1")});
    b[answer_start + 10] = static_cast<uint8_t>(rdlength >> 8);
    b[answer_start + 11] = static_cast<uint8_t>(rdlength);
    EXPECT_EQ(Parse(b).address, 0u) << rdlength;
  }
  // Owner names whose label lengths or pointer run off the end (each tail
  // is at least 13 bytes, so the record is looked at).
  const Bytes labels{1, 'a', 1, 'a', 1, 'a', 1, 'a', 1, 'a', 1, 'a'};
  auto with = [&labels](Bytes end) {
    Bytes t = labels;
    t.insert(t.end(), end.begin(), end.end());
    return t;
  };
  const Bytes tails[] = {
      with({0xC0}),                                            // pointer cut in half
      with({0xC0, 0x0C}),                                      // no room for TYPE ... RDLENGTH
      with({0x3F, 'a', 'b', 'c'}),                             // label longer than the rest
      Bytes(20, 0x05),                                         // labels without a zero byte
      with({0x00, 0, 1, 0, 1, 0, 0, 0}),                       // fixed fields cut off
      Bytes{0x80, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 1, 2, 3, 4},  // reserved label type
      Bytes{0x40, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 1, 2, 3, 4},  // reserved label type
      Bytes(12, 0x3F),                                         // too short to be a record
  };
  for (const Bytes &tail : tails) {
    Bytes b = nrtest::MakeAnswer(q, {});
    b[7] = 1;
    b.insert(b.end(), tail.begin(), tail.end());
    Parsed p = Parse(b);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.address, 0u);
  }
  // The question's name without its zero byte, or without QTYPE and QCLASS.
  Bytes open_name(12, 0);
  memcpy(open_name.data(), &kId, 2);
  open_name[5] = 1;
  open_name[7] = 1;
  open_name.insert(open_name.end(), 30, 'x');
  EXPECT_EQ(Parse(open_name).result, -1);
  for (size_t keep : {0, 1, 2, 3, 4}) {
    Bytes b(q.begin(), q.end() - 4);
    b.insert(b.end(), q.end() - 4, q.end() - 4 + static_cast<long>(keep));
    b[3] = 0x80;
    b[7] = 1;
    EXPECT_EQ(Parse(b).result, keep < 4 ? -1 : 0) << keep;
  }
}

}  // namespace
