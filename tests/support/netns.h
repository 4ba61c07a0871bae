#pragma once
// Runs a test body in a forked child inside a fresh user and network
// namespace, where it may add addresses and interfaces without touching the
// machine's own, or a fresh user and mount namespace, where it may mount
// small, full or read-only file systems over directories of its own. The
// child reports back as text through a pipe.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// Thrown inside the body when the namespace cannot be set up as the test
// needs (no `ip` program, no veth support): the test skips with the reason.
struct NetnsUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct NetnsResult {
  bool ran = false;     // false: skip, `reason` says why
  std::string reason;
  std::string output;   // what the body returned
};

// Forks; the child enters new user and network namespaces (mapped to root
// inside, so it holds the network capabilities there), runs `body` and
// exits. Only loopback exists in the new namespace, and it is down.
NetnsResult run_in_netns(const std::function<std::string()>& body);

// Forks; the child enters new user and mount namespaces (root inside, its
// mounts private to it), runs `body` and exits. The file systems are the
// machine's until the body mounts others over them.
NetnsResult run_in_mountns(const std::function<std::string()>& body);

// Inside a mount-namespace body: a tmpfs of `bytes` (rounded up to whole
// pages) over the directory `dir`; throws NetnsUnavailable when refused.
void mount_tmpfs(const std::string& dir, std::size_t bytes);
// Inside a mount-namespace body: makes the file system mounted at `dir`
// read-only or writable again.
void remount(const std::string& dir, bool read_only);
// Fills the file system of the directory `dir` to the last byte with one
// file in it, whose path it returns: remove it and the room is back.
std::string fill(const std::string& dir);
// Inside a body: gives up (false) or takes up again (true) the capabilities
// that pass over file modes, so that a directory's mode refuses this
// process (EACCES) as it refuses an ordinary user. Throws NetnsUnavailable
// when the kernel refuses.
void file_capabilities(bool on);

// A way the disk of a directory refuses writes, switched on and off.
struct DiskFault {
  const char* name;
  std::function<void()> on, off;
};
// Inside a mount-namespace body: the refusals of the tmpfs mounted at `dir`
// (mount_tmpfs): "read-only", and "no access" (the mode of `dir` and of the
// directories `closed` shuts this process out).
std::vector<DiskFault> disk_refusals(const std::string& dir, const std::vector<std::string>& closed = {});

// Inside the body: runs "ip <args>" quietly; throws NetnsUnavailable with
// the command when it fails.
void ip(const std::string& args);

// Inside the body: waits (at most 2 s) until the interface reports
// IFF_RUNNING, which the kernel sets a moment after the carrier comes up;
// throws NetnsUnavailable when it does not.
void wait_running(const std::string& name);

// Inside the body: another host. Makes the veth pair `here`/`there`, forks
// a peer that enters a network namespace of its own, moves `there` into it,
// where the peer gives it `addr` ("a.b.c.d/len"), brings it up and runs
// `peer` until it returns or is killed. `here` is left down, without an
// address. Returns the peer's process id (end it with end_peer); throws
// NetnsUnavailable when any of it cannot be done.
pid_t start_peer(const std::string& here, const std::string& there, const std::string& addr,
                 const std::function<void()>& peer);
void end_peer(pid_t pid);

}  // namespace testsupport

// In a test: runs `body` in a fresh namespace and skips the test with the
// reason when the machine allows none.
#define RUN_IN_NETNS(result, body)               \
  auto result = testsupport::run_in_netns(body); \
  if (!result.ran) GTEST_SKIP() << result.reason;
// The body may be a lambda written in place, commas and all.
#define RUN_IN_MOUNTNS(result, ...)                        \
  auto result = testsupport::run_in_mountns(__VA_ARGS__); \
  if (!result.ran) GTEST_SKIP() << result.reason;
