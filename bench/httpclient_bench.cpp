// SPDX-License-Identifier: MIT
// Sequential GETs of a 1 KiB page from a local Apache httpd, with this
// library's synchronous GET and with libcurl, one new connection per
// request for both ("Connection: close").
//
//   httpclient_bench                        Google Benchmark wall times
//   httpclient_bench --loop namreg|curl N   N requests in RunNamregLoop /
//                                           RunCurlLoop, for callgrind:
//   valgrind --tool=callgrind --toggle-collect=RunNamregLoop
//            httpclient_bench --loop namreg 200
//
// The program starts its own Apache (apache2 -X) on a free loopback port
// with a configuration in a temporary directory, and stops it at the end.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "namreg/httpclient.h"

namespace {

pid_t g_apache = -1;
uint16_t g_port = 0;
std::string g_dir;
const char kUri[] = "/page.html";

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin));
  socklen_t len = sizeof(sin);
  getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len);
  close(fd);
  return ntohs(sin.sin_port);
}

bool Listening(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) == 0;
  close(fd);
  return ok;
}

bool WriteText(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f) return false;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  chmod(path.c_str(), 0644);
  return true;
}

void StopApache() {
  if (g_apache > 0) {
    kill(g_apache, SIGTERM);
    waitpid(g_apache, nullptr, 0);
    g_apache = -1;
  }
  if (!g_dir.empty()) {
    std::string cmd = "rm -rf '" + g_dir + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", g_dir.c_str());
  }
}

bool StartApache() {
  char tmpl[] = "/tmp/namreg-bench.XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  g_dir = tmpl;
  chmod(g_dir.c_str(), 0755);
  mkdir((g_dir + "/htdocs").c_str(), 0755);
  std::string page = "<html><body>\n";
  while (page.size() < 1024 - 15) page += "namreg bench page line\n";
  page.resize(1024 - 15);
  page += "</body></html>\n";
  g_port = FreePort();
  std::string conf =
      "LoadModule mpm_prefork_module /usr/lib/apache2/modules/mod_mpm_prefork.so\n"
      "LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so\n"
      "ServerName bench.example.test\nListen 127.0.0.1:" +
      std::to_string(g_port) +
      "\n"
      "User nobody\nGroup nogroup\nPidFile " +
      g_dir + "/httpd.pid\nDefaultRuntimeDir " + g_dir + "\nErrorLog " + g_dir +
      "/error.log\nDocumentRoot " + g_dir +
      "/htdocs\n"
      "<Directory />\n  Require all granted\n</Directory>\n";
  if (!WriteText(g_dir + "/httpd.conf", conf) || !WriteText(g_dir + "/htdocs/page.html", page))
    return false;
  g_apache = fork();
  if (g_apache == 0) {
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    std::string f = g_dir + "/httpd.conf";
    execlp("apache2", "apache2", "-X", "-f", f.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 150; ++i) {
    if (Listening(g_port)) return true;
    usleep(100000);
  }
  return false;
}

// ---- The two clients -------------------------------------------------------

struct NamregClient {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  char buffer[5841];
  NamregClient() {
    HTTPClient_Initial(&h, HTTPCLIENT_VERSION);
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = g_port;
    strcpy(info.szURI, kUri);
    strcpy(info.szUserAgent, "namreg-bench");
    info.dwTotalTimeout = 10 * 1000000u;
  }
  ~NamregClient() { HTTPClient_Release(&h); }
  bool Get() {
    info.pRecvBuffer = buffer;
    info.dwRecvSize = 5840;
    uint32_t r = HTTPClient_Get(h, &info);
    return (r & 0xFF000000u) != 0x80000000u && info.dwRecvSize == 1024;
  }
};

size_t CurlSink(char *, size_t size, size_t count, void *user) {
  *static_cast<size_t *>(user) += size * count;
  return size * count;
}

struct CurlClient {
  CURL *curl = curl_easy_init();
  curl_slist *headers = curl_slist_append(nullptr, "Connection: close");
  size_t received = 0;
  CurlClient() {
    std::string url = "http://127.0.0.1:" + std::to_string(g_port) + kUri;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "namreg-bench");
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlSink);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  }
  ~CurlClient() {
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
  }
  bool Get() {
    received = 0;
    return curl_easy_perform(curl) == CURLE_OK && received == 1024;
  }
};

}  // namespace

// Plain loops with fixed names, so callgrind can count only them.
extern "C" __attribute__((noinline)) int RunNamregLoop(NamregClient *c, int n) {
  int ok = 0;
  for (int i = 0; i < n; ++i) ok += c->Get() ? 1 : 0;
  return ok;
}
extern "C" __attribute__((noinline)) int RunCurlLoop(CurlClient *c, int n) {
  int ok = 0;
  for (int i = 0; i < n; ++i) ok += c->Get() ? 1 : 0;
  return ok;
}

static void BM_NamregGet(benchmark::State &state) {
  NamregClient c;
  for (auto _ : state)
    if (!c.Get()) state.SkipWithError("GET failed");
}
BENCHMARK(BM_NamregGet)->Unit(benchmark::kMillisecond)->Iterations(30);

static void BM_CurlGet(benchmark::State &state) {
  CurlClient c;
  for (auto _ : state)
    if (!c.Get()) state.SkipWithError("GET failed");
}
BENCHMARK(BM_CurlGet)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (!StartApache()) {
    fprintf(stderr, "apache2 did not start\n");
    StopApache();
    return 1;
  }
  int status = 0;
  if (argc == 4 && strcmp(argv[1], "--loop") == 0) {
    int n = atoi(argv[3]);
    int ok;
    if (strcmp(argv[2], "namreg") == 0) {
      NamregClient c;
      c.Get();  // first use outside the counted loop
      ok = RunNamregLoop(&c, n);
    } else {
      CurlClient c;
      c.Get();
      ok = RunCurlLoop(&c, n);
    }
    printf("%s: %d of %d requests fetched the page\n", argv[2], ok, n);
    status = ok == n ? 0 : 1;
  } else {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  StopApache();
  curl_global_cleanup();
  return status;
}
