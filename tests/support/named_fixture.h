// SPDX-License-Identifier: MIT
// A real name server for tests: BIND 9's named, started in the foreground
// inside the test world, authoritative for the zones given, on loopback
// port 53.  Other test folders can compile named_fixture.cpp into their own
// test programs (it needs only the test-world support library).
//
//   auto named = nrtest::StartNamed("example.test",
//                                   {"www 60 IN A 192.0.2.10", "alias IN CNAME www"},
//                                   /*allow_update=*/true, &error);
//   ASSERT_TRUE(named) << error;   // named answers on 127.0.0.1:53 now
//
// Call NAMREG_REQUIRE_SANDBOX() first: named binds port 53 of the test's own
// loopback.  The server stops (SIGTERM, then SIGKILL) when the returned
// object goes.
#ifndef NAMREG_TESTS_SUPPORT_NAMED_FIXTURE_H
#define NAMREG_TESTS_SUPPORT_NAMED_FIXTURE_H

#include <memory>
#include <string>
#include <vector>

#include "testworld.h"

namespace nrtest {

struct NamedZone {
  std::string name;  // "example.test" (no trailing dot)
  // Zone-file lines relative to the origin, e.g. "www 60 IN A 192.0.2.10".
  // The SOA, an NS record "ns" and "ns IN A <listen address>" are added.
  std::vector<std::string> records;
  bool allow_update = false;  // allow-update { 127.0.0.1; } (else none)
};

struct NamedOptions {
  std::string listen = "127.0.0.1";  // IPv4 address on port 53
  int start_timeout_ms = 15000;      // until the first zone's SOA is served
};

// Writes named.conf and the zone files into a fresh directory under
// ScratchDir() (also the home of the pid file, session key, journals and
// "named.log"), starts `named -g -4 -c <conf>` and waits until it answers
// authoritatively for the first zone.  Returns null with the reason (and the
// log's end) in *error when named is missing or does not come up.
std::unique_ptr<ChildProcess> StartNamed(const std::vector<NamedZone> &zones,
                                         std::string *error = nullptr,
                                         const NamedOptions &options = NamedOptions());
// One zone.
std::unique_ptr<ChildProcess> StartNamed(const std::string &zone,
                                         const std::vector<std::string> &records, bool allow_update,
                                         std::string *error = nullptr);

// Directory of the most recently started named (config, zones, named.log).
std::string NamedDirectory();

}  // namespace nrtest

#endif  // NAMREG_TESTS_SUPPORT_NAMED_FIXTURE_H
