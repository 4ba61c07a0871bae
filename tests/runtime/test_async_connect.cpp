// Asynchronous connect against loopback listeners. Connects that end in the
// kernel at once run on the process clock (guarded); the time-out runs on
// the virtual clock.
#include "runtime/async_connect.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"

namespace {

typedef ASync::Connect::Status Status;

// A loopback TCP socket bound to a free port, listening or not.
struct Loopback {
  int fd = -1;
  unsigned short port = 0;
  explicit Loopback(bool listening, int backlog = 8) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0) return;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    if (listening) ::listen(fd, backlog);
  }
  ~Loopback() { ::close(fd); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

// Records every report; may stop the loop or destroy the Connect.
struct Owner {
  std::vector<Status::Type> reports;
  std::vector<int> peer_ports;  // -1 for an empty socket
  ASync::Connect* destroy = nullptr;
  bool stop_loop = true;

  void OnConnect(Status::Type status, Fd socket) {
    reports.push_back(status);
    int port = -1;
    if (socket.is_valid()) {
      sockaddr_in sa{};
      socklen_t len = sizeof sa;
      if (::getpeername(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    }
    peer_ports.push_back(port);
    if (destroy) delete destroy;
    if (stop_loop) multiplexer.terminate();
  }
};

bool guard_fired = false;
void on_guard() {
  guard_fired = true;
  multiplexer.terminate();
}

// Runs the loop until the owner stops it; false when the guard ran out.
bool run_loop(unsigned int guard_ms) {
  guard_fired = false;
  Timer guard;
  guard.set(guard_ms, &on_guard);
  multiplexer.run(false, true);
  return !guard_fired;
}

}  // namespace

TEST(AsyncConnect, ConnectsToALoopbackListener) {
  Loopback server(true);
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  c.Start(server.address(), 5000);
  if (owner.reports.empty()) {
    ASSERT_TRUE(run_loop(10000));
  }
  ASSERT_EQ(owner.reports, std::vector<Status::Type>{Status::Connected});
  EXPECT_EQ(owner.peer_ports[0], server.port);
  EXPECT_EQ(c.status(), Status::Connected);

  // Started again after the end: a second connection.
  c.Start(server.address(), 5000);
  if (owner.reports.size() == 1) {
    ASSERT_TRUE(run_loop(10000));
  }
  EXPECT_EQ(owner.reports.size(), 2u);
  EXPECT_EQ(owner.reports[1], Status::Connected);
}

TEST(AsyncConnect, RefusedConnectFails) {
  Loopback closed(false);  // bound, not listening: the peer resets
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  c.Start(closed.address(), 5000);
  if (owner.reports.empty()) {
    ASSERT_TRUE(run_loop(10000));
  }
  ASSERT_EQ(owner.reports, std::vector<Status::Type>{Status::Failed});
  EXPECT_EQ(owner.peer_ports[0], -1);
}

TEST(AsyncConnect, TextThatDoesNotParseFailsAtOnce) {
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  for (const char* text : {"not-an-address:80", "127.0.0.1:http", "127.0.0.1:70000", ""}) {
    c.Start(text, 5000);
    EXPECT_EQ(c.status(), Status::Failed) << text;
  }
  EXPECT_EQ(owner.reports, std::vector<Status::Type>(4, Status::Failed));
}

class AsyncConnectPending : public ::testing::Test {
 protected:
  // A listener whose accept queue is full drops further SYNs: a connect to
  // it stays pending.
  void SetUp() override {
    ASSERT_GE(server_.fd, 0);
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(server_.port);
    ASSERT_EQ(::connect(filler_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
  }
  void TearDown() override {
    platform::vclock::disable();
    ::close(filler_);
  }

  Loopback server_{true, 0};
  int filler_ = -1;
};

TEST_F(AsyncConnectPending, NoAnswerFailsAfterTheTimeOut) {
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  const int start = Mux::milliseconds();
  c.Start(server_.address(), 5000);
  ASSERT_TRUE(owner.reports.empty());
  EXPECT_EQ(c.status(), Status::InProgress);
  ASSERT_TRUE(run_loop(60000));
  ASSERT_EQ(owner.reports, std::vector<Status::Type>{Status::Failed});
  EXPECT_EQ(Mux::milliseconds() - start, 5000);
}

TEST_F(AsyncConnectPending, StopReportsStoppedOnce) {
  Owner owner;
  ASync::Connect c;
  c.Stop();  // idle: nothing
  c.Bind(&Owner::OnConnect, &owner);
  c.Start(server_.address(), 5000);
  c.Stop();
  ASSERT_EQ(owner.reports, std::vector<Status::Type>{Status::Stopped});
  EXPECT_EQ(owner.peer_ports[0], -1);
  c.Stop();  // finished: nothing
  // The time-out of the stopped connect is gone: only the guard fires.
  EXPECT_FALSE(run_loop(10000));
  EXPECT_EQ(owner.reports.size(), 1u);
}

TEST_F(AsyncConnectPending, RestartDropsThePendingConnect) {
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  c.Start(server_.address(), 1000);
  c.Start(server_.address(), 3000);
  const int start = Mux::milliseconds();
  ASSERT_TRUE(run_loop(60000));
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Failed});
  EXPECT_EQ(Mux::milliseconds() - start, 3000);
}

TEST_F(AsyncConnectPending, HandlerMayDestroyTheConnect) {
  Owner owner;
  ASync::Connect* c = new ASync::Connect;
  owner.destroy = c;
  c->Bind(&Owner::OnConnect, &owner);
  c->Start(server_.address(), 2000);
  ASSERT_TRUE(run_loop(60000));
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Failed});
}

TEST_F(AsyncConnectPending, DestroyingAPendingConnectReportsNothing) {
  Owner owner;
  {
    ASync::Connect c;
    c.Bind(&Owner::OnConnect, &owner);
    c.Start(server_.address(), 2000);
  }
  EXPECT_FALSE(run_loop(10000));
  EXPECT_TRUE(owner.reports.empty());
}
