// SPDX-License-Identifier: MIT
// The stub resolver against a real name server (BIND 9's named).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "named_fixture.h"
#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

TEST(NetUtilityNamed, ResolvesAgainstBind) {
  NAMREG_REQUIRE_SANDBOX();
  std::string error;
  auto named = nrtest::StartNamed(
      "example.test",
      {"www 60 IN A 192.0.2.10", "www 60 IN A 192.0.2.11", "alias 60 IN CNAME www",
       "chain 60 IN CNAME alias", "v6only 60 IN AAAA 2001:db8::1", "mail 60 IN MX 10 www"},
      false, &error);
  ASSERT_TRUE(named) << error;
  const uint32_t server = inet_addr("127.0.0.1");
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();

  struct Case {
    const char *name;
    int32_t result;
    bool found;
  } cases[] = {
      {"www.example.test", 0, true},
      {"alias.example.test", 0, true},  // CNAME, then the A records
      {"chain.example.test", 0, true},  // two CNAMEs
      {"WWW.Example.TEST", 0, true},
      {"ns.example.test", 0, true},
      {"nothere.example.test", DNS_RESULT_NAME_ERROR, false},
      {"v6only.example.test", -1, false},  // no A record: no answers at all
      {"mail.example.test", -1, false},
  };
  for (const Case &c : cases) {
    uint32_t address = 0;
    EXPECT_EQ(NetUtility_DNSResolve(server, c.name, 2, &address), c.result) << c.name;
    if (!c.found) {
      EXPECT_EQ(address, 0u) << c.name;
    } else if (std::string(c.name) == "ns.example.test") {
      EXPECT_EQ(address, inet_addr("127.0.0.1"));
    } else {
      EXPECT_TRUE(address == inet_addr("192.0.2.10") || address == inet_addr("192.0.2.11"))
          << c.name << " gave " << std::hex << address;
    }
  }

  // The host-name check through the name-server file.
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  int32_t result = 5;
  EXPECT_EQ(NetUtility_IsValidDomainName("alias.example.test", &result), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(NetUtility_IsValidDomainName("nothere.example.test", &result), 0);
  EXPECT_EQ(result, DNS_RESULT_NAME_ERROR);
  out.Take();
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

}  // namespace
