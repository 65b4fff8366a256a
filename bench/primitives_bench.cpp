// SPDX-License-Identifier: MIT
// Throughput of the primitives.  MD5 and HMAC-MD5 run next to OpenSSL's on
// the same inputs, so the ratio can be read off one run:
//   primitives_bench --benchmark_filter='Md5|Hmac'
#define OPENSSL_SUPPRESS_DEPRECATED  // the plain MD5_* calls, as peer of ours
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/md5.h>

#include <cstring>
#include <vector>

#include "namreg/common.h"
#include "namreg/ddnsclient.h"

namespace {

std::vector<unsigned char> Data(size_t n) {
  std::vector<unsigned char> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = (unsigned char)(i * 131 + 7);
  return d;
}

void Md5Ours(benchmark::State &state) {
  auto data = Data((size_t)state.range(0));
  unsigned char digest[16];
  for (auto _ : state) {
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data.data(), (unsigned int)data.size());
    MD5Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

void Md5OpenSsl(benchmark::State &state) {
  auto data = Data((size_t)state.range(0));
  unsigned char digest[16];
  for (auto _ : state) {
    MD5_CTX ctx;
    MD5_Init(&ctx);
    MD5_Update(&ctx, data.data(), data.size());
    MD5_Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

void HmacMd5Ours(benchmark::State &state) {
  auto data = Data((size_t)state.range(0));
  auto key = Data(16);
  unsigned char mac[16];
  for (auto _ : state) {
    HMAC_MD5(key.data(), (int)key.size(), data.data(), (int)data.size(), mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

void HmacMd5OpenSsl(benchmark::State &state) {
  auto data = Data((size_t)state.range(0));
  auto key = Data(16);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    HMAC(EVP_md5(), key.data(), (int)key.size(), data.data(), data.size(), mac, &len);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

// A register request is at most 246 bytes (494 encoded).
void CodecEncode(benchmark::State &state) {
  auto data = Data(246);
  char out[494];
  for (auto _ : state) {
    int32_t cap = sizeof out;
    benchmark::DoNotOptimize(HALDStrCodec_Encode(data.data(), 246, out, &cap));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * 246);
}

void CodecDecode(benchmark::State &state) {
  auto data = Data(246);
  char text[494];
  int32_t cap = sizeof text;
  int32_t n = HALDStrCodec_Encode(data.data(), 246, text, &cap);
  unsigned char out[300];
  for (auto _ : state) {
    int32_t dcap = sizeof out;
    benchmark::DoNotOptimize(HALDStrCodec_Decode(text, n, out, &dcap));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * n);
}

void BlowfishEncrypt(benchmark::State &state) {
  auto data = Data(1024);
  std::vector<unsigned char> out(1024);
  const unsigned char key[] = "0123456789abcdef";
  Blowfish_SetKey(key, 16);
  for (auto _ : state) {
    Blowfish_Encrypt(data.data(), out.data(), 1024);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * 1024);
}

void BlowfishSetKey(benchmark::State &state) {
  const unsigned char key[] = "0123456789abcdef";
  for (auto _ : state) {
    Blowfish_SetKey(key, 16);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(Md5Ours)->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(Md5OpenSsl)->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(HmacMd5Ours)->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(HmacMd5OpenSsl)->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(CodecEncode);
BENCHMARK(CodecDecode);
BENCHMARK(BlowfishEncrypt);
BENCHMARK(BlowfishSetKey);

BENCHMARK_MAIN();
