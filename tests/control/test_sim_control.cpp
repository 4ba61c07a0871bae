// The simulator's control socket of the running server: one request per
// line, answered in order with data lines and ok/error, several clients at
// once, a stale socket file replaced at start.
#include "control/sim_control.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/alarm.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/flood.h"
#include "tests/support/server_process.h"
#include "tests/support/stream_capture.h"

#include "platform/control_socket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <fstream>
#include <thread>

using testsupport::RunningServer;
using testsupport::SimClient;

namespace {

TEST(SimControlSocket, ServedByTheRunningServer) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  EXPECT_EQ(srv.sim.ask("hal get 69"), "none");
  EXPECT_EQ(srv.sim.ask("hal list"), "");
  EXPECT_EQ(srv.sim.ask("hal fail write 5 1"), "");
  EXPECT_EQ(srv.sim.ask("bogus 1").rfind("error unknown word bogus", 0), 0u);
  EXPECT_EQ(srv.sim.ask("hal get").rfind("error ", 0), 0u);

  // Several requests in one write are answered in order; a second client
  // is served beside the first.
  SimClient other;
  ASSERT_TRUE(other.connect(srv.board("/var/run/sim.sock")));
  EXPECT_EQ(other.ask("hal get 1"), "none");
  auto a = srv.sim.request("hal get 2\nhal fail read 0\n\nhal get 3");
  EXPECT_TRUE(a.ok());
  EXPECT_EQ(a.lines, std::vector<std::string>{"none"});
  EXPECT_EQ(srv.sim.read_answer().status, "ok");
  EXPECT_EQ(srv.sim.read_answer().status, "error empty request");
  a = srv.sim.read_answer();
  EXPECT_EQ(a.lines, std::vector<std::string>{"none"});
  EXPECT_TRUE(a.ok());

  // The controller is served beside it.
  srv.ctl.send("C0 01 01 00 05 18");  // ping
  EXPECT_EQ(srv.ctl.next(testsupport::patience_ms), "C0 01 01 00 05 40");
  EXPECT_EQ(srv.stop(), 0) << srv.log();
  EXPECT_FALSE(std::ifstream(srv.board("/var/run/sim.sock")).good()) << "removed at the end";
}

// A client that sends requests without end (and reads the answers) is
// served a share per pass; the controller is still answered meanwhile.
TEST(SimControlSocket, RequestFloodLeavesTheControllerAnswered) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  const std::string path = srv.board("/var/run/sim.sock");
  ASSERT_LT(path.size(), sizeof sa.sun_path);
  path.copy(sa.sun_path, path.size());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  std::string requests;
  for (int i = 0; i < 4096; ++i) requests += "hal get 8192\n";
  EXPECT_LT(testsupport::slowest_ping_during_flood(srv, fd, requests), 1000);
  ::close(fd);
}

TEST(SimControlSocket, ClientKeptWhenASignalInterruptsTheWaitForRoom) {
  // A long answer to a client slow to read waits for room; a signal in that
  // wait (a child's end in the server) is no reason to drop the client.
  // Real time: the wait has to be under way when the signal comes.
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
  const int tiny = 1;
  ASSERT_EQ(::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);
  const std::string answer = "error unknown word bogus\n";
  const int requests = 2000;
  std::string request;
  for (int i = 0; i < requests; ++i) request += "bogus\n";

  std::string got;
  bool kept = false;
  std::string pending = request;
  const bool alarm_taken = testsupport::alarm_during(
      [&] { kept = platform::control_socket::serve(sv[0], pending); },
      [&] {
        char buf[4096];
        for (int idle = 0; got.size() < answer.size() * requests && idle < 200;) {
          const ssize_t n = ::recv(sv[1], buf, sizeof buf, 0);
          if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
            idle = 0;
          } else {
            ++idle;
            ::usleep(10000);
          }
        }
      });
  ::close(sv[0]);
  ::close(sv[1]);

  EXPECT_TRUE(alarm_taken);
  EXPECT_TRUE(kept);
  EXPECT_EQ(got.size(), answer.size() * requests);
}

TEST(SimControlSocket, LongRequestArrivingInPiecesIsServedWhole) {
  // A request line of frame bytes (an 8000-byte frame is 16000 digits) from
  // a client whose writer flushes every 4096 bytes: each piece may be read
  // before the next arrives, and the line is still one request.
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
  const std::string line = "bogus " + std::string(16000, 'B') + "\n";
  std::string pending;
  bool kept = true;
  for (std::size_t at = 0; at < line.size() && kept; at += 4096) {
    const std::size_t piece = std::min<std::size_t>(4096, line.size() - at);
    ASSERT_EQ(::send(sv[1], line.data() + at, piece, 0), static_cast<ssize_t>(piece));
    kept = platform::control_socket::serve(sv[0], pending);
    EXPECT_TRUE(kept) << "dropped with " << at + piece << " of " << line.size() << " bytes in";
  }
  char buf[256];
  const ssize_t n = ::recv(sv[1], buf, sizeof buf, MSG_DONTWAIT);
  ::close(sv[0]);
  ::close(sv[1]);
  EXPECT_EQ(std::string(buf, n > 0 ? std::size_t(n) : 0), "error unknown word bogus\n");
}

void stop_loop() { multiplexer.terminate(); }

// Out of descriptors the control socket neither spins on its backlog nor
// keeps a client it could not copy. Real clock, about 1.5 s, in a child.
// A board root already served keeps its socket: a second one is refused,
// said so on the error stream, and its close leaves the first one's file.
TEST(SimControlSocket, ASecondSocketOnAServedBoardRootIsRefusedAndSaid) {
  testsupport::StreamCapture cap;
  SimControl first;
  ASSERT_TRUE(first.Open());
  const std::string path = platform::control_socket::path();
  {
    SimControl second;
    EXPECT_FALSE(second.Open());
  }
  EXPECT_EQ(testsupport::StreamCapture::count(
                cap.err(), "simulator control socket " + path + " not opened: " + std::strerror(EADDRINUSE)),
            1)
      << cap.all();
  EXPECT_EQ(::access(path.c_str(), F_OK), 0) << "the first one's file stays";
  first.Close();
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "removed with the first";
}

TEST(SimControlSocket, OutOfDescriptorsDropsWhatItCannotHoldAndServesOnceFreed) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    testsupport::StreamCapture cap;
    SimControl sim;
    if (!sim.Open()) return failed.push_back("no control socket");
    testsupport::ExhaustedListener l;
    l.unix_domain = true;
    l.connect = [](testsupport::EarlyClient& c) { return c.connect_unix(platform::control_socket::path()); };
    l.listed = [&] { return sim.client_count(); };
    l.run_ms = [](unsigned int ms) {
      Timer stop;
      stop.set(ms, &stop_loop);
      multiplexer.run(false, true);
    };
    testsupport::exhaust_listener(l, failed);
    sim.Close();
    if (testsupport::StreamCapture::count(cap.err(), "can't accept connection: Too many open files, connection dropped.") != 1)
      failed.push_back("the dropped client is not logged once: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
