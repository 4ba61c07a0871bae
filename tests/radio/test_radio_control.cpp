// The header-extension device model and the radio control base on the
// simulated board and the virtual clock: session set-up by control type,
// the logged device failures, the push-to-talk source filter and the
// status timer.
#include "platform/device.h"
#include "platform/rtp.h"
#include "platform/rtp_ext.h"
#include "radio/control/radio_control.h"
#include "radio/ed137/ed137_radio_control.h"
#include "radio/zarn/zarn_radio_control.h"
#include "tests/media/rtp_fixture.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/radio_sim.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/pass_share.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <regex>

using namespace radio_test;
using RTPSignalling::RadioControl;
using testsupport::StreamCapture;

namespace {

class RadioControlTest : public testsupport::VirtualClockTest {};

bool readable(int fd) {
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

// The device itself, as the controls use it: set-up, attach, payloads from
// the network by source with the filter, and writes sent to the peer.
TEST_F(RadioControlTest, DeviceModelQueuesFiltersAndSends) {
  rtptest::UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  RtpSession s = begin_session(peer.port(), 0xCAFEF00D);
  ASSERT_GE(s.tdm, 0);
  const int fd = platform::dev_open("/dev/rtp_ext", O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  rtp_ext_init_params init = ed137_init();
  // Attaching before the set-up, to another process's session or to a
  // descriptor that is no RTP session fails; nothing is recorded.
  rtp_ext_attach_session_params at = {s.fd.lowlevel_fd(), -1};
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_ATTACH_SESSION, &at), -1);
  ASSERT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_INIT_SESSION, &init), 0);
  const int pipe_fds[2] = {-1, -1};
  ASSERT_EQ(::pipe(const_cast<int*>(pipe_fds)), 0);
  for (rtp_ext_attach_session_params bad : {rtp_ext_attach_session_params{s.fd.lowlevel_fd(), ::getpid() + 1},
                                            rtp_ext_attach_session_params{pipe_fds[0], -1},
                                            rtp_ext_attach_session_params{fd, -1}}) {
    errno = 0;
    EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_ATTACH_SESSION, &bad), -1);
    EXPECT_EQ(errno, EBADF);
  }
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  // A duplicate names the same session; our own pid is as good as -1.
  Fd dup = s.fd;
  at = {dup.lowlevel_fd(), ::getpid()};
  ASSERT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_ATTACH_SESSION, &at), 0);
  const std::string K = std::to_string(s.line);
  EXPECT_EQ(body(last_instance()), "open,etype=0x0167,init=1.123.10.1,rtp=" + K + ",pid=" +
                                       std::to_string(::getpid()) + ",filter=-,dropped=0,ops=init/attach:" + K);

  // Nothing queued: not readable, a read fails with EAGAIN, no source.
  rtp_ext_source_info src = {1, 1, 1};
  EXPECT_FALSE(readable(fd));
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_GET_SOURCE, &src), 0);
  std::uint8_t buf[64];
  errno = 0;
  EXPECT_EQ(platform::dev_read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);

  const std::string T = std::to_string(s.tdm);
  EXPECT_EQ(words("rtpext inject " + T + " 10.0.0.7 4660 21500000"), std::vector<std::string>{});
  EXPECT_EQ(words("rtpext inject " + T + " 10.0.0.8 99 2150"), std::vector<std::string>{});
  EXPECT_EQ(words("rtpext inject " + T + " 10.0.0.7 4661 0000"), std::vector<std::string>{});
  EXPECT_EQ(words("rtpext inject 9 10.0.0.7 4661 0000"), (std::vector<std::string>{"error no rtp_ext instance on channel 9"}));
  EXPECT_TRUE(readable(fd));
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_GET_SOURCE, &src), 3);
  EXPECT_EQ(src.ssrc, 4660u);
  EXPECT_EQ(src.addr, ip("10.0.0.7").s_addr);
  EXPECT_EQ(src.unused, 0u);
  // The filter drops the queued payload of the other address and later ones.
  rtp_ext_filter f = {ip("10.0.0.7").s_addr, 0};
  ASSERT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_SET_FILTER, &f), 0);
  EXPECT_EQ(words("rtpext inject " + T + " 10.0.0.9 1 1234"), std::vector<std::string>{});
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_GET_SOURCE, &src), 2);
  ASSERT_EQ(platform::dev_read(fd, buf, sizeof buf), 4);
  EXPECT_EQ(hex(buf, 4), "21 50 00 00");
  EXPECT_TRUE(readable(fd));
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_GET_SOURCE, &src), 1);
  EXPECT_EQ(src.ssrc, 4661u);
  ASSERT_EQ(platform::dev_read(fd, buf, sizeof buf), 2);
  EXPECT_FALSE(readable(fd));
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_RESET_FILTER, nullptr), 0);
  EXPECT_EQ(body(last_instance()), "open,etype=0x0167,init=1.123.10.1,rtp=" + K + ",pid=" +
                                       std::to_string(::getpid()) +
                                       ",filter=-,dropped=2,ops=init/attach:" + K + "/filter:10.0.0.7/reset");

  // A write goes to the session's peer as RTP with the extension, padded.
  // (Writes an earlier case left on this channel number are dropped first.)
  words("rtpext sent " + T);
  EXPECT_EQ(platform::dev_write(fd, hex("31 51 11 FA 11").data(), 5), 5);
  EXPECT_EQ(peer.receive(2000), "90 08 00 01 00 00 00 A0 CA FE F0 0D 01 67 00 02 31 51 11 FA 11 00 00 00");
  const auto sent = words("rtpext sent " + T);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].substr(sent[0].find(' ')), " 315111FA11");
  EXPECT_EQ(words("rtpext sent " + T), std::vector<std::string>{});

  // Injected failures take one step each.
  EXPECT_EQ(words("rtpext fail write EIO"), std::vector<std::string>{});
  errno = 0;
  EXPECT_EQ(platform::dev_write(fd, hex("01 02 03 04").data(), 4), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(platform::dev_write(fd, hex("01 02 03 04").data(), 4), 4);
  EXPECT_EQ(words("rtpext fail attach 7"), std::vector<std::string>{});
  EXPECT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_ATTACH_SESSION, &at), -1);
  EXPECT_EQ(errno, 7);
  EXPECT_EQ(words("rtpext fail bogus EIO").size(), 1u);

  ASSERT_EQ(platform::dev_ioctl(fd, rtp_ext::RTP_EXT_DETACH_SESSION, nullptr), 0);
  EXPECT_EQ(words("rtpext inject " + T + " 10.0.0.7 1 00"), (std::vector<std::string>{"error no rtp_ext instance on channel " + T}));
  platform::dev_close(fd);
  EXPECT_EQ(body(last_instance()).substr(0, 7), "closed,");
  EXPECT_NE(last_instance().find(",rtp=-,"), std::string::npos);
}

// Each control type sets up its own way; every failed step is one error
// line behind the prefix and leaves no session.
TEST_F(RadioControlTest, SessionSetUpByType) {
  RtpSession s = begin_session(5004);
  ASSERT_GE(s.tdm, 0);
  const std::string K = std::to_string(s.line);
  StreamCapture cap;
  {
    RadioControl c(7, rtp_ext_attach_session_params{s.fd.lowlevel_fd(), -1}, ed137_init());
    EXPECT_TRUE(c.HasSession());
    EXPECT_EQ(c.GetType(), RadioControl::own_session);
    EXPECT_EQ(body(last_instance()),
              "open,etype=0x0167,init=1.123.10.1,rtp=" + K + ",pid=-1,filter=-,dropped=0,ops=init/attach:" + K);
    EXPECT_TRUE(c.RtpExtStop());
    EXPECT_FALSE(c.HasSession());
    EXPECT_EQ(body(last_instance()), "closed,etype=0x0167,init=1.123.10.1,rtp=-,pid=-1,filter=-,dropped=0,"
                                     "ops=init/attach:" + K + "/detach");
    // Started again on the same record: a new instance.
    EXPECT_TRUE(c.RtpExtStart(false));
    EXPECT_EQ(body(last_instance()).substr(0, 5), "open,");
  }
  EXPECT_EQ(body(last_instance()).substr(0, 7), "closed,");
  EXPECT_EQ(cap.err().size(), 0u) << cap.all();

  const struct {
    const char* fail;  // "rtpext fail ..." before the control is made
    int fd;            // the RTP descriptor named by the attach record
    const char* line;
  } failures[] = {{"open ENODEV", s.fd.lowlevel_fd(), "create rtp_ext session fail !!!"},
                  {"init EIO", s.fd.lowlevel_fd(), "init rtp_ext session fail !!!"},
                  {nullptr, 999, "attach rtp_ext session fail !!!"}};
  for (const auto& f : failures) {
    cap.clear();
    if (f.fail) words(std::string("rtpext fail ") + f.fail);
    const std::size_t before = instance_count();
    RadioControl c(12, rtp_ext_attach_session_params{f.fd, -1}, ed137_init());
    EXPECT_FALSE(c.HasSession()) << f.line;
    ASSERT_EQ(cap.err().size(), 1u) << cap.all();
    const std::string& t = cap.err()[0].text;
    EXPECT_TRUE(std::regex_match(t, std::regex(R"(rtp_ext\[12\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}:.*)"))) << t;
    EXPECT_EQ(t.substr(t.rfind(':') + 1), f.line) << t;
    // No instance is left open by a failed set-up.
    platform::sim::rtp_ext().refresh();
    for (std::size_t i = before; i < platform::sim::rtp_ext().instances.size(); ++i)
      EXPECT_FALSE(platform::sim::rtp_ext().instances[i].open);
  }

  // Type 2: set up without attach, only when started as initial.
  cap.clear();
  {
    RadioControl c(ed137_init(0, 0));
    EXPECT_TRUE(c.HasSession());
    EXPECT_EQ(body(last_instance()), "open,etype=0x0167,init=1.123.0.0,rtp=-,pid=0,filter=-,dropped=0,ops=init");
    const std::size_t n = instance_count();
    EXPECT_TRUE(c.RtpExtStart(false));
    EXPECT_TRUE(c.RtpExtStop());
    EXPECT_EQ(instance_count(), n);
    EXPECT_TRUE(c.HasSession());
    EXPECT_TRUE(std::regex_match(c.GetPrefix(), std::regex(R"(rtp_ext \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}:)")))
        << c.GetPrefix();
  }
  // Type 1: attached through the RTP device; no header-extension instance.
  {
    const std::size_t n = instance_count();
    RadioControl c(3, s.fd, rtp_attach_session_params{7, 1200});
    EXPECT_EQ(rtp_ops(s.tdm), "begin/add:-1/attach:7.1200");
    EXPECT_TRUE(c.RtpExtStop());
    EXPECT_EQ(instance_count(), n);
    EXPECT_FALSE(c.HasSession());
    // After a restart of the owner's session the attach goes through the
    // new one, and the control no longer holds the old one open.
    RtpSession next = begin_session(5004);
    c.SetRtpSession(next.fd.lowlevel_fd());
    EXPECT_TRUE(c.RtpExtStart(false));
    EXPECT_EQ(rtp_ops(next.tdm), "begin/add:-1/attach:7.1200");
    const int old_line = s.line;
    s.fd.close();
    platform::sim::rtp().refresh();
    EXPECT_FALSE(platform::sim::rtp().sessions[static_cast<std::size_t>(old_line - 1)].open);
  }
  EXPECT_EQ(cap.err().size(), 0u) << cap.all();
}

// Started short of descriptors, a control holds a watched session or says
// it failed and holds none: each count of free descriptors meets another
// step, among them the copies of the session's descriptor. In a child (its
// own limit).
TEST_F(RadioControlTest, StartShortOfDescriptorsHoldsASessionOrFails) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    RtpSession s = begin_session(5004);
    RadioControl c(7, rtp_ext_attach_session_params{s.fd.lowlevel_fd(), -1}, ed137_init());
    if (!c.HasSession() || !c.RtpExtStop()) return failed.push_back("no session to start from");
    StreamCapture cap;
    testsupport::with_free_descriptors(6, "start", failed, [&](testsupport::DescriptorFill& fill, const std::string& at) {
      const bool started = c.RtpExtStart(false);
      fill.release();
      const bool open = body(last_instance()).substr(0, 5) == "open,";
      if (started != c.HasSession() || started != open)
        failed.push_back(std::string("start says ") + (started ? "started" : "failed") + ", the control " +
                         (c.HasSession() ? "holds" : "holds no") + " session, the device's is " +
                         (open ? "open" : "closed") + at);
      return started;
    });
    if (StreamCapture::matching(cap.err(), "hold rtp_ext session fail !!!").empty())
      failed.push_back("the session the control could not copy is not logged: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

TEST_F(RadioControlTest, PushToTalkFilter) {
  RtpSession s = begin_session(5004);
  RadioControl c(7, rtp_ext_attach_session_params{s.fd.lowlevel_fd(), -1}, ed137_init());
  const std::string K = std::to_string(s.line);
  const auto ops = [] {
    const std::string l = last_instance();
    return l.substr(l.find(",ops=") + 5);
  };
  const struct {
    bool ptt;
    const char* addr;
    const char* ops;
  } steps[] = {
      {false, "10.0.0.7", ""},                                  // no filter to reset
      {true, "0.0.0.0", ""},                                    // no holder named
      {true, "10.0.0.7", "/filter:10.0.0.7"},                   //
      {true, "10.0.0.7", "/filter:10.0.0.7"},                   // same holder: nothing
      {true, "10.0.0.8", "/filter:10.0.0.7/filter:10.0.0.8"},   // another one
      {false, "10.0.0.8", "/filter:10.0.0.7/filter:10.0.0.8/reset"},
      {false, "10.0.0.8", "/filter:10.0.0.7/filter:10.0.0.8/reset"},
  };
  for (const auto& st : steps) {
    EXPECT_EQ(c.UpdateAccess(st.ptt, ip(st.addr)), 0);
    EXPECT_EQ(ops(), "init/attach:" + K + st.ops) << st.ptt << " " << st.addr;
  }
  // A refused filter is logged; the control still counts it as set.
  StreamCapture cap;
  words("rtpext fail filter EIO");
  c.UpdateAccess(true, ip("10.0.0.9"));
  c.UpdateAccess(true, ip("10.0.0.9"));
  EXPECT_EQ(StreamCapture::count(cap.err(), ":set filer rtp_ext session fail !!!"), 1) << cap.all();
  words("rtpext fail reset EIO");
  c.UpdateAccess(false, ip("10.0.0.9"));
  c.UpdateAccess(false, ip("10.0.0.9"));
  EXPECT_EQ(StreamCapture::count(cap.err(), ":reset filer rtp_ext session fail !!!"), 1) << cap.all();
  // The session opened on the owner's new RTP session after a codec restart
  // keeps filtering for the holder.
  c.UpdateAccess(true, ip("10.0.0.5"));
  RtpSession next = begin_session(5006);
  c.RtpExtStop();
  c.SetRtpSession(next.fd.lowlevel_fd());
  EXPECT_TRUE(c.RtpExtStart(false));
  EXPECT_EQ(ops(), "init/attach:" + std::to_string(next.line) + "/filter:10.0.0.5");
  c.RtpExtStop();
}

// A control whose periodic hook asks for scripted delays.
class TickingControl : public RadioControl {
 public:
  explicit TickingControl(std::vector<unsigned long> delays) : RadioControl(ed137_init()), delays(std::move(delays)) {}
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override {
    ticks.push_back(now);
    EXPECT_EQ(interval, GetTimerInterval());
    // A test that would otherwise spin for ever in one firing round ends.
    if (cap && ticks.size() >= cap) {
      ADD_FAILURE() << ticks.size() << " ticks, the last at " << now;
      SetTimerInterval(100000);
      return 100000;
    }
    if (ticks.size() > delays.size()) return interval;
    return delays[ticks.size() - 1];
  }
  std::vector<unsigned long> delays;
  std::vector<unsigned long> ticks;
  std::size_t cap = 0;
};

TEST_F(RadioControlTest, StatusTimerFollowsTheHook) {
  TickingControl c({310, 50});
  const unsigned long t0 = now_ms();
  c.SetTimerInterval(700);
  run_for(600);
  EXPECT_TRUE(c.ticks.empty());  // not armed until enabled
  c.SetTimerEnable(true);
  run_for(700 + 310 + 50 + 700 + 100);
  std::vector<unsigned long> rel;
  for (unsigned long t : c.ticks) rel.push_back(t - t0);
  EXPECT_EQ(rel, (std::vector<unsigned long>{1300, 1610, 1660, 2360}));
  c.SetTimerEnable(false);
  run_for(3000);
  EXPECT_EQ(c.ticks.size(), 4u);
  // Re-enabling replaces nothing pending and starts a full interval.
  c.SetTimerEnable(true);
  c.SetTimerEnable(true);
  run_for(750);
  EXPECT_EQ(c.ticks.size(), 5u);
}

TEST_F(RadioControlTest, AZeroPeriodTicksOncePerMillisecondNotInOneRound) {
  // A zero interval (an ED-137 keep-alive period of 0 from the controller)
  // or a hook that asks for 0: the next tick still waits for the clock.
  for (bool from_hook : {false, true}) {
    TickingControl c(from_hook ? std::vector<unsigned long>(100, 0) : std::vector<unsigned long>{});
    c.cap = 200;
    c.SetTimerInterval(from_hook ? 5 : 0);
    c.SetTimerEnable(true);
    run_for(40);
    c.SetTimerEnable(false);
    ASSERT_GE(c.ticks.size(), 2u) << from_hook;
    EXPECT_LE(c.ticks.size(), 41u) << from_hook;
    for (std::size_t i = 1; i < c.ticks.size(); ++i) EXPECT_EQ(c.ticks[i] - c.ticks[i - 1], 1u) << from_hook << " " << i;
  }
}

// A device that queues a payload with every one read is read a share per
// pass by either kind of control; what waits is read on the passes after,
// and the controller hears of the payloads while the flood lasts.
TEST_F(RadioControlTest, AFloodingDeviceIsReadAShareAPass) {
  struct Reports : RTPSignalling::IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const&) override { ++count; }
    int count = 0;
  };
  rtp_ext_init_params zarn = {};
  zarn.etype = 0x1337;
  const rtp_ext_init_params ed137 = ed137_init();
  const struct {
    const char* kind;
    std::function<RadioControl*(int tdm, int fd)> make;
    std::vector<std::uint8_t> payload;
  } cases[] = {
      {"ed137", [&](int, int fd) { return new RTPSignalling::ED137RadioGWControl(7, {fd, -1}, ed137); },
       {0x21, 0x50, 0x00, 0x00}},
      {"zarn", [&](int tdm, int fd) { return new RTPSignalling::ZarnRadioGWControl(tdm, {fd, -1}, zarn); },
       {0x82, 0x34, 0x00, 0x00, 0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x99}},
  };
  auto& ext = platform::sim::rtp_ext();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    RtpSession s = begin_session(5004);
    ASSERT_GE(s.tdm, 0);
    std::unique_ptr<RadioControl> control(c.make(s.tdm, s.fd.lowlevel_fd()));
    Reports reports;
    control->Bind(&reports);
    int midway = -1;
    unsigned refills = 0;
    const auto refill = [&] {
      if (++refills == 500) midway = reports.count;
      ext.inject(s.tdm, 0x0A000007, 4660, c.payload);
    };
    testsupport::FloodedDevice flood(ext, refill);
    refill();
    run_for(10);
    EXPECT_EQ(flood.reads, 1000u);
    EXPECT_LE(flood.share.most, Event::max_reads_per_event);
    EXPECT_GT(midway, 0);
    control->RtpExtStop();
    control->UnBind();
  }
}

}  // namespace
