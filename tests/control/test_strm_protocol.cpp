#include "control/protocols_list.h"
#include "control/strm_protocol.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::StreamCapture;

namespace {

// The stack above the layer: takes what it reads and hears its reports.
class Owner : public ProtocolsList {
 public:
  int on_message(Packet& p) override {
    received.append(reinterpret_cast<const char*>(p.data()), p.length());
    return 0;
  }
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> s) override {
    downs.push_back(s->message());
  }
  std::string received;
  std::vector<std::string> downs;
  int activated = 0;
};

class StrmProtocolTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    strm = static_cast<StrmProtocol*>(owner.add_protocol_tail(new StrmProtocol));
    strm->service_name("test");
  }
  void TearDown() override {
    ::close(sv[1]);
    ::close(sv[0]);
    VirtualClockTest::TearDown();
  }
  void start() {
    strm->attach(Fd(::dup(sv[0])));
    strm->activate();
  }
  int message(std::size_t n) {
    Packet p;
    strm->prepare_head(p);
    std::memset(p.put(static_cast<std::uint32_t>(n)), 'x', n);
    return strm->message(p);
  }

  StreamCapture cap;
  Owner owner;
  StrmProtocol* strm = nullptr;
  int sv[2] = {-1, -1};
};

TEST_F(StrmProtocolTest, ActivationWithoutSocketReportsDownAndArmsNothing) {
  const auto pending = multiplexer.pending_list().size();
  strm->activate();
  EXPECT_EQ(owner.downs, std::vector<std::string>{"fd not attached"});
  EXPECT_EQ(owner.activated, 0);
  EXPECT_EQ(multiplexer.pending_list().size(), pending);
}

TEST_F(StrmProtocolTest, ReadsGoUpAndHangupOrErrorEndTheLinkUnread) {
  start();
  EXPECT_EQ(owner.activated, 1);
  strm->on_event(0, POLLIN);  // nothing there: EAGAIN changes nothing
  EXPECT_TRUE(owner.downs.empty());
  ASSERT_EQ(::write(sv[1], "abc", 3), 3);
  strm->on_event(0, POLLIN);
  EXPECT_EQ(owner.received, "abc");

  ASSERT_EQ(::write(sv[1], "unread", 6), 6);
  strm->on_event(0, POLLIN | POLLHUP);
  ASSERT_EQ(owner.downs.size(), 1u);
  EXPECT_EQ(owner.downs[0].rfind("pollhup: ", 0), 0u) << owner.downs[0];
  EXPECT_EQ(owner.received, "abc");
  EXPECT_FALSE(strm->opened());

  start();
  strm->on_event(0, POLLIN | POLLERR | POLLHUP);
  EXPECT_EQ(owner.downs.back().rfind("pollerr: ", 0), 0u);

  start();
  ::shutdown(sv[1], SHUT_WR);
  strm->on_event(0, POLLIN);  // one read per report: the queued data first
  EXPECT_EQ(owner.downs.size(), 2u);
  strm->on_event(0, POLLIN);
  EXPECT_EQ(owner.downs.back().rfind("read error: ", 0), 0u);
  EXPECT_EQ(owner.downs.size(), 3u);
  EXPECT_EQ(owner.received, "abcunread");  // the data queued before the end was read first
}

TEST_F(StrmProtocolTest, WriteErrorEndsTheLinkOnceAndEmptyPacketsCostNothing) {
  start();
  EXPECT_EQ(message(0), 0);
  EXPECT_TRUE(owner.downs.empty());
  ::close(sv[1]);
  sv[1] = -1;
  EXPECT_EQ(message(10), -1);
  EXPECT_EQ(owner.downs, std::vector<std::string>{"write error: Broken pipe"});
  EXPECT_TRUE(StreamCapture::matching(cap.err(), "SockStream[test]: write error, sendbuf=").at(0).text.find(
                  ", error=Broken pipe") != std::string::npos);
  EXPECT_EQ(message(10), -1);  // already down: no second report
  EXPECT_EQ(owner.downs.size(), 1u);
  EXPECT_EQ(strm->GetOverflowCounter(), 1u);
}

}  // namespace

// A flood the peer controls can empty the packet pool: each read is then
// dropped and counted, a line is written at most once per second, and the
// link carries on once buffers are back.
TEST_F(StrmProtocolTest, EmptyPoolDropsReadsCountsThemAndLogsOncePerSecond) {
  start();
  std::vector<Packet> hoard;
  while (PacketPool::available() > 0) {
    hoard.emplace_back();
    hoard.back().reserve_head(0);
  }
  const std::string line = "SockStream[test]: packet pool empty, received data dropped (";
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(::write(sv[1], "lost", 4), 4);
    strm->on_event(0, POLLIN);
  }
  EXPECT_EQ(strm->GetDropCounter(), 3u);
  EXPECT_EQ(StreamCapture::count(cap.err(), line), 1) << cap.all();
  EXPECT_TRUE(owner.received.empty());
  EXPECT_TRUE(owner.downs.empty()) << "the link stays up";
  strm->on_event(0, POLLIN);
  EXPECT_EQ(strm->GetDropCounter(), 3u) << "nothing left unread: no drop";

  run_for(1000);
  ASSERT_EQ(::write(sv[1], "lost", 4), 4);
  strm->on_event(0, POLLIN);
  EXPECT_EQ(StreamCapture::count(cap.err(), line), 2);
  EXPECT_TRUE(StreamCapture::has(cap.err(), line + "4 reads dropped)"));

  hoard.clear();
  ASSERT_EQ(::write(sv[1], "kept", 4), 4);
  strm->on_event(0, POLLIN);
  EXPECT_EQ(owner.received, "kept");
}
