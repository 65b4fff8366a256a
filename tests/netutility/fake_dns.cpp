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

bool FakeDns::Start(const std::string &address, Script script, std::string *error, uint16_t port) {
  script_ = std::move(script);
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    if (error) *error = strerror(errno);
    Stop();
    return false;
  }
  int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = inet_addr(address.c_str());
  if (bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0) {
    if (error) *error = "bind " + address + ": " + strerror(errno);
    Stop();
    return false;
  }
  thread_ = std::thread(&FakeDns::Serve, this);
  return true;
}

void FakeDns::Stop() {
  if (thread_.joinable()) {
    char c = 0;
    (void)!write(stop_pipe_[1], &c, 1);
    thread_.join();
  }
  for (int *fd : {&fd_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::vector<Bytes> FakeDns::queries() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queries_;
}

void FakeDns::Serve() {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    uint8_t buf[2048];
    sockaddr_in from{};
    socklen_t from_len = sizeof(from);
    ssize_t n = recvfrom(fd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n < 0) continue;
    Bytes query(buf, buf + n);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queries_.push_back(query);
    }
    for (const Bytes &reply : script_(query))
      sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
  }
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

FakeDns::Script AnswerNames(const std::vector<std::pair<std::string, std::string>> &names) {
  return [names](const Bytes &query) -> std::vector<Bytes> {
    const std::string name = QueryName(query);
    for (const auto &entry : names)
      if (entry.first == name) {
        FakeRecord a;
        a.rdata = ARecordData(entry.second);
        return {MakeAnswer(query, {a})};
      }
    return {MakeAnswer(query, {}, 3)};
  };
}

}  // namespace nrtest
