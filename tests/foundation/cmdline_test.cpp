// SPDX-License-Identifier: MIT
// The namreg command line, run as a process in the test world: refusals with
// their syslog line, priority and ident, the usage and version texts byte for
// byte, and the exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testworld.h"

namespace {

const char kUsage[] =
    "\n"
    "DDNS register/request key client for HLDM DDNS\n"
    "Usage:\n"
    "    namreg [-h] [-V] [-c] [-s server name] [-f] [-r] [-k key] [-a upnpnatstatus] hostname "
    "email\n"
    "Options:\n"
    "    -s    Server name, without this option, system will use default value\n"
    "          (" NAMREG_DEFAULT_SERVER_TEXT
    " for HLDM now). \n"
    "    -f    Forget key, ask the server to send a email with key.\n"
    "    -r    Register. -k must be set. \n"
    "    -k    The key. \n"
    "    -V    Get program version.\n"
    "    -h    This help. \n"
    "    -c    Check the hostname. \n"
    "    -a    To enable advanced DDNS \n"
    "\n";

nrtest::ProcessResult RunNamreg(const std::vector<std::string> &args) {
  std::vector<std::string> argv = {nrtest::BuiltProgram("app/namreg")};
  argv.insert(argv.end(), args.begin(), args.end());
  nrtest::ProcessOptions options;
  options.timeout_ms = 20000;
  return nrtest::RunProcess(argv, options);
}

TEST(NamregCommandLine, HelpAndUnknownOptionsPrintUsage) {
  for (const char *option : {"-h", "-?", "-x", "-Z"}) {
    SCOPED_TRACE(option);
    nrtest::ProcessResult r = RunNamreg({option});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST(NamregCommandLine, HelpActsAtOnceInTheParsingLoop) {
  // -h before the combination checks: no refusal is logged, and options after
  // it are never looked at.
  NAMREG_REQUIRE_SANDBOX();
  nrtest::SyslogSink sink;
  ASSERT_TRUE(sink.ok());
  nrtest::ProcessResult r = RunNamreg({"-h", "-V"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_TRUE(sink.Drain(100).empty());
}

TEST(NamregCommandLine, VersionLines) {
  nrtest::ProcessResult r = RunNamreg({"-V", "-h"});
  EXPECT_EQ(r.exit_status, 0);
  const std::string expected_start =
      "namreg version: 1.0.0.6\n"
      "DDNSClient module version: 2.13.0.0\n"
      "HTTPClient module version: 1.7.0.0\n";
  ASSERT_GE(r.out.size(), expected_start.size());
  EXPECT_EQ(r.out.substr(0, expected_start.size()), expected_start);
  std::string notice = r.out.substr(expected_start.size());
  EXPECT_FALSE(notice.empty());
  EXPECT_EQ(notice.find('\n'), notice.size() - 1) << "exactly one more line";
}

struct Refusal {
  std::vector<std::string> args;
  const char *ident;
  const char *line;
};

TEST(NamregCommandLine, RefusalsInTheirOrder) {
  NAMREG_REQUIRE_SANDBOX();
  const Refusal cases[] = {
      {{"host", "mail"}, "[NAMREG]", "You must specify register [-r] or request key [-f]"},
      {{"-a", "1", "host", "mail"},
       "[quickbridge]",
       "You must specify register [-r] or request key [-f]"},
      {{"-k", "key", "-s", "srv", "host", "mail"},
       "[NAMREG]",
       "You must specify register [-r] or request key [-f]"},
      {{"-r", "host", "mail"}, "[NAMREG]", "Register [-r] must set key with [-k]"},
      // -r without -k is refused before the arguments are counted.
      {{"-r", "host"}, "[NAMREG]", "Register [-r] must set key with [-k]"},
      {{"-r", "-a", "1"}, "[quickbridge]", "Register [-r] must set key with [-k]"},
      {{"-c", "-a", "1", "host", "mail"}, "[quickbridge]", "quickbridge -a must set with [-r]"},
      {{"-f", "-a", "0", "host", "mail"}, "[quickbridge]", "quickbridge -a must set with [-r]"},
      {{"-f", "-c", "-a", "1"}, "[quickbridge]", "quickbridge -a must set with [-r]"},
      {{"-r", "-k", "key", "host"}, "[NAMREG]", "Wrong number of arguments"},
      {{"-c", "host", "mail", "extra"}, "[NAMREG]", "Wrong number of arguments"},
      {{"-f"}, "[NAMREG]", "Wrong number of arguments"},
      {{"-r", "-k", "key", "-a", "1", "-c", "host"}, "[quickbridge]", "Wrong number of arguments"},
  };
  for (const Refusal &c : cases) {
    std::string joined;
    for (const std::string &a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    nrtest::SyslogSink sink;
    ASSERT_TRUE(sink.ok());
    nrtest::ProcessResult r = RunNamreg(c.args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, kUsage);
    std::vector<nrtest::SyslogRecord> records = sink.Drain(100);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].facility, 1);  // LOG_USER
    EXPECT_EQ(records[0].severity, 1);  // LOG_ALERT
    EXPECT_EQ(records[0].ident, c.ident);
    EXPECT_EQ(records[0].message, c.line);
  }
}

TEST(NamregCommandLine, AcceptedCombinationsPassTheChecks) {
  // These pass every check; what happens next is the operation's business,
  // but none of the refusal lines may appear and the usage is not printed.
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("");  // no name server: the operation fails fast
  const std::vector<std::vector<std::string>> cases = {
      {"-r", "-k", "key", "-a", "1", "-c", "host", "mail"},
      {"-r", "-f", "-k", "key", "host", "mail"},
      {"-f", "-c", "host", "mail"},
  };
  for (const auto &args : cases) {
    std::string joined;
    for (const std::string &a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    nrtest::SyslogSink sink;
    nrtest::ProcessResult r = RunNamreg(args);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out.find("Usage:"), std::string::npos);
    for (const nrtest::SyslogRecord &rec : sink.Drain(100)) {
      EXPECT_EQ(rec.message.find("must"), std::string::npos) << rec.message;
      EXPECT_NE(rec.message, "Wrong number of arguments");
    }
  }
}

}  // namespace
