// The pid file.
#include "runtime/linux_run.h"

#include "platform/paths.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/netns.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The descriptor flags of this process's open descriptor of the path; -1 when none.
int descriptor_flags_of(const std::string& path) {
  char real[PATH_MAX];
  if (!::realpath(path.c_str(), real)) return -1;
  int flags = -1;
  DIR* d = ::opendir("/proc/self/fd");
  while (dirent* e = d ? ::readdir(d) : nullptr) {
    char target[PATH_MAX] = {};
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target) == real)
      flags = ::fcntl(std::atoi(e->d_name), F_GETFD);
  }
  if (d) ::closedir(d);
  return flags;
}

TEST(LinuxRun, PidFileHoldsOnlyTheDigitsAndGoesAway) {
  std::string path = platform::board_path("/var/run/run-test.pid");
  {
    std::ofstream(path) << "stale contents that are longer than a pid\n";
    Linux::Run run("run-test");
    EXPECT_EQ(run.path(), path);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), std::to_string(::getpid()));
    EXPECT_EQ(descriptor_flags_of(path), FD_CLOEXEC) << "kept open, closed on exec so no child inherits it";
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "removed when the run ends";

  Linux::Run nowhere("no/such/dir/x");
  EXPECT_FALSE(nowhere.is_open()) << "silently skipped";

  // A full disk: the digits cannot be written, and no empty pid file is left
  // for a script to read.
  const std::string full = platform::board_path("/var/run/full-test.pid");
  ::unlink(full.c_str());
  ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
  {
    Linux::Run run("full-test");
    EXPECT_FALSE(run.is_open());
    EXPECT_NE(::access(full.c_str(), F_OK), 0) << "removed at once";
  }
  ::unlink(full.c_str());
}

// A second run of the same name while the first lives (a second server
// started by mistake) neither takes nor removes the first one's file.
TEST(LinuxRun, ASecondRunLeavesTheFirstOnesFile) {
  const std::string path = platform::board_path("/var/run/twice-test.pid");
  {
    Linux::Run first("twice-test");
    ASSERT_TRUE(first.is_open());
    {
      std::ofstream(path) << "4242";  // as if another process had written it
      Linux::Run second("twice-test");
      EXPECT_FALSE(second.is_open());
    }
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "4242") << "neither rewritten nor removed by the second";
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "removed by the first at its end";
  // Its lock went with it: the next run takes the file.
  Linux::Run next("twice-test");
  EXPECT_TRUE(next.is_open());
}

// What a board finds after a crash or a careless hand: the file of a server
// killed without its clean-up (its lock went with it) is taken over; a
// directory in the file's place is left alone and no file is claimed.
TEST(LinuxRun, StaleFileOfAKilledProcessIsTakenAndADirectoryIsLeft) {
  const std::string path = platform::board_path("/var/run/stale-test.pid");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    Linux::Run* run = new Linux::Run("stale-test");  // never ended: killed
    char c = run->is_open() ? 1 : 0;
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(opened, 1);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  std::stringstream left;
  left << std::ifstream(path).rdbuf();
  ASSERT_EQ(left.str(), std::to_string(pid)) << "left behind by the killed one";
  {
    Linux::Run run("stale-test");
    EXPECT_TRUE(run.is_open());
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), std::to_string(::getpid()));
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);

  const std::string dir = platform::board_path("/var/run/dir-test.pid");
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  {
    Linux::Run run("dir-test");
    EXPECT_FALSE(run.is_open());
  }
  struct stat st;
  EXPECT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << "not removed by the run's end";
  ::rmdir(dir.c_str());
}

// "/var/run/" on a small disk that refuses the file, for real (a tmpfs in a
// mount namespace of the test's own): the run goes on without a pid file,
// leaves no empty or partial one for a script to read and no descriptor
// open; a full disk still takes the file of a killed run over, whose own
// page the truncation gives back.
TEST(LinuxRun, PidFileOnADiskThatRefusesIt) {
  const std::string dir = platform::board_path("/var/run/small");
  ASSERT_TRUE(::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST);
  RUN_IN_MOUNTNS(result, [&]() {
    testsupport::mount_tmpfs(dir, 16 * 1024);
    const std::string path = dir + "/t.pid";
    std::string filler;
    struct Row {
      const char* name;
      bool stale;  // a killed run's file is there
      std::function<void()> on, off;
      bool written;
    };
    std::vector<Row> rows = {
        {"full", false, [&] { filler = testsupport::fill(dir); }, [&] { ::unlink(filler.c_str()); }, false},
        {"full, a stale file", true, [&] { filler = testsupport::fill(dir); }, [&] { ::unlink(filler.c_str()); },
         true},
    };
    for (const auto& f : testsupport::disk_refusals(dir)) rows.push_back({f.name, false, f.on, f.off, false});
    std::string failed;
    const int descriptors = testsupport::open_descriptors();
    for (const Row& r : rows) {
      if (r.stale) std::ofstream(path) << "1234567";
      r.on();
      {
        Linux::Run run("small/t");
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        const std::string want = r.written ? std::to_string(::getpid()) : "";
        if (run.is_open() != r.written || text.str() != want || (!r.written && ::access(path.c_str(), F_OK) == 0))
          failed += std::string(r.name) + ": \"" + text.str() + "\"\n";
      }
      r.off();
      ::unlink(path.c_str());
    }
    if (testsupport::open_descriptors() != descriptors) failed += "descriptors left open\n";
    return failed;
  });
  EXPECT_EQ(result.output, "");
}

}  // namespace
