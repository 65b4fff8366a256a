// SPDX-License-Identifier: MIT
// Socket primitives of the HLDM exchange (and the salt greeting): one
// non-blocking TCP socket, every wait a select bounded by one deadline for
// the whole call, so a peer that trickles data cannot stretch a call past
// its time-out.  Whenever a primitive fails after its argument checks, the
// socket is closed and the caller's variable is -1 again.
#include "ddnsclient_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <namreg/fd_util.h>

namespace {

constexpr uint32_t kSendRetryPauseMs = 100;
constexpr int kSendRetryLimit = 100;

// Sleeps the send back-off, cut short by the deadline.
void PauseWithin(const namreg::Deadline &deadline) {
  const uint64_t left = deadline.LeftMs();
  const uint64_t pause = left < kSendRetryPauseMs ? left : kSendRetryPauseMs;
  namreg::ClockSleepMs(pause);
}

}  // namespace

extern "C" int32_t DDNSClient_CloseSocket(int32_t *socket_fd) {
  if (socket_fd != nullptr && *socket_fd != -1) {
    close(*socket_fd);
    *socket_fd = -1;
  }
  return 0;
}

namespace namreg {

uint32_t DDNSClient_SocketConnectUntil(int32_t *socket_fd, uint32_t address, uint16_t port,
                                       const Deadline &deadline) {
  if (socket_fd == nullptr) {
    puts("[DDNSClient_SocketConnect] Invalid Argument\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (*socket_fd != -1) {
    puts("[DDNSClient_SocketConnect] socket has been created\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (address == 0 || port == 0) {
    puts("[DDNSClient_SocketConnect] Invalid Argument\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    printf("[DDNSClient_SocketConnect] Create a new TCP socket failed with Error Code: %d\r\n",
           errno);
    return DDNSCLIENT_E_FAIL;
  }
  *socket_fd = fd;
  int on = 1;
  ioctl(fd, FIONBIO, &on);

  struct sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (connect(fd, reinterpret_cast<const struct sockaddr *>(&peer), sizeof peer) != 0 &&
      errno != EAGAIN && errno != EINPROGRESS) {
    printf("[DDNSClient_SocketConnect] Connect to the socket failed with Error Code: %d\r\n",
           errno);
    DDNSClient_CloseSocket(socket_fd);
    return DDNSCLIENT_E_FAIL;
  }
  if (fdutil::WaitOne(fd, true, deadline) == 1) return DDNSCLIENT_OK;
  DDNSClient_CloseSocket(socket_fd);
  return DDNSCLIENT_E_FAIL;
}

int32_t DDNSClient_SendUntil(int32_t *socket_fd, const char *data, int32_t length,
                             const Deadline &deadline) {
  if (socket_fd == nullptr || *socket_fd == -1) {
    puts("[DDNSClient_Send] Socket does not created\r");
    return -1;
  }
  if (data == nullptr || length < 1) {
    puts("[DDNSClient_Send] Invalid send data\r");
    DDNSClient_CloseSocket(socket_fd);
    return -1;
  }
  int32_t offset = 0;
  int32_t left = length;
  int retries = 0;
  for (;;) {
    if (fdutil::WaitOne(*socket_fd, true, deadline) < 1) {
      DDNSClient_CloseSocket(socket_fd);
      puts("[DDNSClient_Send] select failed\r");
      return -1;
    }
    ssize_t n = send(*socket_fd, data + offset, static_cast<size_t>(left), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN) {
      printf("[DDNSClient_Send] Sent failed with Error Code: %d\r\n", errno);
      DDNSClient_CloseSocket(socket_fd);
      return -1;
    }
    if (n <= 0) {
      ++retries;
      PauseWithin(deadline);
      if (retries > kSendRetryLimit) {
        DDNSClient_CloseSocket(socket_fd);
        return -1;
      }
      continue;
    }
    if (retries > kSendRetryLimit) {
      DDNSClient_CloseSocket(socket_fd);
      return -1;
    }
    offset += static_cast<int32_t>(n);
    left -= static_cast<int32_t>(n);
    if (left <= 0) return 0;
  }
}

int32_t DDNSClient_ReceiveUntil(int32_t *socket_fd, char *buffer, uint32_t size,
                                const Deadline &deadline) {
  if (socket_fd == nullptr || *socket_fd == -1) {
    puts("[DDNSClient_Receive] Socket does not created\r");
    return -1;
  }
  if (buffer == nullptr || size == 0) {
    puts("[DDNSClient_Receive] Invalid argument\r");
    DDNSClient_CloseSocket(socket_fd);
    return -1;
  }
  uint32_t count = 0;
  for (;;) {
    if (fdutil::WaitOne(*socket_fd, false, deadline) < 1) {
      puts("[DDNSClient_Receive] select failed\r");
      DDNSClient_CloseSocket(socket_fd);
      return -1;
    }
    ssize_t n = recv(*socket_fd, buffer + count, size - count, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN) continue;
      printf("[DDNSClient_Receive] receive data fail with error code %d\r\n", errno);
      DDNSClient_CloseSocket(socket_fd);
      return -1;
    }
    if (n == 0) {
      DDNSClient_CloseSocket(socket_fd);
      buffer[count] = '\0';
      return 0;
    }
    count += static_cast<uint32_t>(n);
    if (count == size) {
      buffer[size] = '\0';
      return 0;
    }
  }
}

uint32_t DDNSClient_ReceiveSaltUntil(int32_t socket_fd, const Deadline &deadline, char *output,
                                     uint32_t output_length) {
  if (socket_fd == -1 || output == nullptr) {
    puts("[DDNSClient_GnuDIP_TCP_ReceiveSalt] Invalid arguments\r");
    return DDNSCLIENT_E_FAIL;
  }
  char greeting[16];
  ssize_t n;
  for (;;) {
    if (fdutil::WaitOne(socket_fd, false, deadline) < 1) {
      puts("[DDNSClient_GnuDIP_TCP_ReceiveSalt] select timeout\r");
      return DDNSCLIENT_E_NETWORK;
    }
    n = recv(socket_fd, greeting, 15, MSG_NOSIGNAL);
    if (n >= 0) break;
    if (errno != EAGAIN) {
      printf("[DDNSClient_GnuDIP_TCP_ReceiveSalt] Receive response failed with Error Code: %8x\r\n",
             errno);
      return DDNSCLIENT_E_NETWORK;
    }
  }
  if (n != 11) return DDNSCLIENT_E_NETWORK;
  greeting[11] = '\0';
  uint32_t copy = output_length < 11 ? output_length : 11;
  DDNSClient_CopyText(output, greeting, copy + 1);
  return DDNSCLIENT_OK;
}

}  // namespace namreg

// The public primitives: the time-out is the budget of the whole call.

extern "C" uint32_t DDNSClient_SocketConnect(int32_t *socket_fd, uint32_t address, uint16_t port,
                                             uint32_t timeout_seconds) {
  return namreg::DDNSClient_SocketConnectUntil(socket_fd, address, port,
                                               namreg::Deadline(timeout_seconds));
}

extern "C" int32_t DDNSClient_Send(int32_t *socket_fd, const char *data, int32_t length,
                                   uint32_t timeout_seconds) {
  return namreg::DDNSClient_SendUntil(socket_fd, data, length, namreg::Deadline(timeout_seconds));
}

extern "C" int32_t DDNSClient_Receive(int32_t *socket_fd, char *buffer, uint32_t size,
                                      uint32_t timeout_seconds) {
  return namreg::DDNSClient_ReceiveUntil(socket_fd, buffer, size,
                                         namreg::Deadline(timeout_seconds));
}

extern "C" uint32_t DDNSClient_GnuDIP_TCP_ReceiveSalt(int32_t socket_fd, uint32_t timeout_seconds,
                                                      char *output, uint32_t output_length) {
  return namreg::DDNSClient_ReceiveSaltUntil(socket_fd, namreg::Deadline(timeout_seconds), output,
                                             output_length);
}
