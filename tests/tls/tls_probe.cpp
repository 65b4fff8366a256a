// SPDX-License-Identifier: MIT
// tls_probe [--client] CA_FILE HOST PATH PORT...
//
// For each port in turn: connects to 127.0.0.1 (or to HOST when it is a
// dotted quad), runs the TLS handshake within 20 s checking the
// certificate against CA_FILE and HOST, sends "GET PATH HTTP/1.0", reads
// the answer to its end and prints one line:
//   port 8443: result 0x00000000, 1024 body bytes
// With --client the whole exchange is the HTTP client's instead: one
// synchronous HTTPClient_Get of HOST:PORT/PATH over TLS (HOST resolved by
// the client), the result being the client's.
// Exit status 0 when every port was tried, 2 for bad arguments.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "namreg/fd_util.h"
#include "namreg/httpclient.h"
#include "tls.h"

namespace {

// A connected non-blocking socket, or -1.
int Connect(uint32_t address, uint16_t port, const namreg::Deadline &deadline) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  (void)connect(fd, reinterpret_cast<const struct sockaddr *>(&to), sizeof(to));
  int error = 0;
  socklen_t length = sizeof(error);
  if (namreg::fdutil::WaitOne(fd, true, deadline) != 1 ||
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The result of one GET; *body_bytes: bytes after the header.
uint32_t Fetch(namreg::TlsSession *session, int fd, const char *host, const char *path,
               const namreg::Deadline &deadline, size_t *body_bytes) {
  char request[512];
  const int n =
      snprintf(request, sizeof(request), "GET %s HTTP/1.0\r\nHost: %s\r\n\r\n", path, host);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(request)) return HTTPCLIENT_E_REQUEST_TOO_LONG;
  size_t sent = 0;
  while (sent < static_cast<size_t>(n)) {
    size_t moved = 0;
    namreg::TlsStatus status = session->Send(request + sent, static_cast<size_t>(n) - sent, &moved);
    if (status == namreg::TlsStatus::kFailed) return session->Error();
    sent += moved;
    if (status != namreg::TlsStatus::kDone &&
        namreg::fdutil::WaitOne(fd, status == namreg::TlsStatus::kWantWrite, deadline) != 1)
      return HTTPCLIENT_E_SEND_TIMEOUT;
  }
  // The body starts after the first blank line.
  static const char kBlank[] = "\r\n\r\n";
  size_t matched = 0;
  bool in_body = false;
  *body_bytes = 0;
  for (;;) {
    char buffer[2048];
    size_t received = 0;
    namreg::TlsStatus status = session->Recv(buffer, sizeof(buffer), &received);
    if (status == namreg::TlsStatus::kClosed) return HTTPCLIENT_OK;
    if (status == namreg::TlsStatus::kFailed) return session->Error();
    if (status != namreg::TlsStatus::kDone) {
      if (namreg::fdutil::WaitOne(fd, status == namreg::TlsStatus::kWantWrite, deadline) != 1)
        return HTTPCLIENT_E_RECV_TIMEOUT;
      continue;
    }
    for (size_t i = 0; i < received; ++i) {
      if (in_body) {
        *body_bytes += received - i;
        break;
      }
      matched = buffer[i] == kBlank[matched] ? matched + 1 : (buffer[i] == '\r' ? 1 : 0);
      in_body = matched == 4;
    }
  }
}

// One GET by the HTTP client over TLS; *body_bytes: the body's length.
uint32_t ClientFetch(const char *ca_file, const char *host, const char *path, uint16_t port,
                     size_t *body_bytes) {
  static char body[512 * 1024];
  static HTTPClientInfo info;
  memset(&info, 0, sizeof(info));
  HTTPClientHandle client = nullptr;
  uint32_t result = HTTPClient_Initial(&client, HTTPCLIENT_VERSION);
  if (result != HTTPCLIENT_OK) return result;
  HTTPClientTLSOptions tls;
  memset(&tls, 0, sizeof(tls));
  tls.dwEnable = 1;
  snprintf(tls.szCAFile, sizeof(tls.szCAFile), "%s", ca_file);
  result = HTTPClient_SetTLS(client, &tls);
  if (result == HTTPCLIENT_OK) {
    snprintf(info.tServer.szHost, sizeof(info.tServer.szHost), "%s", host);
    info.tServer.dwPort = port;
    snprintf(info.szURI, sizeof(info.szURI), "%s", path);
    info.pRecvBuffer = body;
    info.dwRecvSize = sizeof(body);
    info.dwTotalTimeout = 20000000;
    result = HTTPClient_Get(client, &info);
    // A body read to its announced end is a success.
    if (result == HTTPCLIENT_I_CONTENT_COMPLETE || result == HTTPCLIENT_I_LAST_CHUNK ||
        result == HTTPCLIENT_I_PEER_CLOSED)
      result = HTTPCLIENT_OK;
    *body_bytes = info.dwRecvSize;
  }
  HTTPClient_Release(&client);
  return result;
}

}  // namespace

int main(int argc, char **argv) {
  const bool client = argc > 1 && strcmp(argv[1], "--client") == 0;
  if (client) {
    --argc;
    ++argv;
  }
  if (argc < 5) {
    fprintf(stderr, "usage: tls_probe [--client] CA_FILE HOST PATH PORT...\n");
    return 2;
  }
  const char *ca_file = argv[1];
  const char *host = argv[2];
  const char *path = argv[3];
  struct in_addr address;
  if (inet_pton(AF_INET, host, &address) != 1) address.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 4; i < argc; ++i) {
    const long port = strtol(argv[i], nullptr, 10);
    if (port <= 0 || port > 65535) {
      fprintf(stderr, "tls_probe: bad port %s\n", argv[i]);
      return 2;
    }
    size_t body_bytes = 0;
    if (client) {
      const uint32_t result =
          ClientFetch(ca_file, host, path, static_cast<uint16_t>(port), &body_bytes);
      printf("port %ld: result 0x%08x, %zu body bytes\n", port, static_cast<unsigned>(result),
             body_bytes);
      continue;
    }
    const namreg::Deadline deadline(20);
    namreg::fdutil::SocketGuard fd(Connect(address.s_addr, static_cast<uint16_t>(port), deadline));
    uint32_t result = HTTPCLIENT_E_SOCKET;
    if (fd.valid()) {
      namreg::TlsSession session;
      result = session.Begin(fd.get(), host, ca_file);
      if (result == HTTPCLIENT_OK) result = session.HandshakeWithin(deadline);
      if (result == HTTPCLIENT_OK)
        result = Fetch(&session, fd.get(), host, path, deadline, &body_bytes);
    }
    printf("port %ld: result 0x%08x, %zu body bytes\n", port, static_cast<unsigned>(result),
           body_bytes);
  }
  return 0;
}
