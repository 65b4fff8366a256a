/* SPDX-License-Identifier: MIT */
#define _DEFAULT_SOURCE
#include "report.h"

#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "outcome.h"

static FILE *g_out;
static int g_use_syslog;
static int g_socket = -1;
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

void dd_report_open(FILE *out, int use_syslog) {
  g_out = out;
  g_use_syslog = use_syslog;
}

/* One datagram to /dev/log in the traditional form, as syslog(3) sends. */
static void SendSyslog(int priority, const char *text) {
  if (g_socket < 0) {
    g_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_socket < 0) return;
    struct sockaddr_un where;
    memset(&where, 0, sizeof where);
    where.sun_family = AF_UNIX;
    snprintf(where.sun_path, sizeof where.sun_path, "/dev/log");
    if (connect(g_socket, (struct sockaddr *)&where, sizeof where) != 0) {
      close(g_socket);
      g_socket = -1;
      return;
    }
  }
  char stamp[32];
  const time_t now = time(NULL);
  struct tm local;
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  char datagram[1200];
  const int n = snprintf(datagram, sizeof datagram, "<%d>%s ddnsupdate[%d]: %s",
                         LOG_DAEMON | priority, stamp, (int)getpid(), text);
  if (n <= 0) return;
  const size_t length = (size_t)n < sizeof datagram ? (size_t)n : sizeof datagram - 1;
  if (send(g_socket, datagram, length, MSG_NOSIGNAL) < 0) {
    close(g_socket); /* the log daemon went away: connect again next time */
    g_socket = -1;
  }
}

void dd_report(int priority, const char *format, ...) {
  char raw[1024], text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(raw, sizeof raw, format, args);
  va_end(args);
  dd_escape(raw, text, sizeof text);
  pthread_mutex_lock(&g_mutex);
  if (g_out != NULL) {
    fprintf(g_out, "ddnsupdate: %s\n", text);
    fflush(g_out);
  }
  if (g_use_syslog) SendSyslog(priority, text);
  pthread_mutex_unlock(&g_mutex);
}

void dd_report_close(void) {
  pthread_mutex_lock(&g_mutex);
  if (g_socket >= 0) close(g_socket);
  g_socket = -1;
  pthread_mutex_unlock(&g_mutex);
}
