// SPDX-License-Identifier: MIT
#include "fake_dns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nrtest {

FakeDns::FakeDns(const Names &names) {
  Start("127.0.0.1", AnswerNames(names));
}

FakeDns::FakeDns(Script script) {
  Start("127.0.0.1", std::move(script));
}

bool FakeDns::Start(const std::string &address, Script script, std::string *error, uint16_t port) {
  ok_ = peer_.Start(address, port, std::move(script), error);
  return ok_;
}

std::string QueryName(const Bytes &query) {
  std::string name;
  size_t pos = 12;
  while (pos < query.size() && query[pos] != 0) {
    size_t len = query[pos];
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char *>(query.data()) + pos + 1,
                std::min(len, query.size() - pos - 1));
    pos += len + 1;
  }
  return name;
}

uint16_t QueryType(const Bytes &query) {
  size_t pos = 12;
  while (pos < query.size() && query[pos] != 0) pos += query[pos] + 1u;
  if (pos + 3 > query.size()) return 0;
  return static_cast<uint16_t>((query[pos + 1] << 8) | query[pos + 2]);
}

Bytes ARecordData(const std::string &dotted) {
  in_addr a{};
  inet_aton(dotted.c_str(), &a);
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&a.s_addr);
  return Bytes(p, p + 4);
}

Bytes NameData(const std::string &dotted) {
  Bytes out;
  size_t start = 0;
  while (start <= dotted.size()) {
    size_t dot = dotted.find('.', start);
    if (dot == std::string::npos) dot = dotted.size();
    out.push_back(static_cast<uint8_t>(dot - start));
    out.insert(out.end(), dotted.begin() + static_cast<long>(start),
               dotted.begin() + static_cast<long>(dot));
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

static void Put16(Bytes *b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}

Bytes MakeAnswer(const Bytes &query, const std::vector<FakeRecord> &records, uint8_t rcode) {
  Bytes out(query.begin(), query.end());
  if (out.size() < 12) out.resize(12);
  out[2] = static_cast<uint8_t>(0x80 | (query.size() > 2 ? (query[2] & 0x01) : 0));
  out[3] = static_cast<uint8_t>(0x80 | (rcode & 0x0F));
  out[6] = static_cast<uint8_t>(records.size() >> 8);
  out[7] = static_cast<uint8_t>(records.size());
  for (const FakeRecord &r : records) {
    if (r.owner.empty()) {
      out.push_back(0xC0);
      out.push_back(0x0C);
    } else {
      out.insert(out.end(), r.owner.begin(), r.owner.end());
    }
    Put16(&out, r.type);
    Put16(&out, r.klass);
    Put16(&out, static_cast<uint16_t>(r.ttl >> 16));
    Put16(&out, static_cast<uint16_t>(r.ttl));
    Put16(&out, static_cast<uint16_t>(r.rdata.size()));
    out.insert(out.end(), r.rdata.begin(), r.rdata.end());
  }
  return out;
}

FakeDns::Script AnswerNames(const Names &names) {
  return [names](const Bytes &query) -> std::vector<Bytes> {
    const std::string name = QueryName(query);
    for (const auto &entry : names) {
      if (entry.first != name) continue;
      if (QueryType(query) != 1) return {MakeAnswer(query, {})};
      FakeRecord a;
      a.rdata = ARecordData(entry.second);
      return {MakeAnswer(query, {a})};
    }
    return {MakeAnswer(query, {}, 3)};
  };
}

FakeDns::Script AnswerEveryName(const std::string &address) {
  return [address](const Bytes &query) -> std::vector<Bytes> {
    if (QueryType(query) != 1) return {MakeAnswer(query, {})};
    FakeRecord a;
    a.rdata = ARecordData(address);
    return {MakeAnswer(query, {a})};
  };
}

FakeDns::Script NoAnswer() {
  return [](const Bytes &) { return std::vector<Bytes>(); };
}

}  // namespace nrtest
