// SPDX-License-Identifier: MIT
// The test world: private network and mount namespace, syslog socket,
// child processes, descriptor counting.
#include "testworld.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace nrtest {
namespace {

bool g_entered = false;
bool g_tried = false;
std::string g_reason;
std::string g_scratch;

double NowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string Errno(const char *what) {
  return std::string(what) + ": " + strerror(errno);
}

bool BringLoopbackUp(std::string *reason) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) {
    *reason = Errno("socket");
    return false;
  }
  ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  if (ok) {
    ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  }
  if (!ok) *reason = Errno("bringing up lo");
  close(s);
  return ok;
}

bool MakeFile(const std::string &path) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Replaces /dev with a private tmpfs holding only the device nodes tests
// need, so that /dev/log can be a socket of the test's own.
bool PrivateDev(const std::string &scratch, std::string *reason) {
  const std::string real = scratch + "/realdev";
  if (mkdir(real.c_str(), 0755) != 0) {
    *reason = Errno("mkdir realdev");
    return false;
  }
  if (mount("/dev", real.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    *reason = Errno("bind /dev");
    return false;
  }
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755,size=1m") != 0) {
    *reason = Errno("tmpfs on /dev");
    return false;
  }
  static const char *const kNodes[] = {"null", "zero", "random", "urandom", "tty", "full"};
  for (const char *node : kNodes) {
    std::string from = real + "/" + node, to = std::string("/dev/") + node;
    if (!MakeFile(to) || mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      *reason = Errno(("bind /dev/" + std::string(node)).c_str());
      return false;
    }
  }
  mkdir("/dev/pts", 0755);
  mount((real + "/pts").c_str(), "/dev/pts", nullptr, MS_BIND, nullptr);
  mkdir("/dev/shm", 01777);
  mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
  symlink("/proc/self/fd", "/dev/fd");
  symlink("/proc/self/fd/0", "/dev/stdin");
  symlink("/proc/self/fd/1", "/dev/stdout");
  symlink("/proc/self/fd/2", "/dev/stderr");
  // The real /dev stays reachable only through the private mount; detach it
  // so nothing in the sandbox writes to the host's devices by accident.
  umount2(real.c_str(), MNT_DETACH);
  return true;
}

void RemoveScratch() {
  if (g_scratch.empty()) return;
  umount2(g_scratch.c_str(), MNT_DETACH);
  rmdir(g_scratch.c_str());
}

bool Enter(std::string *reason) {
#ifdef NAMREG_TEST_EMULATOR
  // Built for another processor and run under a user-mode emulator: the
  // namespaces, the host's servers and the programs the tests start are not
  // the target's.
  *reason = "running under the emulator " NAMREG_TEST_EMULATOR
            " (no namespaces, peers or target programs to start)";
  return false;
#endif
  if (geteuid() != 0) {
    *reason = "not running as root (namespaces and mounts need it)";
    return false;
  }
  char tmpl[] = "/tmp/namreg-world.XXXXXX";
  if (!mkdtemp(tmpl)) {
    *reason = Errno("mkdtemp");
    return false;
  }
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    *reason = Errno("unshare(CLONE_NEWNET|CLONE_NEWNS)");
    rmdir(tmpl);
    return false;
  }
  g_scratch = tmpl;
  atexit(RemoveScratch);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *reason = Errno("making / private");
    return false;
  }
  if (mount("tmpfs", tmpl, "tmpfs", 0, "mode=0755,size=256m") != 0) {
    *reason = Errno("tmpfs scratch");
    return false;
  }
  if (!BringLoopbackUp(reason)) return false;
  const std::string resolv = g_scratch + "/resolv.conf";
  if (!WriteFile(resolv, "nameserver 127.0.0.1\n")) {
    *reason = Errno("writing resolv.conf");
    return false;
  }
  if (mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
    *reason = Errno("bind /etc/resolv.conf");
    return false;
  }
  if (!PrivateDev(g_scratch, reason)) return false;
  // Ports below 1024 are bindable by root anyway; make them so for any
  // child that drops privileges too.
  WriteFile("/proc/sys/net/ipv4/ip_unprivileged_port_start", "0\n");
  return true;
}

}  // namespace

bool EnterSandbox(std::string *reason) {
  if (!g_tried) {
    g_tried = true;
    g_entered = Enter(&g_reason);
  }
  if (!g_entered && reason) *reason = g_reason;
  return g_entered;
}

void WriteResolvConf(const std::string &text) {
  // fopen "w" truncates the bind-mounted file in place.
  FILE *f = fopen("/etc/resolv.conf", "w");
  ASSERT_NE(f, nullptr) << strerror(errno);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

namespace {
std::string g_fallback_scratch;

int RemoveEntry(const char *path, const struct stat *, int, FTW *) {
  return remove(path);
}

void RemoveFallbackScratch() {
  if (!g_fallback_scratch.empty())
    nftw(g_fallback_scratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}
}  // namespace

std::string ScratchDir() {
  if (g_entered) return g_scratch;
  // Outside the sandbox: a temporary directory removed when the test ends.
  if (g_fallback_scratch.empty()) {
    char tmpl[] = "/tmp/namreg-test.XXXXXX";
    if (mkdtemp(tmpl)) {
      g_fallback_scratch = tmpl;
      atexit(RemoveFallbackScratch);
    }
  }
  return g_fallback_scratch;
}

bool WriteFile(const std::string &path, const std::string &content, int mode) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
  if (fd < 0) return false;
  size_t off = 0;
  while (off < content.size()) {
    ssize_t n = write(fd, content.data() + off, content.size() - off);
    if (n <= 0) {
      close(fd);
      return false;
    }
    off += static_cast<size_t>(n);
  }
  fchmod(fd, static_cast<mode_t>(mode));
  return close(fd) == 0;
}

int CountOpenFds() {
  DIR *d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n - 1;  // the directory's own descriptor
}

std::string BinaryDir() {
  const char *v = getenv("NAMREG_BINARY_DIR");
  return v ? v : ".";
}

std::string SourceDir() {
  const char *v = getenv("NAMREG_SOURCE_DIR");
  return v ? v : "..";
}

std::string BuiltProgram(const std::string &relative) {
  return BinaryDir() + "/" + relative;
}

std::string FindProgram(const std::string &name) {
  static const char *const kDirs[] = {"/usr/sbin",       "/usr/bin",       "/sbin",         "/bin",
                                      "/usr/local/sbin", "/usr/local/bin", "/usr/lib/squid"};
  for (const char *dir : kDirs) {
    std::string p = std::string(dir) + "/" + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return "";
}

// ---- syslog sink ----------------------------------------------------------

SyslogSink::SyslogSink() {
  unlink("/dev/log");
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, "/dev/log", sizeof addr.sun_path - 1);
  if (bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd_);
    fd_ = -1;
    return;
  }
  chmod("/dev/log", 0666);
}

SyslogSink::~SyslogSink() {
  if (fd_ >= 0) {
    close(fd_);
    unlink("/dev/log");
  }
}

bool SyslogSink::Next(SyslogRecord *record, int timeout_ms) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[4096];
  ssize_t n = recv(fd_, buf, sizeof buf - 1, 0);
  if (n <= 0) return false;
  std::string raw(buf, static_cast<size_t>(n));
  SyslogRecord r;
  r.raw = raw;
  // "<PRI>Mmm dd hh:mm:ss IDENT: message" (glibc).
  size_t pos = 0;
  if (!raw.empty() && raw[0] == '<') {
    size_t close_at = raw.find('>');
    if (close_at != std::string::npos) {
      int pri = atoi(raw.substr(1, close_at - 1).c_str());
      r.facility = pri >> 3;
      r.severity = pri & 7;
      pos = close_at + 1;
    }
  }
  if (raw.size() >= pos + 16 && raw[pos + 3] == ' ' && raw[pos + 6] == ' ' && raw[pos + 15] == ' ')
    pos += 16;  // timestamp
  size_t colon = raw.find(": ", pos);
  if (colon != std::string::npos) {
    r.ident = raw.substr(pos, colon - pos);
    r.message = raw.substr(colon + 2);
  } else {
    r.message = raw.substr(pos);
  }
  *record = r;
  return true;
}

std::vector<SyslogRecord> SyslogSink::Drain(int quiet_ms) {
  std::vector<SyslogRecord> out;
  SyslogRecord r;
  while (Next(&r, quiet_ms)) out.push_back(r);
  return out;
}

// ---- processes ------------------------------------------------------------

namespace {

// Programs of the build run under the emulator when the build is for
// another processor; everything else (host tools) runs as it is.
std::vector<std::string> ForThisMachine(const std::vector<std::string> &argv) {
#ifdef NAMREG_TEST_EMULATOR_COMMAND
  const std::string built = BinaryDir() + "/";
  if (!argv.empty() && argv[0].compare(0, built.size(), built) == 0) {
    std::vector<std::string> out;
    std::string words = NAMREG_TEST_EMULATOR_COMMAND;
    for (size_t pos = 0; pos < words.size();) {
      size_t end = words.find(' ', pos);
      if (end == std::string::npos) end = words.size();
      if (end > pos) out.push_back(words.substr(pos, end - pos));
      pos = end + 1;
    }
    if (!out.empty() && out[0].find('/') == std::string::npos) {
      std::string path = FindProgram(out[0]);
      if (!path.empty()) out[0] = path;
    }
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
  }
#endif
  return argv;
}

std::vector<char *> CStrings(const std::vector<std::string> &v) {
  std::vector<char *> out;
  for (const std::string &s : v) out.push_back(const_cast<char *>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

void ApplyEnv(bool clear, const std::vector<std::string> &unset_names,
              const std::vector<std::string> &set_pairs) {
  if (clear) clearenv();
  for (const std::string &n : unset_names) unsetenv(n.c_str());
  for (const std::string &kv : set_pairs) {
    size_t eq = kv.find('=');
    if (eq == std::string::npos) continue;
    setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
  }
}

void ReadAvailable(int fd, std::string *to, bool *open_flag) {
  char buf[4096];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n > 0)
    to->append(buf, static_cast<size_t>(n));
  else if (n == 0 || (errno != EINTR && errno != EAGAIN))
    *open_flag = false;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string> &argv, const ProcessOptions &options) {
  ProcessResult result;
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0 ||
      pipe2(in_pipe, O_CLOEXEC) != 0)
    return result;
  double start = NowSeconds();
  const std::vector<std::string> command = ForThisMachine(argv);
  std::vector<char *> args = CStrings(command);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    ApplyEnv(options.clear_env, options.env_unset, options.env_set);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  close(in_pipe[0]);
  if (!options.stdin_text.empty()) {
    ssize_t ignored = write(in_pipe[1], options.stdin_text.data(), options.stdin_text.size());
    (void)ignored;
  }
  close(in_pipe[1]);
  bool out_open = true, err_open = true;
  double deadline = start + options.timeout_ms / 1000.0;
  while (out_open || err_open) {
    double left = deadline - NowSeconds();
    if (left <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                   {err_open ? err_pipe[0] : -1, POLLIN, 0}};
    int r = poll(p, 2, static_cast<int>(left * 1000) + 1);
    if (r < 0 && errno != EINTR) break;
    if (p[0].revents) ReadAvailable(out_pipe[0], &result.out, &out_open);
    if (p[1].revents) ReadAvailable(err_pipe[0], &result.err, &err_open);
  }
  int status = 0;
  while (true) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (NowSeconds() > deadline) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(2000);
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  result.seconds = NowSeconds() - start;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  return result;
}

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::string &log_path,
                         const std::vector<std::string> &env_set) {
  Stop();
  const std::vector<std::string> command = ForThisMachine(argv);
  std::vector<char *> args = CStrings(command);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    setpgid(0, 0);
    int null_fd = open("/dev/null", O_RDWR);
    int log_fd =
        log_path.empty() ? null_fd : open(log_path.c_str(), O_CREAT | O_WRONLY | O_APPEND, 0644);
    if (null_fd >= 0) dup2(null_fd, 0);
    if (log_fd >= 0) {
      dup2(log_fd, 1);
      dup2(log_fd, 2);
    }
    ApplyEnv(false, {}, env_set);
    execv(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  status_ = -1;
  return true;
}

bool ChildProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t w = waitpid(pid_, &status, WNOHANG);
  if (w == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::Wait(int timeout_ms) {
  double deadline = NowSeconds() + timeout_ms / 1000.0;
  while (running()) {
    if (NowSeconds() > deadline) return -1;
    usleep(5000);
  }
  return status_;
}

int ChildProcess::Stop(int grace_ms) {
  if (pid_ <= 0) return status_;
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  if (Wait(grace_ms) == -1 && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = -1;
  }
  return status_;
}

bool WaitForTcpPort(const std::string &address, uint16_t port, int timeout_ms) {
  double deadline = NowSeconds() + timeout_ms / 1000.0;
  do {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(address.c_str());
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    if (ok) return true;
    usleep(20000);
  } while (NowSeconds() < deadline);
  return false;
}

bool AddDummyInterface(const std::string &name, const std::string &cidr) {
  std::string ip = FindProgram("ip");
  if (ip.empty()) return false;
  // Some kernels are built without the dummy link type; a bridge without
  // ports serves the same purpose (an interface that holds an address).
  if (RunProcess({ip, "link", "add", name, "type", "dummy"}).exit_status != 0 &&
      RunProcess({ip, "link", "add", "name", name, "type", "bridge"}).exit_status != 0)
    return false;
  if (!cidr.empty() && RunProcess({ip, "addr", "add", cidr, "dev", name}).exit_status != 0)
    return false;
  return RunProcess({ip, "link", "set", name, "up"}).exit_status == 0;
}

}  // namespace nrtest
