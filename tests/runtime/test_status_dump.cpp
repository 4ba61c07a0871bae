#include "runtime/multiplexer_dump.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "runtime/profile.h"
#include "tests/support/vclock_loop.h"

namespace {

TEST(PollEventAsText, NamesTheKnownBitsInOrder) {
  EXPECT_EQ("POLLIN|POLLOUT", PollEventAsText(POLLIN | POLLOUT));
  EXPECT_EQ("", PollEventAsText(0));
  EXPECT_EQ("", PollEventAsText(short(0x800 | 0x1000 | 0x8000)));
  EXPECT_EQ("POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|"
            "POLLWRBAND|POLLMSG",
            PollEventAsText(short(0xFFFF)));
  EXPECT_EQ("POLLMSG", PollEventAsText(short(0x400 | 0x2000)));
}

struct Reader {
  void OnData(int fd, short revents) {
    char buf[16];
    if (revents & POLLIN) {
      ASSERT_GT(::read(fd, buf, sizeof buf), 0);
    }
  }
};

// A loop participant that the dump must leave out.
struct Unnamed : EventHandler {
  explicit Unnamed(int fd) : fd(fd) {}
  ~Unnamed() override { mux_detach(); }
  void shedule_event(pollfd& e) override {
    e.fd = fd;
    e.events = 0;
  }
  void svc_event(short) override {}
  int fd;
};

std::string cell(const std::string& text, int left, int right) {
  return "|" + std::string(left, ' ') + text + std::string(right, ' ');
}

std::string fd_cell(int fd) {
  const std::string t = std::to_string(fd);
  return cell(t, int(5 - t.size()) / 2, int(5 - t.size() + 1) / 2);
}

const std::string delimiter = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" +
                              std::string(10, '-') + "+" + std::string(10, '-') + "+" +
                              std::string(5, '-') + "+" + std::string(60, '-') + "+\n";
const std::string no_time = cell("min=0 max=0 avg=0 counter=0", 16, 17) + "|\n";

class StatusDump : public testsupport::VirtualClockTest {};

TEST_F(StatusDump, WritesLoopTimingsProfilesAndThePolledEvents) {
  int sv[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
  Fd a(sv[0]), b(sv[1]);
  ASSERT_EQ(1, ::write(sv[1], "x", 1));

  Reader r;
  Event reader, idle, long_name, unarmed, late;
  reader.Bind("Reader::OnData", &Reader::OnData, &r);
  reader.Schedule(a, POLLIN);
  Unnamed unnamed(sv[1]);
  unnamed.mux_attach();
  idle.Bind("Idle::OnEvent", &Reader::OnData, &r);
  idle.Schedule(b, 0);
  long_name.Bind(std::string(45, 'n'), &Reader::OnData, &r);
  long_name.Schedule(b, 0);
  unarmed.Bind("Unarmed::OnEvent", &Reader::OnData, &r);
  run_for(10);

  // Changes after the last rebuild: a new mask shows at once, a handler
  // removed shows as unattached, an Event armed since is not polled yet.
  reader.SetEvents(POLLIN | POLLOUT);
  idle.UnBind();
  late.Bind("Late::OnEvent", &Reader::OnData, &r);
  late.Schedule(a, POLLIN);

  multiplexer.dpc_measure = Measure();
  multiplexer.timer_measure = Measure();
  multiplexer.event_measure = Measure();
  multiplexer.event_measure.begin();
  platform::vclock::advance_us(250);
  multiplexer.event_measure.end();
  multiplexer.event_measure.begin();
  platform::vclock::advance_us(100);
  multiplexer.event_measure.end();
  Profile::Point point("Tpkt_protocol::message");
  point.begin();
  platform::vclock::advance_us(5);
  point.end();

  std::ostringstream os;
  multiplexer.dump(os);

  const std::string expected =
      "dpc transition measurement (min/max/cur/counter): min=0 max=0 avg=0 counter=0\n"
      "event transition measurement (min/max/cur/counter): min=100 max=250 avg=100 counter=2\n"
      "timer transition measurement (min/max/cur/counter): min=0 max=0 avg=0 counter=0\n"
      "[Tpkt_protocol::message]: min=5 max=5 avg=5 counter=1\n" +
      delimiter + cell("name", 18, 18) + cell("events", 12, 12) + cell("count", 2, 3) +
      cell("handler", 1, 2) + cell("fd", 1, 2) + cell("measure", 26, 27) + "|\n" + delimiter +
      cell("Reader::OnData", 13, 13) + cell("POLLIN|POLLOUT", 8, 8) + cell("1", 4, 5) +
      cell("attached", 1, 1) + fd_cell(reader.lowlevel_fd()) + no_time +
      cell("Idle::OnEvent", 13, 14) + cell("", 15, 15) + cell("0", 4, 5) + cell("unattached", 0, 0) +
      fd_cell(idle.lowlevel_fd()) + no_time +
      cell(std::string(45, 'n'), 0, 0) + cell("", 15, 15) + cell("0", 4, 5) + cell("attached", 1, 1) +
      fd_cell(long_name.lowlevel_fd()) + no_time + delimiter + "\n";
  EXPECT_EQ(expected, os.str());

  unnamed.mux_detach();
}

}  // namespace
