// Black-box: one controller after another against the running server, in
// the unusual orders: a controller that leaves mid-frame, mid-burst or while
// its answers are being written, a second controller while the first is
// served, and many sessions in a row. Nothing of a session may reach the
// next one (answers, signals, slots, board paths), and nothing may be left
// behind in the process. Real time (the server sleeps one second whenever
// its controller leaves): one server for the group, every wait bounded.
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"
#include "tests/support/status_signals.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;

std::string ping_image(int seq) {
  return command_image(seq, 5, [](LGCP::Command& c) { c.select_ping(); });
}

std::string query_image(int seq) {
  return command_image(seq, -1, [](LGCP::Command& c) { c.select_query(); });
}

std::string answered(int seq) { return "seq " + std::to_string(seq) + " slot 5 success"; }

// The octets of a hexadecimal text ("C0 01 05").
std::string octets(const std::string& hex) {
  const std::vector<char> b = bytes(hex);
  return std::string(b.begin(), b.end());
}

// The bytes the server has queued on its connection to the client port and
// the peer has not taken yet (its send queue in the kernel's TCP table).
long server_send_queue(std::uint16_t server_port, std::uint16_t client_port) {
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      char local[64], remote[64];
      unsigned long tx = 0, rx = 0;
      unsigned state = 0;
      if (std::sscanf(line.c_str(), "%*s %63s %63s %x %lx:%lx", local, remote, &state, &tx, &rx) != 5) continue;
      const char* lp = std::strrchr(local, ':');
      const char* rp = std::strrchr(remote, ':');
      if (lp && rp && std::strtoul(lp + 1, nullptr, 16) == server_port && std::strtoul(rp + 1, nullptr, 16) == client_port)
        return long(tx);
    }
  }
  return -1;
}

class ControllerSessions : public SharedServerTest<ControllerSessions> {
 protected:

  // A new controller the server has taken: connected and its ping answered.
  // A connect that comes before the server has seen the last controller go
  // is refused as a second controller; it is tried again.
  static bool new_controller(int seq) {
    const std::int64_t deadline = real_ms() + patience_ms;
    while (real_ms() < deadline) {
      srv().ctl.close();
      if (!srv().ctl.connect(srv().port, patience_ms)) return false;
      srv().ctl.send(ping_image(seq));
      const std::string f = srv().ctl.next(patience_ms);
      if (!f.empty()) return describe(f) == answered(seq);
      if (!srv().ctl.closed()) return false;
    }
    return false;
  }
  // Frames that come within the time, as text.
  static Strings stray(int ms) {
    Strings out;
    for (const std::string& f : srv().ctl.frames(ms)) out.push_back(describe(f));
    return out;
  }
  static std::string ask(const std::string& image, int seq) {
    srv().ctl.send(image);
    const std::string prefix = "seq " + std::to_string(seq) + " ";
    for (;;) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) return "no answer";
      const std::string t = describe(f);
      if (t.compare(0, prefix.size(), prefix) == 0) return t;
    }
  }
  // A raw controller (not the test's client) the server has taken, with
  // the given receive buffer (0: the system's).
  static std::unique_ptr<LoopbackPeer> raw_controller(int seq, int rcvbuf = 0) {
    const std::int64_t deadline = real_ms() + patience_ms;
    while (real_ms() < deadline) {
      auto peer = std::make_unique<LoopbackPeer>();
      if (!peer->connect(srv().port, rcvbuf)) return nullptr;
      peer->send(tpkt_frame(octets(ping_image(seq))));
      // The answer to the ping comes before anything else the server sends
      // on its own (status reports, the power signal) only by chance: look
      // for it among them.
      std::string got;
      const std::string want = tpkt_frame(octets(answered_image(seq)));
      while (real_ms() < deadline) {
        const std::string more = peer->receive(200);
        got += more;
        if (got.find(want) != std::string::npos) return peer;
        if (more.empty() && peer->peer_closed()) break;
      }
    }
    return nullptr;
  }
  static std::string answered_image(int seq) {
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(5);
    m.set_pdu().select_response().select_success();
    return per(m);
  }
};

TEST_F(ControllerSessions, ALeaveMidFrameOrMidBurstLeavesNothingToTheNext) {
  const std::string idle_board = srv().sim.ask("hal list");

  // Leaves in the middle of a frame's length, then in the middle of its
  // body: the next controller's first frame is read from its start.
  for (const std::string& cut : {std::string("03 00"), std::string("03 00 00 0A C0 02 01")}) {
    srv().ctl.close();
    std::unique_ptr<LoopbackPeer> raw = raw_controller(2);
    ASSERT_TRUE(raw) << srv().log();
    raw->send(octets(cut));
    raw->close();
    ASSERT_TRUE(new_controller(3)) << cut << "\n" << srv().log();
    EXPECT_EQ(stray(1200), Strings{}) << cut;
  }

  // Leaves with a burst in flight: slots made, connected and asked about in
  // one write, and gone before the answers. The next controller finds none
  // of them, hears nothing of them, and the board carries nothing for them.
  Strings burst;
  int seq = 10;
  for (int slot = 1; slot <= 4; ++slot) burst.push_back(trunk_image(seq++, slot, 0, slot));
  burst.push_back(connect_image(seq++, 1, 2));
  burst.push_back(connect_image(seq++, 3, 4));
  for (int i = 0; i < 20; ++i) burst.push_back(query_image(seq++));
  srv().ctl.send_all(burst);
  srv().ctl.close();
  ASSERT_TRUE(new_controller(100)) << srv().log();
  EXPECT_EQ(stray(1200), Strings{});
  EXPECT_EQ(srv().sim.ask("hal list"), idle_board);
  for (int slot = 1; slot <= 4; ++slot)
    EXPECT_EQ(ask(null_command_image(100 + slot, slot, "destroy"), 100 + slot),
              "seq " + std::to_string(100 + slot) + " slot " + std::to_string(slot) + " error slotNotExists");
}

TEST_F(ControllerSessions, ASecondControllerIsRefusedAndTheFirstKeepsItsSession) {
  ASSERT_TRUE(new_controller(1)) << srv().log();
  ASSERT_EQ(ask(trunk_image(2, 1, 0, 1), 2), "seq 2 slot 1 success");
  ASSERT_EQ(ask(trunk_image(3, 2, 0, 2), 3), "seq 3 slot 2 success");
  ASSERT_EQ(ask(connect_image(4, 1, 2), 4), "seq 4 slot 1 success");
  const std::string connected = srv().sim.ask("hal list");

  // Two knocks: both refused at once; the fast probe the first starts is
  // answered by the live controller, which stays through several checks.
  for (int knock = 0; knock < 2; ++knock) {
    LoopbackPeer second;
    ASSERT_TRUE(second.connect(srv().port));
    second.send(tpkt_frame(octets(ping_image(50))));
    EXPECT_TRUE(second.peer_closed(patience_ms)) << srv().log();
  }
  EXPECT_TRUE(srv().wait_log("CheckConnectionState Idle")) << srv().log();
  EXPECT_EQ(stray(3500), Strings{}) << "nothing of the knocks reaches the controller";
  EXPECT_FALSE(srv().ctl.closed());
  EXPECT_EQ(ask(ping_image(5), 5), answered(5));
  EXPECT_EQ(srv().sim.ask("hal list"), connected);
  EXPECT_EQ(ask(null_command_image(6, 1, "destroy"), 6), "seq 6 slot 1 success");
  EXPECT_EQ(ask(null_command_image(7, 2, "destroy"), 7), "seq 7 slot 2 success");
}

TEST_F(ControllerSessions, AControllerLeavingWhileItsAnswersAreWrittenIsLetGo) {
  // A controller that reads nothing and asks for one resources report after
  // another fills its socket; it leaves with a reset while the server
  // writes. The server lets it go and serves the next one at once.
  srv().ctl.close();
  std::unique_ptr<LoopbackPeer> raw = raw_controller(1, 2048);
  ASSERT_TRUE(raw) << srv().log();
  std::string burst;
  for (int i = 0; i < 2000; ++i) burst += tpkt_frame(octets(query_image(2 + i % 1000)));
  raw->send(burst);
  // The server is writing once its answers back up in its own socket; a
  // reset that came before would meet a server still reading.
  EXPECT_TRUE(eventually([&] { return server_send_queue(srv().port, raw->local_port()) > 0; }))
      << "the server never backed up\n" << srv().log();
  ::usleep(300 * 1000);
  raw->reset();
  EXPECT_TRUE(eventually([] {
    const std::string log = srv().log();
    return log.find("SockStream[server]: write error") != std::string::npos ||
           log.find("SockStream[server]: write timeout") != std::string::npos;
  })) << "the server was writing when the controller left\n" << srv().log();
  ASSERT_TRUE(new_controller(3)) << srv().log();
  EXPECT_EQ(stray(1200), Strings{});
  EXPECT_EQ(ask(query_image(4), 4), "seq 4 success");
}

TEST_F(ControllerSessions, ManySessionsInARowLeaveNoDescriptorBehind) {
  ASSERT_TRUE(new_controller(1)) << srv().log();
  const pid_t pid = srv().process->pid();
  const int before = testsupport::open_descriptors(pid);
  ASSERT_GT(before, 0);
  for (int round = 0; round < 6; ++round) {
    ASSERT_TRUE(new_controller(10 + round)) << round << "\n" << srv().log();
    ASSERT_EQ(ask(trunk_image(20 + round, 1, 0, 1 + round), 20 + round),
              "seq " + std::to_string(20 + round) + " slot 1 success");
    // A knock now and then, answered by the live controller.
    if (round % 2) {
      LoopbackPeer knock;
      ASSERT_TRUE(knock.connect(srv().port));
      EXPECT_TRUE(knock.peer_closed(patience_ms));
    }
  }
  ASSERT_TRUE(new_controller(40)) << srv().log();
  EXPECT_EQ(testsupport::open_descriptors(pid), before) << srv().log();
}

}  // namespace
