// SPDX-License-Identifier: MIT
// One A lookup through NetUtility_DNSResolve and through getaddrinfo, both
// against the name server at 127.0.0.1 (bench/resolver-bench.sh starts a
// named there and points /etc/resolv.conf at it).
//
//   resolver_bench [benchmark flags]   wall time of both, Google Benchmark
//   resolver_bench --loops N           N lookups of each for callgrind: the
//                                      inclusive cost of BenchLoopOurs and
//                                      BenchLoopGetaddrinfo, divided by N, is
//                                      the cost of one lookup
// The name looked up is NAMREG_BENCH_NAME (default www.bench.test).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "namreg/netutility.h"

namespace {

const char *Name() {
  const char *name = getenv("NAMREG_BENCH_NAME");
  return name != nullptr && name[0] != '\0' ? name : "www.bench.test";
}

const uint32_t kServer = inet_addr("127.0.0.1");

uint32_t LookUpOurs(const char *name) {
  uint32_t address = 0;
  if (NetUtility_DNSResolve(kServer, name, 2, &address) != 0) return 0;
  return address;
}

uint32_t LookUpGetaddrinfo(const char *name) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  struct addrinfo *list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return 0;
  uint32_t address = reinterpret_cast<const sockaddr_in *>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return address;
}

void BM_NetUtilityDNSResolve(benchmark::State &state) {
  const char *name = Name();
  for (auto _ : state) {
    uint32_t address = LookUpOurs(name);
    if (address == 0) {
      state.SkipWithError("NetUtility_DNSResolve found no address");
      break;
    }
    benchmark::DoNotOptimize(address);
  }
}
BENCHMARK(BM_NetUtilityDNSResolve)->UseRealTime();

void BM_Getaddrinfo(benchmark::State &state) {
  const char *name = Name();
  for (auto _ : state) {
    uint32_t address = LookUpGetaddrinfo(name);
    if (address == 0) {
      state.SkipWithError("getaddrinfo found no address");
      break;
    }
    benchmark::DoNotOptimize(address);
  }
}
BENCHMARK(BM_Getaddrinfo)->UseRealTime();

}  // namespace

// Kept out of line and unmangled so callgrind_annotate finds them by name.
extern "C" __attribute__((noinline)) int BenchLoopOurs(const char *name, int n) {
  int found = 0;
  for (int i = 0; i < n; ++i) found += LookUpOurs(name) != 0;
  return found;
}
extern "C" __attribute__((noinline)) int BenchLoopGetaddrinfo(const char *name, int n) {
  int found = 0;
  for (int i = 0; i < n; ++i) found += LookUpGetaddrinfo(name) != 0;
  return found;
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--loops") == 0) {
    const int n = atoi(argv[2]);
    const char *name = Name();
    // One warm-up call each outside the measured loops (library loading,
    // the first read of the system's files).
    if (LookUpOurs(name) == 0 || LookUpGetaddrinfo(name) == 0) {
      fprintf(stderr, "%s does not resolve through 127.0.0.1\n", name);
      return 1;
    }
    const int ours = BenchLoopOurs(name, n);
    const int theirs = BenchLoopGetaddrinfo(name, n);
    printf("lookups: %d ours, %d getaddrinfo, %d each asked\n", ours, theirs, n);
    return ours == n && theirs == n ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
