/* SPDX-License-Identifier: MIT */
/* ddnsupdate's own lines: to standard error and, when asked, to syslog
 * through a socket of its own (so the libraries' syslog calls can be
 * silenced without silencing these).  Every line is escaped whole. */
#ifndef DDNSUPDATE_REPORT_H
#define DDNSUPDATE_REPORT_H

#include <stdio.h>

/* out: where the lines go (standard error, or its copy when the
 * libraries' output is redirected); use_syslog: also to /dev/log. */
void dd_report_open(FILE *out, int use_syslog);
/* "ddnsupdate: TEXT" with priority LOG_*. */
void dd_report(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
void dd_report_close(void);

#endif
