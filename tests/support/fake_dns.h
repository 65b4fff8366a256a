// SPDX-License-Identifier: MIT
// A scripted DNS server for tests: a UDP peer on <address>:53 that hands
// every query to a script and sends back what the script returns (nothing,
// for silence), and DNS message builders for the answers the scripts make.
#ifndef NAMREG_TESTS_SUPPORT_FAKE_DNS_H
#define NAMREG_TESTS_SUPPORT_FAKE_DNS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "peers.h"

namespace nrtest {

using Names = std::vector<std::pair<std::string, std::string>>;

class FakeDns {
 public:
  // Returns the datagrams to send back for one query (empty: no answer).
  using Script = UdpPeer::Script;

  FakeDns() = default;
  // Starts at once on 127.0.0.1:53 answering each name of the table with one
  // A record and anything else with NXDOMAIN; check ok().
  explicit FakeDns(const Names &names);
  // Starts at once on 127.0.0.1:53 with a script of its own.
  explicit FakeDns(Script script);
  FakeDns(const FakeDns &) = delete;
  FakeDns &operator=(const FakeDns &) = delete;

  // Binds UDP address:port and starts serving; false with errno's text.
  bool Start(const std::string &address, Script script, std::string *error = nullptr,
             uint16_t port = 53);
  void Stop() { peer_.Stop(); }
  bool ok() const { return ok_; }
  // Every datagram received so far.
  std::vector<Bytes> queries() { return peer_.received(); }
  // Where the last query came from (to answer it from another address).
  sockaddr_in sender() { return peer_.sender(); }

 private:
  UdpPeer peer_;
  bool ok_ = false;
};

// Name of a query (dotted, from its labels), its type, its ID bytes.
std::string QueryName(const Bytes &query);
uint16_t QueryType(const Bytes &query);

// One resource record of an answer.  The owner is written as a pointer to
// the question name (0xC0 0x0C) unless `owner` is given as raw bytes.
struct FakeRecord {
  uint16_t type = 1;
  uint16_t klass = 1;
  uint32_t ttl = 60;
  Bytes rdata;
  Bytes owner;  // empty: compression pointer to offset 12
};
Bytes ARecordData(const std::string &dotted);
Bytes NameData(const std::string &dotted);  // labels and the zero byte

// An answer to `query`: its ID and question echoed, QR and RD set, the given
// RCODE, the records as answers (ANCOUNT = their number).
Bytes MakeAnswer(const Bytes &query, const std::vector<FakeRecord> &records, uint8_t rcode = 0);

// A script answering each name of the table with one A record (an empty
// answer for other query types) and anything else with NXDOMAIN.
FakeDns::Script AnswerNames(const Names &names);
// A script answering every name with one A record of `address`.
FakeDns::Script AnswerEveryName(const std::string &address);
// A script that never answers.
FakeDns::Script NoAnswer();

}  // namespace nrtest

#endif  // NAMREG_TESTS_SUPPORT_FAKE_DNS_H
