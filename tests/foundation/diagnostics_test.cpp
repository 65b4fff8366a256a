// SPDX-License-Identifier: MIT
// Diagnostics: level masks, hook versus file, Debug_Init once, unopenable file.
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "namreg/common.h"
#include "testworld.h"

namespace {

std::string g_hooked;
int CapturingHook(const char *format, va_list args) {
  char buf[256];
  vsnprintf(buf, sizeof buf, format, args);
  g_hooked += buf;
  return 7;
}

std::string ReadAll(FILE *f) {
  fflush(f);
  rewind(f);
  std::string s;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

class DebugPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hooked.clear();
    file_ = tmpfile();
    ASSERT_NE(file_, nullptr);
    saved_file_ = _db_fptr;
    saved_hook_ = g_pfnTelnetDbgPrint;
    saved_level_ = g_dwDbgLevel;
    _db_fptr = file_;
    g_pfnTelnetDbgPrint = CapturingHook;
  }
  void TearDown() override {
    _db_fptr = saved_file_;
    g_pfnTelnetDbgPrint = saved_hook_;
    g_dwDbgLevel = saved_level_;
    fclose(file_);
  }
  FILE *file_ = nullptr;
  FILE *saved_file_ = nullptr;
  DebugPrintHook saved_hook_ = nullptr;
  uint32_t saved_level_ = 0;
};

TEST(Diagnostics, InitialGlobals) {
  EXPECT_EQ(g_dwDbgLevel, 0u);
  EXPECT_EQ(g_pfnTelnetDbgPrint, &Debug_NullPrint);
  EXPECT_EQ(_db_fptr, nullptr);
  EXPECT_EQ(Debug_TelnetPrint("%d", 5), 0);  // the null hook swallows it
}

TEST_F(DebugPrintTest, MaskSelectsHookAndFile) {
  struct Case {
    uint32_t level, mask;
    const char *hook, *file;
  } const cases[] = {
      {0, 0xFFFFFFFFu, "", ""},               // level 0: nothing at all
      {0x1, 0x90000001u, "x=1", "x=1"},       // both sinks
      {0x1, 0x10000001u, "", "x=1"},          // file only
      {0x80000000u, 0x80000000u, "x=1", ""},  // hook only
      {0x2, 0x90000001u, "", ""},             // no common bit
      {0x10000000u, 0x10000000u, "", "x=1"},  // the sink bit also selects
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "level " << c.level << " mask " << c.mask);
    g_hooked.clear();
    ASSERT_EQ(ftruncate(fileno(file_), 0), 0);
    rewind(file_);
    g_dwDbgLevel = c.level;
    Debug_Print(c.mask, "x=%d", 1);
    EXPECT_EQ(g_hooked, c.hook);
    EXPECT_EQ(ReadAll(file_), c.file);
  }
}

TEST_F(DebugPrintTest, TelnetPrintCallsHook) {
  EXPECT_EQ(Debug_TelnetPrint("%s-%d", "a", 3), 7);
  EXPECT_EQ(g_hooked, "a-3");
}

TEST(Diagnostics, FileBitWithoutStreamWritesNothing) {
  FILE *saved = _db_fptr;
  _db_fptr = nullptr;
  g_dwDbgLevel = 0x10000000u;
  Debug_Print(0x10000000u, "must not crash %d", 1);  // no stream: dropped
  g_dwDbgLevel = 0;
  _db_fptr = saved;
  SUCCEED();
}

TEST(Diagnostics, InitTwiceKeepsFirstLevelAndFile) {
  // Each test case runs in its own process, so Debug_Init is fresh here.
  std::string dir = nrtest::ScratchDir();
  std::string first = dir + "/debug-first.log", second = dir + "/debug-second.log";
  testing::internal::CaptureStdout();
  Debug_Init(0x10000003u, first.c_str());
  Debug_Init(0x4u, second.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Debug Init:level = 268435459\r\n" + first);
  EXPECT_EQ(g_dwDbgLevel, 0x10000003u);
  ASSERT_NE(_db_fptr, nullptr);
  EXPECT_NE(_db_fptr, stdout);
  Debug_Print(0x10000001u, "line %d\n", 9);
  fflush(_db_fptr);
  FILE *f = fopen(first.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "line 9\n");
  fclose(f);
  EXPECT_NE(access(second.c_str(), F_OK), 0);  // never opened
}

TEST(Diagnostics, UnopenableFileFallsBackToStdout) {
  testing::internal::CaptureStdout();
  Debug_Init(0x10000000u, "/nonexistent-dir/debug.log");
  Debug_Print(0x10000000u, "to stdout %d", 2);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(_db_fptr, stdout);
  EXPECT_EQ(out, "Debug Init:level = 268435456\r\n/nonexistent-dir/debug.logto stdout 2");
}

TEST(Diagnostics, InitWithoutFileUsesStdoutAndSetLevelAnnounces) {
  testing::internal::CaptureStdout();
  Debug_Init(1, nullptr);
  Debug_SetLevel(5);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(_db_fptr, stdout);
  EXPECT_EQ(g_dwDbgLevel, 5u);
  EXPECT_EQ(out, "Debug Init:level = 1\r\nChange debug level to 5\r\n");
}

}  // namespace
