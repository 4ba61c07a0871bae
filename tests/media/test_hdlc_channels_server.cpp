// HDLC package slots and raw data channels of the running server, driven by
// a controller and watched through the simulated HDLC controller and
// cross-connect. One server serves every case of the suite (it sleeps a
// second whenever its controller leaves). These tests wait in real time,
// each wait bounded and ended as soon as the awaited thing has happened.
#include "tests/support/lgcp_text.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include "schema/lgcp/LGCP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using testsupport::RunningServer;

namespace {

const int patience = testsupport::patience_ms;

// Message images built from the schema classes.
std::string command(int seq, int slot, const std::function<void(LGCP::Command&)>& fill) {
  return testsupport::command_image(seq, slot, fill);
}

std::string success(int seq, int slot) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_slot(static_cast<unsigned>(slot));
  m.set_pdu().select_response().select_success();
  return testsupport::per(m);
}

std::string error(int seq, int slot, LGCP::ErrorCause::NamedNumber cause) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_slot(static_cast<unsigned>(slot));
  m.set_pdu().select_response().select_error(cause);
  return testsupport::per(m);
}

std::string link_info(int slot, int sent, int discarded, int errors, int received) {
  LGCP::Message m;
  m.set_slot(static_cast<unsigned>(slot));
  LGCP::HdlcLinkInfo& l = m.set_pdu().select_signal().select_ioctl().select_hdlcLinkInfo();
  l.set_txSU(sent);
  l.set_txDiscard(discarded);
  l.set_txError(errors);
  l.set_txOverflow(0);
  l.set_rxSU(received);
  return testsupport::per(m);
}

std::string packages(int seq, int slot, const std::vector<std::string>& bodies) {
  return command(seq, slot, [&](LGCP::Command& c) {
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (const std::string& b : bodies) {
      LGCP::HdlcPackage p;
      p.set_body(testsupport::bytes(b));
      list.push_back(p);
    }
  });
}

std::string create_mcc(int seq, int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::MccParams& p = c.select_create().select_mcc();
    p.set_type(type);
    p.set_mode(mode);
  });
}

std::string simple(int seq, int slot, const char* what) {
  return command(seq, slot, [&](LGCP::Command& c) {
    const std::string w = what;
    if (w == "destroy")
      c.select_destroy();
    else if (w == "activate")
      c.select_activate().select_empty();
    else if (w == "deactivate")
      c.select_deactivate();
    else if (w == "disconnect")
      c.select_disconnect();
  });
}

std::string user_data(int seq, int slot, const std::string& hex) {
  return command(seq, slot, [&](LGCP::Command& c) { c.select_userData(testsupport::bytes(hex)); });
}

class HdlcChannelsServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Reports of an earlier run of the suite (a repeated run) are not this
    // server's.
    reports.clear();
    pending.clear();
    srv = new RunningServer;
  }
  static void TearDownTestSuite() {
    delete srv;
    srv = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(srv->ready()) << srv->log(); }

  // The next frame from the server that is not a periodic link report;
  // reports are kept in `reports`.
  static std::string next() {
    for (;;) {
      std::string f = srv->ctl.next(patience);
      if (is_report(f)) {
        reports.push_back({testsupport::real_ms(), f});
        pending.push_back(reports.back());
        continue;
      }
      return f;
    }
  }
  // "40 SS SS 8C 60 ...": a signal of a slot, ioctl hdlcLinkInfo.
  static bool is_report(const std::string& f) {
    return f.size() >= 14 && f.compare(0, 2, "40") == 0 && f.compare(9, 5, "8C 60") == 0;
  }

  // Sends a command and returns the frames up to and including its answer
  // (signals that come before it included).
  static std::vector<std::string> exchange(const std::string& image) {
    srv->ctl.send(image);
    std::vector<std::string> got;
    for (;;) {
      std::string f = next();
      got.push_back(f);
      // Responses, unlike signals, carry a sequence number (first bit).
      if (f.empty() || f[0] >= '8') return got;
    }
  }

  static std::string ask(const std::string& line) { return srv->sim.ask(line); }
  // Injects the frames into the channel back to back, the answers read
  // after the last: the server gathers the parts of a continued answer
  // for 100 ms, and a round trip to it for each part can take longer than
  // that on a loaded machine. The refusals, "" when every frame went in.
  static std::string inject(const std::string& ts, const std::vector<std::string>& frames) {
    for (const std::string& f : frames) srv->sim.post("mcc inject " + ts + " " + f);
    std::string refused;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const testsupport::SimAnswer a = srv->sim.read_answer();
      if (!a.ok()) refused += (a.status.empty() ? "no answer" : a.status) + "\n";
    }
    return refused;
  }

  // Frames the channel wrote, collected until n came (or time is up).
  static std::vector<std::string> written(int ts, std::size_t n) {
    std::vector<std::string> got;
    testsupport::eventually([&] {
      std::istringstream in(ask("mcc read " + std::to_string(ts)));
      for (std::string l; std::getline(in, l);)
        if (!l.empty()) got.push_back(l);
      return got.size() >= n;
    });
    return got;
  }

  // The next link report (one that came while waiting for other frames
  // first); other frames are unexpected here.
  static std::string next_report() {
    if (!pending.empty()) {
      std::string f = pending.front().image;
      pending.erase(pending.begin());
      return f;
    }
    for (;;) {
      std::string f = srv->ctl.next(patience);
      if (f.empty()) return f;
      if (is_report(f)) {
        reports.push_back({testsupport::real_ms(), f});
        return f;
      }
      ADD_FAILURE() << "unexpected frame " << f;
    }
  }
  // Reports until one equals `expected`: every one that came while the test
  // waited for other frames (a slow run gathers several from before the
  // last change), then at most three more (those sent before the last
  // change may still be on their way).
  static std::string report_like(const std::string& expected) {
    std::string f;
    while (!pending.empty() && f != expected) f = next_report();
    for (int i = 0; i < 3 && f != expected; ++i) f = next_report();
    return f;
  }

  // Switch channels of the allocated controller channels, oldest first.
  static std::vector<std::string> channels() {
    std::string all = ask("mcc channels");
    std::vector<std::string> out;
    std::istringstream in(all);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) out.push_back(l);
    return out;
  }
  static int timeslot_of(const std::string& line) { return std::stoi(line.substr(0, line.find(':'))); }

  struct Report {
    std::int64_t ms;
    std::string image;
  };
  static RunningServer* srv;
  static std::vector<Report> reports;  // every report, with its arrival
  static std::vector<Report> pending;  // reports next_report has not given
};

RunningServer* HdlcChannelsServer::srv = nullptr;
std::vector<HdlcChannelsServer::Report> HdlcChannelsServer::reports;
std::vector<HdlcChannelsServer::Report> HdlcChannelsServer::pending;

TEST_F(HdlcChannelsServer, PackageSlotTradesNumberedPackages) {
  // create hdlcParams {trunk 1, log 0, address 3}
  EXPECT_EQ(exchange("C0 01 01 00 28 08 78 01 01 01 00 01 03").back(), success(1, 40));
  // Three packages (7E 01 02, empty, AA) while the channel is closed: queued,
  // and the command is answered unsupported all the same.
  EXPECT_EQ(exchange("C0 01 02 00 28 12 50 03 03 7E 01 02 00 01 AA").back(), error(2, 40, LGCP::ErrorCause::unsupported));
  EXPECT_EQ(ask("mcc channels"), "");
  // Any other request is not this slot's: unsupported, and nothing is sent.
  EXPECT_EQ(exchange(command(60, 40, [](LGCP::Command& c) { c.select_ioctl().select_echoSuppressor(true); })).back(),
            error(60, 40, LGCP::ErrorCause::unsupported));
  // Link reports come open or not.
  EXPECT_EQ(next_report(), "40 00 28 8C 60 01 00 01 00 01 00 01 00 01 00");

  // A failed allocation: success, plus the slot reported deactivated.
  EXPECT_EQ(ask("mcc fail allocate EIO 1"), "");
  auto r = exchange(simple(3, 40, "activate"));
  EXPECT_EQ(r.back(), success(3, 40));
  EXPECT_EQ(r.front(), "40 00 28 86 00");
  EXPECT_EQ(ask("mcc channels"), "");
  EXPECT_TRUE(srv->wait_log("MCC_ALLOCATE fail: ")) << srv->log();

  // Connected to a trunk time slot (trunk 1, time slot 5: channel 37), the
  // slot opens a channel and wires it both ways; the queued packages go out
  // in order with consecutive sequence numbers.
  EXPECT_EQ(exchange(testsupport::trunk_image(4, 1, 1, 5)).back(), success(4, 1));
  // A switch that refuses the wiring: the channel is given back and the
  // slot reported deactivated; an activation then wires it.
  EXPECT_EQ(ask("hal fail connect 5 1"), "");
  r = exchange(command(5, 40, [](LGCP::Command& c) { c.select_connect(1); }));
  EXPECT_NE(std::find(r.begin(), r.end(), "40 00 28 86 00"), r.end());
  EXPECT_EQ(r.back(), success(5, 40));
  EXPECT_EQ(ask("mcc channels"), "");
  EXPECT_TRUE(srv->wait_log("switch connect fail for controller channel ")) << srv->log();
  EXPECT_EQ(exchange(simple(50, 40, "activate")).back(), success(50, 40));
  auto ch = channels();
  ASSERT_EQ(ch.size(), 1u);
  const int ts = timeslot_of(ch[0]);
  EXPECT_EQ(ch[0], std::to_string(ts) + ":0,512,0,1,4");
  EXPECT_EQ(ask("hal get 37"), "connected " + std::to_string(ts));
  EXPECT_EQ(ask("hal get " + std::to_string(ts)), "connected 37");
  EXPECT_EQ(written(ts, 3), (std::vector<std::string>{"0003007E0102", "000320", "000340AA"}));

  // An answer of the device becomes a signal, and its sequence number is
  // acknowledged in the next package.
  const std::string ts_s = std::to_string(ts);
  EXPECT_EQ(ask("mcc inject " + ts_s + " 0003400102"), "");
  EXPECT_EQ(next(), "40 00 28 8C 80 01 02 01 02");
  EXPECT_EQ(exchange(packages(6, 40, {"55"})).back(), error(6, 40, LGCP::ErrorCause::unsupported));
  EXPECT_EQ(written(ts, 1), std::vector<std::string>{"00036255"});

  // A continued answer (bit 7 of the body's second byte) waits for the
  // rest; alone it goes out after 100 ms.
  EXPECT_EQ(inject(ts_s, {"0003200180", "0003400300"}), "");
  EXPECT_EQ(next(), "40 00 28 8C 80 02 02 01 80 02 03 00");
  // A body too short to carry the mark ends the answer too.
  EXPECT_EQ(inject(ts_s, {"0003200180", "00034001"}), "");
  EXPECT_EQ(next(), "40 00 28 8C 80 02 02 01 80 01 01");
  const std::int64_t t0 = testsupport::real_ms();
  EXPECT_EQ(ask("mcc inject " + ts_s + " 0003600580"), "");
  EXPECT_EQ(next(), "40 00 28 8C 80 01 02 05 80");
  EXPECT_GE(testsupport::real_ms() - t0, 90);
  // The address alone, or with the number: empty packages, and the number
  // is acknowledged.
  for (const char* frame : {" 0003", " 000360"}) {
    EXPECT_EQ(ask("mcc inject " + ts_s + frame), "");
    EXPECT_EQ(next(), "40 00 28 8C 80 01 00") << frame;
  }
  // A frame for another address is dropped and leaves the numbers alone.
  EXPECT_EQ(ask("mcc inject " + ts_s + " 0004E00100"), "");
  // ...and, though it ends an answer, sends nothing: the next signal is
  // the next answer's.
  EXPECT_EQ(ask("mcc inject " + ts_s + " 0003600102"), "");
  EXPECT_EQ(next(), "40 00 28 8C 80 01 02 01 02");
  EXPECT_EQ(exchange(packages(7, 40, {"66"})).back(), error(7, 40, LGCP::ErrorCause::unsupported));
  EXPECT_EQ(written(ts, 1), std::vector<std::string>{"00038366"});
  // The ninth frame's sequence wraps to 0.
  exchange(packages(8, 40, {"01", "02", "03", "04"}));
  EXPECT_EQ(written(ts, 4), (std::vector<std::string>{"0003A301", "0003C302", "0003E303", "00030304"}));

  // A write that meets EAGAIN: nothing lost, doubled or reordered.
  EXPECT_EQ(ask("mcc eagain " + ts_s + " 1"), "");
  exchange(packages(9, 40, {"AA", "BB"}));
  EXPECT_EQ(written(ts, 2), (std::vector<std::string>{"000323AA", "000343BB"}));
  EXPECT_EQ(ask("mcc read " + ts_s), "") << "nothing sent twice";
  // 11 frames written, 10 read (the one for address 4 too).
  const std::string counted = link_info(40, 11, 0, 0, 10);
  EXPECT_EQ(report_like(counted), counted);

  // deactivate reports at once; disconnecting the line closes the channel,
  // and the reports go on, every 3000 ms.
  pending.clear();
  const std::size_t before = reports.size();
  r = exchange(simple(10, 40, "deactivate"));
  EXPECT_EQ(r.back(), success(10, 40));
  ASSERT_GT(reports.size(), before) << "no report with the answer";
  EXPECT_EQ(reports.back().image, counted);
  pending.clear();
  EXPECT_EQ(exchange(command(11, 1, [](LGCP::Command& c) { c.select_disconnect(); })).back(), success(11, 1));
  EXPECT_EQ(ask("mcc channels"), "");
  pending.clear();
  EXPECT_EQ(next_report(), counted);
  const std::int64_t t1 = reports.back().ms;
  EXPECT_EQ(next_report(), counted);
  EXPECT_GE(reports.back().ms - t1, 2400);  // late under load, never early
  EXPECT_LE(reports.back().ms - t1, 4500);

  // activate alone opens a channel of the kind the slot uses.
  EXPECT_EQ(exchange(simple(12, 40, "activate")).back(), success(12, 40));
  ch = channels();
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(ch[0].substr(ch[0].find(':')), ":0,512,0,1,4");
  EXPECT_EQ(ask("hal get 37"), "byte 213") << "the line the disconnect took is not wired again";
  // Continued answers too big for one message go out in more than one.
  // The 100 ms gather timer may also end a message early on a slow
  // machine, so only the bounds are exact: every package comes, in order,
  // and no message holds more than the controller decodes.
  std::vector<std::size_t> sizes;
  std::vector<std::string> bodies;
  auto collect = [&](std::size_t count) {
    sizes.clear();
    bodies.clear();
    while (bodies.size() < count) {
      LGCP::Message m;
      if (!testsupport::decode(next(), m)) return false;
      if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().ioctl_isSelected()) return false;
      const auto& got = m.get_pdu().get_signal().get_ioctl().get_hdlcPackages();
      sizes.push_back(got.size());
      for (const auto& p : got) bodies.push_back(testsupport::hex(p.get_body()));
    }
    return bodies.size() == count;
  };
  // 8000-byte bodies marked continued: address 3, control 0, AA 80 BB...
  // Four fit in one message (32768 octets), five do not.
  const std::string big = "000300AA80" + std::string(2 * 7998, 'B');
  const std::string open_ts = std::to_string(timeslot_of(ch[0]));
  EXPECT_EQ(inject(open_ts, std::vector<std::string>(5, big)), "");
  ASSERT_TRUE(collect(5));
  EXPECT_GE(sizes.size(), 2u);
  EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 4u);
  // Many short continued parts: no message holds more packages than the
  // controller decodes (128), and none is lost.
  std::vector<std::string> parts(200, "000300AA80");
  parts.push_back("000300AA00");
  EXPECT_EQ(inject(open_ts, parts), "");
  ASSERT_TRUE(collect(parts.size()));
  EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 128u);
  EXPECT_EQ(bodies.back(), "AA 00");
  // A body longer than the control link writes (16383 octets) is dropped
  // alone: gathered, it took the answer's other packages down with it. A
  // body at the bound still goes.
  const std::string at_bound = "000300AA80" + std::string(2 * 16381, 'C');
  const std::string too_long = "000300AA80" + std::string(2 * 16382, 'D');
  EXPECT_EQ(inject(open_ts, {at_bound, too_long, "000300EE00"}), "");
  ASSERT_TRUE(collect(2));
  EXPECT_EQ(bodies[0].size(), 16383u * 3 - 1);
  EXPECT_EQ(bodies[1], "EE 00");
  EXPECT_TRUE(srv->wait_log("package of 16384 octets is too long for the controller, dropped")) << srv->log();
  // Nor is the line that fed the slot, once that connection is undone.
  EXPECT_EQ(exchange(command(61, 1, [](LGCP::Command& c) { c.select_connect(40); })).back(), success(61, 1));
  ch = channels();
  ASSERT_EQ(ch.size(), 1u);
  const std::string fed = ch[0].substr(0, ch[0].find(':'));
  EXPECT_EQ(ask("hal get 37"), "connected " + fed) << "the slot's channel drives the line it listens to";
  EXPECT_EQ(exchange(command(62, 40, [](LGCP::Command& c) { c.select_disconnect(); })).back(), success(62, 40));
  // Nor does the line stay fed from the freed channel: the driver hands
  // its number to the next channel, whose frames would go out on it.
  EXPECT_EQ(ask("hal get 37"), "byte 213") << "the line stayed fed from the freed channel";
  EXPECT_EQ(ask("mcc next " + fed), "");
  EXPECT_EQ(exchange(simple(63, 40, "activate")).back(), success(63, 40));
  ch = channels();
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(ch[0].substr(0, ch[0].find(':')), fed);
  EXPECT_NE(ask("hal get " + ch[0].substr(0, ch[0].find(':'))), "connected 37");
  EXPECT_EQ(ask("hal get 37"), "byte 213");
  // A switch that will not quieten the line at a disconnect, in either
  // direction: the line may still carry the freed channel, so the
  // controller hears disconnectFail, as for any other slot.
  EXPECT_EQ(exchange(command(64, 40, [](LGCP::Command& c) { c.select_connect(1); })).back(), success(64, 40));
  EXPECT_NE(ask("hal get 37"), "byte 213");
  EXPECT_EQ(ask("hal fail write 5 1"), "");
  EXPECT_EQ(exchange(simple(65, 1, "disconnect")).back(), error(65, 1, LGCP::ErrorCause::disconnectFail));
  EXPECT_TRUE(srv->wait_log("hwMux: disconnect failed 37")) << srv->log();
  EXPECT_EQ(exchange(command(66, 1, [](LGCP::Command& c) { c.select_connect(40); })).back(), success(66, 1));
  EXPECT_EQ(ask("hal fail write 5 1"), "");
  EXPECT_EQ(exchange(simple(67, 40, "disconnect")).back(), error(67, 40, LGCP::ErrorCause::disconnectFail));
  EXPECT_EQ(exchange(simple(13, 40, "destroy")).back(), success(13, 40));
  EXPECT_EQ(ask("mcc channels"), "") << "destroy frees the channel";
  EXPECT_EQ(exchange(simple(14, 1, "destroy")).back(), success(14, 1));

  // The lowest trunk number the controller can send is taken without
  // overflow.
  EXPECT_EQ(exchange(command(15, 40, [](LGCP::Command& c) {
              LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
              h.set_trunk(INT_MIN);
              h.set_log(0);
              h.set_address(3);
            })).back(),
            success(15, 40));
  EXPECT_EQ(exchange(simple(16, 40, "destroy")).back(), success(16, 40));
}

TEST_F(HdlcChannelsServer, RawDataChannelsCarryUserData) {
  using T = LGCP::MccType;
  using M = LGCP::MccMode;
  EXPECT_EQ(exchange(create_mcc(1, 41, T::data, M::standard)).back(), success(1, 41));
  EXPECT_EQ(exchange(create_mcc(2, 42, T::bri, M::standard)).back(), success(2, 42));
  EXPECT_EQ(exchange(create_mcc(3, 43, T::transparent, M::standard)).back(), success(3, 43));
  EXPECT_EQ(exchange(create_mcc(4, 44, T::bri, M::ss7)).back(), success(4, 44));
  auto ch = channels();
  ASSERT_EQ(ch.size(), 4u);
  const char* modes[] = {":0,512,0,1,1", ":1,512,0,1,1", ":2,512,0,1,1", ":3,512,0,1,1"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ch[i].substr(ch[i].find(':')), modes[i]);
  const int ts41 = timeslot_of(ch[0]), ts42 = timeslot_of(ch[1]);
  const std::string t41 = std::to_string(ts41), t42 = std::to_string(ts42);
  EXPECT_EQ(exchange(simple(5, 43, "destroy")).back(), success(5, 43));
  EXPECT_EQ(exchange(simple(6, 44, "destroy")).back(), success(6, 44));
  EXPECT_EQ(channels().size(), 2u);

  // userData is one frame; each frame received is one signal, in order; an
  // empty read does not hold the channel.
  EXPECT_EQ(exchange(user_data(7, 41, "01 02 03")).back(), success(7, 41));
  EXPECT_EQ(written(ts41, 1), std::vector<std::string>{"010203"});
  EXPECT_EQ(ask("mcc inject " + t41 + " 0A0B"), "");
  EXPECT_EQ(ask("mcc inject " + t41 + " -"), "");
  EXPECT_EQ(ask("mcc inject " + t41 + " 0C"), "");
  EXPECT_EQ(next(), "40 00 29 88 02 0A 0B");
  EXPECT_EQ(next(), "40 00 29 88 01 0C");
  // A write that would block loses that frame alone and says so; the next
  // goes out once.
  EXPECT_EQ(ask("mcc eagain " + t41 + " 1"), "");
  EXPECT_EQ(exchange(user_data(70, 41, "04")).back(), error(70, 41, LGCP::ErrorCause::unsupported));
  EXPECT_EQ(exchange(user_data(71, 41, "05")).back(), success(71, 41));
  EXPECT_EQ(written(ts41, 1), std::vector<std::string>{"05"});
  EXPECT_TRUE(srv->wait_log(": write fail: ")) << srv->log();
  // Empty user data: the driver takes the write of nothing, and that is no
  // failure.
  EXPECT_EQ(exchange(user_data(72, 41, "")).back(), success(72, 41));

  // Cross-wired channels pass user data to each other.
  EXPECT_EQ(ask("mcc wire " + t41 + " " + t42), "");
  auto r = exchange(user_data(8, 41, "77"));
  EXPECT_EQ(r.back(), success(8, 41));
  if (r.size() == 1) r.push_back(next());
  EXPECT_EQ(r.front() == "40 00 2A 88 01 77" || r.back() == "40 00 2A 88 01 77", true);

  // The switch channel is connected like any other slot's.
  r = exchange(command(10, 41, [](LGCP::Command& c) { c.select_connect(42); }));
  EXPECT_EQ(r.back(), success(10, 41));
  EXPECT_EQ(ask("hal get " + t42), "connected " + t41);

  // A channel without a switch channel, or that cannot be opened or
  // allocated, gives no slot and keeps nothing.
  struct Case {
    const char* fail;
    const char* line;
  } cases[] = {{"mcc fail timeslot EIO 1", "mcc: MCC_TIMESLOT fail: "},
               {"mcc fail open ENOENT 1", "mcc: fail to open MCC device: "},
               {"mcc fail allocate EBUSY 1", "mcc: MCC_ALLOCATE fail: "}};
  int seq = 11;
  for (const Case& c : cases) {
    EXPECT_EQ(ask(c.fail), "");
    EXPECT_EQ(exchange(create_mcc(seq, 45, T::data, M::standard)).back(),
              error(seq, 45, LGCP::ErrorCause::insufficientResources));
    ++seq;
    EXPECT_TRUE(srv->wait_log(c.line)) << srv->log();
    EXPECT_EQ(channels().size(), 2u);
  }

  // The channel counts of the controller, 0 when it cannot tell.
  auto query = [&](int s) {
    LGCP::Message m;
    m.set_seq(s);
    m.set_pdu().select_command().select_query();
    srv->ctl.send(testsupport::per(m));
    LGCP::Message ok;
    ok.set_seq(s);
    ok.set_pdu().select_response().select_success();
    EXPECT_EQ(next(), testsupport::per(ok));
    LGCP::Message signal;
    EXPECT_TRUE(testsupport::decode(next(), signal));
    std::vector<int> counts;
    if (signal.get_pdu().signal_isSelected() && signal.get_pdu().get_signal().query_isSelected()) {
      const LGCP::Resources& res = signal.get_pdu().get_signal().get_query();
      counts = {res.get_mcc_data().getValue(), res.get_mcc_bri().getValue(), res.get_mcc_trans().getValue()};
    }
    return counts;
  };
  EXPECT_EQ(ask("mcc resources 4 2 1"), "");
  EXPECT_EQ(query(20), (std::vector<int>{4, 2, 1}));
  EXPECT_EQ(ask("mcc fail resources EIO 1"), "");
  EXPECT_EQ(query(21), (std::vector<int>{0, 0, 0}));

  // A channel the driver drops does not hold the server: it goes on
  // answering, and user data for that slot is refused.
  EXPECT_EQ(exchange(create_mcc(18, 46, T::data, M::standard)).back(), success(18, 46));
  ch = channels();
  ASSERT_EQ(ch.size(), 3u);
  const std::string t46 = std::to_string(timeslot_of(ch[2]));
  EXPECT_EQ(exchange(command(50, 41, [](LGCP::Command& c) { c.select_connect(46); })).back(), success(50, 41));
  EXPECT_EQ(ask("hal get " + t46), "connected " + t41);
  EXPECT_EQ(ask("mcc hangup " + t46), "");
  EXPECT_TRUE(srv->wait_log("46:MCC: channel hung up")) << srv->log();
  EXPECT_EQ(ask("hal get " + t46), "byte 213") << "the line into the dropped channel stayed fed";
  EXPECT_EQ(exchange(user_data(19, 46, "01")).back(), error(19, 46, LGCP::ErrorCause::unsupported));
  // Its switch channel is the driver's again. Handed to a new channel, it
  // is the new slot's line: the old slot neither rewires nor cuts it.
  EXPECT_EQ(ask("mcc next " + t46), "");
  EXPECT_EQ(exchange(create_mcc(51, 48, T::data, M::standard)).back(), success(51, 48));
  EXPECT_EQ(timeslot_of(channels().back()), timeslot_of(ch[2]));
  EXPECT_EQ(exchange(command(52, 42, [](LGCP::Command& c) { c.select_connect(48); })).back(), success(52, 42));
  EXPECT_EQ(ask("hal get " + t46), "connected " + t42);
  EXPECT_EQ(exchange(command(53, 42, [](LGCP::Command& c) { c.select_connect(46); })).back(),
            error(53, 42, LGCP::ErrorCause::connectFail));
  EXPECT_EQ(exchange(simple(19, 46, "destroy")).back(), success(19, 46));
  EXPECT_EQ(ask("hal get " + t46), "connected " + t42);
  EXPECT_EQ(exchange(simple(54, 48, "destroy")).back(), success(54, 48));
  EXPECT_EQ(exchange(simple(22, 41, "destroy")).back(), success(22, 41));
  ch = channels();
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(timeslot_of(ch[0]), ts42) << "destroy frees the slot's channel only";
  // Nor does one whose reads fail from the hang-up on.
  EXPECT_EQ(exchange(create_mcc(30, 47, T::data, M::standard)).back(), success(30, 47));
  ch = channels();
  ASSERT_EQ(ch.size(), 2u);
  EXPECT_EQ(exchange(command(32, 42, [](LGCP::Command& c) { c.select_connect(47); })).back(), success(32, 42));
  EXPECT_EQ(exchange(command(34, 47, [](LGCP::Command& c) { c.select_connect(42); })).back(), success(34, 47));
  EXPECT_EQ(ask("hal get " + t42), "connected " + std::to_string(timeslot_of(ch[1])));
  EXPECT_EQ(ask("mcc fail read EIO"), "");
  EXPECT_EQ(ask("mcc hangup " + std::to_string(timeslot_of(ch[1]))), "");
  EXPECT_TRUE(srv->wait_log("47:MCC: channel hung up")) << srv->log();
  EXPECT_EQ(ask("hal get " + t42), "byte 213") << "a receiver stayed fed from the dropped channel's number";
  // The line was quietened at the hang-up: the controller's disconnect
  // drops the link and has nothing left to fail at.
  EXPECT_EQ(exchange(simple(33, 47, "disconnect")).back(), success(33, 47));
  EXPECT_EQ(ask("mcc fail read EIO 0"), "");
  EXPECT_EQ(exchange(simple(31, 47, "destroy")).back(), success(31, 47));

  // Losing the controller frees every channel, of both kinds.
  EXPECT_EQ(exchange("C0 01 17 00 28 08 78 01 01 01 00 01 03").back(), success(23, 40));
  EXPECT_EQ(exchange(simple(24, 40, "activate")).back(), success(24, 40));
  ch = channels();
  ASSERT_EQ(ch.size(), 2u);
  EXPECT_EQ(ch[1].substr(ch[1].find(':')), ":0,512,0,1,4") << "activated before any connection: type 1";
  srv->ctl.close();
  EXPECT_TRUE(testsupport::eventually([&] { return ask("mcc channels").empty(); })) << ask("mcc channels");
  ASSERT_TRUE(srv->reconnect());
}

// A package slot listens to and drives the line of its connection. Connected
// again after a disconnect, moved from one source to another, or left with
// one connection of two, it is wired to the line the controller left it and
// to no line the controller took away (which may have another source by
// then, and an activation must not take it back).
TEST_F(HdlcChannelsServer, PackageSlotWiresOnlyTheLineItIsLeft) {
  const auto connect = [](int seq, int source, int receiver) {
    return command(seq, source, [&](LGCP::Command& c) { c.select_connect(static_cast<unsigned>(receiver)); });
  };
  const auto fed = [](const std::string& line) { return ask("hal get " + line); };
  const auto open_channel = [&]() {
    const auto ch = channels();
    return ch.size() == 1u ? std::to_string(timeslot_of(ch[0])) : std::string("none");
  };
  // Trunk 1, time slots 11 to 13: lines 43 to 45.
  for (int n : {1, 2, 3}) EXPECT_EQ(exchange(testsupport::trunk_image(n, 60 + n, 1, 10 + n)).back(), success(n, 60 + n));
  EXPECT_EQ(exchange(command(4, 64, [](LGCP::Command& c) {
              LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
              h.set_trunk(1);
              h.set_log(0);
              h.set_address(3);
            })).back(),
            success(4, 64));

  // Both ways on line 43; the trunk's side disconnected and connected again.
  EXPECT_EQ(exchange(connect(5, 61, 64)).back(), success(5, 61));
  EXPECT_EQ(exchange(connect(6, 64, 61)).back(), success(6, 64));
  std::string ts = open_channel();
  EXPECT_EQ(fed("43"), "connected " + ts);
  EXPECT_EQ(fed(ts), "connected 43");
  EXPECT_EQ(exchange(simple(7, 61, "disconnect")).back(), success(7, 61));
  EXPECT_EQ(fed("43"), "byte 213");
  EXPECT_EQ(open_channel(), "none") << "disconnecting closes the channel";
  EXPECT_EQ(exchange(connect(8, 64, 61)).back(), success(8, 64));
  ts = open_channel();
  EXPECT_EQ(fed("43"), "connected " + ts) << "the line was left idle behind a success";
  EXPECT_EQ(fed(ts), "connected 43");

  // Fed by trunk 61 only, moved to trunk 62 without a disconnect: line 43
  // goes quiet.
  EXPECT_EQ(exchange(simple(9, 61, "disconnect")).back(), success(9, 61));
  EXPECT_EQ(exchange(connect(10, 62, 64)).back(), success(10, 62));
  ts = open_channel();
  EXPECT_EQ(fed("44"), "connected " + ts);
  EXPECT_EQ(fed(ts), "connected 44");
  EXPECT_EQ(fed("43"), "byte 213");

  // Hearing trunk 62, sending to trunk 61 (the last connection gives the
  // line, 43): trunk 61 parted from the slot and given trunk 63's line.
  EXPECT_EQ(exchange(connect(11, 64, 61)).back(), success(11, 64));
  ts = open_channel();
  EXPECT_EQ(fed("43"), "connected " + ts);
  EXPECT_EQ(exchange(simple(12, 61, "disconnect")).back(), success(12, 61));
  EXPECT_EQ(exchange(connect(13, 63, 61)).back(), success(13, 63));
  EXPECT_EQ(exchange(simple(14, 64, "activate")).back(), success(14, 64));
  EXPECT_EQ(fed("43"), "connected 45") << "the activation took back a line the controller gave another source";
  ts = open_channel();
  EXPECT_EQ(fed("44"), "connected " + ts) << "the connection left gives the line";
  EXPECT_EQ(fed(ts), "connected 44");

  // The other way round: sending to trunk 61 (line 43, fed from 45 since),
  // then hearing trunk 63 (line 45); the slot parted from its source.
  EXPECT_EQ(exchange(simple(15, 64, "disconnect")).back(), success(15, 64));
  EXPECT_EQ(exchange(connect(16, 64, 62)).back(), success(16, 64));
  EXPECT_EQ(exchange(connect(17, 63, 64)).back(), success(17, 63));
  ts = open_channel();
  EXPECT_EQ(fed(ts), "connected 45");
  EXPECT_EQ(exchange(simple(18, 64, "disconnect")).back(), success(18, 64));
  EXPECT_EQ(exchange(connect(19, 61, 63)).back(), success(19, 61));
  EXPECT_EQ(exchange(simple(20, 64, "activate")).back(), success(20, 64));
  EXPECT_EQ(fed("45"), "connected 43") << "the activation took back a line the controller gave another source";
  ts = open_channel();
  EXPECT_EQ(fed("44"), "connected " + ts);
  EXPECT_EQ(fed(ts), "connected 44");

  // Hearing trunk 61 (line 43), sending to trunks 62 and 63 (line 45 last):
  // trunk 62 leaving does not move the channel off line 45, which stays.
  EXPECT_EQ(exchange(connect(21, 61, 64)).back(), success(21, 61));
  EXPECT_EQ(exchange(simple(22, 63, "disconnect")).back(), success(22, 63));
  EXPECT_EQ(exchange(connect(23, 64, 63)).back(), success(23, 64));
  EXPECT_EQ(exchange(simple(24, 62, "disconnect")).back(), success(24, 62));
  EXPECT_EQ(exchange(simple(25, 64, "activate")).back(), success(25, 64));
  ts = open_channel();
  EXPECT_EQ(fed(ts), "connected 45");
  EXPECT_EQ(fed("45"), "connected " + ts);

  // An address with a high byte (0x0100); a frame of its first octet alone
  // is an empty package for it (the missing octet counts as 0).
  EXPECT_EQ(exchange(command(26, 65, [](LGCP::Command& c) {
              LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
              h.set_trunk(1);
              h.set_log(0);
              h.set_address(0x0100);
            })).back(),
            success(26, 65));
  const auto before = channels();
  EXPECT_EQ(exchange(simple(27, 65, "activate")).back(), success(27, 65));
  std::string ts65;
  for (const std::string& c : channels())
    if (std::find(before.begin(), before.end(), c) == before.end()) ts65 = std::to_string(timeslot_of(c));
  ASSERT_NE(ts65, "");
  EXPECT_EQ(inject(ts65, {"010000AA"}), "");
  EXPECT_EQ(next(), "40 00 41 8C 80 01 01 AA");
  EXPECT_EQ(inject(ts65, {"01"}), "");
  EXPECT_EQ(next(), "40 00 41 8C 80 01 00");

  for (int n : {64, 65, 61, 62, 63}) EXPECT_EQ(exchange(simple(30 + n, n, "destroy")).back(), success(30 + n, n));
  EXPECT_EQ(ask("mcc channels"), "");
}

}  // namespace

// One controller serves raw data channels, ISDN slots, package slots, the
// PSTN slots' SS7 and ISDN links and prompt players alike. Its channels used up, each kind
// answers as it does alone and keeps nothing of the attempt; a channel one
// kind gives up (destroyed, or moved to another line by a connect) serves
// another kind with nothing of its old owner: no frame it had queued or
// kept sending, no frame meant for it, no counter, no signal under the old
// number. The controller leaving frees the channels of every kind.
TEST_F(HdlcChannelsServer, ChannelsServeEveryKindInTurn) {
  using T = LGCP::MccType;
  using M = LGCP::MccMode;
  int seq = 100;
  std::vector<std::string> heard;  // every frame since the last clear, told
  const auto tell = [](const std::string& f) {
    LGCP::Message m;
    if (!testsupport::decode(f, m) || !m.get_pdu().signal_isSelected() || !m.slot_isPresent() ||
        !m.get_pdu().get_signal().ioctl_isSelected())
      return testsupport::describe(f);
    const LGCP::IoctlResponse& r = m.get_pdu().get_signal().get_ioctl();
    std::string t = "slot " + std::to_string(m.get_slot().getValue()) + " " + r.getSelectionName();
    if (r.hdlcLinkInfo_isSelected()) t += " rx " + std::to_string(r.get_hdlcLinkInfo().get_rxSU().getValue());
    return t;
  };
  const auto drain = [&](int ms) {
    const std::int64_t end = testsupport::real_ms() + ms;
    for (std::int64_t now = testsupport::real_ms(); now < end; now = testsupport::real_ms())
      for (const std::string& f : srv->ctl.frames(static_cast<int>(end - now))) heard.push_back(tell(f));
  };
  // The answer to the command, signals kept in `heard`.
  const auto run = [&](const std::string& image) {
    LGCP::Message m;
    EXPECT_TRUE(testsupport::decode(image, m));
    const std::string head = "seq " + std::to_string(m.get_seq().getValue()) + " ";
    srv->ctl.send(image);
    for (;;) {
      const std::string f = srv->ctl.next(patience);
      if (f.empty()) return std::string("no answer");
      heard.push_back(tell(f));
      if (heard.back().compare(0, head.size(), head) == 0) return heard.back();
    }
  };
  const auto ok = [](int s, int slot) {
    return "seq " + std::to_string(s) + " slot " + std::to_string(slot) + " success";
  };
  // The answer to the command made with the next sequence number, without
  // that number: "slot 7 success".
  const auto done = [&](const std::function<std::string(int)>& image) {
    const std::string a = run(image(seq++));
    return a.compare(0, 4, "seq ") == 0 ? a.substr(a.find(' ', 4) + 1) : a;
  };
  const auto heard_of = [&](int slot, const std::string& what) {
    const std::string head = "slot " + std::to_string(slot) + " ";
    return std::count_if(heard.begin(), heard.end(), [&](const std::string& h) {
      return h.compare(0, head.size(), head) == 0 && h.find(what) != std::string::npos;
    });
  };
  const auto timeslots = [&]() {
    std::vector<int> out;
    for (const std::string& l : channels()) out.push_back(timeslot_of(l));
    return out;
  };
  const auto newest = [&]() {
    const auto ch = channels();
    return ch.empty() ? std::string("none") : std::to_string(timeslot_of(ch.back()));
  };

  // The kinds: how each is made and how it takes its channel (a raw data
  // channel and an ISDN slot when made, a package slot when activated, a
  // PSTN link when its line is connected to it).
  struct Kind {
    const char* name;
    std::function<std::string(int, int)> create;
    bool takes_on_create;
  };
  const auto hdlc = [](int s, int slot) {
    return command(s, slot, [](LGCP::Command& c) {
      LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
      h.set_trunk(1);
      h.set_log(0);
      h.set_address(3);
    });
  };
  const auto ss7 = [](int s, int slot) {
    return testsupport::create_image(s, slot, [](LGCP::CreateParams& p) {
      LGCP::SS7Params& l = p.select_pstn().select_ss7();
      l.set_trunk(1);
      l.set_slc(0);
      l.set_dpc(1);
      l.set_opc(2);
      l.set_emergency(false);
    });
  };
  const auto pri = [](int s, int slot) {
    return testsupport::create_image(
        s, slot, [](LGCP::CreateParams& p) { testsupport::fill_isdn(p.select_pstn().select_isdn(), false, false); });
  };
  const auto isdn = [](int s, int slot) {
    return testsupport::create_image(
        s, slot, [](LGCP::CreateParams& p) { testsupport::fill_isdn(p.select_isdn(), false, false); });
  };
  const auto raw = [](int s, int slot) { return create_mcc(s, slot, T::data, M::standard); };
  enum { RAW, ISDN, PKG, SS7, PRI };
  const std::vector<Kind> kinds = {
      {"raw data channel", raw, true}, {"ISDN slot", isdn, true},      {"package slot", hdlc, false},
      {"PSTN SS7 link", ss7, false},   {"PSTN ISDN link", pri, false},
  };
  // Trunk 1, time slots 20 to 27: lines 52 to 59, slots 70 to 77.
  for (int n = 0; n < 8; ++n)
    ASSERT_EQ(done([&](int s) { return testsupport::trunk_image(s, 70 + n, 1, 20 + n); }),
              "slot " + std::to_string(70 + n) + " success");
  // The channel is taken: a PSTN link by its line (trunk slot `line`), a
  // package slot by its line or, without one, by activation.
  const auto take = [&](std::size_t k, int slot, int line) {
    const int s = seq++;
    if (k == PKG && line < 0) return run(simple(s, slot, "activate")) == ok(s, slot);
    if (k == PKG || k == SS7 || k == PRI)
      return run(command(s, line, [&](LGCP::Command& c) { c.select_connect(slot); })) == ok(s, line);
    return true;
  };

  // One of each kind holds a channel (slots 80 to 84; the links on lines 52
  // and 53, the package slot on none).
  std::map<int, std::string> ts;  // slot -> its channel
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    SCOPED_TRACE(kinds[k].name);
    const int slot = 80 + static_cast<int>(k);
    ASSERT_EQ(done([&](int s) { return kinds[k].create(s, slot); }), "slot " + std::to_string(slot) + " success");
    ASSERT_TRUE(take(k, slot, k == SS7 ? 70 : k == PRI ? 71 : -1));
    ts[slot] = newest();
    EXPECT_EQ(channels().size(), k + 1);
  }
  EXPECT_EQ(ask("hal get 52"), "connected " + ts[80 + SS7]);
  EXPECT_EQ(ask("hal get 53"), "connected " + ts[80 + PRI]);

  // The controller used up, or a step of the taking failing half way: each
  // next one answers as its kind does alone, and the board holds what it
  // held. (A raw data channel or an ISDN slot takes no switch path when
  // made.)
  const std::vector<int> held = timeslots();
  const std::string wired = ask("hal list");
  struct Step {
    const char* fail;
    const char* clear;
    bool on_create;
  } steps[] = {{"mcc fail allocate ENOSPC", "mcc fail allocate 0", true},
               {"mcc fail open ENFILE", "mcc fail open 0", true},
               {"mcc fail timeslot EIO", "mcc fail timeslot 0", true},
               {"hal fail connect 5", "hal fail connect 0", false}};
  bool made = false;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.fail);
    ASSERT_EQ(ask(step.fail), "");
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      SCOPED_TRACE(kinds[k].name);
      const int slot = 90 + static_cast<int>(k);
      heard.clear();
      const int s = seq++;
      if (kinds[k].takes_on_create) {
        if (!step.on_create) continue;
        EXPECT_EQ(run(kinds[k].create(s, slot)),
                  "seq " + std::to_string(s) + " slot " + std::to_string(slot) + " error insufficientResources");
      } else {
        if (!made) {
          EXPECT_EQ(run(kinds[k].create(s, slot)), ok(s, slot));
          EXPECT_TRUE(take(k, slot, k == SS7 ? 72 : k == PRI ? 73 : 75));
        } else {
          EXPECT_EQ(run(simple(s, slot, "activate")), ok(s, slot));
        }
        if (heard_of(slot, "signal deactivated") == 0) drain(300);
        EXPECT_EQ(heard_of(slot, "signal deactivated"), 1);
      }
      EXPECT_EQ(timeslots(), held);
      EXPECT_EQ(ask("hal list"), wired);
    }
    made = true;
    ASSERT_EQ(ask(step.clear), "");
  }
  heard.clear();
  drain(300);
  EXPECT_EQ(heard_of(90 + SS7, "signal activated") + heard_of(90 + PRI, "signal activated"), 0);
  // Channels again: the same commands make and open every one.
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    SCOPED_TRACE(kinds[k].name);
    const int slot = 90 + static_cast<int>(k);
    const int s = seq++;
    if (kinds[k].takes_on_create)
      EXPECT_EQ(run(kinds[k].create(s, slot)), ok(s, slot));
    else
      EXPECT_EQ(run(simple(s, slot, "activate")), ok(s, slot));
    ts[slot] = newest();
  }
  EXPECT_EQ(channels().size(), 10u);
  EXPECT_EQ(ask("hal get 54"), "connected " + ts[90 + SS7]) << "the link wired on its line once opened";
  EXPECT_EQ(ask("hal get 55"), "connected " + ts[90 + PRI]);
  EXPECT_EQ(ask("hal get 57"), "connected " + ts[90 + PKG]);

  // Reuse: the old owner (with frames it keeps, sends, or was sent) gives
  // its channel up; the driver hands the number to a quiet slot of another
  // kind, which hears and sends nothing of the old owner's.
  const auto reuse = [&](int old_slot, bool gone, const std::function<void()>& give_up, std::size_t kind, int slot) {
    const std::string number = ts[old_slot];
    give_up();
    EXPECT_EQ(ask("mcc next " + number), "");
    heard.clear();
    const int s = seq++;
    EXPECT_EQ(run(kinds[kind].create(s, slot)), ok(s, slot));
    if (!kinds[kind].takes_on_create) {
      const int a = seq++;
      EXPECT_EQ(run(simple(a, slot, "activate")), ok(a, slot));
    }
    EXPECT_EQ(newest(), number);
    ts[slot] = number;
    // Long enough for a link's retry timer (1 s), and for a package slot's
    // first report (3 s).
    drain(kinds[kind].takes_on_create ? 1500 : 3500);
    if (!kinds[kind].takes_on_create) EXPECT_GE(heard_of(slot, "hdlcLinkInfo"), 1);
    EXPECT_EQ(ask("mcc read " + number), "") << "the old owner's frames went out on the new owner's channel";
    if (gone) EXPECT_EQ(heard_of(old_slot, ""), 0) << ::testing::PrintToString(heard);
    EXPECT_EQ(heard_of(slot, "rx 0"), heard_of(slot, "hdlcLinkInfo")) << ::testing::PrintToString(heard);
  };
  // A package slot's frames held back by a busy channel, and destroyed.
  reuse(
      80 + PKG, true,
      [&] {
        ASSERT_EQ(ask("mcc eagain " + ts[80 + PKG] + " 1000"), "");
        EXPECT_EQ(run(packages(seq, 80 + PKG, {"01", "02", "03"})),
                  "seq " + std::to_string(seq) + " slot 82 error unsupported");
        ++seq;
        EXPECT_EQ(done([&](int s) { return simple(s, 80 + PKG, "destroy"); }), "slot 82 success");
      },
      RAW, 85);
  // An SS7 link, sending all the while, moved to line 56 by a connect.
  reuse(
      80 + SS7, false,
      [&] {
        EXPECT_EQ(done([&](int s) { return command(s, 74, [](LGCP::Command& c) { c.select_connect(80 + SS7); }); }),
                  "slot 74 success");
        EXPECT_NE(newest(), ts[80 + SS7]);
        EXPECT_EQ(ask("hal get 52"), "byte 213") << "the line the link left";
        EXPECT_EQ(ask("hal get 56"), "connected " + newest());
      },
      ISDN, 86);
  // An ISDN slot trying to establish with messages queued, and destroyed.
  reuse(
      80 + ISDN, true,
      [&] {
        EXPECT_EQ(done([&](int s) { return simple(s, 80 + ISDN, "activate"); }), "slot 81 success");
        EXPECT_EQ(done([&](int s) { return user_data(s, 80 + ISDN, "080101"); }), "slot 81 success");
        EXPECT_FALSE(written(std::stoi(ts[80 + ISDN]), 1).empty()) << "the link sends";
        EXPECT_EQ(done([&](int s) { return simple(s, 80 + ISDN, "destroy"); }), "slot 81 success");
      },
      PKG, 87);
  // A raw data channel with frames sent to it, destroyed at once.
  reuse(
      80 + RAW, true,
      [&] {
        srv->sim.post("mcc inject " + ts[80 + RAW] + " 0A0B0C");
        srv->ctl.send(simple(seq, 80 + RAW, "destroy"));
        srv->sim.post("mcc inject " + ts[80 + RAW] + " 0D0E0F");
        // The server may take the destroy before either frame: each is then
        // refused as sent to no channel.
        srv->sim.read_answer();
        srv->sim.read_answer();
        for (;;) {
          const std::string f = srv->ctl.next(patience);
          if (f.empty() || tell(f) == ok(seq, 80 + RAW)) break;
        }
        ++seq;
      },
      ISDN, 88);
  // A primary-rate link retrying its establishment, destroyed.
  reuse(
      80 + PRI, true,
      [&] {
        EXPECT_FALSE(written(std::stoi(ts[80 + PRI]), 1).empty()) << "the link sends";
        EXPECT_EQ(done([&](int s) { return simple(s, 80 + PRI, "destroy"); }), "slot 84 success");
        EXPECT_EQ(ask("hal get 53"), "byte 213") << "the line the link left";
      },
      RAW, 89);
  // A prompt player copying a file to its channel (line 59), destroyed
  // mid-way.
  std::ofstream(srv->board("/usr/local/voice/shared-hunt")) << std::string(64000, '\x55');
  EXPECT_EQ(done([&](int s) {
              return command(s, 79, [](LGCP::Command& c) {
                auto& f = c.select_create().select_voice().select_player().select_file();
                f.set_name().push_back(std::string("shared-hunt"));
                f.set_repeat(0);
              });
            }),
            "slot 79 success");
  ts[79] = newest();
  reuse(
      79, true,
      [&] {
        EXPECT_EQ(done([&](int s) { return command(s, 79, [](LGCP::Command& c) { c.select_connect(77); }); }),
                  "slot 79 success");
        EXPECT_FALSE(written(std::stoi(ts[79]), 1).empty()) << "the player sends";
        EXPECT_EQ(done([&](int s) { return simple(s, 79, "destroy"); }), "slot 79 success");
      },
      RAW, 78);
  // What is sent to a channel now reaches its new owner only.
  heard.clear();
  EXPECT_EQ(ask("mcc inject " + ts[89] + " 0102"), "");
  EXPECT_EQ(ask("mcc inject " + ts[87] + " 000360AA00"), "");
  drain(500);
  EXPECT_EQ(heard_of(89, "signal userData"), 1) << ::testing::PrintToString(heard);
  EXPECT_EQ(heard_of(87, "hdlcPackages"), 1) << ::testing::PrintToString(heard);
  EXPECT_EQ(heard_of(80 + RAW, "") + heard_of(80 + PRI, "") + heard_of(80 + ISDN, ""), 0);

  // The controller leaves with every kind alive: every channel is freed.
  EXPECT_GE(channels().size(), 10u);
  srv->ctl.close();
  EXPECT_TRUE(testsupport::eventually([&] { return ask("mcc channels").empty(); })) << ask("mcc channels");
  ASSERT_TRUE(srv->reconnect());
}
