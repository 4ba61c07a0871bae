// Asynchronous connect against loopback listeners. Connects that end in the
// kernel at once run on the process clock (guarded); the time-outs run on
// the virtual clock.
#include "runtime/async_connect.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"
#include "tests/support/free_port.h"
#include "tests/support/loopback.h"

namespace {

typedef ASync::Connect::Status Status;
typedef std::vector<Status::Type> Reports;

std::string address(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

// Records every report with the peer port of the socket (-1 for an empty
// one); stops the loop; may destroy the Connect.
struct Owner {
  Reports reports;
  std::vector<int> peer_ports;
  ASync::Connect* destroy = nullptr;

  void OnConnect(Status::Type status, Fd socket) {
    reports.push_back(status);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const bool named =
        socket && ::getpeername(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) == 0;
    peer_ports.push_back(named ? ntohs(sa.sin_port) : -1);
    delete destroy;
    destroy = nullptr;
    multiplexer.terminate();
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

// Starts and, unless it ended inside Start, runs the loop to the end.
void connect(ASync::Connect& c, Owner& owner, const std::string& to) {
  const size_t before = owner.reports.size();
  c.Start(to, 5000);
  if (owner.reports.size() == before) {
    ASSERT_TRUE(run_loop(10000));
  }
}

}  // namespace

TEST(AsyncConnect, ConnectsToAListenerAndFailsWhenRefused) {
  // A port of this test's own: once closed, no listener of a test beside
  // this one can be given it before the refusals below.
  testsupport::LoopbackListener server(testsupport::free_port(), 8);
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  connect(c, owner, address(server.port()));
  EXPECT_EQ(owner.reports, Reports{Status::Connected});
  EXPECT_EQ(owner.peer_ports[0], server.port());
  EXPECT_EQ(c.status(), Status::Connected);

  // Started again after the end: a second connection.
  connect(c, owner, address(server.port()));
  EXPECT_EQ(owner.reports, (Reports{Status::Connected, Status::Connected}));

  // Nobody listens any more: refused.
  server.close();
  connect(c, owner, address(server.port()));
  EXPECT_EQ(owner.reports.back(), Status::Failed);
  EXPECT_EQ(owner.peer_ports.back(), -1);

  // The refusal is already pending (loopback answers within the connect):
  // a POLLOUT that comes without the error bits is judged by that error.
  c.Start(address(server.port()), 5000);
  ASSERT_EQ(c.status(), Status::InProgress);
  ::poll(nullptr, 0, 50);  // room for a loaded kernel to take the refusal in
  c.OnSocketEvent(-1, POLLOUT);
  EXPECT_EQ(owner.reports.back(), Status::Failed);
  EXPECT_EQ(owner.reports.size(), 4u);
}

TEST(AsyncConnect, TextThatDoesNotParseFailsAtOnce) {
  Owner owner;
  ASync::Connect c;
  c.Bind(&Owner::OnConnect, &owner);
  for (const char* text : {"not-an-address:80", "127.0.0.1:http", "127.0.0.1:70000", ""}) {
    c.Start(text, 5000);
    EXPECT_EQ(c.status(), Status::Failed) << text;
  }
  EXPECT_EQ(owner.reports, Reports(4, Status::Failed));
}

class AsyncConnectPending : public ::testing::Test {
 protected:
  // A listener whose accept queue is full drops further SYNs: a connect to
  // it stays pending.
  void SetUp() override {
    ASSERT_TRUE(filler_.connect(server_.port()));
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    c_->Bind(&Owner::OnConnect, &owner_);
  }
  void TearDown() override {
    delete c_;
    platform::vclock::disable();
  }

  testsupport::LoopbackListener server_{0, 0};
  testsupport::LoopbackPeer filler_;
  Owner owner_;
  ASync::Connect* c_ = new ASync::Connect;
};

TEST_F(AsyncConnectPending, NoAnswerFailsAfterTheTimeOutAndTheHandlerMayDestroy) {
  owner_.destroy = c_;
  const int start = Mux::milliseconds();
  c_->Start(address(server_.port()), 5000);
  ASSERT_TRUE(owner_.reports.empty());
  EXPECT_EQ(c_->status(), Status::InProgress);
  ASSERT_TRUE(run_loop(60000));
  c_ = nullptr;  // gone with the handler
  EXPECT_EQ(owner_.reports, Reports{Status::Failed});
  EXPECT_EQ(Mux::milliseconds() - start, 5000);
}

TEST_F(AsyncConnectPending, StopReportsStoppedOnce) {
  c_->Stop();  // idle: nothing
  c_->Start(address(server_.port()), 5000);
  c_->Stop();
  EXPECT_EQ(owner_.reports, Reports{Status::Stopped});
  EXPECT_EQ(owner_.peer_ports[0], -1);
  c_->Stop();  // finished: nothing
  // The time-out of the stopped connect is gone: only the guard fires.
  EXPECT_FALSE(run_loop(10000));
  EXPECT_EQ(owner_.reports.size(), 1u);
}

TEST_F(AsyncConnectPending, RestartDropsThePendingConnect) {
  c_->Start(address(server_.port()), 1000);
  c_->Start(address(server_.port()), 3000);
  const int start = Mux::milliseconds();
  ASSERT_TRUE(run_loop(60000));
  EXPECT_EQ(owner_.reports, Reports{Status::Failed});
  EXPECT_EQ(Mux::milliseconds() - start, 3000);
}

TEST_F(AsyncConnectPending, DestroyingAPendingConnectReportsNothing) {
  c_->Start(address(server_.port()), 2000);
  delete c_;
  c_ = nullptr;
  EXPECT_FALSE(run_loop(10000));
  EXPECT_TRUE(owner_.reports.empty());
}
