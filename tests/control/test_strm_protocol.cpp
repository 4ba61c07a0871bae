#include "control/protocols_list.h"
#include "control/strm_protocol.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
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

std::int64_t clock_ms() {
  timeval tv;
  platform::gettimeofday(&tv);
  return std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

TEST_F(StrmProtocolTest, PeerThatStopsReadingTimesTheMessageOutAfterOneSecond) {
  start();
  const int tiny = 1;
  ASSERT_EQ(::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);
  const std::int64_t before = clock_ms();
  EXPECT_EQ(message(60000), -1);
  EXPECT_EQ(clock_ms() - before, 1000) << "one deadline for the whole message";
  EXPECT_EQ(owner.downs, std::vector<std::string>{"write timeout"});
  EXPECT_EQ(StreamCapture::count(cap.err(), "SockStream[test]: write timeout, sendbuf="), 1) << cap.all();
  // The figures of the socket at the time: this kernel's output queue
  // counts queued bytes, so the free room is the send buffer less them.
  const auto lines = StreamCapture::matching(cap.err(), "SockStream[test]: write timeout, sendbuf=");
  ASSERT_FALSE(lines.empty());
  long sendbuf = -1, recvbuf = -1, free_room = -1, inq = -1, outq = -1;
  ASSERT_EQ(std::sscanf(lines[0].text.c_str(),
                        "SockStream[test]: write timeout, sendbuf=%ld, recvbuf=%ld, free=%ld, inq=%ld, outq=%ld",
                        &sendbuf, &recvbuf, &free_room, &inq, &outq),
            5)
      << lines[0].text;
  EXPECT_GT(sendbuf, 0);
  EXPECT_GT(recvbuf, 0);
  EXPECT_EQ(inq, 0);
  EXPECT_GT(outq, 0);
  EXPECT_EQ(free_room, sendbuf - outq);
  EXPECT_EQ(strm->GetOverflowCounter(), 1u);
  EXPECT_FALSE(strm->opened());
  // What went out before the deadline stays sent; nothing follows it.
  char buf[65536];
  const ssize_t n = ::recv(sv[1], buf, sizeof buf, MSG_DONTWAIT);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 60000);
  EXPECT_EQ(message(10), -1);
  EXPECT_EQ(owner.downs.size(), 1u);
}

// The time of day set back an hour while the layer waits for room, and the
// peer reads what is queued then: the wait that follows still ends one deadline
// later, not an hour and a deadline later with the whole loop held.
TEST_F(StrmProtocolTest, TimeOfDaySetBackDuringTheWaitForRoomDoesNotStretchTheDeadline) {
  start();
  const int tiny = 1;
  ASSERT_EQ(::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);
  const std::int64_t before = clock_ms();
  platform::vclock::at_next_poll([this] {
    platform::vclock::advance_ms(-3600000);
    char buf[65536];
    EXPECT_GT(::recv(sv[1], buf, sizeof buf, MSG_DONTWAIT), 0);
  });
  EXPECT_EQ(message(60000), -1);
  EXPECT_EQ(clock_ms() - before + 3600000, 1000);
  EXPECT_EQ(owner.downs, std::vector<std::string>{"write timeout"});
}

std::atomic<bool> alarm_seen{false};
void on_alarm(int) { alarm_seen = true; }

// Real time: a signal has to land while the layer waits for room.
TEST_F(StrmProtocolTest, SignalDuringTheWaitForRoomNeitherEndsNorRestartsTheDeadline) {
  platform::vclock::disable();
  struct sigaction sa = {}, old_sa;
  sa.sa_handler = on_alarm;
  sa.sa_flags = SA_RESTART;
  ::sigemptyset(&sa.sa_mask);
  ASSERT_EQ(::sigaction(SIGALRM, &sa, &old_sa), 0);
  const int tiny = 1;
  ASSERT_EQ(::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);
  itimerval it = {};

  // The peer reads again after the signal: the message goes out whole.
  start();
  alarm_seen = false;
  std::size_t got = 0;
  std::thread peer([&] {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
    while (!alarm_seen) ::usleep(5000);
    char buf[65536];
    while (got < 60000) {
      const ssize_t n = ::recv(sv[1], buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  });
  it.it_value.tv_usec = 200000;
  ::setitimer(ITIMER_REAL, &it, nullptr);
  EXPECT_EQ(message(60000), 60000);
  peer.join();
  EXPECT_TRUE(alarm_seen);
  EXPECT_EQ(got, 60000u);
  EXPECT_TRUE(owner.downs.empty());

  // The peer never reads: the deadline still counts from the first write.
  char drain[65536];
  while (::recv(sv[1], drain, sizeof drain, MSG_DONTWAIT) > 0) {
  }
  alarm_seen = false;
  it.it_value.tv_usec = 600000;
  const auto t0 = std::chrono::steady_clock::now();
  ::setitimer(ITIMER_REAL, &it, nullptr);
  EXPECT_EQ(message(60000), -1);
  const auto spent =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_TRUE(alarm_seen);
  EXPECT_EQ(owner.downs, std::vector<std::string>{"write timeout"});
  EXPECT_GE(spent, 990);
  EXPECT_LT(spent, 1400) << "restarted at the signal";
  ::sigaction(SIGALRM, &old_sa, nullptr);
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
