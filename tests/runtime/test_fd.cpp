// Owned descriptors and captured errors.
#include "runtime/errno_text.h"
#include "runtime/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }
bool cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(Fd, EmptyDescriptors) {
  Fd empty;
  Fd copy(empty);
  EXPECT_FALSE(copy.is_valid());
  EXPECT_FALSE(copy);
  EXPECT_EQ(copy.dup(), -1);
  errno = 0;
  EXPECT_EQ(empty.close(), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(empty.NonBlock());
}

TEST(Fd, CopiesAreCloseOnExecDuplicatesSharingStatusFlags) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  int raw = p[0];
  Fd a(raw);
  EXPECT_TRUE(cloexec(raw)) << "taken over with close-on-exec";
  {
    Fd b(a);
    ASSERT_TRUE(b.is_valid());
    EXPECT_NE(b.lowlevel_fd(), raw);
    EXPECT_TRUE(cloexec(b.lowlevel_fd()));
    EXPECT_TRUE(b.NonBlock());
    EXPECT_TRUE(::fcntl(raw, F_GETFL) & O_NONBLOCK) << "one open file";
    int extra = b.dup();
    EXPECT_TRUE(cloexec(extra));
    ::close(extra);
  }
  EXPECT_TRUE(is_open(raw)) << "each copy closes only itself";

  Fd& same = a;
  a = same;
  EXPECT_TRUE(is_open(raw)) << "self-assignment keeps the descriptor";
  EXPECT_EQ(a.lowlevel_fd(), raw);
  EXPECT_TRUE(BlockMode(raw));
  EXPECT_FALSE(::fcntl(raw, F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(a.close(), 0);
  EXPECT_FALSE(is_open(raw));
}

TEST(Fd, OpenClosesWhatWasHeldEvenWhenItFails) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  Fd f(p[0]);
  EXPECT_FALSE(f.open("/nonexistent/file", O_RDONLY));
  EXPECT_FALSE(f.is_valid());
  EXPECT_FALSE(is_open(p[0]));
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  EXPECT_TRUE(cloexec(f.lowlevel_fd()));
}


TEST(Errno, CapturesAtConstructionAndStreamsTheText) {
  errno = ENOENT;
  Errno e;
  errno = 0;
  EXPECT_EQ(e.value(), ENOENT);
  std::ostringstream os;
  os << "open fail: " << e;
  EXPECT_EQ(os.str(), "open fail: No such file or directory");
}

}  // namespace

// The listing is exactly the open descriptors from 3 up, without the
// standard three or its own; marking them all close-on-exec, and failing
// (not crashing) when no descriptor is left to list with. In a child: the
// marking would reach the test program's own descriptors.
TEST(Fd, DescriptorsAboveStandardAreListedExactlyAndMarkedCloseOnExec) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int plain = ::open("/dev/null", O_RDONLY);  // 3 is open either way
    if (plain < 3 || cloexec(plain)) ::_exit(2);
    std::set<int> expected;
    for (int fd = 3; fd < 4096; ++fd)
      if (is_open(fd)) expected.insert(fd);
    std::vector<int> listed;
    if (!OpenDescriptorsAboveStandard(listed)) ::_exit(3);
    if (std::set<int>(listed.begin(), listed.end()) != expected || listed.size() != expected.size()) ::_exit(4);
    if (!SetCloexecOnInherited() || !cloexec(plain)) ::_exit(5);
    rlimit lim;
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = *expected.rbegin() + 1;
    for (int fd = 3; fd < int(lim.rlim_cur); ++fd)
      if (!is_open(fd)) ::dup2(plain, fd);
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) ::_exit(6);
    if (OpenDescriptorsAboveStandard(listed) || SetCloexecOnInherited()) ::_exit(7);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Every slot holds several descriptors (each Event its own duplicate): the
// server takes all the hard limit allows.
TEST(Fd, DescriptorLimitIsRaisedToTheHardLimit) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    rlimit lim;
    ::getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_max > 512) lim.rlim_max = 512;
    lim.rlim_cur = 32;
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) ::_exit(2);
    const long raised = RaiseDescriptorLimit();
    ::getrlimit(RLIMIT_NOFILE, &lim);
    ::_exit(raised == long(lim.rlim_max) && lim.rlim_cur == lim.rlim_max ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
