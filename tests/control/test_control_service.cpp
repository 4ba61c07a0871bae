#include "control/control_service.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

using testsupport::StreamCapture;
using testsupport::tpkt_frame;
using State = Control::Service::State;

namespace {

// A connection handed one end of a socket pair.
class PairService : public Control::ServiceUnix {
 public:
  int ImplActivate() override { return 1; }
  void ImplDeactivate() override { Release(); }
  void ImplOnDisconnect() override { ++impl_disconnects; }
  int impl_disconnects = 0;
};

class ControlServiceTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    svc.Bind(&owner);
    svc.Activate();
  }
  // Hands the service one end of a fresh socket pair; the test keeps the other.
  void connect() {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    peer.reset(new testsupport::LoopbackPeer(sv[1]));
    svc.Connected(Fd(sv[0]), "peer");
    ASSERT_TRUE(svc.IsConnected());
  }

  StreamCapture cap;
  PairService svc;
  controltest::NotifyRecorder owner;
  std::unique_ptr<testsupport::LoopbackPeer> peer;
};

TEST_F(ControlServiceTest, SendBeforeAnyPeerIsDroppedWithItsLine) {
  EXPECT_EQ(svc.GetState(), State::Connecting);
  svc.Send("x", 1);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "Control::Service::Send() ignore Send request in Connecting state."));
  EXPECT_STREQ(Control::GetTextNotation(static_cast<State::Type>(4)), "Unknown");
}

TEST_F(ControlServiceTest, LinkCarriesOneMessagePerFrameBothWays) {
  connect();
  EXPECT_EQ(owner.connects, 1);
  peer->send(tpkt_frame("hello") + tpkt_frame("again"));
  run_for(10);
  EXPECT_EQ(owner.messages, (std::vector<std::string>{"hello", "again"}));
  svc.Send("hi", 2);
  EXPECT_EQ(peer->receive(), tpkt_frame("hi"));

  // Too long for a frame, or for a packet at all: dropped, the link stays.
  svc.Send(std::string(65532, 'x').data(), 65532);
  const std::string huge(70000, 'x');
  svc.Send(huge.data(), 70000);
  EXPECT_TRUE(svc.IsConnected());
  EXPECT_EQ(peer->receive(), "");
  EXPECT_TRUE(StreamCapture::has(cap.err(), "Control::Service::Send() message of 70000 octets cannot be sent, dropped."))
      << cap.all();
}

// An answer that finds the packet pool empty is dropped with its line; the
// connection stays up and carries the next one.
TEST_F(ControlServiceTest, SendOnAnEmptyPoolDropsTheMessageNotTheProcess) {
  connect();
  {
    std::vector<Packet> hoard;
    while (PacketPool::available() > 0) {
      hoard.emplace_back();
      hoard.back().reserve_head(0);
    }
    svc.Send("lost", 4);
  }
  EXPECT_TRUE(StreamCapture::has(cap.err(), "Control::Service::Send() no packet buffer, message of 4 octets dropped."))
      << cap.all();
  EXPECT_TRUE(svc.IsConnected());
  EXPECT_EQ(peer->receive(), "");
  svc.Send("kept", 4);
  EXPECT_EQ(peer->receive(), tpkt_frame("kept"));
}

TEST_F(ControlServiceTest, OwnerHearsOfTheEndOnceAndOnlyFromTheLoop) {
  connect();
  svc.Disconnect();
  EXPECT_EQ(svc.GetState(), State::Deactivating);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "control connection peer closed."));
  svc.Disconnect();
  EXPECT_EQ(owner.disconnects, 0);
  run_for(10);
  EXPECT_EQ(owner.disconnects, 1);
  EXPECT_EQ(svc.impl_disconnects, 1);
  EXPECT_EQ(svc.GetState(), State::Connecting);
  EXPECT_TRUE(peer->peer_closed());

  // A disconnect without a connection has nothing to report.
  svc.Disconnect();
  run_for(10);
  EXPECT_EQ(owner.disconnects, 1);
  EXPECT_EQ(svc.impl_disconnects, 1);  // a connector would arm a second reconnect
}

TEST_F(ControlServiceTest, MessagesAfterAFailedAnswerAreNotDelivered) {
  owner.on_message = [&] { svc.Send("ack", 3); };
  connect();
  peer->send(tpkt_frame("one") + tpkt_frame("two"));
  ::shutdown(peer->fd(), SHUT_RD);  // the answer to "one" cannot be written
  run_for(10);
  EXPECT_EQ(owner.messages, std::vector<std::string>{"one"});
  EXPECT_EQ(owner.disconnects, 1);
}

TEST_F(ControlServiceTest, DeactivateStopsForGoodWithoutTellingTheOwner) {
  connect();
  svc.Deactivate();
  EXPECT_EQ(svc.GetState(), State::Idle);
  EXPECT_TRUE(peer->peer_closed());

  svc.Activate();
  connect();
  svc.Disconnect();  // going down when the stop comes
  svc.Deactivate();
  run_for(10);
  EXPECT_EQ(owner.disconnects, 0);
  EXPECT_EQ(svc.impl_disconnects, 0);
  EXPECT_EQ(svc.GetState(), State::Idle);
}

}  // namespace
