// SPDX-License-Identifier: MIT
// The public providers' side of a reply: every keyword table judging a body,
// and a check-IP routine fetching a page and taking the address after its
// marker.  The check-IP routine is PCCW's, the one whose server and port are
// the context's own, so that the page comes from a scripted peer on loopback
// (loopback_peer.h) without any name to resolve.
//
// Input: [0] bits 0-1: how the page is framed (0 Content-Length, 1 one
// chunk, 2 ended by the close, 3 the input is the whole response, status
// line and header included); bit 2: fetch the page (else the tables only).
// [1] where the body is cut for the prefix check (length x [1] / 256).
// Then the body.
//
// Checks, for every table: a result of the DDNS families (0, 0x7001xxxx,
// 0x8002xxxx), the context left as it was, and no keyword found in a prefix
// of a body in which none is found (a table decides by the keywords the body
// holds), unless the cut falls right before a digit (a keyword ending in a
// digit counts only where no digit follows it).  For the check-IP routine:
// the fetch ends within the context's time-out on the peer's clock; on
// success the current address is a dotted quad that the page holds; on
// failure it is the one from before; the socket is closed.
#include <arpa/inet.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "ddnsclient_internal.h"
#include "loopback_peer.h"

namespace {

using fuzzpeer::LoopbackPeer;

constexpr uint32_t kTimeoutSeconds = 3;
constexpr char kPreviousAddress[] = "198.51.100.7";

struct Table {
  const char *name;
  uint32_t (*judge)(DDNSClientContext *);
};

const Table kTables[] = {
    {"DynDNS", DDNSClient_ProcessResponse_DynDNS},
    {"NexusControl", DDNSClient_ProcessResponse_NexusControl},
    {"Huagai", DDNSClient_ProcessResponse_Huagai},
    {"Logitec", DDNSClient_ProcessResponse_Logitec},
    {"3322", DDNSClient_ProcessResponse_3322},
    {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP},
    {"DHS", DDNSClient_ProcessResponse_DHS},
    {"DynamicDo", DDNSClient_ProcessResponse_DynamicDo},
    {"TZO", DDNSClient_ProcessResponse_TZO},
    {"PCCW", DDNSClient_ProcessResponse_PCCW},
    {"IOData", DDNSClient_ProcessResponse_IOData},
    {"MegaChips", DDNSClient_ProcessResponse_MegaChips},
};

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "provider_reply: ");
  vfprintf(stderr, format, args);
  fprintf(stderr, "\n");
  va_end(args);
  abort();
}

bool IsDDNSResult(uint32_t r) {
  return r == DDNSCLIENT_OK || (r & 0xFFFF0000u) == 0x70010000u || (r & 0xFFFF0000u) == 0x80020000u;
}

// Puts `length` bytes of `body` in the response buffer, as a fetch leaves it.
void SetResponse(DDNSClientContext *context, const uint8_t *body, size_t length) {
  if (length > DDNSCLIENT_RESPONSE_SIZE) length = DDNSCLIENT_RESPONSE_SIZE;
  memset(context->szResponse, 0, sizeof context->szResponse);
  memcpy(context->szResponse, body, length);
}

uint32_t Judge(const Table &table, DDNSClientContext *context, DDNSClientContext *before) {
  memcpy(before, context, sizeof *context);
  const uint32_t r = table.judge(context);
  if (!IsDDNSResult(r)) Fail("%s table gave 0x%08x", table.name, r);
  if (memcmp(before, context, sizeof *context) != 0)
    Fail("%s table changed the context", table.name);
  return r;
}

void CheckTables(DDNSClientContext *context, DDNSClientContext *before, const uint8_t *body,
                 size_t length, size_t cut) {
  for (const Table &table : kTables) {
    SetResponse(context, body, length);
    const uint32_t whole = Judge(table, context, before);
    SetResponse(context, body, cut);
    const uint32_t prefix = Judge(table, context, before);
    // A keyword that ends in a digit counts only where no digit follows it,
    // so a cut right before a digit may end such a keyword ("200" of
    // "2000"): the property holds for cuts before anything else.
    const bool digit_follows = cut < length && body[cut] >= '0' && body[cut] <= '9';
    if (whole == DDNSCLIENT_E_UNKNOWN_RESPONSE && prefix != DDNSCLIENT_E_UNKNOWN_RESPONSE &&
        !digit_follows)
      Fail("%s table: nothing found in %zu bytes, 0x%08x in their first %zu", table.name, length,
           prefix, cut);
  }
}

std::string Page(unsigned framing, const uint8_t *body, size_t length) {
  const std::string text(reinterpret_cast<const char *>(body), length);
  switch (framing) {
    case 0:
      return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + text;
    case 1: {
      char size[16];
      snprintf(size, sizeof size, "%zx", length);
      return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) + "\r\n" +
             text + "\r\n0\r\n\r\n";
    }
    case 2:
      return "HTTP/1.0 200 OK\r\n\r\n" + text;
    default:
      return text;
  }
}

void CheckIP(DDNSClientContext *context, unsigned framing, const uint8_t *body, size_t length) {
  LoopbackPeer &peer = LoopbackPeer::Get();
  peer.Begin(0x10000000u, true);
  const std::string page = Page(framing, body, length);
  peer.Add({0, 0, reinterpret_cast<const uint8_t *>(page.data()), page.size(), true});
  const uint16_t port = peer.Port();
  context->wCheckIPPort = port;
  context->wUpdatePort = port;
  DDNSClient_CopyText(context->szCurrentIP, kPreviousAddress, sizeof context->szCurrentIP);

  const fuzzpeer::DescriptorCheck descriptors;
  // The fetch's one budget, and a pause and a last wait beyond it.
  peer.Limit(peer.NowMs() + kTimeoutSeconds * 1000u + 1000u, 1000u + 4u * page.size(),
             "check-IP fetch");
  const uint32_t r = DDNSClient_CheckIP_PCCW(context);
  peer.NoLimit();
  peer.End();
  const int left = descriptors.LeftOpen();
  if (left >= 0) Fail("descriptor %d left open", left);

  const char *address = context->szCurrentIP;
  if (r != DDNSCLIENT_OK) {
    // No address, or the fetch's failure as a DDNS code.
    if (r != DDNSCLIENT_E_FAIL && (r & 0xFFFF0000u) != 0x80020000u) Fail("check-IP gave 0x%08x", r);
    if (strcmp(address, kPreviousAddress) != 0)
      Fail("failed check-IP (0x%08x) changed the address to \"%.16s\"", r, address);
    return;
  }
  struct in_addr parsed;
  if (strnlen(address, sizeof context->szCurrentIP) > 15 ||
      inet_pton(AF_INET, address, &parsed) != 1)
    Fail("check-IP address \"%.16s\" is no dotted quad", address);
  if (memmem(body, length, address, strlen(address)) == nullptr)
    Fail("check-IP address %s is not on the page", address);
}

DDNSClientContext *NewContext() {
  DDNSClientInitInfo init = {};
  init.dwVersion = DDNSCLIENT_VERSION;
  strcpy(init.szMAC, "0002D1A0B0C0");
  strcpy(init.szFirmwareVersion, "fuzz-1.0");
  DDNSClientContext *context = nullptr;
  if (DDNSClient_Initial(&context, &init) != DDNSCLIENT_OK) Fail("no context");
  // PCCW at the loopback peer: server, both paths, a short time-out.
  context->dwServiceProvider = 23;
  DDNSClient_CopyText(context->szDDNSServerName, "127.0.0.1", sizeof context->szDDNSServerName);
  DDNSClient_CopyText(context->szProviderText1, "/checkip", sizeof context->szProviderText1);
  DDNSClient_CopyText(context->szProviderText2, "/update", sizeof context->szProviderText2);
  context->dwNetworkTimeout = kTimeoutSeconds;
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 8192) return 0;
  const unsigned framing = data[0] & 3;
  const bool fetch = (data[0] & 4) != 0;
  const size_t length = size - 2;
  const size_t kept = length < DDNSCLIENT_RESPONSE_SIZE ? length : DDNSCLIENT_RESPONSE_SIZE;
  const size_t cut = kept * data[1] / 256;
  const uint8_t *body = data + 2;

  // The tables only read the context: one serves every input.  A fetch
  // gets a context of its own, since its HTTP client keeps what a server
  // taught it (an authentication scheme) from one exchange to the next.
  static DDNSClientContext *const tables = NewContext();
  static DDNSClientContext *const before =
      static_cast<DDNSClientContext *>(malloc(sizeof(DDNSClientContext)));
  if (before == nullptr) Fail("out of memory");
  CheckTables(tables, before, body, length, cut);
  if (!fetch) return 0;
  DDNSClientContext *context = NewContext();
  CheckIP(context, framing, body, length);
  if (DDNSClient_Release(&context) != DDNSCLIENT_OK) Fail("context not released");
  return 0;
}
