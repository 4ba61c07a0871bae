// Process lookup in /proc.
#include "runtime/proc.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

std::string own_name() {
  std::ifstream f("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto open = text.find('('), close = text.rfind(')');
  return text.substr(open + 1, close - open - 1);
}

TEST(FindProcByName, KnownPidStalePidAndScan) {
  std::string me = own_name();
  ASSERT_FALSE(me.empty());
  int pid = ::getpid();
  EXPECT_EQ(find_proc_by_name(me.c_str(), pid), pid);

  // A pid that names another program now: the scan finds a process of the
  // name (this one, or another copy of the same program).
  int stale = ::getppid();
  int found = find_proc_by_name(me.c_str(), stale);
  EXPECT_GT(found, 0);
  EXPECT_NE(found, stale);
  EXPECT_GT(find_proc_by_name(me.c_str(), 0), 0);

  EXPECT_EQ(find_proc_by_name("no-such-program-xyz", pid), -1);
  EXPECT_EQ(find_proc_by_name(me.substr(0, me.size() - 1).c_str(), pid), -1) << "whole name only";
}

}  // namespace
