// Black-box: modem slots of the running server. DSP modems behind the
// simulated "/dev/mctl", digital-data calls on the simulated "hdlc%d"
// interfaces, pppd and the fax programs played by the stand-in program
// (which records under var/standin/ of the board root), and this test as
// the authentication program on the board's 127.0.0.1:52000 (moved to a
// free port for this program, see auth_port).
#include "media/modem_factory.h"
#include "media/modem_slot.h"
#include "platform/sim/control_words.h"
#include "platform/sim/mctl.h"
#include "runtime/event.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/flood.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"
#include "tests/support/status_signals.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

// The authentication port of every server and factory of this program: the
// simulated board moves 52000 to a free port, chosen before any test runs,
// so that tests run at once in other programs do not meet this one there.
const std::uint16_t auth_port = [] {
  const std::uint16_t p = free_port();
  ::setenv(auth_port_variable, std::to_string(p).c_str(), 1);
  return p;
}();

// A record of the authentication link: words in host order.
Bytes record(std::uint32_t length, std::int32_t type, std::int32_t session) {
  Bytes r(length < 12 ? 12 : length, 0);
  std::memcpy(&r[0], &length, 4);
  std::memcpy(&r[4], &type, 4);
  std::memcpy(&r[8], &session, 4);
  r.resize(length);
  return r;
}
void put(Bytes& r, std::size_t at, std::int32_t v) { std::memcpy(&r[at], &v, 4); }
Bytes auth_request(std::int32_t session, const std::string& user, const std::string& pass, std::uint32_t len = 140) {
  Bytes r = record(len, 1, session);
  r.resize(len < 140 ? 140 : len, 0);
  std::memcpy(&r[12], user.data(), user.size() > 64 ? 64 : user.size());
  std::memcpy(&r[76], pass.data(), pass.size() > 64 ? 64 : pass.size());
  r.resize(len);
  return r;
}

// This test as the authentication program.
class AuthPeer {
 public:
  bool connect(int timeout_ms = patience_ms) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(auth_port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return eventually(
        [&] {
          if (fd_ >= 0) ::close(fd_);
          fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
          // Should the port be in the ephemeral range, a connect retried while the
          // server is not listening yet could pick it as its own port and
          // meet itself, and that connection, closed, would hold the port in
          // TIME_WAIT against the server's bind for a minute. The own port
          // is taken before the connect, where taking that one costs nothing.
          sockaddr_in me{};
          me.sin_family = AF_INET;
          me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          socklen_t len = sizeof me;
          if (::bind(fd_, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0 ||
              ::getsockname(fd_, reinterpret_cast<sockaddr*>(&me), &len) != 0 || ntohs(me.sin_port) == auth_port)
            return false;
          return ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        },
        timeout_ms);
  }
  ~AuthPeer() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  void send(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
  // Reads exactly n bytes (empty when they do not come).
  Bytes read(std::size_t n, int timeout_ms = patience_ms) {
    Bytes out;
    const auto deadline = real_ms() + timeout_ms;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(deadline - real_ms())) <= 0) return {};
      unsigned char buf[600];
      const ssize_t r = ::recv(fd_, buf, n - out.size(), 0);
      if (r <= 0) return {};
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // True when the server closed the connection.
  bool closed(int timeout_ms = patience_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char c;
    return ::recv(fd_, &c, 1, 0) == 0;
  }

 private:
  int fd_ = -1;
};

Strings sorted(Strings s) {
  std::sort(s.begin(), s.end());
  return s;
}

std::string hex(const Bytes& b) {
  std::string s;
  char x[4];
  for (unsigned char c : b) {
    std::snprintf(x, sizeof x, "%02X ", c);
    s += x;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// Frames told as text, with the contents of the modem signals and aborts.
std::string tell(const std::string& frame) {
  LGCP::Message m;
  if (!decode(frame, m) || !m.get_pdu().signal_isSelected()) return describe(frame);
  const LGCP::Signal& s = m.get_pdu().get_signal();
  const std::string slot = m.slot_isPresent() ? "slot " + std::to_string(m.get_slot().getValue()) + " " : "";
  if (s.abort_isSelected()) return slot + "abort " + std::to_string(s.get_abort().getValue());
  if (!s.modemProceeding_isSelected()) return describe(frame);
  const TERM::ModemProceeding& p = s.get_modemProceeding();
  if (p.auth_isSelected())
    return slot + "auth " + std::string(p.get_auth().get_username()) + " " + std::string(p.get_auth().get_password());
  const TERM::MdmAccounting& a = p.get_acct();
  auto c = [](const BASE::INTEGER64Bits& v) {
    return std::to_string(v.get_high().getValue()) + "/" + std::to_string(v.get_low().getValue());
  };
  return slot + "acct " + c(a.get_octetsOut()) + " " + c(a.get_octetsIn()) + " " + c(a.get_packetsOut()) + " " +
         c(a.get_packetsIn()) + " " + c(a.get_time());
}

std::string modem_image(int seq, int slot, const std::function<void(TERM::ModemParams&)>& fill) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    TERM::ModemParams& m = p.select_modem();
    m.set_cid("");
    m.set_cdid("");
    fill(m);
  });
}

void add_ddm(TERM::ModemParams& m, const std::vector<int>& modes) {
  auto& list = m.set_ddm();
  for (int v : modes) {
    TERM::DigitalDataModeEnum e;
    e.setFromInt(v);
    list.push_back(e);
  }
}

class ModemServer : public SharedServerTest<ModemServer> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(srv().ready()) << srv().log();
    srv().sim.ask("mctl requests");  // forget what came before
    ::unlink(srv().board("/var/standin/pppd.log").c_str());
    ::unlink(srv().board("/var/standin/fax.log").c_str());
    mode("pppd", "hup 0");
    mode("fax", "hup 0");
    // Both point-to-point interfaces as the board starts them, whatever
    // case ran before on this server.
    srv().sim.ask("net add hdlc0 0x11");
    srv().sim.ask("net add hdlc1 0x11");
  }

  static void mode(const std::string& program, const std::string& text) {
    ::mkdir(srv().board("/var/standin").c_str(), 0755);
    std::ofstream(srv().board("/var/standin/" + program + ".mode")) << text << "\n";
  }
  // The stand-in's record lines starting with `what` ("argv", "signal").
  static Strings standin(const std::string& program, const std::string& what) {
    std::ifstream in(srv().board("/var/standin/" + program + ".log"));
    Strings out;
    for (std::string l; std::getline(in, l);)
      if (l.compare(0, what.size() + 1, what + " ") == 0) out.push_back(l.substr(what.size() + 1));
    return out;
  }
  static bool standin_has(const std::string& program, const std::string& what, std::size_t n = 1) {
    return eventually([&] { return standin(program, what).size() >= n; });
  }
  static Strings ask(const Strings& images, std::size_t n) {
    srv().ctl.send_all(images);
    return frames(n);
  }
  static Strings ask(const std::string& image, std::size_t n = 1) { return ask(Strings{image}, n); }
  static Strings frames(std::size_t n) {
    Strings out;
    while (out.size() < n) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) break;
      out.push_back(tell(f));
    }
    return out;
  }
  // A link the server closed ends the wait at once: it shows.
  static Strings extra(int ms = 200) {
    Strings out;
    for (const auto& f : srv().ctl.frames(ms)) out.push_back(tell(f));
    if (srv().ctl.closed()) out.push_back("link closed");
    return out;
  }
  static Strings requests() {
    const std::string a = srv().sim.ask("mctl requests");
    Strings out;
    std::size_t at = 0;
    while (at < a.size()) {
      auto nl = a.find('\n', at);
      if (nl == std::string::npos) nl = a.size();
      const std::string l = a.substr(at, nl - at);
      if (l.rfind("0xBB0C", 0) != 0) out.push_back(l);  // the counting at queries
      at = nl + 1;
    }
    return out;
  }
  static std::string destroy(int seq, int slot) { return null_command_image(seq, slot, "destroy"); }
  static LGCP::Resources query() {
    srv().ctl.send("80 01 02 00");
    LGCP::Message m;
    for (int i = 0; i < 20; ++i) {
      const std::string f = srv().ctl.next(patience_ms);
      if (decode(f, m) && m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
        return m.get_pdu().get_signal().get_query();
    }
    ADD_FAILURE() << "no resources report";
    return LGCP::Resources();
  }
  static std::string activate_modem(int seq, int slot, const std::string& addr) {
    return command_image(seq, slot, [&](LGCP::Command& c) {
      TERM::ModemUserParameters& u = c.select_activate().select_modem();
      u.set_remoteAddr(addr);
      u.set_netmask("255.255.255.0");
      u.set_gateway("10.1.1.1");
      u.set_dns("bad text");
      u.set_mtu(1500);
    });
  }
};

TEST_F(ModemServer, ResourcesCountModemsAndPointToPointInterfaces) {
  EXPECT_TRUE(srv().wait_log("found point-o-point devices: hdlc0 hdlc1\n")) << srv().log();
  LGCP::Resources r = query();
  EXPECT_EQ(r.get_modem().getValue(), 4);
  EXPECT_EQ(r.get_digital_modems().getValue(), 2);
  // Counting stops at the first missing name: hdlc2 behind a missing hdlc1.
  EXPECT_EQ(srv().sim.ask("net del hdlc1"), "");
  EXPECT_EQ(srv().sim.ask("net add hdlc2 0x11"), "");
  EXPECT_EQ(srv().sim.ask("mctl pool 2"), "");
  r = query();
  EXPECT_EQ(r.get_modem().getValue(), 2);
  EXPECT_EQ(r.get_digital_modems().getValue(), 1);
  // A loopback interface is no digital modem, yet counting goes on past it.
  EXPECT_EQ(srv().sim.ask("net add hdlc1 0x19"), "");
  EXPECT_EQ(query().get_digital_modems().getValue(), 2);
  EXPECT_EQ(srv().sim.ask("net del hdlc2"), "");
  EXPECT_EQ(srv().sim.ask("net add hdlc1 0x11"), "");
  // A driver whose enumeration goes on and on is counted up to one modem a
  // slot, not for as long as it answers.
  EXPECT_EQ(srv().sim.ask("mctl pool 5000"), "");
  EXPECT_EQ(query().get_modem().getValue(), 1024);
  EXPECT_TRUE(srv().wait_log("enum stopped at 1024 modems\n")) << srv().log();
  EXPECT_EQ(srv().sim.ask("mctl pool 4"), "");
  EXPECT_EQ(query().get_digital_modems().getValue(), 2);
}

TEST_F(ModemServer, AnsweredCallAuthenticatesAndAccountsOverTheLocalLink) {
  ASSERT_EQ(ask({trunk_image(1, 3, 0, 1), modem_image(2, 10, [](TERM::ModemParams& m) { m.set_cid("5551234"); })},
                4),
            (Strings{"seq 1 slot 3 success", "slot 3 transmitter active 1", "slot 3 receiver active 1",
                     "seq 2 slot 10 success"}));
  EXPECT_EQ(ask(connect_image(3, 3, 10), 3),
            (Strings{"slot 10 transmitter active 1792", "slot 10 receiver active 1792", "seq 3 slot 3 success"}));
  EXPECT_EQ(requests(), (Strings{"0xBB0B", "0xBB15", "0xBB3A 0 -1", "0xBB03 0 -1"}));
  ASSERT_TRUE(standin_has("pppd", "argv")) << srv().log();
  EXPECT_EQ(standin("pppd", "argv"),
            Strings{"/usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 5551234"});
  // pppd holds no descriptor of the server: no device, socket or file.
  // The stand-in writes its descriptors last: wait for that line too.
  ASSERT_TRUE(standin_has("pppd", "fds"));
  EXPECT_EQ(standin("pppd", "fds"), Strings{"none"});
  // A second stream start takes no second modem and starts no second pppd.
  EXPECT_EQ(ask(connect_image(4, 10, 3), 1), Strings{"seq 4 slot 10 success"});
  EXPECT_EQ(requests(), Strings{});

  AuthPeer peer;
  ASSERT_TRUE(peer.connect());
  // Before any record the connection has no session: an activate finds no
  // client, still succeeds.
  EXPECT_EQ(ask(activate_modem(5, 10, "10.1.1.2")), Strings{"seq 5 slot 10 success"});
  EXPECT_TRUE(srv().wait_log("send error: unknown auth 0 session.")) << srv().log();

  peer.send(auth_request(0, "alice", "secret"));
  EXPECT_EQ(frames(1), Strings{"slot 10 auth alice secret"});
  // Fields without NUL are cut at their 64 bytes.
  peer.send(auth_request(0, std::string(70, 'u'), std::string(64, 'p')));
  EXPECT_EQ(frames(1), Strings{"slot 10 auth " + std::string(64, 'u') + " " + std::string(64, 'p')});

  Bytes acct = record(64, 4, 0);
  put(acct, 24, 1), put(acct, 28, -1294967296), put(acct, 32, 0), put(acct, 36, 77);
  put(acct, 40, 0), put(acct, 44, 5), put(acct, 48, 2), put(acct, 52, 6), put(acct, 56, 3600);
  peer.send(acct);
  EXPECT_EQ(frames(1), Strings{"slot 10 acct 1/-1294967296 0/77 0/5 2/6 0/3600"});

  EXPECT_EQ(ask(activate_modem(6, 10, "10.1.1.2")), Strings{"seq 6 slot 10 success"});
  // Words in host order (the board is big-endian), addresses in network order.
  Bytes accepted = record(16, 2, 0);
  put(accepted, 12, 1);
  EXPECT_EQ(hex(peer.read(16)), hex(accepted));
  Bytes ip = record(36, 3, 0);
  const unsigned char addresses[16] = {10, 1, 1, 2, 255, 255, 255, 0, 10, 1, 1, 1, 255, 255, 255, 255};
  std::memcpy(&ip[16], addresses, sizeof addresses);
  put(ip, 32, 1500);
  EXPECT_EQ(hex(peer.read(36)), hex(ip));
  // A NUL ends the text for inet_pton: such an address is none, as "bad
  // text" is, not the address before the NUL.
  EXPECT_EQ(ask(activate_modem(60, 10, std::string("10.1.1.2\0" "9", 10))), Strings{"seq 60 slot 10 success"});
  EXPECT_EQ(hex(peer.read(16)), hex(accepted));
  std::memset(&ip[16], 0xFF, 4);
  EXPECT_EQ(hex(peer.read(36)), hex(ip));
  EXPECT_EQ(ask(activate_image(7, 10)), Strings{"seq 7 slot 10 error unsupported"});

  // Two records in one write; one record byte by byte; wrong sizes and
  // kinds are logged and dropped; short records are read to their end.
  Bytes two = auth_request(0, "bob", "b1");
  const Bytes second = auth_request(0, "carol", "c2");
  two.insert(two.end(), second.begin(), second.end());
  peer.send(two);
  EXPECT_EQ(frames(2), (Strings{"slot 10 auth bob b1", "slot 10 auth carol c2"}));
  for (unsigned char b : auth_request(0, "dave", "d3")) {
    peer.send(Bytes{b});
    ::usleep(1000);
  }
  EXPECT_EQ(frames(1), Strings{"slot 10 auth dave d3"});
  peer.send(auth_request(0, "x", "y", 139));
  peer.send(auth_request(0, "x", "y", 141));
  peer.send(record(16, 2, 0));
  peer.send(record(36, 3, 0));
  peer.send(record(20, 9, 0));
  peer.send(record(7, 1, 0));
  peer.send(record(63, 4, 0));
  peer.send(auth_request(7, "nobody", "n"));
  peer.send(auth_request(0, "erin", "e4"));
  EXPECT_EQ(frames(1), Strings{"slot 10 auth erin e4"});
  EXPECT_TRUE(srv().wait_log("auth request, invalid size: 139\nauth request, invalid size: 141\n"
                             "auth accept, ignored.\nauth ip, ignored.\nunknown request from portslave: 0x9\n"))
      << srv().log();
  EXPECT_TRUE(srv().wait_log("auth accounting, invalid size: 63\n")) << srv().log();
  EXPECT_TRUE(srv().wait_log("receive auth request for unknown session 7\n")) << srv().log();

  // Lengths outside 4..512 close the connection.
  for (std::uint32_t bad : {3u, 513u}) {
    AuthPeer p;
    ASSERT_TRUE(p.connect());
    Bytes b(4);
    std::memcpy(b.data(), &bad, 4);
    p.send(b);
    EXPECT_TRUE(p.closed()) << bad;
  }

  // Destroy: pppd ends on SIGHUP and the destroy is answered then.
  EXPECT_EQ(ask(destroy(8, 10)), Strings{"seq 8 slot 10 success"});
  EXPECT_EQ(standin("pppd", "signal"), Strings{"1"});
  EXPECT_TRUE(srv().wait_log("sent HUP to pppd.\n")) << srv().log();
  EXPECT_EQ(extra(), Strings{}) << "no abort under a destroy";
  EXPECT_EQ(ask(destroy(9, 3), 1), Strings{"seq 9 slot 3 success"});
}

// Answers of the controller go to the authentication connection waiting
// for them: not to one that has asked nothing yet (its session is none, and
// a digital-data call or a modem not set up has none either), nor to the
// connection of an earlier call on the same modem that its program left
// open, while the connection that asked waits for good.
TEST_F(ModemServer, AnswersGoToTheConnectionThatAsked) {
  const auto count = [](const std::string& text) {
    const std::string all = srv().log();
    std::size_t n = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  };
  const auto accept_record = [](std::int32_t session) {
    Bytes r = record(16, 2, session);
    put(r, 12, 1);
    return hex(r);
  };
  ASSERT_GE(query().get_digital_modems().getValue(), 1);
  ASSERT_EQ(ask(trunk_image(1, 40, 2, 3), 3).size(), 3u);

  // A digital-data call: its session is none (-1).
  ASSERT_EQ(ask(modem_image(2, 41, [](TERM::ModemParams& m) { add_ddm(m, {0}); })), Strings{"seq 2 slot 41 success"});
  ASSERT_EQ(ask(connect_image(3, 40, 41), 2).back(), "seq 3 slot 40 success");
  const std::size_t accepted = count("incoming auth connection from");
  AuthPeer idle;
  ASSERT_TRUE(idle.connect());
  ASSERT_TRUE(eventually([&] { return count("incoming auth connection from") > accepted; })) << srv().log();
  const std::size_t unknown = count("send error: unknown auth -1 session.");
  EXPECT_EQ(ask(activate_modem(4, 41, "10.1.1.2")), Strings{"seq 4 slot 41 success"});
  EXPECT_TRUE(eventually([&] { return count("send error: unknown auth -1 session.") > unknown; })) << srv().log();
  EXPECT_EQ(hex(idle.read(16, 300)), "") << "an answer to a connection that asked nothing";
  AuthPeer digital;
  ASSERT_TRUE(digital.connect());
  digital.send(auth_request(-1, "dig", "d"));
  EXPECT_EQ(frames(1), Strings{"slot 41 auth dig d"});
  EXPECT_EQ(ask(activate_modem(5, 41, "10.1.1.2")), Strings{"seq 5 slot 41 success"});
  EXPECT_EQ(hex(digital.read(16)), accept_record(-1));
  EXPECT_EQ(digital.read(36).size(), 36u);
  EXPECT_EQ(hex(idle.read(16, 300)), "");
  EXPECT_EQ(ask(destroy(6, 41)), Strings{"seq 6 slot 41 success"});

  // A DSP modem call (on modem 0, the only one free) whose program asks
  // on a connection of its own.
  const auto call = [](int seq, int slot, AuthPeer& peer, const std::string& user) {
    const std::string s = std::to_string(slot);
    EXPECT_EQ(ask(modem_image(seq, slot, [](TERM::ModemParams&) {})),
              Strings{"seq " + std::to_string(seq) + " slot " + s + " success"});
    EXPECT_EQ(ask(connect_image(seq + 1, 40, slot), 3).back(), "seq " + std::to_string(seq + 1) + " slot 40 success");
    ASSERT_TRUE(peer.connect());
    peer.send(auth_request(0, user, "p"));
    EXPECT_EQ(frames(1), Strings{"slot " + s + " auth " + user + " p"});
  };
  // Its program keeps the connection after the call, and sends its
  // accounting when the call is gone.
  AuthPeer stale;
  call(7, 42, stale, "old");
  EXPECT_EQ(ask(destroy(9, 42)), Strings{"seq 9 slot 42 success"});
  const std::size_t gone = count("receive auth request for unknown session 0");
  stale.send(record(64, 4, 0));
  EXPECT_TRUE(eventually([&] { return count("receive auth request for unknown session 0") > gone; })) << srv().log();

  // The next call on modem 0.
  AuthPeer current;
  call(10, 43, current, "new");
  EXPECT_EQ(ask(activate_modem(12, 43, "10.1.1.2")), Strings{"seq 12 slot 43 success"});
  EXPECT_EQ(hex(current.read(16)), accept_record(0)) << "the asking connection waits for its answer";
  EXPECT_EQ(current.read(36).size(), 36u);
  EXPECT_EQ(hex(stale.read(16, 300)), "");
  // The old connection asks again: now it is the one waiting.
  stale.send(auth_request(0, "again", "p"));
  EXPECT_EQ(frames(1), Strings{"slot 43 auth again p"});
  EXPECT_EQ(ask(activate_modem(13, 43, "10.1.1.2")), Strings{"seq 13 slot 43 success"});
  EXPECT_EQ(hex(stale.read(16)), accept_record(0));
  EXPECT_EQ(hex(current.read(16, 300)), "");
  EXPECT_EQ(ask(destroy(14, 43)), Strings{"seq 14 slot 43 success"});

  // The old call's accounting comes late, after the next call's program
  // asked: a record that asks nothing does not take that call's answer.
  ASSERT_EQ(stale.read(36).size(), 36u);  // the rest of its answer above
  AuthPeer late;
  call(16, 44, late, "later");
  stale.send(record(64, 4, 0));
  EXPECT_EQ(frames(1), Strings{"slot 44 acct 0/0 0/0 0/0 0/0 0/0"});
  EXPECT_EQ(ask(activate_modem(18, 44, "10.1.1.2")), Strings{"seq 18 slot 44 success"});
  EXPECT_EQ(hex(late.read(16)), accept_record(0)) << "the answer went to the connection that only accounted";
  EXPECT_EQ(hex(stale.read(16, 300)), "");
  EXPECT_EQ(ask(destroy(19, 44)), Strings{"seq 19 slot 44 success"});
  EXPECT_EQ(ask(destroy(15, 40)), Strings{"seq 15 slot 40 success"});
}

// A DSP modem not set up yet has no session; its -1 is the session of every
// digital-data call, which must keep its own requests and answers.
TEST_F(ModemServer, DigitalCallIsNotTakenForADspModemNotSetUp) {
  ASSERT_GE(query().get_digital_modems().getValue(), 1);
  ASSERT_EQ(ask(trunk_image(1, 50, 2, 5), 3).size(), 3u);
  ASSERT_EQ(ask(modem_image(2, 51, [](TERM::ModemParams&) {})), Strings{"seq 2 slot 51 success"});
  ASSERT_EQ(ask(modem_image(3, 52, [](TERM::ModemParams& m) { add_ddm(m, {0}); })), Strings{"seq 3 slot 52 success"});
  ASSERT_EQ(ask(connect_image(4, 50, 52), 2).back(), "seq 4 slot 50 success");
  AuthPeer digital;
  ASSERT_TRUE(digital.connect());
  digital.send(auth_request(-1, "dig", "d"));
  EXPECT_EQ(frames(1), Strings{"slot 52 auth dig d"});
  // The idle DSP modem's activate has nobody to answer.
  EXPECT_EQ(ask(activate_modem(5, 51, "10.1.1.3")), Strings{"seq 5 slot 51 success"});
  EXPECT_EQ(hex(digital.read(16, 300)), "") << "an admission meant for another slot";
  EXPECT_EQ(ask(activate_modem(6, 52, "10.1.1.2")), Strings{"seq 6 slot 52 success"});
  Bytes accept = record(16, 2, -1);
  put(accept, 12, 1);
  EXPECT_EQ(hex(digital.read(16)), hex(accept));
  EXPECT_EQ(digital.read(36).size(), 36u);
  EXPECT_EQ(ask(destroy(7, 52)), Strings{"seq 7 slot 52 success"});
  EXPECT_EQ(ask(destroy(8, 51)), Strings{"seq 8 slot 51 success"});
  EXPECT_EQ(ask(destroy(9, 50)), Strings{"seq 9 slot 50 success"});
}

TEST_F(ModemServer, OriginateModesAndAllocationFailure) {
  ASSERT_EQ(ask(trunk_image(1, 4, 0, 2), 3).size(), 3u);
  // Originate, no cid: four arguments.
  EXPECT_EQ(ask(modem_image(2, 11, [](TERM::ModemParams& m) { m.set_originate(); })), Strings{"seq 2 slot 11 success"});
  EXPECT_EQ(ask(connect_image(3, 4, 11), 3),
            (Strings{"slot 11 transmitter active 1792", "slot 11 receiver active 1792", "seq 3 slot 4 success"}));
  EXPECT_EQ(requests(), (Strings{"0xBB0B", "0xBB15", "0xBB3A 0 -1", "0xBB04 0 -1"}));
  ASSERT_TRUE(standin_has("pppd", "argv"));
  EXPECT_EQ(standin("pppd", "argv"), Strings{"/usr/local/sbin/pppd file /usr/local/etc/ppp/coptions /dev/mdm0"});

  // ddm on a DSP modem (no free interface): V110 and V120 give mask 1; the
  // DSP parameters follow the reset; a failing reset or parameter is only
  // logged.
  srv().sim.ask("net del hdlc0");
  srv().sim.ask("net del hdlc1");
  EXPECT_EQ(query().get_digital_modems().getValue(), 0);
  srv().sim.ask("mctl requests");
  srv().sim.ask("mctl fail 0xBB38 22 1");
  srv().sim.ask("mctl fail 0xBB3A 5 1");
  EXPECT_EQ(ask(modem_image(4, 12,
                            [](TERM::ModemParams& m) {
                              add_ddm(m, {0, 3});
                              for (int i : {1, 2}) {
                                TERM::DDModemParam d;
                                d.set_offset(i);
                                d.set_value(10 * i);
                                m.set_dmp().push_back(d);
                              }
                            })),
            Strings{"seq 4 slot 12 success"});
  EXPECT_EQ(ask(connect_image(5, 12, 4), 3),
            (Strings{"slot 12 transmitter active 1793", "slot 12 receiver active 1793", "seq 5 slot 12 success"}));
  EXPECT_EQ(requests(), (Strings{"0xBB0B", "0xBB15", "0xBB16 1 1", "0xBB3A 1 -1", "0xBB38 1 1 10", "0xBB38 1 2 20",
                                 "0xBB03 1 -1"}));
  EXPECT_TRUE(srv().wait_log("set dmp parameter index=1 value=10 failed : ")) << srv().log();
  EXPECT_TRUE(srv().wait_log("reset dmp parameters failed : Input/output error\n")) << srv().log();
  ASSERT_TRUE(standin_has("pppd", "argv", 2)) << "the mode file is read at start";
  srv().sim.ask("net add hdlc0 0x11");
  srv().sim.ask("net add hdlc1 0x11");

  // Allocation fails: abort with its errno, no streams; a later start
  // tries again.
  srv().sim.ask("mctl fail 0xBB0B 16 1");
  EXPECT_EQ(ask(modem_image(6, 13, [](TERM::ModemParams&) {})), Strings{"seq 6 slot 13 success"});
  EXPECT_EQ(ask(connect_image(7, 4, 13), 3),
            (Strings{"slot 13 abort 16", "slot 13 receiver active -1", "seq 7 slot 4 error connectFail"}));
  EXPECT_TRUE(srv().wait_log("insufficient resources : ")) << srv().log();

  // pppd ending by itself: abort with the wait status.
  mode("pppd", "exit 3");
  ::unlink(srv().board("/var/standin/pppd.log").c_str());
  EXPECT_EQ(ask(modem_image(8, 14, [](TERM::ModemParams&) {})), Strings{"seq 8 slot 14 success"});
  EXPECT_EQ(ask(connect_image(9, 4, 14), 4),
            (Strings{"slot 14 transmitter active 1794", "slot 14 receiver active 1794", "seq 9 slot 4 success",
                     "slot 14 abort 768"}));
  // The controller's program and arguments replace the option file and the
  // device; of 70 arguments the first 62 go.
  ::unlink(srv().board("/var/standin/pppd.log").c_str());
  EXPECT_EQ(ask(modem_image(20, 15,
                            [](TERM::ModemParams& m) {
                              m.set_execfile("/usr/local/sbin/pppd");
                              for (int i = 0; i < 70; ++i)
                                m.set_execargs().push_back(ASN1::IA5String("a" + std::to_string(i)));
                            })),
            Strings{"seq 20 slot 15 success"});
  EXPECT_EQ(ask(connect_image(21, 4, 15), 4).back(), "slot 15 abort 768");
  std::string argv = "/usr/local/sbin/pppd";
  for (int i = 0; i < 62; ++i) argv += " a" + std::to_string(i);
  EXPECT_EQ(standin("pppd", "argv"), Strings{argv});
  // Slots whose pppd still runs answer when it has ended.
  EXPECT_EQ(sorted(ask({destroy(10, 11), destroy(11, 12), destroy(12, 13), destroy(13, 14), destroy(22, 15),
                        destroy(14, 4)},
                       6)),
            sorted(Strings{"seq 10 slot 11 success", "seq 11 slot 12 success", "seq 12 slot 13 success",
                           "seq 13 slot 14 success", "seq 22 slot 15 success", "seq 14 slot 4 success"}));

  // A NUL inside the cid: pppd would get the number cut short at it. It is
  // not run; the slot ends as for a program that cannot run.
  ::unlink(srv().board("/var/standin/pppd.log").c_str());
  ASSERT_EQ(ask(trunk_image(23, 4, 0, 2), 3).size(), 3u);
  EXPECT_EQ(ask(modem_image(24, 16, [](TERM::ModemParams& m) { m.set_cid(std::string("555\0" "1234", 8)); })),
            Strings{"seq 24 slot 16 success"});
  EXPECT_EQ(ask(connect_image(25, 4, 16), 4).back(), "slot 16 abort 512");
  EXPECT_TRUE(srv().wait_log("argument 5 holds a NUL octet, not executed\n")) << srv().log();
  EXPECT_EQ(standin("pppd", "argv"), Strings{});
  EXPECT_EQ(sorted(ask({destroy(26, 16), destroy(27, 4)}, 2)),
            sorted(Strings{"seq 26 slot 16 success", "seq 27 slot 4 success"}));
}

TEST_F(ModemServer, PppdIgnoringHangupIsKilledAfterFiveSeconds) {
  mode("pppd", "never");
  EXPECT_EQ(ask(modem_image(1, 15, [](TERM::ModemParams&) {})), Strings{"seq 1 slot 15 success"});
  EXPECT_EQ(ask(trunk_image(2, 5, 0, 3), 3).size(), 3u);
  EXPECT_EQ(ask(connect_image(3, 5, 15), 3).size(), 3u);
  ASSERT_TRUE(standin_has("pppd", "pid"));
  const auto t0 = real_ms();
  srv().ctl.send(destroy(4, 15));
  EXPECT_EQ(frames(1), Strings{"seq 4 slot 15 success"});
  const auto took = real_ms() - t0;
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 9000);
  EXPECT_TRUE(srv().wait_log("pppd terminate timeout!\npppd isn't terminated, killing ...\n")) << srv().log();
  EXPECT_EQ(standin("pppd", "signal"), Strings{"1"});
  const int pid = std::stoi(standin("pppd", "pid").at(0));
  EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; })) << "killed and reaped";
  EXPECT_EQ(ask(destroy(5, 5)), Strings{"seq 5 slot 5 success"});
}

TEST_F(ModemServer, FaxTransferReceiverAndOriginate) {
  EXPECT_EQ(ask(trunk_image(1, 6, 1, 1), 3).size(), 3u);
  // Transfer with arguments: the page count comes back as octetsIn.
  mode("fax", "exit 3");
  EXPECT_EQ(ask(modem_image(2, 16,
                            [](TERM::ModemParams& m) {
                              m.set_fax();
                              m.set_execargs().push_back(ASN1::IA5String("send"));
                              m.set_execargs().push_back(ASN1::IA5String("/var/f.g3"));
                            })),
            Strings{"seq 2 slot 16 success"});
  EXPECT_EQ(ask(connect_image(3, 6, 16), 5),
            (Strings{"slot 16 transmitter active 1792", "slot 16 receiver active 1792", "seq 3 slot 6 success",
                     "slot 16 acct 0/0 0/3 0/0 0/0 0/0", "slot 16 abort 768"}));
  EXPECT_EQ(standin("fax", "argv"), Strings{"/usr/local/sbin/fax -m 0 send /var/f.g3"});
  EXPECT_EQ(requests(), (Strings{"0xBB0B", "0xBB15", "0xBB3A 0 -1"}));

  // Receiver: after a second, unsupervised. The transfer handed its modem
  // back when it closed the device for the child.
  ::unlink(srv().board("/var/standin/fax.log").c_str());
  mode("fax", "exit 0");
  EXPECT_EQ(ask(modem_image(4, 17, [](TERM::ModemParams& m) { m.set_fax(); })), Strings{"seq 4 slot 17 success"});
  const auto t0 = real_ms();
  EXPECT_EQ(ask(connect_image(5, 6, 17), 3).size(), 3u);
  ASSERT_TRUE(standin_has("fax", "argv"));
  EXPECT_GE(real_ms() - t0, 900);
  const Strings argv = standin("fax", "argv");
  ASSERT_EQ(argv.size(), 1u);
  EXPECT_EQ(argv[0].substr(0, 39), "/usr/local/bin/fax -m 0 receive /var/fa");
  EXPECT_EQ(argv[0].size(), std::string("/usr/local/bin/fax -m 1 receive /var/fax-HH-MM-SS.g3").size());
  EXPECT_EQ(extra(300), Strings{}) << "the receiver's end is not reported";

  // Originate: the fax originate request alone.
  srv().sim.ask("mctl requests");
  EXPECT_EQ(ask(modem_image(6, 18,
                            [](TERM::ModemParams& m) {
                              m.set_fax();
                              m.set_originate();
                            })),
            Strings{"seq 6 slot 18 success"});
  EXPECT_EQ(ask(connect_image(7, 6, 18), 3).size(), 3u);
  EXPECT_EQ(requests(), (Strings{"0xBB0B", "0xBB15", "0xBB3A 0 -1", "0xBB40 0 -1"}));
  EXPECT_EQ(ask({destroy(8, 16), destroy(9, 17), destroy(10, 18), destroy(11, 6)}, 4),
            (Strings{"seq 8 slot 16 success", "seq 9 slot 17 success", "seq 10 slot 18 success",
                     "seq 11 slot 6 success"}));
}

TEST_F(ModemServer, DigitalDataCallOnAPointToPointInterface) {
  EXPECT_EQ(query().get_digital_modems().getValue(), 2);  // the free list is rebuilt at a query
  EXPECT_EQ(ask(trunk_image(1, 7, 2, 1), 3).size(), 3u);
  EXPECT_EQ(ask(modem_image(2, 20, [](TERM::ModemParams& m) { add_ddm(m, {0}); })), Strings{"seq 2 slot 20 success"});
  EXPECT_EQ(ask(connect_image(3, 7, 20), 2), (Strings{"slot 20 receiver active 1824", "seq 3 slot 7 success"}));
  ASSERT_TRUE(standin_has("pppd", "argv"));
  EXPECT_EQ(standin("pppd", "argv"), Strings{"/usr/local/sbin/pppd file /usr/local/etc/ppp/ioptions hdlc0"});
  // Nor here does pppd inherit a descriptor (the interface requests' socket).
  // The stand-in writes its descriptors last: wait for that line too.
  ASSERT_TRUE(standin_has("pppd", "fds"));
  EXPECT_EQ(standin("pppd", "fds"), Strings{"none"});
  EXPECT_EQ(srv().sim.ask("net get hdlc0"), "flags 0x11 protocol 0x2001");
  EXPECT_EQ(requests(), Strings{}) << "no DSP modem";

  // A query does not offer the held interface again.
  EXPECT_EQ(query().get_digital_modems().getValue(), 1);
  // An empty ddm is a DSP modem call.
  EXPECT_EQ(ask(modem_image(4, 21, [](TERM::ModemParams& m) { add_ddm(m, {}); })), Strings{"seq 4 slot 21 success"});
  EXPECT_EQ(ask(modem_image(5, 22, [](TERM::ModemParams& m) { add_ddm(m, {1}); })), Strings{"seq 5 slot 22 success"});
  EXPECT_EQ(ask(connect_image(6, 7, 21), 3),
            (Strings{"slot 21 transmitter active 1792", "slot 21 receiver active 1792", "seq 6 slot 7 success"}));
  EXPECT_EQ(ask(connect_image(7, 7, 22), 2), (Strings{"slot 22 receiver active 1825", "seq 7 slot 7 success"}));

  // Destroy: the interface goes down and back to raw HDLC, and is free
  // once.
  EXPECT_EQ(ask(destroy(8, 20)), Strings{"seq 8 slot 20 success"});
  EXPECT_EQ(srv().sim.ask("net get hdlc0"), "flags 0x10 protocol 0x2000");
  // Slot 22's pppd has only just been started: the hangup still ends it.
  // Its interface refuses to go down: told, and left as it is.
  EXPECT_EQ(srv().sim.ask("net fail flags 1 1"), "");
  const auto t0 = real_ms();
  EXPECT_EQ(sorted(ask({destroy(9, 21), destroy(10, 22)}, 2)),
            sorted(Strings{"seq 9 slot 21 success", "seq 10 slot 22 success"}));
  EXPECT_LT(real_ms() - t0, 4000);
  EXPECT_TRUE(srv().wait_log("SIOCSIFFLAGS fail!!!\n")) << srv().log();
  EXPECT_EQ(srv().sim.ask("net get hdlc1"), "flags 0x11 protocol 0x2001");
  EXPECT_EQ(srv().sim.ask("net add hdlc0 0x11"), "");
  EXPECT_EQ(srv().sim.ask("net add hdlc1 0x11"), "");
  EXPECT_EQ(query().get_digital_modems().getValue(), 2);

  // The interface refuses PPP: no call starts, and the slot is aborted
  // with the error instead of standing silent.
  EXPECT_EQ(srv().sim.ask("net fail ppp 5 1"), "");
  EXPECT_EQ(ask(modem_image(12, 23, [](TERM::ModemParams& m) { add_ddm(m, {0}); })), Strings{"seq 12 slot 23 success"});
  EXPECT_EQ(ask(connect_image(13, 7, 23), 3),
            (Strings{"slot 23 abort 5", "slot 23 receiver active 1824", "seq 13 slot 7 success"}));
  EXPECT_EQ(srv().sim.ask("net get hdlc0"), "flags 0x11 protocol 0x2000");
  EXPECT_EQ(ask(destroy(14, 23)), Strings{"seq 14 slot 23 success"});
  EXPECT_EQ(srv().sim.ask("net add hdlc0 0x11"), "");

  // The interface went after the slot was made: its settings cannot be
  // read, no call starts, and the slot is aborted with the error too (as a
  // DSP modem that fails before it has a channel, the connect fails).
  EXPECT_EQ(query().get_digital_modems().getValue(), 2);
  const std::size_t started = standin("pppd", "argv").size();
  EXPECT_EQ(ask(modem_image(15, 24, [](TERM::ModemParams& m) { add_ddm(m, {0}); })), Strings{"seq 15 slot 24 success"});
  EXPECT_EQ(srv().sim.ask("net del hdlc0"), "");
  EXPECT_EQ(ask(connect_image(16, 7, 24), 3),
            (Strings{"slot 24 abort 19", "slot 24 receiver active -1", "seq 16 slot 7 error connectFail"}));
  EXPECT_EQ(standin("pppd", "argv").size(), started);
  EXPECT_EQ(ask(destroy(17, 24)), Strings{"seq 17 slot 24 success"});
  EXPECT_EQ(srv().sim.ask("net add hdlc0 0x11"), "");
  EXPECT_EQ(ask(destroy(11, 7)), Strings{"seq 11 slot 7 success"});
}

// Each step of a DSP modem's start failed in turn, the modem pool held to
// one so that a modem kept by a failed start would starve the next. A
// failure before the modem is set up aborts the slot, fails the connect and
// is tried again by the next connect; a later one (answer, originate, a
// program that cannot run) aborts the slot, which keeps its modem until
// destroyed. Either way a destroy frees everything, no child is left, and
// the same call then starts.
TEST_F(ModemServer, EveryStartStepFailedInTurnAbortsAndLeavesNothing) {
  srv().sim.ask("mctl pool 1");
  srv().sim.ask("net del hdlc0");
  srv().sim.ask("net del hdlc1");
  EXPECT_EQ(query().get_digital_modems().getValue(), 0);
  ASSERT_EQ(ask(trunk_image(1, 8, 0, 4), 3).size(), 3u);
  const std::string sbin = srv().board("/usr/local/sbin/");
  ::mkdir(srv().board("/usr").c_str(), 0755);
  ::mkdir(srv().board("/usr/local").c_str(), 0755);
  ::mkdir(sbin.c_str(), 0755);
  auto plain = [](TERM::ModemParams&) {};
  auto fax = [](TERM::ModemParams& m) {
    m.set_fax();
    m.set_execargs().push_back(ASN1::IA5String("send"));
  };
  struct Step {
    const char* fault;  // a simulator word, or "noexec NAME" for a program that cannot run
    std::function<void(TERM::ModemParams&)> fill;
    const char* program;  // what runs once the fault is gone
    Strings frames;       // of the failed start, "S" standing for the slot
  };
  const Strings early = {"abort E", "receiver active -1", "connectFail"};
  const Strings late = {"transmitter active 1792", "receiver active 1792", "abort E", "success"};
  const Strings child = {"transmitter active 1792", "receiver active 1792", "success", "abort E"};
  auto with = [](Strings f, const char* code) {
    for (auto& l : f)
      if (l == "abort E") l = std::string("abort ") + code;
    return f;
  };
  const Step steps[] = {
      {"mctl fail open 2 1", plain, "pppd", with(early, "2")},
      {"mctl fail 0xBB0B 16 1", plain, "pppd", with(early, "16")},
      {"mctl fail 0xBB15 5 1", plain, "pppd", with(early, "5")},
      {"mctl fail 0xBB16 22 1", [](TERM::ModemParams& m) { add_ddm(m, {1}); }, "pppd", with(early, "22")},
      {"mctl fail 0xBB03 5 1", plain, "pppd", with(late, "5")},
      {"mctl fail 0xBB04 11 1", [](TERM::ModemParams& m) { m.set_originate(); }, "pppd", with(late, "11")},
      {"mctl fail 0xBB40 5 1",
       [](TERM::ModemParams& m) {
         m.set_fax();
         m.set_originate();
       },
       nullptr, with(late, "5")},
      {"noexec pppd", plain, "pppd", with(child, "512")},
      // A fax program that never ran received no pages, whatever its child's exit code.
      {"noexec fax", fax, "fax", {"transmitter active 1792", "receiver active 1792", "success", "acct 0/0 0/0 0/0 0/0 0/0", "abort 512"}},
  };
  int seq = 2;
  for (const Step& st : steps) {
    SCOPED_TRACE(st.fault);
    const std::string fault = st.fault;
    const std::string noexec = fault.rfind("noexec ", 0) == 0 ? sbin + fault.substr(7) : "";
    if (noexec.empty()) {
      EXPECT_EQ(srv().sim.ask(fault), "");
    } else {
      std::ofstream(noexec) << "#!/bin/sh\n";
      ::chmod(noexec.c_str(), 0644);
    }
    const int slot = 30;
    auto tell_slot = [&](Strings f) {
      for (auto& l : f)
        l = l == "success" || l == "connectFail"
                ? "seq " + std::to_string(seq) + " slot 8 " + (l == "success" ? "success" : "error connectFail")
                : "slot " + std::to_string(slot) + " " + l;
      return f;
    };
    EXPECT_EQ(ask(modem_image(seq, slot, st.fill)), Strings{"seq " + std::to_string(seq) + " slot 30 success"});
    ++seq;
    Strings got = ask(connect_image(seq, 8, slot), st.frames.size());
    for (const auto& f : extra(300)) got.push_back(f);
    EXPECT_EQ(got, tell_slot(st.frames));
    ++seq;
    if (!noexec.empty()) ::unlink(noexec.c_str());
    if (st.frames.back() == "connectFail") {
      // Nothing was set up: the next connect starts the modem. The receiver
      // was announced (on -1) at the failed connect and is not again.
      got = ask(connect_image(seq, 8, slot), 2);
      EXPECT_EQ(got, tell_slot({"transmitter active 1792", "success"}));
      ++seq;
    } else {
      // The slot holds its modem until it goes; then the same call starts.
      EXPECT_EQ(ask(destroy(seq, slot)), Strings{"seq " + std::to_string(seq) + " slot 30 success"});
      ++seq;
      EXPECT_EQ(ask(modem_image(seq, slot, st.fill)), Strings{"seq " + std::to_string(seq) + " slot 30 success"});
      ++seq;
      got = ask(connect_image(seq, 8, slot), 3);
      EXPECT_EQ(got, tell_slot({"transmitter active 1792", "receiver active 1792", "success"}));
      ++seq;
    }
    if (st.program) {
      ASSERT_TRUE(standin_has(st.program, "pid"));
    }
    std::vector<int> pids;
    for (const char* p : {"pppd", "fax"})
      for (const auto& id : standin(p, "pid")) pids.push_back(std::stoi(id));
    // A fax transfer hung up reports its pages before the destroy completes.
    Strings gone = {"seq " + std::to_string(seq) + " slot 30 success"};
    if (st.program && st.program == std::string("fax")) gone.insert(gone.begin(), "slot 30 acct 0/0 0/0 0/0 0/0 0/0");
    got = ask(destroy(seq, slot), gone.size());
    for (const auto& f : extra(200)) got.push_back(f);
    EXPECT_EQ(got, gone);
    ++seq;
    for (int pid : pids) EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; })) << "child " << pid << " reaped";
    ::unlink(srv().board("/var/standin/pppd.log").c_str());
    ::unlink(srv().board("/var/standin/fax.log").c_str());
  }
  srv().sim.ask("mctl pool 4");
  srv().sim.ask("net add hdlc0 0x11");
  srv().sim.ask("net add hdlc1 0x11");
  EXPECT_EQ(ask(destroy(seq, 8)), Strings{"seq " + std::to_string(seq) + " slot 8 success"});
}

// The listener gets its port even when it is taken at start (tried again
// on the control link's schedule) or held in TIME_WAIT by the connections
// of a server that has just ended.
TEST(ModemAuthLink, ListenerRetriesItsBindAndReusesTheAddress) {
  // A listener holds the port even against SO_REUSEADDR; the blocker needs
  // the option itself past the TIME_WAITs of earlier runs.
  const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // not the server's
  const int on = 1;
  ::setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(auth_port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  {
    RunningServer srv;
    ASSERT_TRUE(srv.ready()) << srv.log();
    EXPECT_TRUE(srv.wait_log("fail to bind auth socket: Address already in use")) << srv.log();
    ::close(blocker);
    AuthPeer peer;
    ASSERT_TRUE(peer.connect()) << srv.log();
    EXPECT_TRUE(srv.wait_log("incoming auth connection from 127.0.0.1:")) << srv.log();
    // The server closes first (bad length): its end stays in TIME_WAIT.
    AuthPeer closing;
    ASSERT_TRUE(closing.connect());
    const std::uint32_t three = 3;
    Bytes b(4);
    std::memcpy(b.data(), &three, 4);
    closing.send(b);
    EXPECT_TRUE(closing.closed());
  }
  RunningServer again;
  ASSERT_TRUE(again.ready()) << again.log();
  AuthPeer peer;
  EXPECT_TRUE(peer.connect(3000)) << again.log();
  EXPECT_EQ(again.log().find("fail to bind auth socket"), std::string::npos) << again.log();
}

// The link admits users and hands out their IP parameters: only programs
// of the board itself may reach it. Another address of this host, on the
// same loopback interface, finds nobody listening.
TEST(ModemAuthLink, ListensOnTheLoopbackAddressOnly) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  AuthPeer peer;
  ASSERT_TRUE(peer.connect()) << srv.log();
  ASSERT_TRUE(srv.wait_log("incoming auth connection from 127.0.0.1:")) << srv.log();
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_in other{};
  other.sin_family = AF_INET;
  other.sin_port = htons(auth_port);
  other.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
  const int r = ::connect(s, reinterpret_cast<sockaddr*>(&other), sizeof other);
  const int e = errno;
  EXPECT_EQ(r, -1);
  EXPECT_EQ(e, ECONNREFUSED);
  ::close(s);
  EXPECT_EQ(srv.log().find("incoming auth connection from 127.0.0.2"), std::string::npos) << srv.log();
}

// Each authentication connection holds a descriptor of the server: past
// the bound a new one is closed at once, and one that leaves makes room.
TEST(ModemAuthLink, ConnectionsPastTheBoundAreClosed) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  std::vector<std::unique_ptr<AuthPeer>> peers;
  for (std::size_t i = 0; i < 256; ++i) {
    peers.emplace_back(new AuthPeer);
    ASSERT_TRUE(peers.back()->connect()) << i << srv.log();
  }
  AuthPeer extra;
  ASSERT_TRUE(extra.connect());
  EXPECT_TRUE(extra.closed()) << srv.log();
  EXPECT_TRUE(srv.wait_log("refuse auth connection from 127.0.0.1:")) << srv.log();
  EXPECT_FALSE(peers.back()->closed(0));
  peers.front().reset();
  ASSERT_TRUE(srv.wait_log(" disconnected.\n")) << srv.log();
  AuthPeer again;
  ASSERT_TRUE(again.connect());
  EXPECT_FALSE(again.closed(500)) << srv.log();
}

// A peer that writes records as fast as the server reads them (too short
// to name a session, each is dropped) does not hold the loop: the
// controller is still answered.
TEST(ModemAuthLink, RecordFloodLeavesTheControllerAnswered) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  AuthPeer peer;
  ASSERT_TRUE(peer.connect()) << srv.log();
  std::string records;
  for (int i = 0; i < 4096; ++i) {
    const Bytes r = record(4, 0, 0);
    records.append(r.begin(), r.end());
  }
  EXPECT_LT(slowest_ping_during_flood(srv, peer.fd(), records), 1000);
}

void stop_loop() { multiplexer.terminate(); }

// Out of descriptors the authentication listener neither spins on its
// backlog nor lists a client whose descriptor it could not copy. The factory
// in a child of its own, on the real clock, about 1.5 s.
TEST(ModemAuthLink, OutOfDescriptorsDropsWhatItCannotHoldAndServesOnceFreed) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    testsupport::StreamCapture cap;
    ModemFactory& f = ModemFactory::instance();
    if (!f.is_listening()) return failed.push_back("no listener: " + cap.all());
    testsupport::ExhaustedListener l;
    l.connect = [](testsupport::EarlyClient& c) { return c.connect_tcp(auth_port); };
    l.listed = [&] { return f.GetClients().size(); };
    l.run_ms = [](unsigned int ms) {
      Timer stop;
      stop.set(ms, &stop_loop);
      multiplexer.run(false, true);
    };
    testsupport::exhaust_listener(l, failed);
    if (testsupport::StreamCapture::count(cap.err(), "can't accept connection: Too many open files, connection dropped.") != 1)
      failed.push_back("the dropped connection is not logged once: " + cap.all());
    if (testsupport::StreamCapture::count(cap.err(), "can't keep auth connection from 127.0.0.1:") != 1)
      failed.push_back("the uncopied client is not logged: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// A digital-data call whose interface socket cannot be had is aborted with
// the error, as when the interface refuses PPP: before, nothing started and
// nobody heard. In a child (its own descriptor limit).
TEST(ModemOutOfDescriptors, DigitalDataStartWithoutASocketAborts) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    TERM::ModemParams p;
    p.set_cid("");
    p.set_cdid("");
    add_ddm(p, {0});
    HdlcModemSlot* s = new HdlcModemSlot(p, "hdlc1");
    testsupport::StreamCapture cap;
    // The abort path once with descriptors free (see descriptor_exhaustion.h).
    platform::sim::control_request("net fail ppp 5 1");
    s->IOnOutputStream();
    {
      testsupport::DescriptorFill fill;
      if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      s->IOnOutputStream();
    }
    delete s;
    if (testsupport::StreamCapture::count(cap.err(), "can't get interface socket: Too many open files") != 1)
      failed.push_back("the start without a socket is not aborted: " + cap.all());
    // No controller here: each abort signal is refused as unbound.
    if (testsupport::StreamCapture::count(cap.err(), "service not connected to server.") != 2)
      failed.push_back("not one abort signal per failed start: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// A DSP modem call short of descriptors is aborted with what failed: the
// open, or the copy of the device it keeps (shown before as the answer
// failing on a bad descriptor). Answers are refused here, so a start that
// gets that far ends there. In a child (its own descriptor limit).
TEST(ModemOutOfDescriptors, DspModemStartShortOfDescriptorsSaysWhatFailed) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    TERM::ModemParams p;
    p.set_cid("");
    p.set_cdid("");
    platform::sim::mctl_model();  // linked in, installed
    platform::sim::control_request("mctl fail 0xBB03 5");
    testsupport::StreamCapture cap;
    // The whole path once with descriptors free (see descriptor_exhaustion.h).
    delete new DspModemSlot(p);
    {
      DspModemSlot warm(p);
      warm.IOnOutputStream();
    }
    bool answered = false;
    for (int free = 0; free <= 8 && !answered; ++free) {
      DspModemSlot s(p);
      testsupport::DescriptorFill fill;
      if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      for (int i = 0; i < free; ++i) fill.free_one();
      s.IOnOutputStream();
      fill.release();
      answered = testsupport::StreamCapture::count(cap.err(), "answer failed : Input/output error") == 2;
    }
    if (!answered) failed.push_back("no answer with 8 free descriptors");
    if (testsupport::StreamCapture::count(cap.err(), "fail to hold device: Too many open files") != 1)
      failed.push_back("the device copy that failed is not logged once: " + cap.all());
    if (testsupport::StreamCapture::count(cap.err(), "Bad file descriptor") != 0)
      failed.push_back("a failure shown as a bad descriptor: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// Started short of descriptors, the authentication listener either listens
// polled or is tried again on its bind schedule; either way a client is
// served afterwards. Each count of free descriptors meets another step of
// the start (the socket, the listener's copy, its event's copy). The port
// is held at first, so the start under test is a retry and the path has
// run once with descriptors free (see descriptor_exhaustion.h). One child
// each, since the factory is built once; on the virtual clock.
class ModemAuthLinkStart : public testsupport::VirtualClockTest {};

TEST_F(ModemAuthLinkStart, ShortOfDescriptorsListensPolledOrRetries) {
  bool listened_at_once = false;
  for (int free = 0; free <= 6 && !listened_at_once; ++free) {
    const std::string failed = testsupport::in_child([&](std::vector<std::string>& failed) {
      testsupport::StreamCapture cap;
      const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
      const int on = 1;
      ::setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(auth_port);
      sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::bind(blocker, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(blocker, 1) != 0)
        return failed.push_back("the port cannot be held");
      ModemFactory& f = ModemFactory::instance();
      run_for(ModemFactory::bind_retry_ms + 10);
      ::close(blocker);
      if (f.is_listening()) return failed.push_back("listening on a held port");
      {
        // The listener's event is armed for the first time below.
        Event warm;
        warm.Schedule(Fd(::dup(0)), POLLIN);
      }
      testsupport::EarlyClient client;
      bool at_once = false;
      {
        testsupport::DescriptorFill fill;
        if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
        for (int i = 0; i < free; ++i) fill.free_one();
        run_for(ModemFactory::bind_retry_ms + 10);
        at_once = f.is_listening();
      }
      if (!at_once) {
        run_for(ModemFactory::bind_retry_ms + 10);
        if (!f.is_listening()) return failed.push_back("not listening after the next retry: " + cap.all());
      }
      if (!client.connect_tcp(auth_port)) return failed.push_back("no connection");
      run_for(10);
      if (f.GetClients().size() != 1)
        failed.push_back(std::string("the client is not served, listening ") + (at_once ? "at once" : "after a retry"));
      else if (at_once)
        failed.push_back("at once");  // tells the parent to stop
    });
    listened_at_once = failed == "at once\n";
    EXPECT_TRUE(failed == "" || listened_at_once) << free << " free: " << failed;
  }
  EXPECT_TRUE(listened_at_once) << "not listening at once with 6 free";
}

// True when nothing listens on the port: a bind as the server's (address
// reuse on, any address) fails only while a listener holds it.
bool no_listener_on(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return free;
}

// The server killed (SIGKILL) and started again on the same board root and
// port, as after a crash or a watchdog reset: first just after a fax
// receiver started (its child waits a second before it runs the program),
// then while a pppd runs on. Each new run writes its pid file, serves the
// board's control socket, has cleared the dead run's monitoring scratch file,
// and gives the reconnected controller the same slots on the same modem and
// time slots.
TEST(ModemRestart, KilledServerStartedAgainStartsClean) {
  ScratchBoardRoot root;
  const std::string board = root.path();
  const std::uint16_t port = free_port();
  ::mkdir((board + "/var/standin").c_str(), 0755);
  std::ofstream(board + "/var/standin/fax.mode") << "exit 0\n";
  std::ofstream(board + "/var/standin/pppd.mode") << "hup 0\n";
  const auto tell_all = [](ControllerClient& ctl, const Strings& images, std::size_t n) {
    ctl.send_all(images);
    Strings out;
    while (out.size() < n) {
      const std::string f = ctl.next(patience_ms);
      if (f.empty()) break;
      out.push_back(tell(f));
    }
    return out;
  };
  const std::vector<std::function<void(TERM::ModemParams&)>> calls = {
      [](TERM::ModemParams& m) { m.set_fax(); },  // the receiver
      [](TERM::ModemParams&) {},                  // an answered call: pppd
      [](TERM::ModemParams&) {},
  };
  for (std::size_t run = 0; run < calls.size(); ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string out_dir = board + "/run" + std::to_string(run);
    ::mkdir(out_dir.c_str(), 0755);
    ServerProcess p(out_dir, {"--port", std::to_string(port)});
    ControllerClient ctl;
    ctl.drop = is_status_signal;
    ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
    EXPECT_TRUE(eventually([&] { return file_text(board + "/var/run/server.pid") == std::to_string(p.pid()); }))
        << p.err();
    EXPECT_EQ(p.err().find("is held by"), std::string::npos) << p.err();
    SimClient sim;
    ASSERT_TRUE(sim.connect(board + "/var/run/sim.sock"));
    EXPECT_TRUE(sim.request("hal list", 3000).ok()) << p.err();
    EXPECT_FALSE(::access((board + "/var/monitoring/dip_tmp").c_str(), F_OK) == 0);

    EXPECT_EQ(tell_all(ctl, {trunk_image(1, 3, 0, 1), modem_image(2, 10, calls[run])}, 4),
              (Strings{"seq 1 slot 3 success", "slot 3 transmitter active 1", "slot 3 receiver active 1",
                       "seq 2 slot 10 success"}));
    EXPECT_EQ(tell_all(ctl, {connect_image(3, 3, 10)}, 3),
              (Strings{"slot 10 transmitter active 1792", "slot 10 receiver active 1792", "seq 3 slot 3 success"}));
    if (run + 1 < calls.size()) {
      if (run > 0) {
        ASSERT_TRUE(
            eventually([&] { return file_text(board + "/var/standin/pppd.log").find("fds") != std::string::npos; }));
      }
      p.signal(SIGKILL);
      EXPECT_EQ(p.wait(), -1);
      // A child the killed run forked holds its listener until the child
      // first runs and closes the server's descriptors; on a busy machine
      // that is after the kill, and a controller connecting meanwhile is
      // taken into that listener's backlog and then reset.
      EXPECT_TRUE(eventually([&] { return no_listener_on(port); }));
      // Cut short while writing a status file.
      std::ofstream(board + "/var/monitoring/dip_tmp") << "1";
      continue;
    }
    // The modem slot's destroy completes when its pppd has ended.
    EXPECT_EQ(sorted(tell_all(ctl, {null_command_image(4, 10, "destroy"), null_command_image(5, 3, "destroy")}, 2)),
              (Strings{"seq 4 slot 10 success", "seq 5 slot 3 success"}));
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0) << p.err();
    EXPECT_FALSE(::access((board + "/var/run/server.pid").c_str(), F_OK) == 0);
  }
  // The pppd of the killed run outlived it: it goes now.
  std::ifstream log(board + "/var/standin/pppd.log");
  for (std::string l; std::getline(log, l);)
    if (l.rfind("pid ", 0) == 0) ::kill(std::atoi(l.c_str() + 4), SIGKILL);
}

}  // namespace

// A controller that goes on talking to a modem slot whose destroy waits for
// pppd: a ping reusing the destroy's sequence number, a second destroy, a
// create of the same number, a command for the releasing slot, all in one
// write. Each is answered at once and once; the destroy's own answer comes
// when pppd is gone, once, and nothing of the slot follows it.
TEST_F(ModemServer, CommandsPipelinedAgainstAPendingReleaseAreEachAnsweredOnce) {
  mode("pppd", "never");
  EXPECT_EQ(ask(modem_image(1, 17, [](TERM::ModemParams&) {})), Strings{"seq 1 slot 17 success"});
  EXPECT_EQ(ask(trunk_image(2, 7, 0, 4), 3).size(), 3u);
  EXPECT_EQ(ask(connect_image(3, 7, 17), 3).size(), 3u);
  ASSERT_TRUE(standin_has("pppd", "pid"));
  srv().ctl.send(destroy(4, 17));
  EXPECT_EQ(extra(), Strings{}) << "the destroy waits for pppd";
  const auto t0 = real_ms();
  EXPECT_EQ(ask({null_command_image(4, -1, "ping"), destroy(5, 17), modem_image(6, 17, [](TERM::ModemParams&) {}),
                 user_data_image(7, 17, "x"), null_command_image(8, 17, "ping")},
                5),
            (Strings{"seq 4 success", "seq 5 slot 17 error destroyInProgress", "seq 6 slot 17 error destroyInProgress",
                     "seq 7 slot 17 error unsupported", "seq 8 slot 17 success"}));
  EXPECT_LT(real_ms() - t0, 4000) << "answered while the release was pending";
  EXPECT_EQ(frames(1), Strings{"seq 4 slot 17 success"});
  EXPECT_EQ(extra(), Strings{}) << "one answer to the destroy, no abort after it";
  // The number is free again: a create takes it at once.
  EXPECT_EQ(ask(modem_image(9, 17, [](TERM::ModemParams&) {})), Strings{"seq 9 slot 17 success"});
  mode("pppd", "hup 0");
  EXPECT_EQ(sorted(ask({destroy(10, 17), destroy(11, 7)}, 2)),
            sorted(Strings{"seq 10 slot 17 success", "seq 11 slot 7 success"}));
}
