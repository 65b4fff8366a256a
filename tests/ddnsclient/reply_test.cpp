// SPDX-License-Identifier: MIT
// The register reply's address: only a plain dotted quad is taken.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "client_fixture.h"

namespace {

TEST(HLDMRegisterReply, AddressMustBeAPlainDottedQuad) {
  struct Case {
    const char *reply;
    uint32_t result;
    const char *address;  // null: left alone
  } const cases[] = {
      {"retc=0:cam.hldm.example:198.51.100.7:", DDNSCLIENT_OK, "198.51.100.7"},
      // A group with a leading zero is not octal here (099 would give the
      // all-ones value, 010 would silently become 8).
      {"retc=0:cam.hldm.example:198.51.099.7:", DDNSCLIENT_E_SERVER_UNKNOWN, nullptr},
      {"retc=0:cam.hldm.example:010.1.1.1:", DDNSCLIENT_E_SERVER_UNKNOWN, nullptr},
      // Text the validator lets through but that is no address.
      {"retc=0:cam.hldm.example:10..2.33:", DDNSCLIENT_E_SERVER_UNKNOWN, nullptr},
  };
  ddnstest::Client c;
  ASSERT_EQ(c.result, 0u);
  std::strcpy(c->szHLDMHostName, "cam.hldm.example");
  for (const Case &k : cases) {
    std::strcpy(c->szResponse, k.reply);
    uint32_t address = 0x01020304u;
    ddnstest::CaptureOut([&] {
      EXPECT_EQ(DDNSClient_ProcessResponse_HLDMRegister(c.context, &address), k.result) << k.reply;
    });
    EXPECT_EQ(address, k.address != nullptr ? inet_addr(k.address) : 0x01020304u) << k.reply;
  }
}

}  // namespace
