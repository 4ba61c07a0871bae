#include "control/acceptor_net_check_connection.h"
#include "platform/sim/watchdog.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {
// While set, socket() fails with this error number. Exhausting the
// descriptors instead would also starve UBSan, whose vptr checks probe
// memory through a pipe.
int fail_socket_errno = 0;
// While set, listen() fails with this error number.
int fail_listen_errno = 0;
}  // namespace

extern "C" int listen(int fd, int backlog) {
  if (fail_listen_errno) {
    errno = fail_listen_errno;
    return -1;
  }
  using Fn = int (*)(int, int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "listen"));
  return real(fd, backlog);
}

extern "C" int socket(int domain, int type, int protocol) {
  if (fail_socket_errno) {
    errno = fail_socket_errno;
    return -1;
  }
  using Fn = int (*)(int, int, int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "socket"));
  return real(domain, type, protocol);
}

using testsupport::LoopbackPeer;
using testsupport::StreamCapture;
using testsupport::tpkt_frame;

namespace {

using Owner = controltest::NotifyRecorder;

// A peer that has vanished: its socket looks alive, but probes go unanswered.
class SilentPeerAcceptor : public Control::AcceptorNetCheckConnection {
 protected:
  bool QueryTcpState(TcpState& tcp) const override {
    tcp.state = 1;     // established
    tcp.ca_state = 4;  // loss
    return true;
  }
};

// The kernel's record at each check, in turn (the last one stays).
class ScriptedPeerAcceptor : public Control::AcceptorNetCheckConnection {
 public:
  std::vector<TcpState> script;

 protected:
  bool QueryTcpState(TcpState& tcp) const override {
    tcp = script[std::min(queries++, script.size() - 1)];
    return true;
  }

 private:
  mutable std::size_t queries = 0;
};

int tcp_opt(int fd, int level, int name) {
  int v = -1;
  socklen_t len = sizeof v;
  ::getsockopt(fd, level, name, &v, &len);
  return v;
}

std::vector<int> keepalive(int fd) {
  return {tcp_opt(fd, IPPROTO_TCP, TCP_KEEPIDLE), tcp_opt(fd, IPPROTO_TCP, TCP_KEEPINTVL),
          tcp_opt(fd, IPPROTO_TCP, TCP_KEEPCNT)};
}

std::string peer_name(const LoopbackPeer& p) { return "127.0.0.1:" + std::to_string(p.local_port()); }

class AcceptorTest : public testsupport::VirtualClockTest {
 protected:
  void start(Control::AcceptorNetCheckConnection& a) {
    a.Bind(&owner);
    a.service_name("server");
    a.Activate();
    port = a.GetBoundPort();
    ASSERT_NE(port, 0);
  }
  StreamCapture cap;
  Owner owner;
  std::uint16_t port = 0;
};

TEST_F(AcceptorTest, ServesOneControllerAndRefusesTheOthers) {
  Control::AcceptorNetCheckConnection acc;
  start(acc);
  LoopbackPeer c1, c2, c3;
  ASSERT_TRUE(c1.connect(port));
  run_for(10);
  EXPECT_TRUE(StreamCapture::has(cap.out(), "new connection from " + peer_name(c1))) << cap.all();
  EXPECT_EQ(owner.connects, 1);
  EXPECT_EQ(acc.GetAddr(), peer_name(c1));
  const int fd = acc.GetConnectionFd();
  EXPECT_EQ(tcp_opt(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(tcp_opt(fd, IPPROTO_TCP, TCP_NODELAY), 1);

  // Two knocks before the next check: both refused, one fast probe.
  ASSERT_TRUE(c2.connect(port));
  ASSERT_TRUE(c3.connect(port));
  run_for(10);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "refuse connection from " + peer_name(c2)));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "refuse connection from " + peer_name(c3)));
  EXPECT_TRUE(c2.peer_closed() && c3.peer_closed());
  EXPECT_EQ(StreamCapture::count(cap.err(), "CheckConnectionState CheckConnection"), 1);
  EXPECT_EQ(keepalive(fd), (std::vector<int>{1, 1, 3}));

  // The live controller answers the probe: back to normal keepalive.
  run_for(1000);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "CheckConnectionState Idle"));
  EXPECT_EQ(acc.GetCheckState(), Control::AcceptorNetCheckConnection::CheckState::Idle);
  EXPECT_EQ(keepalive(fd), (std::vector<int>{7200, 75, 9}));
  c1.send(tpkt_frame("still here"));
  run_for(10);
  EXPECT_EQ(owner.messages, std::vector<std::string>{"still here"});
  EXPECT_EQ(owner.disconnects, 0);
}

TEST_F(AcceptorTest, PeerThatLeavesTheProbeUnansweredIsDroppedAtTheSecondCheck) {
  SilentPeerAcceptor acc;
  const std::int64_t t0 = now_ms();
  start(acc);
  LoopbackPeer c1, c2;
  ASSERT_TRUE(c1.connect(port));
  run_for(10);
  ASSERT_TRUE(c2.connect(port));
  run_for(2500);
  const auto closed = StreamCapture::matching(cap.err(), "connection from " + peer_name(c1) + " closed: ");
  ASSERT_EQ(closed.size(), 1u) << cap.all();
  EXPECT_EQ(closed[0].text, "connection from " + peer_name(c1) + " closed: tcp socket change ca_state.");
  EXPECT_EQ(closed[0].ms - t0, 2000);
  EXPECT_EQ(owner.disconnects, 1);
  EXPECT_TRUE(c1.peer_closed());
  EXPECT_EQ(acc.GetConnectionFd(), -1);

  LoopbackPeer c3;  // the next controller is served without a new activation
  ASSERT_TRUE(c3.connect(port));
  run_for(10);
  EXPECT_EQ(owner.connects, 2);
}

// A controller gone without a word (host down, cable out) leaves nothing in
// flight: its congestion state stays open while the keepalive probes go
// unanswered. Only an acknowledgement after the knock answers the probe;
// until one comes the fast keepalive stays, and the kernel ends a peer that
// lets three probes pass, which the next check finds.
TEST_F(AcceptorTest, ProbeIsAnsweredOnlyByAnAcknowledgementAfterTheKnock) {
  using Tcp = Control::AcceptorNetCheckConnection::TcpState;
  const Tcp alive{1, 0, 0, 0};            // acknowledged just now
  const Tcp probing{1, 0, 1, 60000};      // a probe out, unanswered
  const Tcp spoke_before{1, 0, 0, 1500};  // no probe out yet, no word since the knock
  const Tcp timed_out{7, 0, 3, 63000};    // the kernel gave up: closed
  const struct {
    const char* name;
    std::vector<Tcp> checks;  // from the first check after the knock on
    std::vector<std::string> seen;
  } cases[] = {
      {"live peer", {alive}, {"idle", "idle", "idle", "idle"}},
      {"vanished peer", {probing, probing, probing, timed_out}, {"probing", "probing", "probing", "dropped"}},
      {"spoke, then answered", {spoke_before, alive}, {"probing", "idle", "idle", "idle"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cap.clear();
    Owner o;
    ScriptedPeerAcceptor acc;
    acc.script = c.checks;  // the first check comes after the knock
    acc.Bind(&o);
    acc.service_name("server");
    acc.Activate();
    LoopbackPeer c1, c2;
    ASSERT_TRUE(c1.connect(acc.GetBoundPort()));
    run_for(10);
    ASSERT_EQ(o.connects, 1);
    ASSERT_TRUE(c2.connect(acc.GetBoundPort()));
    std::vector<std::string> seen;
    for (int check = 0; check < 4; ++check) {
      run_for(1000);
      const bool probing_state = acc.GetCheckState() == Control::AcceptorNetCheckConnection::CheckState::CheckConnection;
      if (o.disconnects > 0)
        seen.push_back("dropped");
      else if (probing_state && keepalive(acc.GetConnectionFd()) == std::vector<int>{1, 1, 3})
        seen.push_back("probing");
      else if (!probing_state && keepalive(acc.GetConnectionFd()) == std::vector<int>{7200, 75, 9})
        seen.push_back("idle");
      else
        seen.push_back("other");
    }
    EXPECT_EQ(seen, c.seen) << cap.all();
  }
}

// A probe under way when its controller leaves ends with that controller:
// the next one is neither dropped for the old knock nor left unprobed when
// a client knocks against it.
TEST_F(AcceptorTest, ProbeOfAControllerThatLeftDoesNotFollowTheNextOne) {
  SilentPeerAcceptor acc;
  start(acc);
  LoopbackPeer c1, c2;
  ASSERT_TRUE(c1.connect(port));
  run_for(10);
  ASSERT_TRUE(c2.connect(port));
  run_for(1000);  // one check: the countdown is down to 1
  ASSERT_EQ(acc.GetCheckState(), Control::AcceptorNetCheckConnection::CheckState::CheckConnection);
  c1.close();
  run_for(10);
  ASSERT_EQ(owner.disconnects, 1);
  LoopbackPeer c3;
  ASSERT_TRUE(c3.connect(port));
  run_for(10);
  ASSERT_EQ(owner.connects, 2);
  EXPECT_EQ(acc.GetCheckState(), Control::AcceptorNetCheckConnection::CheckState::Idle);
  run_for(3000);
  EXPECT_EQ(owner.disconnects, 1) << cap.all();
  EXPECT_FALSE(c3.peer_closed());
  // A knock against it starts its own probe, which drops it two checks later.
  const int probes = StreamCapture::count(cap.err(), "CheckConnectionState CheckConnection");
  LoopbackPeer c4;
  ASSERT_TRUE(c4.connect(port));
  run_for(10);
  EXPECT_EQ(StreamCapture::count(cap.err(), "CheckConnectionState CheckConnection"), probes + 1);
  EXPECT_EQ(keepalive(acc.GetConnectionFd()), (std::vector<int>{1, 1, 3}));
  run_for(2000);
  EXPECT_EQ(owner.disconnects, 2);
  EXPECT_TRUE(c3.peer_closed());
}

TEST_F(AcceptorTest, CheckDropsAPeerWhoseConnectionWasReset) {
  Control::AcceptorNetCheckConnection acc;
  start(acc);
  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(port));
  run_for(10);
  const std::string name = peer_name(c1);
  c1.reset();
  acc.CheckConnection();  // before the loop reads the socket
  EXPECT_TRUE(StreamCapture::has(cap.err(), "connection from " + name + " closed: tcp socket change state."));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "connection from " + name + " closed: Connection reset by peer"));
  EXPECT_EQ(cap.err().back().text, "CheckConnectionState Idle");
  EXPECT_EQ(acc.GetState(), Control::Service::State::Deactivating);
  run_for(10);
  EXPECT_EQ(owner.disconnects, 1);
}

TEST_F(AcceptorTest, BusyPortIsRetriedEvery5000msUntilItFrees) {
  testsupport::LoopbackListener blocker;
  Control::AcceptorNetCheckConnection acc(blocker.port());
  acc.Bind(&owner);
  const std::int64_t t0 = now_ms();
  acc.Activate();
  run_for(10000);
  const auto lines = StreamCapture::matching(cap.err(), "can't bind to socket: ");
  ASSERT_EQ(lines.size(), 3u) << cap.all();
  EXPECT_EQ(lines[0].text, "can't bind to socket: \"Address already in use\"  waiting...");
  EXPECT_EQ(lines[1].ms - t0, 5000);
  EXPECT_EQ(lines[2].ms - t0, 10000);

  blocker.close();
  run_for(5000);
  EXPECT_EQ(StreamCapture::count(cap.err(), "can't bind to socket: "), 3);
  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(acc.GetPort()));
  run_for(10);
  EXPECT_EQ(owner.connects, 1);
}

TEST_F(AcceptorTest, SocketThatCannotBeCreatedIsRetriedNotReportedAsListening) {
  Control::AcceptorNetCheckConnection acc;
  acc.Bind(&owner);
  fail_socket_errno = EMFILE;
  acc.Activate();
  fail_socket_errno = 0;
  EXPECT_TRUE(StreamCapture::has(cap.err(), "can't create socket:Too many open files")) << cap.all();
  EXPECT_EQ(acc.GetState(), Control::Service::State::Connecting);
  EXPECT_EQ(acc.GetBoundPort(), 0);
  // The plain acceptor gives up instead: Idle, and no retry listens later.
  Control::AcceptorNet plain;
  fail_socket_errno = EMFILE;
  EXPECT_EQ(plain.Activate(), 0);
  fail_socket_errno = 0;
  EXPECT_EQ(plain.GetState(), Control::Service::State::Idle);

  run_for(5000);
  ASSERT_NE(acc.GetBoundPort(), 0);
  EXPECT_EQ(plain.GetBoundPort(), 0);
  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(acc.GetBoundPort()));
  run_for(10);
  EXPECT_EQ(owner.connects, 1);
}

TEST_F(AcceptorTest, ListenThatFailsIsRetriedOnTheBindSchedule) {
  Control::AcceptorNetCheckConnection acc;
  acc.Bind(&owner);
  const std::int64_t t0 = now_ms();
  fail_listen_errno = EADDRINUSE;
  acc.Activate();
  run_for(5000);
  fail_listen_errno = 0;
  const auto lines = StreamCapture::matching(cap.err(), "can't listen socket: ");
  ASSERT_EQ(lines.size(), 2u) << cap.all();
  EXPECT_EQ(lines[0].text, "can't listen socket: Address already in use");
  EXPECT_EQ(lines[1].ms - t0, 5000);
  EXPECT_EQ(acc.GetState(), Control::Service::State::Connecting) << "still on its way up";
  EXPECT_EQ(acc.GetBoundPort(), 0);

  run_for(5000);
  ASSERT_NE(acc.GetBoundPort(), 0);
  EXPECT_EQ(StreamCapture::count(cap.err(), "can't bind to socket: "), 0) << "a fresh socket each time";
  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(acc.GetBoundPort()));
  run_for(10);
  EXPECT_EQ(owner.connects, 1);
}

// The listening socket takes the last descriptors, so the accept event's
// copy of it fails: a socket listening unpolled would hold every controller in its
// backlog for good. In a child (its own descriptor limit).
TEST_F(AcceptorTest, AcceptEventThatCannotBeArmedIsRetriedOnTheBindSchedule) {
  const std::string failed = testsupport::in_child([&](std::vector<std::string>& failed) {
    {
      // Every type the activation and its retry use is checked once before
      // descriptors run short (see descriptor_exhaustion.h).
      testsupport::LoopbackListener blocker;
      Control::AcceptorNetCheckConnection warm(blocker.port());
      warm.Activate();
      warm.Deactivate();
    }
    Control::AcceptorNetCheckConnection acc;
    acc.Bind(&owner);
    testsupport::DescriptorFill fill;
    if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
    // Two descriptors: the socket and the copy the acceptor keeps of it
    // (the first is given back); then the accept event's own copy fails.
    fill.free_one();
    fill.free_one();
    acc.Activate();
    fill.release();
    if (!StreamCapture::has(cap.err(), "can't listen socket: Too many open files"))
      failed.push_back("the accept event that cannot be armed is not logged: " + cap.all());
    run_for(5000);
    LoopbackPeer c1;
    if (!c1.connect(acc.GetBoundPort())) return failed.push_back("no listener after the retry");
    run_for(10);
    if (owner.connects != 1) failed.push_back("the controller is not served after the retry: " + cap.all());
    acc.Deactivate();
  });
  EXPECT_EQ(failed, "");
}

// The socket takes the last descriptor, so the acceptor's copy of it fails:
// the log shows that failure, not what errno held before the socket call.
TEST_F(AcceptorTest, SocketThatCannotBeCopiedIsLoggedWithTheCopysError) {
  const std::string failed = testsupport::in_child([&](std::vector<std::string>& failed) {
    {
      testsupport::LoopbackListener blocker;
      Control::AcceptorNetCheckConnection warm(blocker.port());
      warm.Activate();
      warm.Deactivate();
    }
    Control::AcceptorNetCheckConnection acc;
    acc.Bind(&owner);
    testsupport::DescriptorFill fill;
    if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
    fill.free_one();
    errno = ENOENT;  // left by some earlier call
    acc.Activate();
    fill.release();
    if (!StreamCapture::has(cap.err(), "can't create socket:Too many open files"))
      failed.push_back("the failed copy is not logged with its error: " + cap.all());
    acc.Deactivate();
  });
  EXPECT_EQ(failed, "");
}

TEST_F(AcceptorTest, ConnectionWhoseStackCannotStartIsLoggedAndNeverAnnounced) {
  Control::AcceptorNetCheckConnection acc;
  start(acc);
  // A socket that did not survive the hand-over (no descriptor left for the
  // duplicate) reaches the stack as no socket at all.
  acc.Connected(Fd(), INet4::Addr("127.0.0.1:4000"));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "control connection 127.0.0.1:4000 not activated: fd not attached"))
      << cap.all();
  run_for(10);
  EXPECT_EQ(owner.connects, 0);
  EXPECT_EQ(owner.disconnects, 0) << "no disconnect of a peer the owner never heard of";
  EXPECT_EQ(acc.GetState(), Control::Service::State::Connecting);

  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(port));
  run_for(10);
  EXPECT_EQ(owner.connects, 1);
  c1.close();
  run_for(10);
  EXPECT_EQ(owner.disconnects, 1);
}

// Feeds a controller that has stopped reading until its link is dropped;
// notes how long the failing message took and how often the watchdog was
// pinged meanwhile.
struct Flooder {
  Control::Service* svc;
  std::int64_t took = -1;
  std::size_t pings = 0;
  void run() {
    auto& wd = platform::sim::watchdog();
    const std::string big(60000, 'x');
    for (int i = 0; i < 1000 && svc->IsConnected(); ++i) {
      const std::uint32_t t = static_cast<std::uint32_t>(Mux::milliseconds());
      const std::uint64_t p = wd.total;
      svc->Send(big.data(), static_cast<int>(big.size()));
      took = static_cast<std::uint32_t>(Mux::milliseconds()) - t;
      pings = static_cast<std::size_t>(wd.total - p);
    }
  }
};

TEST_F(AcceptorTest, BlockedWriteGivesUpAfter1000msAndTheLinkIsDropped) {
  Control::AcceptorNetCheckConnection acc;
  start(acc);
  LoopbackPeer c1;
  ASSERT_TRUE(c1.connect(port, 4096));
  run_for(10);
  ASSERT_EQ(owner.connects, 1);
  Flooder flood{&acc};
  Timer go;
  go.set(10, &Flooder::run, &flood);
  run_for(100, true);
  EXPECT_EQ(flood.took, 1000);
  EXPECT_GE(flood.pings, 2u) << "the watchdog is pinged around the wait";
  const auto lines = StreamCapture::matching(cap.err(), "SockStream[server]: write timeout, sendbuf=");
  ASSERT_EQ(lines.size(), 1u) << cap.all();
  EXPECT_NE(lines[0].text.find(", recvbuf="), std::string::npos);
  EXPECT_NE(lines[0].text.find(", outq="), std::string::npos);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "control connection " + peer_name(c1) + " closed."));
  EXPECT_EQ(owner.disconnects, 1);
  EXPECT_EQ(acc.GetOverflowCounter(), 1u);
}

}  // namespace

namespace {

// The child of the out-of-descriptors test: an acceptor on the real clock
// that reports to the parent over `ctl`: its port, 'C' at each connect, 'E'
// once its descriptors are exhausted, 'F' with the CPU milliseconds it spent
// while exhausted once it has freed them. The exit status says whether the
// drop was logged exactly once.
void stop_loop() { multiplexer.terminate(); }

int exhausted_acceptor(int ctl) {
  StreamCapture cap;
  Control::AcceptorNetCheckConnection acc;
  Owner owner;
  acc.Bind(&owner);
  acc.Activate();
  const std::uint16_t port = acc.GetBoundPort();
  if (::write(ctl, &port, sizeof port) != sizeof port) return 10;
  int reported = 0;
  auto run_ms = [&](unsigned int ms) {
    Timer stop;
    stop.set(ms, &stop_loop);
    multiplexer.run(false, true);
    for (; reported < owner.connects; ++reported)
      if (::write(ctl, "C", 1) != 1) return false;
    return true;
  };
  // One controller comes and goes first, and every timer of the loop fires
  // once, so nothing runs for the first time while descriptors are short.
  while (owner.disconnects == 0) {
    if (!run_ms(100)) return 11;
  }
  if (!run_ms(1200)) return 12;

  rlimit lim;
  ::getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = 64;
  ::setrlimit(RLIMIT_NOFILE, &lim);
  std::vector<int> fillers;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
  if (errno != EMFILE) return 13;
  if (::write(ctl, "E", 1) != 1) return 14;

  rusage before, after;
  ::getrusage(RUSAGE_SELF, &before);
  if (!run_ms(1500)) return 15;
  ::getrusage(RUSAGE_SELF, &after);
  for (int fd : fillers) ::close(fd);
  auto cpu_ms = [](const rusage& r) {
    return std::int64_t(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 +
           (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
  };
  const std::int32_t spent = static_cast<std::int32_t>(cpu_ms(after) - cpu_ms(before));
  if (::write(ctl, "F", 1) != 1 || ::write(ctl, &spent, sizeof spent) != sizeof spent) return 16;

  for (int i = 0; i < 50 && owner.connects < 2; ++i) {
    if (!run_ms(100)) return 17;
  }
  acc.Deactivate();
  return StreamCapture::count(cap.err(), "can't accept connection: Too many open files, connection dropped.") == 1
             ? 0
             : 18;
}

bool read_exact(int fd, void* buf, std::size_t n) {
  char* p = static_cast<char*>(buf);
  while (n > 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

char read_report(int fd) {
  char c = 0;
  return read_exact(fd, &c, 1) ? c : 0;
}

}  // namespace

// Out of descriptors, accept fails and leaves the connection in the backlog,
// where poll finds it again at once. The acceptor must neither spin nor
// stall: it drops what it cannot take and serves the next controller once
// descriptors are free again. Runs in a child (its own descriptor limit) on
// the real clock, for about three seconds.
TEST(AcceptorOutOfDescriptors, DropsPendingConnectionsWithoutSpinningAndServesOnceFreed) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(sv[0]);
    ::_exit(exhausted_acceptor(sv[1]));
  }
  ::close(sv[1]);
  const int ctl = sv[0];
  std::uint16_t port = 0;
  ASSERT_TRUE(read_exact(ctl, &port, sizeof port));
  {
    LoopbackPeer first;
    ASSERT_TRUE(first.connect(port));
    EXPECT_EQ(read_report(ctl), 'C');
  }
  EXPECT_EQ(read_report(ctl), 'E');
  // Two in a row: each is dropped, but only the first is logged (the child's
  // exit status), or a flood of them would flood the log too.
  for (int i = 0; i < 2; ++i) {
    LoopbackPeer dropped;
    ASSERT_TRUE(dropped.connect(port)) << "the kernel completes it in the backlog";
    // The child drops it within its first poll; a loaded machine may only
    // let it run some time later.
    EXPECT_TRUE(dropped.peer_closed(testsupport::patience_ms)) << "accepted and closed at once, " << i;
  }
  EXPECT_EQ(read_report(ctl), 'F');
  std::int32_t cpu_ms = -1;
  ASSERT_TRUE(read_exact(ctl, &cpu_ms, sizeof cpu_ms));
  EXPECT_LT(cpu_ms, 500) << "1500 ms out of descriptors must not be spent spinning";

  LoopbackPeer next;
  ASSERT_TRUE(next.connect(port));
  EXPECT_EQ(read_report(ctl), 'C') << "the next controller is served";
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::close(ctl);
}
