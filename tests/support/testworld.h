// SPDX-License-Identifier: MIT
// The test world: a private network and mount namespace for the test
// process (loopback up, a resolv.conf of the test's own, /dev/log a socket
// the test reads, every port bindable), child processes, and descriptor
// counting.  Everything here is for tests only.
#ifndef NAMREG_TESTS_TESTWORLD_H
#define NAMREG_TESTS_TESTWORLD_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nrtest {

// Moves this process (once; later calls only report) into a new network and
// mount namespace: loopback up, /etc/resolv.conf bind-mounted from a file of
// the sandbox ("nameserver 127.0.0.1" at first), /dev a private tmpfs with
// null, zero, random, urandom, tty, full, pts, shm and no log socket, and a
// private scratch directory.  Children started afterwards share it.  The
// host's /etc and /dev stay untouched.  Returns false with the reason when it
// cannot be made (not root, no namespaces).
bool EnterSandbox(std::string *reason);

// Skips the current test (never passes it) when the sandbox cannot be made.
#define NAMREG_REQUIRE_SANDBOX()                                \
  do {                                                          \
    std::string nr_reason_;                                     \
    if (!::nrtest::EnterSandbox(&nr_reason_))                   \
      GTEST_SKIP() << "test world unavailable: " << nr_reason_; \
  } while (0)

// Rewrites /etc/resolv.conf (in place, so the bind mount stays) inside the
// sandbox.
void WriteResolvConf(const std::string &text);
// A private scratch directory of the sandbox (tmpfs, gone with the process).
std::string ScratchDir();
// Writes a file (creating directories as needed); false on failure.
bool WriteFile(const std::string &path, const std::string &content, int mode = 0644);

// Open descriptors of this process (the /proc listing's own one excluded).
int CountOpenFds();

// Build and source tree locations (from the environment CTest sets).
std::string BinaryDir();
std::string SourceDir();
// Path of a program built by the project, e.g. BuiltProgram("app/namreg").
std::string BuiltProgram(const std::string &relative);

// /dev/log as a Unix datagram socket.  Construct it before the code under
// test logs; syslog() reaches it through the sandbox's /dev.
struct SyslogRecord {
  int facility = -1;    // LOG_USER >> 3 == 1, ...
  int severity = -1;    // 1 alert, 2 crit, 4 warning ...
  std::string ident;    // text before ": " ("[NAMREG]")
  std::string message;  // text after it
  std::string raw;      // the whole datagram
};
class SyslogSink {
 public:
  SyslogSink();
  ~SyslogSink();
  SyslogSink(const SyslogSink &) = delete;
  SyslogSink &operator=(const SyslogSink &) = delete;
  bool ok() const { return fd_ >= 0; }
  // Next record, waiting at most timeout_ms; false when none came.
  bool Next(SyslogRecord *record, int timeout_ms);
  // Every record that arrives until none has come for quiet_ms.
  std::vector<SyslogRecord> Drain(int quiet_ms = 200);

 private:
  int fd_ = -1;
};

struct ProcessResult {
  int exit_status = -1;  // low 8 bits of the exit status, or -1
  int term_signal = 0;   // signal that ended it, if any
  bool timed_out = false;
  std::string out;     // standard output
  std::string err;     // standard error
  double seconds = 0;  // wall time
};
struct ProcessOptions {
  std::vector<std::string> env_set;    // "NAME=value", added or replaced
  std::vector<std::string> env_unset;  // names removed
  bool clear_env = false;              // start from an empty environment
  int timeout_ms = 60000;              // killed (SIGKILL) after this
  std::string stdin_text;
};
// Runs a program to its end, collecting its output.
ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const ProcessOptions &options = ProcessOptions());

// A background program (a server) killed and reaped when the object goes.
// Its standard output and error go to log_path when given, else /dev/null.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  bool Start(const std::vector<std::string> &argv, const std::string &log_path = "",
             const std::vector<std::string> &env_set = {});
  int pid() const { return pid_; }
  bool running();
  // SIGTERM, then SIGKILL after grace_ms; returns the exit status or -1.
  int Stop(int grace_ms = 2000);
  // Waits for the program to end by itself; exit status, or -1 on time-out.
  int Wait(int timeout_ms);

 private:
  int pid_ = -1;
  int status_ = -1;
};

// Polls until a TCP listener accepts on 127.x addr:port; false on time-out.
bool WaitForTcpPort(const std::string &address, uint16_t port, int timeout_ms);
// Adds a dummy interface (a port-less bridge where the kernel has no dummy
// link type) with an IPv4 address ("10.1.2.3/24"); the address may be empty
// for an interface without one.
bool AddDummyInterface(const std::string &name, const std::string &cidr);
// Finds a program on the usual system paths (named, apache2, squid ...);
// empty when not installed.
std::string FindProgram(const std::string &name);

}  // namespace nrtest

#endif  // NAMREG_TESTS_TESTWORLD_H
