// The HDLC channel engine against the simulated controller, on the virtual
// clock: allocation per channel type, frame transfer both ways, transmit
// readiness after EAGAIN, read failures and the counters.
#include "platform/sim/hal.h"
#include "platform/sim/mcc.h"
#include "slots/hdlc.h"
#include "slots/hw_mux.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/pass_share.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

using platform::sim::Mcc;
using testsupport::StreamCapture;

std::string hex(const unsigned char* p, std::size_t n) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::string hex(const Mcc::Frame& f) { return hex(f.data(), f.size()); }

Packet frame_of(std::initializer_list<unsigned char> bytes) {
  Packet p;
  p.reserve_tail(64);
  for (unsigned char b : bytes) p.put8(b);
  return p;
}

// Records what the channel tells its owner; `on_receive` may act on the
// channel from inside the callback.
struct Owner : HDLC::Notify {
  std::vector<std::string> frames;
  int errors = 0;
  int readies = 0;
  std::function<void()> on_receive;

  void on_hdlc_receive(Packet& f) override {
    frames.push_back(f.text());
    if (on_receive) on_receive();
  }
  void on_hdlc_error(Cause::Type c) override {
    EXPECT_EQ(c, Cause::read_failure);
    ++errors;
  }
  void on_hdlc_ready() override { ++readies; }
};

class HdlcEngine : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    mcc().clear();
    hdlc.bind(&owner);
  }
  void TearDown() override {
    hdlc.deactivate();
    mcc().clear();
    VirtualClockTest::TearDown();
  }

  static Mcc& mcc() { return platform::sim::mcc(); }

  // Opens a type-1 channel on line channel 5 and lets the loop report it
  // writable; returns its switch channel.
  int open_ready(std::int32_t type = 1) {
    HDLC::Params p;
    p.tdm = 5;
    p.type = type;
    hdlc.params(p);
    EXPECT_TRUE(hdlc.activate());
    run_for(10);
    auto a = mcc().allocations();
    EXPECT_EQ(a.size(), 1u);
    return a.empty() ? -1 : a.back().timeslot;
  }

  Owner owner;
  HDLC hdlc;
};

TEST_F(HdlcEngine, AllocationWordsFollowTheChannelType) {
  struct Case {
    std::int32_t type;
    bool opens;
    std::uint32_t mode;
  } cases[] = {{0, true, 3}, {1, true, 0}, {2, true, 1}, {3, false, 0}, {-1, false, 0}};
  for (const Case& c : cases) {
    StreamCapture cap;
    HDLC::Params p;
    p.tdm = 7;
    p.tdm2 = 9;
    p.type = c.type;
    hdlc.params(p);
    EXPECT_EQ(hdlc.activate(), c.opens) << "type " << c.type;
    EXPECT_EQ(hdlc.is_open(), c.opens);
    auto a = mcc().allocations();
    if (!c.opens) {
      EXPECT_TRUE(a.empty()) << "type " << c.type << " allocated a channel";
      continue;
    }
    ASSERT_EQ(a.size(), 1u) << "an activation replaces the earlier channel";
    const mcc_allocate_params& w = a[0].params;
    EXPECT_EQ(w.mode, c.mode) << "type " << c.type;
    EXPECT_EQ(w.packet_size, 512u);
    EXPECT_EQ(w.reserved, 0u);
    EXPECT_EQ(w.rx_threshold, 1u);
    EXPECT_EQ(w.tx_threshold, 4u);
  }
}

TEST_F(HdlcEngine, ClosedChannelTakesNothing) {
  Packet empty;
  Packet f = frame_of({1, 2});
  EXPECT_TRUE(hdlc.hdlc_transmit(empty));
  EXPECT_EQ(hdlc.statistics().discarded, 0u) << "an empty frame counts nothing";
  EXPECT_FALSE(hdlc.hdlc_transmit(f));
  EXPECT_FALSE(hdlc.hdlc_transmit(f));
  EXPECT_EQ(hdlc.statistics().discarded, 2u);
  EXPECT_EQ(hdlc.statistics().sent, 0u);
  EXPECT_FALSE(hdlc.is_ready());
}

TEST_F(HdlcEngine, FramesBothWaysAndCounters) {
  int ts = open_ready();
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(owner.readies, 1);

  Packet a = frame_of({0x00, 0x03, 0x00, 0x7E});
  Packet b = frame_of({0xFF});
  Packet keep = a;  // a frame still shared with its sender goes out unchanged
  EXPECT_TRUE(hdlc.hdlc_transmit(a));
  EXPECT_TRUE(hdlc.hdlc_transmit(b));
  auto w = mcc().take_written(ts);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(hex(w[0]), "00 03 00 7E");
  EXPECT_EQ(hex(w[1]), "FF");
  EXPECT_EQ(keep.text(), "00 03 00 7E");

  // Every frame waiting in the driver is delivered in one pass, in order.
  const unsigned char f1[] = {1}, f2[] = {2, 2}, f3[] = {3, 3, 3};
  ASSERT_TRUE(mcc().inject(ts, f1, 1));
  ASSERT_TRUE(mcc().inject(ts, f2, 2));
  ASSERT_TRUE(mcc().inject(ts, f3, 3));
  run_for(10);
  EXPECT_EQ(owner.frames, (std::vector<std::string>{"01", "02 02", "03 03 03"}));
  const HDLC::LinkCounters& c = hdlc.statistics();
  EXPECT_EQ(c.sent, 2u);
  EXPECT_EQ(c.received, 3u);
  EXPECT_EQ(c.discarded + c.send_errors + c.overflow, 0u);
  EXPECT_EQ(owner.readies, 1) << "readiness is told once per writable report after not-ready";
}

// A line that brings a new frame with every frame read (a peer sending at
// full rate) is read a share per pass; the loop polls the rest between.
TEST_F(HdlcEngine, AFloodingLineIsReadAShareAPass) {
  const int ts = open_ready();
  testsupport::PassShare share;
  const unsigned char f[] = {0x7E};
  owner.on_receive = [&] {
    share.delivered();
    if (owner.frames.size() < 5000) mcc().inject(ts, f, 1);
  };
  ASSERT_TRUE(mcc().inject(ts, f, 1));
  run_for(10);
  EXPECT_GT(owner.frames.size(), Event::max_reads_per_event);
  EXPECT_EQ(share.most, Event::max_reads_per_event) << "a full share, not one frame a pass";
}

TEST_F(HdlcEngine, EagainWaitsForTheNextWritableReport) {
  int ts = open_ready();
  ASSERT_TRUE(mcc().eagain(ts, 1));
  Packet f = frame_of({0xAA});
  EXPECT_FALSE(hdlc.hdlc_transmit(f));
  EXPECT_FALSE(hdlc.is_ready());
  const HDLC::LinkCounters& c = hdlc.statistics();
  EXPECT_EQ(c.sent + c.discarded + c.send_errors, 0u) << "EAGAIN counts nothing";
  EXPECT_TRUE(mcc().take_written(ts).empty());

  run_for(10);
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(owner.readies, 2);
  EXPECT_TRUE(hdlc.hdlc_transmit(f));
  run_for(10);
  EXPECT_EQ(owner.readies, 2) << "POLLOUT is dropped once ready";
  auto w = mcc().take_written(ts);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(hex(w[0]), "AA");
  EXPECT_EQ(c.sent, 1u);
}

TEST_F(HdlcEngine, EmptyReadClosesTheChannelWithOneError) {
  int ts = open_ready();
  StreamCapture cap;
  const unsigned char f[] = {9};
  ASSERT_TRUE(mcc().inject(ts, f, 1));
  ASSERT_TRUE(mcc().inject(ts, nullptr, 0));
  ASSERT_TRUE(mcc().inject(ts, f, 1));
  // An interrupted read earlier in the pass leaves errno as it was: the
  // end of file still ends the channel.
  mcc().fail(Mcc::Step::read, EINTR, 1);
  run_for(10);
  EXPECT_EQ(owner.frames, std::vector<std::string>{"09"});
  EXPECT_EQ(owner.errors, 1);
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_FALSE(hdlc.is_ready());
  // An end of file is no system error: the text is that of errno 0.
  EXPECT_EQ(StreamCapture::count(cap.err(), std::string("hdlc [0/0]: read error: ") + std::strerror(0)), 1)
      << cap.all();
  EXPECT_TRUE(mcc().allocations().empty()) << "the controller channel is freed";
  Packet g = frame_of({1});
  EXPECT_FALSE(hdlc.hdlc_transmit(g));
  EXPECT_EQ(hdlc.statistics().discarded, 1u);
}

// A failed read closes the channel with one error and a failed write is
// counted; interrupted ones are done again.
TEST_F(HdlcEngine, FailedAndInterruptedReadsAndWrites) {
  for (int err : {EIO, EINTR}) {
    SCOPED_TRACE(err);
    const bool again = err == EINTR;
    owner = Owner();
    const int ts = open_ready();
    Packet g = frame_of({2});
    mcc().fail(Mcc::Step::write, err, 1);
    EXPECT_EQ(hdlc.hdlc_transmit(g), again);
    EXPECT_EQ(hdlc.statistics().sent, again ? 1u : 0u);
    EXPECT_EQ(hdlc.statistics().send_errors, again ? 0u : 1u);
    EXPECT_TRUE(hdlc.is_ready()) << "a failure waits for no writable report";
    const unsigned char f[] = {9};
    ASSERT_TRUE(mcc().inject(ts, f, 1));
    mcc().fail(Mcc::Step::read, err, 1);
    run_for(10);
    EXPECT_EQ(owner.frames.size(), again ? 1u : 0u);
    EXPECT_EQ(owner.errors, again ? 0 : 1);
    EXPECT_EQ(hdlc.is_open(), again);
    hdlc.deactivate();
  }
}

TEST_F(HdlcEngine, OwnerMayCloseOrDestroyFromTheCallback) {
  int ts = open_ready();
  owner.on_receive = [this] { hdlc.deactivate(); };
  const unsigned char f[] = {1};
  mcc().inject(ts, f, 1);
  mcc().inject(ts, f, 1);
  run_for(10);
  EXPECT_EQ(owner.frames.size(), 1u);
  EXPECT_EQ(owner.errors, 0);
  EXPECT_FALSE(hdlc.is_open());

  // A channel deleted by its owner inside the callback is not touched again
  // (the address sanitizer watches).
  Owner other;
  auto* doomed = new HDLC;
  doomed->bind(&other);
  HDLC::Params p;
  p.tdm = 3;
  p.type = 1;
  doomed->params(p);
  ASSERT_TRUE(doomed->activate());
  other.on_receive = [&doomed] {
    delete doomed;
    doomed = nullptr;
  };
  int ts2 = mcc().allocations().back().timeslot;
  mcc().inject(ts2, f, 1);
  mcc().inject(ts2, f, 1);
  run_for(10);
  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(other.frames.size(), 1u);
}

// A writable report belongs to the channel it was polled for: an owner that
// opens a new channel from the receive callback hears of its readiness from
// the new channel's own report, in a later pass.
TEST_F(HdlcEngine, ReopenedChannelWaitsForItsOwnWritableReport) {
  const int ts = open_ready();
  ASSERT_TRUE(mcc().eagain(ts, 1));
  Packet f = frame_of({0xAA});
  EXPECT_FALSE(hdlc.hdlc_transmit(f));
  ASSERT_FALSE(hdlc.is_ready());
  const int readies = owner.readies;
  int reopened = 0;
  owner.on_receive = [&] {
    if (reopened++) return;
    EXPECT_TRUE(hdlc.activate());
    // The pass ends with this handler: what follows in it is all it does.
    terminate_loop();
  };
  const unsigned char g[] = {1};
  ASSERT_TRUE(mcc().inject(ts, g, 1));
  run_for(10);
  ASSERT_EQ(reopened, 1);
  EXPECT_FALSE(hdlc.is_ready()) << "the closed channel's report made the new one ready";
  EXPECT_EQ(owner.readies, readies);
  run_for(10);
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(owner.readies, readies + 1);
}

TEST_F(HdlcEngine, ChannelIsWiredToTheLine) {
  auto& hal = platform::sim::hal();
  auto fed_from = [&hal](int output) {
    auto it = hal.outputs.find(output);
    return it != hal.outputs.end() && it->second.state == platform::sim::Hal::Output::connected ? it->second.value
                                                                                                : -1;
  };
  // Type 1: the controller channel drives the line and listens to it.
  int ts = open_ready(1);
  EXPECT_EQ(fed_from(5), ts);
  EXPECT_EQ(fed_from(ts), 5);
  // Type 2: it drives tdm2 and still listens to tdm.
  HDLC::Params p = hdlc.params();
  p.tdm = 20;
  p.tdm2 = 21;
  p.type = 2;
  hdlc.params(p);
  ASSERT_TRUE(hdlc.activate());
  int ts2 = mcc().allocations().back().timeslot;
  EXPECT_EQ(fed_from(21), ts2);
  EXPECT_EQ(fed_from(ts2), 20);
  EXPECT_EQ(fed_from(20), -1) << "tdm is not driven with type 2";
  EXPECT_EQ(fed_from(5), -1) << "the line the freed channel drove goes quiet with it";
  EXPECT_EQ(hal.describe(5), "byte 213");
  // Channel 0 is a line like any other.
  p.tdm = 0;
  p.type = 1;
  hdlc.params(p);
  ASSERT_TRUE(hdlc.activate());
  const int ts3 = mcc().allocations().back().timeslot;
  EXPECT_EQ(fed_from(0), ts3);
  EXPECT_EQ(fed_from(ts3), 0);
}

TEST_F(HdlcEngine, EmptyPoolDropsAndCountsTheFrame) {
  int ts = open_ready();
  std::vector<Packet> held;
  auto empty_pool = [&held] {
    for (;;) {
      try {
        Packet p;
        p.reserve_tail(1);
        held.push_back(p);
      } catch (const std::bad_alloc&) {
        break;
      }
    }
  };
  empty_pool();
  const unsigned char f[] = {7, 7};
  StreamCapture cap;
  mcc().inject(ts, f, 1);
  run_for(10);
  EXPECT_EQ(hdlc.pool_drops(), 1u);
  EXPECT_TRUE(owner.frames.empty());
  EXPECT_TRUE(hdlc.is_open()) << "the link survives an empty pool";
  held.clear();
  mcc().inject(ts, f, 2);
  run_for(10);
  EXPECT_EQ(owner.frames, std::vector<std::string>{"07 07"});
  // An end of file is no frame to drop: the channel closes, as with a pool.
  empty_pool();
  mcc().inject(ts, nullptr, 0);
  run_for(10);
  held.clear();
  EXPECT_EQ(hdlc.pool_drops(), 1u);
  EXPECT_EQ(owner.errors, 1);
  EXPECT_FALSE(hdlc.is_open());
}

TEST_F(HdlcEngine, SecondActivationStartsAfresh) {
  int ts = open_ready();
  Packet f = frame_of({1});
  hdlc.hdlc_transmit(f);
  ASSERT_EQ(hdlc.statistics().sent, 1u);
  EXPECT_TRUE(hdlc.activate());
  EXPECT_EQ(hdlc.statistics().sent, 0u);
  EXPECT_FALSE(hdlc.is_ready());
  auto a = mcc().allocations();
  ASSERT_EQ(a.size(), 1u);
  EXPECT_NE(a[0].timeslot, ts) << "a fresh controller channel";
}

TEST_F(HdlcEngine, FailedStepsLeaveTheChannelClosed) {
  struct Case {
    Mcc::Step step;
    const char* line;
  } cases[] = {{Mcc::Step::open, "hdlc [4/2]: fail to open MCC device: "},
               {Mcc::Step::allocate, "hdlc [4/2]: MCC_ALLOCATE fail: "},
               {Mcc::Step::timeslot, "hdlc [4/2]: MCC_TIMESLOT fail: "}};
  hdlc.trunk(4);
  for (const Case& c : cases) {
    StreamCapture cap;
    HDLC::Params p;
    p.timeslot = 2;
    p.tdm = 5;
    p.type = 1;
    hdlc.params(p);
    mcc().fail(c.step, EIO, 1);
    EXPECT_FALSE(hdlc.activate());
    EXPECT_FALSE(hdlc.is_open());
    EXPECT_EQ(StreamCapture::count(cap.err(), c.line), 1) << cap.all();
    EXPECT_TRUE(mcc().allocations().empty()) << "the descriptor is closed";
    EXPECT_EQ(mcc().channels().size(), 0u);
    EXPECT_TRUE(hdlc.activate()) << "a counted failure passes";
    hdlc.deactivate();
  }
}

// Short of descriptors, an activation holds a channel the loop polls or
// fails and holds none: each count of free descriptors meets another step,
// one of them the event's copy of the channel. In a child (its own limit).
TEST_F(HdlcEngine, ActivationShortOfDescriptorsHoldsAPolledChannelOrFails) {
  const std::string failed = testsupport::in_child([&](std::vector<std::string>& failed) {
    open_ready();  // every type used is checked once (see descriptor_exhaustion.h)
    hdlc.deactivate();
    StreamCapture cap;
    testsupport::with_free_descriptors(6, "activation", failed, [&](testsupport::DescriptorFill& fill, const std::string& at) {
      const bool opened = hdlc.activate();
      const bool open = hdlc.is_open();
      const std::size_t held = mcc().allocations().size();
      hdlc.deactivate();
      fill.release();
      if (opened != open) failed.push_back("activation says " + std::to_string(opened) + ", is_open " + std::to_string(open) + at);
      if (held != (opened ? 1u : 0u)) failed.push_back(std::to_string(held) + " channels held" + at);
      return opened;
    });
    if (StreamCapture::count(cap.err(), "fail to hold MCC channel: Too many open files") != 1)
      failed.push_back("the channel the event could not copy is not logged once: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace

namespace {

// A wiring the switch refuses at either step frees the controller channel
// and leaves no line output fed from it; the next activation wires afresh.
TEST_F(HdlcEngine, RefusedWiringLeavesNoLineFedFromTheFreedChannel) {
  auto& hal = platform::sim::hal();
  auto fed = [&hal] {
    std::vector<int> outputs;
    for (const auto& o : hal.outputs)
      if (o.second.state == platform::sim::Hal::Output::connected) outputs.push_back(o.first);
    return outputs;
  };
  // type, tdm, tdm2, connects refused first (else a line the switch lacks)
  const int cases[][4] = {{1, 5, -1, 1}, {1, 0, -1, 1}, {2, 20, 21, 1}, {2, 10240, 21, 0}, {1, 10240, -1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[1]);
    hal.clear();
    HDLC::Params p;
    p.type = c[0];
    p.tdm = c[1];
    p.tdm2 = c[2];
    hdlc.params(p);
    if (c[3]) hal.fail(platform::sim::Hal::Kind::connect, EIO, c[3]);
    StreamCapture cap;
    EXPECT_FALSE(hdlc.activate());
    EXPECT_EQ(StreamCapture::count(cap.err(), "switch connect fail for controller channel"), 1) << cap.all();
    EXPECT_EQ(mcc().channels().size(), 0u);
    EXPECT_EQ(fed(), std::vector<int>{}) << "nothing is fed from a freed channel";
    if (c[1] > platform::sim::Hal::max_channel) continue;
    EXPECT_TRUE(hdlc.activate());
    EXPECT_EQ(fed().size(), 2u);
    hdlc.deactivate();
  }
  hal.clear();
}

// However the controller channel is freed (closed, opened afresh, or after
// a read failure), it hears the line no more and the line no longer hears
// it: the driver hands it out again. A line given another source meanwhile
// keeps that source.
TEST_F(HdlcEngine, AFreedChannelHearsTheLineNoMore) {
  auto& hal = platform::sim::hal();
  auto hears = [&hal](int ts) {
    auto it = hal.outputs.find(ts);
    return it != hal.outputs.end() && it->second.state == platform::sim::Hal::Output::connected;
  };
  const std::function<void()> frees[] = {[this] { hdlc.deactivate(); }, [this] { EXPECT_TRUE(hdlc.activate()); },
                                         [this] {
                                           ASSERT_TRUE(mcc().inject(mcc().allocations().back().timeslot, nullptr, 0));
                                           run_for(10);
                                           EXPECT_EQ(owner.errors, 1);
                                         }};
  for (bool rewired : {false, true}) {
    for (const auto& free_it : frees) {
      SCOPED_TRACE(rewired ? "line rewired" : "line as wired");
      hal.clear();
      owner.errors = 0;
      const int ts = open_ready(1);
      ASSERT_TRUE(hears(ts));
      ASSERT_EQ(hal.describe(5), "connected " + std::to_string(ts));
      if (rewired) { ASSERT_TRUE(HwMux::instance().Connect(77, 5)); }
      free_it();
      EXPECT_FALSE(hears(ts));
      if (hdlc.is_open()) {
        // Opened afresh: the new channel drives the line.
        EXPECT_EQ(hal.describe(5), "connected " + std::to_string(mcc().allocations().back().timeslot));
      } else {
        EXPECT_EQ(hal.describe(5), rewired ? "connected 77" : "byte 213");
      }
      hdlc.deactivate();
      mcc().clear();
    }
  }
  hal.clear();
}

}  // namespace

namespace {

// What the owner asks of the switch while the channel stays open: the line
// it transmits on fed from it again, the line it listens to and the line it
// drives quietened, each only while the wiring is still the channel's own.
// Channel 0, as a line or as the controller's channel, is a channel.
TEST_F(HdlcEngine, TheOwnerDrivesAndQuietensTheLines) {
  auto& hal = platform::sim::hal();
  HwMux& mux = HwMux::instance();
  // type, tdm, tdm2, controller channel the driver hands out (-1: its own)
  const int cases[][4] = {{1, 5, -1, 0}, {1, 0, -1, -1}, {2, 0, 21, -1}, {2, 20, 0, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c[0] << " tdm " << c[1] << " tdm2 " << c[2]);
    hal.clear();
    mcc().next_timeslot = c[3];
    HDLC::Params p;
    p.type = c[0];
    p.tdm = c[1];
    p.tdm2 = c[2];
    hdlc.params(p);
    ASSERT_TRUE(hdlc.activate());
    const int ts = mcc().allocations().back().timeslot;
    if (c[3] >= 0) ASSERT_EQ(ts, c[3]);
    const int out = c[0] == 2 ? c[2] : c[1];
    const std::string carries = "connected " + std::to_string(ts);
    ASSERT_EQ(hal.describe(out), carries);
    ASSERT_EQ(hal.describe(ts), "connected " + std::to_string(c[1]));

    // Already driven: nothing is asked of the switch.
    hal.record = true;
    hal.requests.clear();
    EXPECT_TRUE(hdlc.drive_line());
    EXPECT_TRUE(hal.requests.empty());
    // Taken over by the idle byte: driven again; refused: said so.
    ASSERT_TRUE(mux.Disconnect(out));
    hal.fail(platform::sim::Hal::Kind::connect, EIO, 1);
    EXPECT_FALSE(hdlc.drive_line());
    EXPECT_EQ(hal.describe(out), "byte 213");
    EXPECT_TRUE(hdlc.drive_line());
    EXPECT_EQ(hal.describe(out), carries);

    // The line it listens to: another source since is kept; else the idle
    // byte goes in; a refusal is said.
    ASSERT_TRUE(mux.Connect(78, ts));
    EXPECT_TRUE(hdlc.quiet_input());
    EXPECT_EQ(hal.describe(ts), "connected 78");
    ASSERT_TRUE(mux.Connect(c[1], ts));
    hal.fail(platform::sim::Hal::Kind::write, EIO, 1);
    EXPECT_FALSE(hdlc.quiet_input());
    ASSERT_TRUE(mux.Connect(c[1], ts));
    EXPECT_TRUE(hdlc.quiet_input());
    EXPECT_EQ(hal.describe(ts), "byte 213");

    // The line it drives, the same way.
    ASSERT_TRUE(mux.Connect(77, out));
    EXPECT_TRUE(hdlc.quiet_output());
    EXPECT_EQ(hal.describe(out), "connected 77");
    ASSERT_TRUE(hdlc.drive_line());
    hal.fail(platform::sim::Hal::Kind::write, EIO, 1);
    EXPECT_FALSE(hdlc.quiet_output());
    ASSERT_TRUE(hdlc.drive_line());
    EXPECT_TRUE(hdlc.quiet_output());
    EXPECT_EQ(hal.describe(out), "byte 213");

    // Closing frees the channel: the line it drove goes quiet, the channel
    // is switched off.
    ASSERT_TRUE(hdlc.drive_line());
    EXPECT_TRUE(hdlc.deactivate());
    EXPECT_EQ(hal.describe(out), "byte 213");
    EXPECT_EQ(hal.describe(ts), "disabled");
    // Closed, there is nothing to drive or quieten.
    hal.requests.clear();
    EXPECT_TRUE(hdlc.drive_line());
    EXPECT_TRUE(hdlc.quiet_input());
    EXPECT_TRUE(hdlc.quiet_output());
    EXPECT_TRUE(hal.requests.empty());
    hal.record = false;
  }
  // A channel with no line yet listens to nothing it could quieten.
  hal.clear();
  HDLC::Params p;
  p.type = 1;
  hdlc.params(p);
  ASSERT_TRUE(hdlc.activate());
  hal.record = true;
  EXPECT_TRUE(hdlc.drive_line());
  EXPECT_TRUE(hdlc.quiet_input());
  EXPECT_TRUE(hdlc.quiet_output());
  EXPECT_TRUE(hal.requests.empty());
  hal.record = false;
  hal.clear();
}

}  // namespace
