// SPDX-License-Identifier: MIT
// Linked into every fuzz target.  The libraries print their complaints on
// standard output and write some outcomes to syslog; at millions of
// executions that is gigabytes of log and a flood of datagrams to /dev/log,
// which only slows the fuzzer down.  Before the fuzzer starts, standard
// output goes to /dev/null and syslog drops every priority the libraries log
// at (alert, critical, warning: only debug would pass).  libFuzzer reports on
// standard error, which stays as it is.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

namespace {

struct Quiet {
  Quiet() {
    fflush(stdout);
    const int fd = open("/dev/null", O_WRONLY);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
      perror("fuzz target: standard output to /dev/null");
      abort();
    }
    if (fd != STDOUT_FILENO) close(fd);
    setlogmask(LOG_MASK(LOG_DEBUG));
  }
};

const Quiet g_quiet;

}  // namespace
