// SPDX-License-Identifier: MIT
// PeanutHull: the TCP login to the control server (greeting, AUTH ROUTER
// challenge, login record, REGI, CNFM, QUIT) and the Blowfish-enciphered UDP
// update, with the two public operations that run them within a time-out.
#include "ddnsclient_internal.h"

#include <namreg/common.h>

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <namreg/fd_util.h>
#include <namreg/text_safety.h>

namespace {

constexpr int kLoginRounds = 20;
constexpr int kUpdateRounds = 6;
constexpr uint32_t kUpdateReceiveSeconds = 30;
constexpr size_t kReplySize = 256;
constexpr size_t kRecordSize = 60;
constexpr size_t kRecordTextSize = 80;
constexpr size_t kChallengeSize = 32;
constexpr uint32_t kRequestOpcode = 10;
constexpr uint32_t kReplyOpcode = 50;
constexpr uint32_t kRetryPauseMs = 1000;

// Milliseconds left of a budget of `seconds` that began at `start_ms`; 0 when
// it is used up.
uint32_t RemainingMs(uint32_t start_ms, uint32_t seconds) {
  const uint32_t elapsed = namreg::TickElapsedMs(start_ms, DDNSClient_GetTickMs());
  const uint64_t budget = static_cast<uint64_t>(seconds) * 1000u;
  return elapsed >= budget ? 0 : static_cast<uint32_t>(budget - elapsed);
}

sockaddr_in ServerAddress() {
  sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(DDNSCLIENT_PEANUTHULL_PORT);
  a.sin_addr.s_addr = inet_addr(DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS);
  return a;
}

void PutLE32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t GetLE32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool UserNameFits(const DDNSClientContext *context) {
  return strlen(context->szUserName) <= DDNSCLIENT_PEANUTHULL_MAX_USER;
}

// "Server Response Error: <reply>" with the reply's control bytes shown.
void PrintServerError(const char *reply) {
  fputs("[DDNS_PeanutHull] Server Response Error: ", stdout);
  namreg::PutEscaped(stdout, reply);
  fputs("\r\n", stdout);
}

// How one step of the control dialogue ended.
enum class Step { kReply, kClosed, kFailed };

// The control connection of one login round, with the round's deadline.
class ControlLink {
 public:
  ControlLink(uint32_t start_ms, uint32_t seconds) : start_ms_(start_ms), seconds_(seconds) {}

  // Connects to the control server (non-blocking, within the budget).
  bool Connect() {
    socket_.fd = socket(AF_INET, SOCK_STREAM, 0);
    if (socket_.fd < 0) {
      printf("[DDNS_PeanutHull] socket() error %d!\r\n", errno);
      return false;
    }
    int on = 1;
    ioctl(socket_.fd, FIONBIO, &on);
    const sockaddr_in server = ServerAddress();
    int error = 0;
    if (connect(socket_.fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
      error = errno;
      if (error == EINPROGRESS || error == EAGAIN) {
        error = ETIMEDOUT;
        if (fdutil::WaitOne(socket_.fd, true,
                            namreg::MsToTimeval(RemainingMs(start_ms_, seconds_))) == 1) {
          socklen_t length = sizeof error;
          if (getsockopt(socket_.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        }
      }
    }
    if (error != 0) {
      printf("[DDNS_PeanutHull] connect error %d!\r\n", error);
      socket_.Close();
      return false;
    }
    return true;
  }

  bool Send(const char *data, size_t length) {
    size_t offset = 0;
    while (offset < length) {
      const int ready =
          fdutil::WaitOne(socket_.fd, true, namreg::MsToTimeval(RemainingMs(start_ms_, seconds_)));
      if (ready != 1) {
        printf("[DDNS_PeanutHull] send() error %d!\r\n", ready == 0 ? ETIMEDOUT : errno);
        return false;
      }
      const ssize_t n = send(socket_.fd, data + offset, length - offset, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        printf("[DDNS_PeanutHull] send() error %d!\r\n", errno);
        return false;
      }
      offset += static_cast<size_t>(n);
    }
    return true;
  }

  // One receive of up to kReplySize - 1 bytes into reply_ (terminated).
  Step Receive() {
    reply_[0] = '\0';
    for (;;) {
      const int ready =
          fdutil::WaitOne(socket_.fd, false, namreg::MsToTimeval(RemainingMs(start_ms_, seconds_)));
      if (ready != 1) {
        printf("[DDNS_PeanutHull] recv() error %d!\r\n", ready == 0 ? ETIMEDOUT : errno);
        return Step::kFailed;
      }
      const ssize_t n = recv(socket_.fd, reply_, sizeof reply_ - 1, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        printf("[DDNS_PeanutHull] recv() error %d!\r\n", errno);
        return Step::kFailed;
      }
      if (n == 0) {
        socket_.Close();
        return Step::kClosed;
      }
      reply_[n] = '\0';
      return Step::kReply;
    }
  }

  bool ReplyIs(const char *code) const { return strncmp(reply_, code, 3) == 0; }
  void PrintReplyError() const { PrintServerError(reply_); }
  char *reply() { return reply_; }
  void Close() { socket_.Close(); }

 private:
  fdutil::SocketGuard socket_;
  uint32_t start_ms_;
  uint32_t seconds_;
  char reply_[kReplySize];
};

// The time field of the login record, from the challenge's bytes 6 to 9.
uint32_t TransformChallengeTime(const unsigned char *challenge) {
  const uint32_t bits = GetLE32(challenge + 6) | 0xEFEFEFEFu;
  const int32_t value = static_cast<int32_t>(bits);  // always negative
  const int32_t remainder = value % 30;              // -29..0
  const uint32_t shift = static_cast<uint32_t>(-remainder);
  return shift == 0 ? bits : (bits << shift) | (bits >> (32u - shift));
}

// Builds the base64 login record text (terminated, without the line end);
// its length, or 0 when the user name does not fit.
size_t ComposeLoginRecord(const DDNSClientContext *context, const unsigned char *challenge,
                          char *text) {
  const size_t user_length = strlen(context->szUserName);
  if (user_length > DDNSCLIENT_PEANUTHULL_MAX_USER) return 0;
  unsigned char record[kRecordSize];
  memcpy(record, context->szUserName, user_length);
  record[user_length] = ' ';
  PutLE32(record + user_length + 1, TransformChallengeTime(challenge));
  PutLE32(record + user_length + 5, DDNSCLIENT_PEANUTHULL_CLIENT_ID);
  HMAC_MD5(challenge, 16, reinterpret_cast<const unsigned char *>(context->szPassword),
           static_cast<int>(strlen(context->szPassword)), record + user_length + 9);
  const int length = Base64_Encode(record, static_cast<uint16_t>(user_length + 25), text,
                                   static_cast<int>(kRecordTextSize));
  text[length] = '\0';
  return static_cast<size_t>(length);
}

// Reads "250 <chat> <sequence>"; false (with the chat identifier stored)
// when the sequence number is missing.
bool ParseConfirmation(DDNSClientContext *context, const char *reply) {
  const size_t length = strlen(reply);
  const char *blank = length > 4 ? strchr(reply + 4, ' ') : nullptr;
  context->dwPeanutHullChatID =
      static_cast<uint32_t>(strtoul(length > 4 ? reply + 4 : "", nullptr, 10));
  if (blank == nullptr) return false;
  context->dwPeanutHullSequence = static_cast<uint32_t>(strtoull(blank + 1, nullptr, 10));
  return true;
}

// One round of the control dialogue.  kClosed: the server closed the
// connection and the next round may start.
Step LoginRound(DDNSClientContext *context, ControlLink &link, uint32_t *result) {
  *result = DDNSCLIENT_E_NETWORK;
  Step step = link.Receive();
  if (step != Step::kReply) return step;
  if (!link.ReplyIs("220")) {
    link.PrintReplyError();
    return Step::kFailed;
  }

  static const char kAuth[] = "AUTH ROUTER\r\n";
  if (!link.Send(kAuth, sizeof kAuth - 1)) return Step::kFailed;
  if ((step = link.Receive()) != Step::kReply) return step;
  if (!link.ReplyIs("334")) {
    link.PrintReplyError();
    if (link.ReplyIs("504")) {
      puts("[DDNS_PeanutHull] Authentication mechanism unsupported\r");
      *result = DDNSCLIENT_E_AUTH;
    }
    return Step::kFailed;
  }
  char *reply = link.reply();
  const size_t reply_length = strlen(reply);
  if (reply_length < 6) {
    link.PrintReplyError();
    return Step::kFailed;
  }
  reply[reply_length - 2] = '\0';
  unsigned char challenge[kChallengeSize];
  memset(challenge, 0, sizeof challenge);
  if (Base64_Decode(reply + 4, challenge, static_cast<int>(sizeof challenge)) < 0) {
    PrintServerError(reply);
    return Step::kFailed;
  }
  Blowfish_SetKey(challenge, 16);

  char text[kRecordTextSize + 2];
  size_t text_length = ComposeLoginRecord(context, challenge, text);
  if (text_length == 0) {
    *result = DDNSCLIENT_E_INVALID_ARGS;
    return Step::kFailed;
  }
  text[text_length++] = '\r';
  text[text_length++] = '\n';
  if (!link.Send(text, text_length)) return Step::kFailed;
  if ((step = link.Receive()) != Step::kReply) {
    if (step == Step::kClosed) puts("[DDNS_PeanutHull] peer closed connection!\r\n\r");
    return step;
  }
  if (!link.ReplyIs("250")) {
    link.PrintReplyError();
    if (link.ReplyIs("535")) *result = DDNSCLIENT_E_AUTH;
    return Step::kFailed;
  }

  if (namreg::HasControlByte(context->szHostName)) {
    *result = DDNSCLIENT_E_INVALID_ARGS;
    return Step::kFailed;
  }
  char line[kReplySize];
  const int line_length = snprintf(line, sizeof line, "REGI A %s\r\n", context->szHostName);
  if (!link.Send(line, static_cast<size_t>(line_length))) return Step::kFailed;
  if ((step = link.Receive()) != Step::kReply) return step;
  if (!link.ReplyIs("250")) {
    link.PrintReplyError();
    if (link.ReplyIs("507") || link.ReplyIs("508")) *result = DDNSCLIENT_E_HOSTNAME;
    return Step::kFailed;
  }

  static const char kConfirm[] = "CNFM\r\n";
  if (!link.Send(kConfirm, sizeof kConfirm - 1)) return Step::kFailed;
  if ((step = link.Receive()) != Step::kReply) return step;
  if (!link.ReplyIs("250")) {
    link.PrintReplyError();
    return Step::kFailed;
  }
  if (!ParseConfirmation(context, link.reply())) return Step::kFailed;

  static const char kQuit[] = "QUIT\r\n";
  if (!link.Send(kQuit, sizeof kQuit - 1)) return Step::kFailed;
  if ((step = link.Receive()) != Step::kReply) {
    if (step == Step::kClosed) puts("[DDNS_PeanutHull] peer closed connection!\r\n\r");
    return step;
  }
  if (!link.ReplyIs("221")) {
    link.PrintReplyError();
    return Step::kFailed;
  }
  link.Close();
  *result = DDNSCLIENT_OK;
  return Step::kReply;
}

}  // namespace

namespace namreg {

uint32_t PeanutHullLogin(DDNSClientContext *context, uint32_t start_ms, uint32_t timeout_seconds) {
  if (!UserNameFits(context)) return DDNSCLIENT_E_INVALID_ARGS;
  for (int round = 0; round < kLoginRounds; ++round) {
    ControlLink link(start_ms, timeout_seconds);
    if (!link.Connect()) return DDNSCLIENT_E_NETWORK;
    uint32_t result;
    if (LoginRound(context, link, &result) != Step::kClosed) return result;
    if (RemainingMs(start_ms, timeout_seconds) == 0) return DDNSCLIENT_E_NETWORK;
  }
  puts("[DDNS_PeanutHull] retry 20 times failed!\r\n\r");
  return DDNSCLIENT_E_NETWORK;
}

uint32_t PeanutHullUpdate(DDNSClientContext *context, uint32_t start_ms, uint32_t timeout_seconds) {
  unsigned char request[20];
  PutLE32(request, context->dwPeanutHullChatID);
  const uint32_t sequence = context->dwPeanutHullSequence;
  PutLE32(request + 4, kRequestOpcode);
  PutLE32(request + 8, sequence);
  PutLE32(request + 12, 0u - (kRequestOpcode + sequence));
  PutLE32(request + 16, 0);
  Blowfish_Encrypt(request + 4, request + 4, 16);

  fdutil::SocketGuard socket_guard(socket(AF_INET, SOCK_DGRAM, 0));
  if (!socket_guard.valid()) {
    printf("[DDNS_PeanutHull] socket() error %d!\r\n", errno);
    return DDNSCLIENT_E_NETWORK;
  }
  // A connected datagram socket only hears the control server.
  const sockaddr_in server = ServerAddress();
  if (connect(socket_guard.fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
    printf("[DDNS_PeanutHull] sendto error %d!\r\n", errno);
    return DDNSCLIENT_E_NETWORK;
  }
  unsigned char reply[25];
  ssize_t received = -1;
  int error = ETIMEDOUT;
  for (int round = 0; round < kUpdateRounds && received < 0; ++round) {
    const uint32_t left = RemainingMs(start_ms, timeout_seconds);
    if (left == 0) break;
    if (send(socket_guard.fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request) {
      printf("[DDNS_PeanutHull] sendto error %d!\r\n", errno);
      return DDNSCLIENT_E_NETWORK;
    }
    const uint32_t wait_ms =
        left < kUpdateReceiveSeconds * 1000 ? left : kUpdateReceiveSeconds * 1000;
    const uint32_t round_start = DDNSClient_GetTickMs();
    for (;;) {
      const uint32_t spent = namreg::TickElapsedMs(round_start, DDNSClient_GetTickMs());
      const uint32_t round_left = wait_ms > spent ? wait_ms - spent : 0;
      const int ready = fdutil::WaitOne(socket_guard.fd, false, namreg::MsToTimeval(round_left));
      if (ready != 1) {
        error = ready == 0 ? EAGAIN : errno;
        break;
      }
      received = recv(socket_guard.fd, reply, sizeof reply, MSG_DONTWAIT);
      if (received >= 0) break;
      error = errno;
      // An ICMP refusal of an earlier datagram: this round has failed.
      if (error != EAGAIN && error != EINTR) break;
    }
  }
  if (received < 0) {
    printf("[DDNS_PeanutHull] recvfrom error %d!\r\n", error);
    return DDNSCLIENT_E_NETWORK;
  }
  if (received != 24) {
    puts("[DDNS_PeanutHull] update reply length error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  if (GetLE32(reply) != context->dwPeanutHullChatID) {
    puts("[DDNS_PeanutHull] update reply chat id error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  unsigned char inner[16];
  Blowfish_Decrypt(reply + 4, inner, 16);
  if (GetLE32(inner) != kReplyOpcode) {
    puts("[DDNS_PeanutHull] update reply opcode error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  const uint32_t reply_sequence = GetLE32(inner + 4);
  if (reply_sequence - sequence > 2u) {
    puts("[DDNS_PeanutHull] update reply sequence number error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  context->dwPeanutHullSequence = reply_sequence + 1;
  if (GetLE32(inner + 8) != 0u - (kReplyOpcode + reply_sequence)) {
    puts("[DDNS_PeanutHull] update reply check sum error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  if (GetLE32(inner + 12) != 0) {
    puts("[DDNS_PeanutHull] update reply padding error!\r");
    return DDNSCLIENT_E_NETWORK;
  }
  struct in_addr address;
  memcpy(&address.s_addr, reply + 20, 4);
  DDNSClient_CopyText(context->szCurrentIP, inet_ntoa(address), sizeof context->szCurrentIP);
  return DDNSCLIENT_OK;
}

}  // namespace namreg

extern "C" uint32_t DDNS_PeanutHull_Login(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNS_PeanutHull_Login] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const uint32_t timeout = context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : 20;
  return namreg::PeanutHullLogin(context, DDNSClient_GetTickMs(), timeout);
}

extern "C" uint32_t DDNS_PeanutHull_Update(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNS_PeanutHull_Update] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return namreg::PeanutHullUpdate(context, DDNSClient_GetTickMs(),
                                  kUpdateRounds * kUpdateReceiveSeconds);
}

namespace {

typedef uint32_t (*PeanutHullAttempt)(DDNSClientContext *context, uint32_t start_ms,
                                      uint32_t timeout_seconds);

uint32_t RunPeanutHull(const char *who, DDNSClientContext *context,
                       const DDNSClientSettings *settings, uint32_t timeout_seconds,
                       uint32_t *address, PeanutHullAttempt attempt, bool learn_address) {
  if (context == nullptr || settings == nullptr || address == nullptr) {
    printf("[%s] Invalid arguments\r\n", who);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwServiceProvider != DDNSCLIENT_PROVIDER_PEANUTHULL) {
    printf("[%s] Invalid service provider: %d\r\n", who,
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  // One budget from here: the settings step, every attempt and pause, and
  // the check-IP call after a register.
  const uint32_t timeout = timeout_seconds != 0 ? timeout_seconds : 20;
  const uint32_t start = DDNSClient_GetTickMs();
  const namreg::Deadline deadline(timeout);
  const namreg::OperationBudget budget(context, deadline);
  if (namreg::DDNSClient_TakeUpdateSettings(who, context, settings) != DDNSCLIENT_OK)
    return DDNSCLIENT_E_INVALID_ARGS;
  if (!UserNameFits(context)) {
    printf("[%s] User name longer than %u characters\r\n", who,
           static_cast<unsigned>(DDNSCLIENT_PEANUTHULL_MAX_USER));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  context->dwNetworkTimeout = timeout;
  uint32_t result = DDNSCLIENT_E_FAIL;
  for (bool first = true;; first = false) {
    if (!first) {
      // A server that refuses at once is not asked again without a pause.
      const uint32_t left = RemainingMs(start, timeout);
      namreg::ClockSleepMs(left < kRetryPauseMs ? left : kRetryPauseMs);
    }
    if (DDNSClient_IsTimeout(start, timeout, nullptr) || RemainingMs(start, timeout) == 0) break;
    result = attempt(context, start, timeout);
    if (result != DDNSCLIENT_E_NETWORK) break;
  }
  // The attempt counts for DDNSClient_IsTimeToUpdate, as the engine's do.
  namreg::DDNSClient_RecordAttempt(context, DDNSCLIENT_PROVIDER_PEANUTHULL);
  if (result != DDNSCLIENT_OK) return result;
  // The login does not tell the address: the register asks the general
  // check-IP rotation (its result does not change the outcome).
  if (learn_address) DDNSClient_CheckIP_General(context);
  // No address known (empty or malformed text): 0, never INADDR_NONE.
  struct in_addr known;
  *address = inet_aton(context->szCurrentIP, &known) != 0 ? known.s_addr : 0;
  return DDNSCLIENT_OK;
}

}  // namespace

extern "C" uint32_t DDNSClient_PeanutHullRegister(DDNSClientContext *context,
                                                  const DDNSClientSettings *settings,
                                                  uint32_t timeout_seconds, uint32_t *address) {
  return RunPeanutHull("DDNSClient_PeanutHullRegister", context, settings, timeout_seconds, address,
                       namreg::PeanutHullLogin, true);
}

extern "C" uint32_t DDNSClient_PeanutHullUpdate(DDNSClientContext *context,
                                                const DDNSClientSettings *settings,
                                                uint32_t timeout_seconds, uint32_t *address) {
  return RunPeanutHull("DDNSClient_PeanutHullUpdate", context, settings, timeout_seconds, address,
                       namreg::PeanutHullUpdate, false);
}
