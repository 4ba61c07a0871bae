#include "control/connector_net.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/free_port.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

using testsupport::LoopbackListener;
using testsupport::LoopbackPeer;
using testsupport::StreamCapture;
using testsupport::tpkt_frame;

namespace {

using Owner = controltest::NotifyRecorder;

// Gaps between the times of the lines.
std::vector<std::int64_t> gaps(const std::vector<testsupport::LogLine>& lines) {
  std::vector<std::int64_t> g;
  for (std::size_t i = 1; i < lines.size(); ++i) g.push_back(lines[i].ms - lines[i - 1].ms);
  return g;
}

class ConnectorTest : public testsupport::VirtualClockTest {
 protected:
  StreamCapture cap;
  Owner owner;

  // Every type an attempt uses is checked once before descriptors run short
  // (see descriptor_exhaustion.h): a connection to the listener (taken off
  // its queue again) and a refused attempt, which arms the retry timer.
  void warm_up(LoopbackListener& listener) {
    Control::ConnectorNet warm("127.0.0.1", listener.port());
    warm.Activate();
    run_for(10);
    warm.Deactivate();
    LoopbackPeer gone(listener.accept());
    Control::ConnectorNet refused("127.0.0.1", testsupport::free_port());
    refused.Activate();
    run_for(10);
    refused.Deactivate();
  }

  // What a scenario short of descriptors works with.
  struct Shortage {
    LoopbackListener& listener;
    const std::string& where;
    Control::ConnectorNet& conn;  // to the listener, bound to the owner
    testsupport::DescriptorFill& fill;
    std::vector<std::string>& failed;
  };

  // Runs `body` in a child (its own descriptor limit) with the descriptor
  // table filled but for `free` descriptors; what failed, one line each.
  std::string short_of_descriptors(int free, const std::function<void(const Shortage&)>& body) {
    LoopbackListener listener(0, 16);
    const std::string where = "127.0.0.1:" + std::to_string(listener.port());
    return testsupport::in_child([&](std::vector<std::string>& failed) {
      warm_up(listener);
      Control::ConnectorNet conn("127.0.0.1", listener.port());
      conn.Bind(&owner);
      testsupport::DescriptorFill fill;
      if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      for (int i = 0; i < free; ++i) fill.free_one();
      body(Shortage{listener, where, conn, fill, failed});
      conn.Deactivate();
    });
  }
};

TEST_F(ConnectorTest, ConnectsCarriesFramesAndComesBack10sAfterTheEnd) {
  // On a port of this test's own: once the listener is closed, no listener
  // of a test beside this one can be given the port and take the attempts.
  LoopbackListener listener(testsupport::free_port());
  const std::string where = "127.0.0.1:" + std::to_string(listener.port());
  Control::ConnectorNet conn("127.0.0.1", listener.port());
  conn.Bind(&owner);
  EXPECT_EQ(conn.Activate(), 1);
  run_for(10);
  ASSERT_EQ(owner.connects, 1) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.out(), "connected to " + where + ".") ||
              StreamCapture::has(cap.log(), "already connected to " + where));
  LoopbackPeer peer(listener.accept());
  peer.send(tpkt_frame("status"));
  run_for(10);
  EXPECT_EQ(owner.messages, std::vector<std::string>{"status"});
  conn.Send("hi", 2);
  EXPECT_EQ(peer.receive(), tpkt_frame("hi"));

  // The agent goes away for good: the first new attempt comes 10000 ms
  // after the end, and the quick retries are still there for it.
  listener.close();
  peer.close();
  const std::int64_t end = now_ms();
  run_for(11500);
  EXPECT_EQ(owner.disconnects, 1);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "control connection " + where + " closed."));
  const auto fails = StreamCapture::matching(cap.err(), "fail to connect to " + where);
  ASSERT_EQ(fails.size(), 2u) << cap.all();
  EXPECT_EQ(fails[0].ms - end, 10000);
  EXPECT_EQ(fails[1].ms - fails[0].ms, 1000);
}

TEST_F(ConnectorTest, RefusedAttemptsAreRetried7TimesQuicklyThenEvery15s) {
  // Nobody listens on it, and no test beside this one can be given it.
  const std::uint16_t port = testsupport::free_port();
  const std::string where = "127.0.0.1:" + std::to_string(port);
  Control::ConnectorNet parsed(where);
  EXPECT_EQ(parsed.GetPort(), port);
  EXPECT_EQ(parsed.GetHost(), "127.0.0.1");

  Control::ConnectorNet conn(where, 1);  // the port in the text wins
  conn.Bind(&owner);
  conn.Activate();
  run_for(37500);
  const auto fails = StreamCapture::matching(cap.err(), "fail to connect to " + where);
  EXPECT_EQ(gaps(fails), (std::vector<std::int64_t>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 15000, 15000}))
      << cap.all();
  EXPECT_EQ(conn.GetState(), Control::Service::State::Connecting);
  EXPECT_EQ(owner.connects, 0);
}

TEST_F(ConnectorTest, AttemptsRefusedByConnectItselfAreRetried7TimesQuicklyThenEvery20s) {
  Control::ConnectorNet conn("255.255.255.255", 9);  // no TCP to a broadcast address
  conn.Bind(&owner);
  conn.Activate();
  run_for(47500);
  const auto fails = StreamCapture::matching(cap.err(), "can't connect to 255.255.255.255:9 : ");
  EXPECT_EQ(gaps(fails), (std::vector<std::int64_t>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 20000, 20000}))
      << cap.all();
  EXPECT_EQ(conn.GetState(), Control::Service::State::Connecting);
}

// The attempt's socket takes the last descriptors, so the connect event's
// copy of it fails: an attempt nobody watches would never end.
TEST_F(ConnectorTest, AttemptThatCannotBeWatchedIsRetried) {
  // Two descriptors: the socket and the copy the connector keeps of it (the
  // first is given back); then the event's own copies fail.
  const std::string failed = short_of_descriptors(2, [&](const Shortage& at) {
    at.conn.Activate();
    at.fill.release();
    if (!StreamCapture::has(cap.err(), "can't connect to " + at.where + " : Too many open files"))
      at.failed.push_back("the attempt that cannot be watched is not logged: " + cap.all());
    run_for(1010);
    if (owner.connects != 1) at.failed.push_back("no connection after the retry: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// No descriptor at all for the attempt's socket: a shortage passes, and the
// link (an SNMP agent's) must not stop for good over it.
TEST_F(ConnectorTest, AttemptWithoutADescriptorForItsSocketIsRetried) {
  const std::string failed = short_of_descriptors(0, [&](const Shortage& at) {
    at.conn.Activate();
    at.fill.release();
    if (!StreamCapture::has(cap.err(), "can't create socket:Too many open files"))
      at.failed.push_back("the missing socket is not logged: " + cap.all());
    if (at.conn.GetState() != Control::Service::State::Connecting)
      at.failed.push_back(std::string("state after the failed attempt: ") +
                          Control::GetTextNotation(at.conn.GetState()));
    run_for(1010);
    if (owner.connects != 1) at.failed.push_back("no connection after the retry: " + cap.all());

    // The same shortage at the reconnect after a drop.
    LoopbackPeer peer(at.listener.accept());
    peer.close();
    run_for(10);
    if (owner.disconnects != 1) at.failed.push_back("the drop is not noticed: " + cap.all());
    if (!at.fill.fill()) return at.failed.push_back("the descriptor table cannot be filled again");
    run_for(10000);
    at.fill.release();
    if (StreamCapture::count(cap.err(), "can't create socket:Too many open files") != 2)
      at.failed.push_back("the reconnect met no shortage: " + cap.all());
    run_for(1010);
    if (owner.connects != 2) at.failed.push_back("no reconnection after the shortage: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// A socket that cannot be made: a shortage of descriptors or memory keeps
// the connector on its retry schedule, any other cause stops it. When
// socket() gave a descriptor, the failed copy's errno is the cause.
TEST_F(ConnectorTest, TheCauseOfAMissingSocketDecidesBetweenRetryAndStop) {
  struct Probe : Control::ConnectorNet {
    using Control::ConnectorNet::ConnectorNet;
    using Control::ConnectorNet::NoSocket;
  };
  const struct {
    int made, socket_err, copy_err;
    bool retried;
  } cases[] = {{-1, EMFILE, EACCES, true},  {-1, ENFILE, EACCES, true},  {-1, ENOBUFS, EACCES, true},
               {-1, ENOMEM, EACCES, true},  {-1, EACCES, EMFILE, false}, {0, EACCES, ENFILE, true},
               {7, ENOMEM, EPERM, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.made << " " << c.socket_err << " " << c.copy_err);
    Probe conn("255.255.255.255", 9);
    conn.Activate();
    ASSERT_EQ(conn.GetState(), Control::Service::State::Connecting);
    cap.clear();
    errno = c.copy_err;
    conn.NoSocket("no socket: ", c.made, Errno(c.socket_err));
    const int cause = c.made < 0 ? c.socket_err : c.copy_err;
    EXPECT_TRUE(StreamCapture::has(cap.err(), std::string("no socket: ") + std::strerror(cause))) << cap.all();
    EXPECT_EQ(conn.GetState(),
              c.retried ? Control::Service::State::Connecting : Control::Service::State::Idle);
    conn.Deactivate();
  }
}

TEST_F(ConnectorTest, DeactivateWhileConnectedClosesWithoutNoticeOrReconnect) {
  LoopbackListener listener;
  Control::ConnectorNet conn("127.0.0.1", listener.port());
  conn.Bind(&owner);
  conn.Activate();
  run_for(10);
  LoopbackPeer peer(listener.accept());
  ASSERT_TRUE(conn.IsConnected());
  conn.Deactivate();
  EXPECT_TRUE(peer.peer_closed());
  run_for(30000);
  EXPECT_EQ(owner.disconnects, 0);
  EXPECT_EQ(listener.accept(), -1);
  EXPECT_EQ(conn.GetState(), Control::Service::State::Idle);
}

}  // namespace
