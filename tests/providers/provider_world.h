// SPDX-License-Identifier: MIT
// The providers' test world: every provider host name resolves to 127.0.0.1
// through a name server on 127.0.0.1:53, and small HTTP peers on loopback
// ports answer each request with a reply the test chooses and keep the
// request text for byte-exact checks.
#ifndef NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H
#define NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "fake_dns.h"
#include "peers.h"
#include "provider_internal.h"

namespace provtest {

// Every fixed provider host, plus the name tests use as a configured server.
inline nrtest::Names ProviderNames() {
  nrtest::Names names;
  for (uint32_t i = 0; i < namreg::kProviderHostCount; ++i)
    names.emplace_back(namreg::kProviderHosts[i], "127.0.0.1");
  names.emplace_back("ddns.configured.example", "127.0.0.1");
  return names;
}

// A whole HTTP response with a Content-Length body.
inline std::string Reply(const std::string &body, const std::string &status = "200 OK",
                         const std::string &extra_headers = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extra_headers + "\r\n" + body;
}

// An HTTP peer on 127.0.0.1:port: `answer` gives the reply for the request
// text and the 1-based connection number; every request is kept.
class HttpPeer {
 public:
  using Answer = std::function<std::string(const std::string &request, int number)>;
  HttpPeer(uint16_t port, Answer answer)
      : answer_(std::move(answer)),
        server_(
            [this](int fd, const std::string &request, int index) {
              nrtest::SendAll(fd, answer_(request, index + 1));
              nrtest::PeerCloses(fd, 2000);
            },
            port, nrtest::ScriptServer::Read::kHttpRequest) {}
  bool ok() const { return server_.ok(); }
  bool WaitIdle(int timeout_ms = 3000) const { return server_.WaitIdle(timeout_ms); }
  std::vector<std::string> requests() { return server_.requests(); }
  // The requests since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> all = server_.requests();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(taken_), all.end());
    taken_ = all.size();
    return fresh;
  }

 private:
  Answer answer_;
  nrtest::ScriptServer server_;
  size_t taken_ = 0;
};

// The whole header block a GET sends; `authorization` is the Basic
// credentials text ("user:password" base64) or empty for none.
inline std::string ExpectedGet(const std::string &path, const std::string &host, uint16_t port,
                               const std::string &user_agent = "IPCAM",
                               const std::string &authorization = "") {
  std::string text = "GET " + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + host;
  if (port != 80) text += ":" + std::to_string(port);
  text += "\r\nUser-Agent: " + user_agent +
          "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n";
  if (!authorization.empty()) text += "Authorization: Basic " + authorization + "\r\n";
  return text + "\r\n";
}

}  // namespace provtest

#endif  // NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H
