// SPDX-License-Identifier: MIT
// Connectivity test: resolve three well-known web hosts and see whether any
// of them accepts a TCP connection on port 80 within the time-out.
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>

#include "namreg/netutility.h"
#include <namreg/deadline.h>

namespace {

// Tried in this order; the null entry ends the table.
const char *const kTestHosts[] = {"www.google.com", "www.wikipedia.org", "www.cloudflare.com",
                                  nullptr};
constexpr int kHostCount = 3;
constexpr uint16_t kHttpPort = 80;

// The test's sockets, all closed whichever way the test ends.
struct Slots {
  int fd[kHostCount] = {-1, -1, -1};
  ~Slots() { NetUtility_CloseSockets(fd, kHostCount); }
};

}  // namespace

extern "C" int32_t NetUtility_ConnectToInternet(uint32_t timeout_seconds, uint32_t name_server) {
  if (timeout_seconds == 0 || name_server == 0) {
    puts("[NetUtility_ConnectToInternet] Invalid arguments\r");
    return -1;
  }
  static_assert(sizeof(kTestHosts) / sizeof(kTestHosts[0]) == kHostCount + 1,
                "three test hosts and the end mark");

  Slots slots;
  uint32_t addresses[kHostCount] = {0, 0, 0};
  int resolved = 0;
  for (int i = 0; kTestHosts[i] != nullptr; ++i) {
    uint32_t address = 0;
    if (NetUtility_DNSResolve(name_server, kTestHosts[i], timeout_seconds / 3 + 1, &address) != 0 ||
        address == 0)
      continue;
    ++resolved;
    slots.fd[i] = socket(AF_INET, SOCK_STREAM, 0);
    if (slots.fd[i] == -1) return -1;
    NetUtility_SetNonBlocking(slots.fd[i]);
    addresses[i] = address;
  }
  if (resolved == 0) return NET_RESULT_NO_HOST_RESOLVED;

  for (int i = 0; i < kHostCount; ++i) {
    if (slots.fd[i] == -1) continue;
    struct sockaddr_in peer;
    memset(&peer, 0, sizeof(peer));
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kHttpPort);
    peer.sin_addr.s_addr = addresses[i];
    if (connect(slots.fd[i], reinterpret_cast<const struct sockaddr *>(&peer), sizeof(peer)) != 0 &&
        errno != EINPROGRESS && errno != EAGAIN)
      NetUtility_CloseSocket(&slots.fd[i]);
  }

  // Writability ends a connect either way; only a socket without a pending
  // error counts as reached.  Refused attempts drop out and the wait goes on
  // for the others within the same time-out.
  const namreg::Deadline deadline(timeout_seconds);
  for (;;) {
    fd_set writable;
    FD_ZERO(&writable);
    int highest = -1;
    for (int i = 0; i < kHostCount; ++i) {
      if (slots.fd[i] == -1) continue;
      if (slots.fd[i] >= FD_SETSIZE) return -1;
      FD_SET(slots.fd[i], &writable);
      if (slots.fd[i] > highest) highest = slots.fd[i];
    }
    if (highest == -1) return -1;
    const uint64_t remaining = deadline.LeftMs();
    if (remaining == 0) return -1;
    struct timeval wait = namreg::MsToTimeval(namreg::ClockBeginWait(remaining));
    const int ready = select(highest + 1, nullptr, &writable, nullptr, &wait);
    namreg::ClockEndWait(remaining, ready == 0);
    if (ready <= 0) return -1;
    for (int i = 0; i < kHostCount; ++i) {
      if (slots.fd[i] == -1 || !FD_ISSET(slots.fd[i], &writable)) continue;
      int error = 0;
      socklen_t error_length = sizeof(error);
      if (getsockopt(slots.fd[i], SOL_SOCKET, SO_ERROR, &error, &error_length) == 0 && error == 0)
        return 0;
      NetUtility_CloseSocket(&slots.fd[i]);
    }
  }
}
