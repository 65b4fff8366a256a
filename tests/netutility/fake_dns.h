// A scripted DNS server for tests: a thread with a UDP socket on
// <address>:53 that hands every datagram to a script and sends back what the
// script returns (nothing, for silence).  Also DNS message builders for the
// answers the scripts make.
#ifndef NAMREG_TESTS_NETUTILITY_FAKE_DNS_H
#define NAMREG_TESTS_NETUTILITY_FAKE_DNS_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nrtest {

using Bytes = std::vector<uint8_t>;

class FakeDns {
 public:
  // Returns the datagrams to send back for one query (empty: no answer).
  using Script = std::function<std::vector<Bytes>(const Bytes &query)>;

  FakeDns() = default;
  ~FakeDns() { Stop(); }
  FakeDns(const FakeDns &) = delete;
  FakeDns &operator=(const FakeDns &) = delete;

  // Binds UDP address:port and starts serving; false with errno's text.
  bool Start(const std::string &address, Script script, std::string *error = nullptr,
             uint16_t port = 53);
  void Stop();
  // Every datagram received so far.
  std::vector<Bytes> queries();

 private:
  void Serve();
  int fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  Script script_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> queries_;
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

// A script answering each name in the map with one A record and anything else
// with NXDOMAIN.
FakeDns::Script AnswerNames(const std::vector<std::pair<std::string, std::string>> &names);

}  // namespace nrtest

#endif  // NAMREG_TESTS_NETUTILITY_FAKE_DNS_H
