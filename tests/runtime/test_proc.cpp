// Process lookup in /proc.
#include "runtime/proc.h"

#include <fstream>
#include <memory>
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

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <vector>

namespace {

// A child process under the given command name, as another program on the
// board would show it; it lives until the object ends.
class NamedChild {
 public:
  explicit NamedChild(const std::string& name) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);  // gone with a killed test
      ::prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
      char c = 1;
      if (::write(ready[1], &c, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char c;
    if (pid_ > 0 && ::read(ready[0], &c, 1) != 1) pid_ = -1;
    ::close(ready[0]);
  }
  ~NamedChild() { end(); }
  // Ends it; the zombie stays until reaped.
  void kill_only() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    siginfo_t info;
    ::waitid(P_PID, pid_t(pid_), &info, WEXITED | WNOWAIT);
  }
  void end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
};

// Command names a board's processes may carry: the name is everything from
// the first "(" to the LAST ")" of the stat text, so brackets and blanks
// inside it neither end it early nor let a longer name pass for a shorter.
TEST(FindProcByName, NamesWithBracketsAndBlanksAreWholeNames) {
  const char* const base = "gwosv";
  const std::vector<std::string> names = {"gwosv) x", "gwosv)",  "(gwosv)", "gwosv (",
                                          "x gwosv",  "xgwosv",  "gwosv ",  ") gwosv ("};
  std::vector<std::unique_ptr<NamedChild>> children;
  for (const auto& n : names) {
    children.emplace_back(new NamedChild(n));
    ASSERT_GT(children.back()->pid(), 0);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int pid = children[i]->pid();
    EXPECT_EQ(find_proc_by_name(names[i].c_str(), pid), pid) << names[i];
    EXPECT_EQ(find_proc_by_name(names[i].c_str(), 0), pid) << names[i] << " by the scan";
    EXPECT_EQ(find_proc_by_name(base, pid), -1) << names[i] << " does not count as " << base;
  }
  EXPECT_EQ(find_proc_by_name(base, 0), -1);

  NamedChild exact(base);
  EXPECT_EQ(find_proc_by_name(base, children[0]->pid()), exact.pid()) << "a pid of another name: the scan";
  EXPECT_EQ(find_proc_by_name(base, -5), exact.pid());
}

// The kernel keeps 15 characters of a command name: a longer name is found
// by those 15 only.
TEST(FindProcByName, LongNamesAreKnownByTheirFirstFifteenCharacters) {
  NamedChild child("gwosv-long-name-cut");
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name("gwosv-long-name", child.pid()), child.pid());
  EXPECT_EQ(find_proc_by_name("gwosv-long-name-cut", child.pid()), -1);
  EXPECT_EQ(find_proc_by_name("gwosv-long-nam", child.pid()), -1);
}

// A process that has ended but is not yet reaped does not run: monitoring
// must report its program as not running. Once reaped, its pid is stale.
TEST(FindProcByName, EndedProcessesAreNotFound) {
  NamedChild child("gwosv-zombie");
  ASSERT_GT(child.pid(), 0);
  const int pid = child.pid();
  ASSERT_EQ(find_proc_by_name("gwosv-zombie", pid), pid);
  child.kill_only();
  EXPECT_EQ(find_proc_by_name("gwosv-zombie", pid), -1) << "a zombie";
  EXPECT_EQ(find_proc_by_name("gwosv-zombie", 0), -1) << "a zombie, by the scan";
  child.end();
  EXPECT_EQ(find_proc_by_name("gwosv-zombie", pid), -1) << "reaped";
}

}  // namespace
