// Prompt players, recorders and T.38 fax slots of the running server, driven
// by a controller, with TCP peers on loopback, the simulated MCC channels and
// a stand-in t38 program under the board root. One server serves the suite.
// These tests wait in real time, each wait bounded and ended as soon as the
// awaited thing has happened.
#include "tests/media/t38_images.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include "schema/lgcp/LGCP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using testsupport::RunningServer;

namespace {

const int patience = testsupport::patience_ms;

std::string command(int seq, int slot, const std::function<void(LGCP::Command&)>& fill) {
  return testsupport::command_image(seq, slot, fill);
}

std::string player_file(int seq, int slot, const std::vector<std::string>& names, int repeat) {
  return command(seq, slot, [&](LGCP::Command& c) {
    auto& f = c.select_create().select_voice().select_player().select_file();
    for (const std::string& n : names) f.set_name().push_back(n);
    f.set_repeat(repeat);
  });
}

std::string player_net(int seq, int slot, int port, int id) {
  return command(seq, slot, [&](LGCP::Command& c) {
    auto& n = c.select_create().select_voice().select_player().select_network();
    n.set_host().set_iaddr(std::string("127.0.0.1"));
    n.set_host().set_port(static_cast<unsigned>(port));
    n.set_id(id);
  });
}

std::string recorder(int seq, int slot, int port) {
  return command(seq, slot, [&](LGCP::Command& c) {
    auto& h = c.select_create().select_voice().select_record();
    h.set_iaddr(std::string("127.0.0.1"));
    h.set_port(static_cast<unsigned>(port));
  });
}

std::string simple(int seq, int slot, const char* what) { return testsupport::null_command_image(seq, slot, what); }

// A frame as short text; aborts and ioctl answers with their values.
std::string text(const std::string& frame) {
  LGCP::Message m;
  if (frame.empty() || !testsupport::decode(frame, m)) return testsupport::describe(frame);
  const std::string slot = m.slot_isPresent() ? "slot " + std::to_string(m.get_slot().getValue()) + " " : "";
  if (m.get_pdu().signal_isSelected()) {
    const LGCP::Signal& s = m.get_pdu().get_signal();
    if (s.abort_isSelected()) return slot + "abort " + std::to_string(s.get_abort().getValue());
    if (s.ioctl_isSelected()) {
      const LGCP::IoctlResponse& r = s.get_ioctl();
      if (r.stopRecording_isSelected()) return slot + "stopRecording " + r.get_stopRecording().getName();
      return slot + r.getSelectionName();
    }
  }
  return testsupport::describe(frame);
}

std::string hex_of(const std::string& bytes) { return testsupport::hex_word(bytes.data(), bytes.size()); }

// A TCP listener on loopback, for the player's and recorder's peers.
class Listener {
 public:
  // A receive buffer given (bytes) makes the connection fill up soon when
  // the peer does not read.
  explicit Listener(int rcvbuf = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    close_peer();
    ::close(fd_);
  }
  int port() const { return port_; }
  bool accept() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, patience) != 1) return false;
    peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return peer_ >= 0;
  }
  // Reads until n bytes came, the peer closed or time is up.
  std::string read(std::size_t n) {
    std::string got;
    const std::int64_t end = testsupport::real_ms() + patience;
    while (got.size() < n && testsupport::real_ms() < end) {
      pollfd p{peer_, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      char buf[256];
      const ssize_t r = ::read(peer_, buf, sizeof buf);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // True when the peer has closed (end of stream within the wait).
  bool at_end() {
    pollfd p{peer_, POLLIN, 0};
    if (::poll(&p, 1, patience) != 1) return false;
    char c;
    return ::read(peer_, &c, 1) == 0;
  }
  // True when the connection ended, by a close or a reset, within the wait.
  bool ended() {
    pollfd p{peer_, POLLIN, 0};
    if (::poll(&p, 1, patience) != 1) return false;
    char c;
    return ::read(peer_, &c, 1) <= 0;
  }
  void send(const std::string& bytes) { ASSERT_EQ(::write(peer_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // Sends what the connection takes now of `bytes` from `from` on, without
  // waiting; the new offset.
  std::size_t send_some(const std::string& bytes, std::size_t from) {
    while (from < bytes.size()) {
      const ssize_t n = ::send(peer_, bytes.data() + from, bytes.size() - from, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n <= 0) break;
      from += static_cast<std::size_t>(n);
    }
    return from;
  }
  void close_peer() {
    if (peer_ >= 0) ::close(peer_);
    peer_ = -1;
  }

 private:
  int fd_ = -1;
  int peer_ = -1;
  int port_ = 0;
};

void write_file(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  ::chmod(path.c_str(), mode);
}

class VoiceT38Server : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    srv = new RunningServer;
    std::system(("mkdir -p '" + srv->board("/usr/local/voice") + "' '" + srv->board("/usr/local/sbin") + "'").c_str());
  }
  static void TearDownTestSuite() {
    delete srv;
    srv = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(srv->ready()) << srv->log(); }

  static std::string next() { return text(srv->ctl.next(patience)); }
  // Sends a command; the frames up to and including its answer.
  static std::vector<std::string> exchange(const std::string& image) {
    srv->ctl.send(image);
    std::vector<std::string> got;
    for (;;) {
      std::string f = srv->ctl.next(patience);
      got.push_back(text(f));
      if (f.empty() || f[0] >= '8') return got;
    }
  }
  // A trunk slot (trunk 1, time slot 5 unless told) to connect voice slots
  // with; what it reports after its creation is read and dropped.
  static void helper(int slot, int timeslot = 5) {
    EXPECT_EQ(exchange(testsupport::trunk_image(1, slot, 1, timeslot)).back(), "seq 1 slot " + std::to_string(slot) + " success");
    while (!srv->ctl.next(300).empty()) {
    }
  }
  static std::string ask(const std::string& line) { return srv->sim.ask(line); }
  // The stand-in t38 program, installed afresh; the path of the log it
  // writes (cleared).
  static std::string t38_standin() {
    const std::string dir = srv->board("/usr/local/sbin/");
    EXPECT_EQ(std::system(("cp '" GW_T38_STANDIN "' '" + dir + "t38'").c_str()), 0);
    ::chmod((dir + "t38").c_str(), 0755);
    ::unlink((dir + "t38.exit").c_str());
    ::unlink((dir + "t38.stubborn").c_str());
    write_file(dir + "t38.log", "");
    return dir + "t38.log";
  }
  static std::vector<std::string> lines(const std::string& all) {
    std::vector<std::string> out;
    std::istringstream in(all);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) out.push_back(l);
    return out;
  }
  static std::vector<std::string> channels() { return lines(ask("mcc channels")); }
  // The newest channel: its switch channel and its parameters.
  static int newest(std::string* params = nullptr) {
    auto ch = channels();
    if (ch.empty()) return -1;
    if (params) *params = ch.back().substr(ch.back().find(':'));
    return std::stoi(ch.back());
  }
  // Frames the channel wrote, collected until their bytes reach n.
  static std::vector<std::string> written(int ts, std::size_t hex_chars) {
    std::vector<std::string> got;
    std::size_t total = 0;
    testsupport::eventually([&] {
      for (const std::string& l : lines(ask("mcc read " + std::to_string(ts)))) {
        got.push_back(l);
        total += l.size();
      }
      return total >= hex_chars;
    });
    return got;
  }

  static RunningServer* srv;
};

RunningServer* VoiceT38Server::srv = nullptr;

using V = std::vector<std::string>;

TEST_F(VoiceT38Server, FilePlayerPlaysItsListAndEnds) {
  std::string a(3000, '\0'), b = "prompt b";
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(i * 7);
  write_file(srv->board("/usr/local/voice/a"), a);
  write_file(srv->board("/usr/local/voice/b"), b);
  write_file(srv->board("/usr/local/outside"), "secret");

  // A trunk slot receives what the players send.
  helper(10);

  EXPECT_EQ(exchange(player_file(2, 11, {"missing", "a", "b", "a"}, 1)), V{"seq 2 slot 11 success"});
  std::string params;
  const int ts = newest(&params);
  EXPECT_EQ(params, ":2,1024,0,0,5") << "write-only voice channel";
  const std::string t = std::to_string(ts);
  EXPECT_EQ(exchange(testsupport::connect_image(3, 11, 10)), (V{"slot 11 transmitter active " + t, "seq 3 slot 11 success"}));
  EXPECT_EQ(next(), "slot 11 transmitter inactive");
  EXPECT_EQ(next(), "slot 11 abort 0");
  EXPECT_EQ(written(ts, 2 * (2 * a.size() + b.size())), (V{hex_of(a), hex_of(b), hex_of(a)}))
      << "a, b and a again, byte for byte: each name in turn to the list's end";

  // repeat 2: the list twice, then the end.
  EXPECT_EQ(exchange(player_file(4, 12, {"b"}, 2)), V{"seq 4 slot 12 success"});
  const int ts12 = newest();
  EXPECT_EQ(exchange(testsupport::connect_image(5, 12, 10)).back(), "seq 5 slot 12 success");
  EXPECT_EQ(next(), "slot 12 transmitter inactive");
  EXPECT_EQ(next(), "slot 12 abort 0");
  EXPECT_EQ(written(ts12, 4 * b.size()), (V{hex_of(b), hex_of(b)}));

  // repeat 0: again and again until destroyed, and no abort then.
  EXPECT_EQ(exchange(player_file(6, 13, {"b", "missing"}, 0)), V{"seq 6 slot 13 success"});
  const int ts13 = newest();
  EXPECT_EQ(exchange(testsupport::connect_image(7, 13, 10)).back(), "seq 7 slot 13 success");
  const V again = written(ts13, 10 * b.size());
  EXPECT_GE(again.size(), 5u);
  EXPECT_EQ(again, V(again.size(), hex_of(b))) << "b and only b, the missing name passed by";
  EXPECT_EQ(exchange(simple(8, 13, "destroy")), V{"seq 8 slot 13 success"});

  // No name opens: the connect fails, and one abort follows from the loop.
  EXPECT_EQ(exchange(player_file(9, 14, {"missing", "nothing"}, 1)), V{"seq 9 slot 14 success"});
  EXPECT_EQ(exchange(testsupport::connect_image(10, 14, 10)), V{"seq 10 slot 14 error connectFail"});
  EXPECT_EQ(next(), "slot 14 abort 0");
  EXPECT_EQ(exchange(simple(11, 14, "destroy")), V{"seq 11 slot 14 success"}) << "the abort comes once";

  // A name that opens but cannot be read (a directory) ends the player at
  // its first read: the connect fails and the player is never active.
  ASSERT_EQ(::mkdir(srv->board("/usr/local/voice/dir").c_str(), 0755), 0);
  EXPECT_EQ(exchange(player_file(50, 17, {"dir", "b"}, 1)), V{"seq 50 slot 17 success"});
  EXPECT_EQ(exchange(testsupport::connect_image(51, 17, 10)), (V{"slot 17 abort 0", "seq 51 slot 17 error connectFail"}));
  EXPECT_EQ(exchange(simple(52, 17, "destroy")), V{"seq 52 slot 17 success"});

  // Names that could leave the voice directory refuse the create; no
  // channel is taken.
  const std::size_t before = channels().size();
  int seq = 12;
  for (const char* bad : {"", ".", "..", "../outside", "sub/b"}) {
    EXPECT_EQ(exchange(player_file(seq, 15, {"b", bad}, 1)), V{"seq " + std::to_string(seq) + " slot 15 error insufficientResources"}) << bad;
    ++seq;
  }
  EXPECT_TRUE(srv->wait_log("bad prompt name \"../outside\"")) << srv->log();
  // open stops at a NUL: these would play b, or open the directory above.
  for (const std::string& bad : {std::string("b\0x", 3), std::string("..\0x", 4)}) {
    EXPECT_EQ(exchange(player_file(seq, 15, {bad}, 1)), V{"seq " + std::to_string(seq) + " slot 15 error insufficientResources"});
    ++seq;
  }
  EXPECT_EQ(channels().size(), before);

  // Device failures at create: the step's line, and no slot.
  struct Case {
    const char* fail;
    std::string make;
    const char* line;
  } cases[] = {
      {"mcc fail open ENOENT 1", player_file(30, 16, {"b"}, 1), "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: "},
      {"mcc fail open ENOENT 1", recorder(31, 16, 9), "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: "},
      {"mcc fail allocate EBUSY 1", player_file(32, 16, {"b"}, 1), "voice/mcc[0]: MCC_ALLOCATE fail: "},
      {"mcc fail timeslot EIO 1", recorder(33, 16, 9), "voice/mcc[0]: MCC_TIMESLOT request failed."},
  };
  seq = 30;
  for (const Case& c : cases) {
    EXPECT_EQ(ask(c.fail), "");
    EXPECT_EQ(exchange(c.make), V{"seq " + std::to_string(seq) + " slot 16 error insufficientResources"}) << c.fail;
    EXPECT_TRUE(srv->wait_log(c.line)) << c.line;
    ++seq;
  }
  EXPECT_EQ(srv->log().find("fail to hold channel"), std::string::npos) << "only the step that failed is told";
  EXPECT_EQ(channels().size(), before);
  EXPECT_EQ(exchange(simple(40, 11, "destroy")).back(), "seq 40 slot 11 success");
  EXPECT_EQ(exchange(simple(41, 12, "destroy")).back(), "seq 41 slot 12 success");
  EXPECT_EQ(exchange(simple(42, 10, "destroy")).back(), "seq 42 slot 10 success");
}

TEST_F(VoiceT38Server, NetworkPlayerStreamsFromItsPeer) {
  helper(20);
  Listener peer;
  EXPECT_EQ(exchange(player_net(2, 21, peer.port(), 0x01A2B3C4)), V{"seq 2 slot 21 success"});
  std::string params;
  const int ts = newest(&params);
  EXPECT_EQ(params, ":2,1024,0,0,5");
  EXPECT_EQ(exchange(testsupport::connect_image(3, 21, 20)),
            (V{"slot 21 transmitter active " + std::to_string(ts), "seq 3 slot 21 success"}));
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(hex_of(peer.read(4)), "01A2B3C4") << "the stream id first, big-endian";
  EXPECT_EQ(next(), "slot 21 startPlaying");
  peer.send("hello, ");
  EXPECT_EQ(written(ts, 14), V{hex_of("hello, ")});
  peer.send("world");
  EXPECT_EQ(written(ts, 10), V{hex_of("world")});
  // A channel that takes no more: the player's writes would block and it
  // stops reading its peer, whose sending stalls; as the channel is read
  // again every byte comes, once and in order.
  std::string stream(8 << 20, '\0');
  for (std::size_t j = 0; j < stream.size(); ++j) stream[j] = static_cast<char>(j * 31 + (j >> 12));
  std::size_t off = 0;
  for (std::size_t n; (n = peer.send_some(stream, off)) != off;) off = n;
  EXPECT_LT(off, stream.size());
  std::string got;
  testsupport::eventually(
      [&] {
        off = peer.send_some(stream, off);
        for (const std::string& l : lines(ask("mcc read " + std::to_string(ts))))
          for (std::size_t k = 0; k + 1 < l.size(); k += 2) got += static_cast<char>(std::stoi(l.substr(k, 2), nullptr, 16));
        return got.size() >= stream.size();
      },
      60000);
  EXPECT_EQ(got.size(), stream.size());
  EXPECT_TRUE(got == stream) << "bytes lost, doubled or out of order";
  peer.close_peer();
  EXPECT_EQ(next(), "slot 21 transmitter inactive");
  EXPECT_EQ(next(), "slot 21 abort 0");
  EXPECT_TRUE(srv->wait_log("player[" + std::to_string(ts) + "]: connection to 127.0.0.1:" + std::to_string(peer.port()) + " closed."));

  // Nobody listening: the connect fails, the player ends with abort 0.
  const int closed_port = testsupport::free_port();
  EXPECT_EQ(exchange(player_net(4, 22, closed_port, 7)), V{"seq 4 slot 22 success"});
  auto r = exchange(testsupport::connect_image(5, 22, 20));
  while (r.back().find("abort") == std::string::npos) r.push_back(next());
  EXPECT_EQ(r.front(), "slot 22 transmitter active " + std::to_string(newest()));
  EXPECT_NE(std::find(r.begin(), r.end(), "slot 22 transmitter inactive"), r.end());
  EXPECT_EQ(r.back(), "slot 22 abort 0");
  EXPECT_TRUE(srv->wait_log("connection to 127.0.0.1:" + std::to_string(closed_port) + " fail."));
  for (int s : {21, 22, 20}) EXPECT_EQ(exchange(simple(6, s, "destroy")).back(), "seq 6 slot " + std::to_string(s) + " success");
}

TEST_F(VoiceT38Server, RecorderStreamsToItsPeer) {
  helper(30);
  Listener peer(4096);
  auto r = exchange(recorder(2, 31, peer.port()));
  if (r.size() == 1) r.push_back(next());
  std::string params;
  const int ts = newest(&params);
  const std::string t = std::to_string(ts);
  EXPECT_EQ(params, ":2,1024,0,5,0") << "read-only voice channel";
  EXPECT_EQ(r, (V{"seq 2 slot 31 success", "slot 31 receiver active " + t}));

  EXPECT_EQ(exchange(testsupport::connect_image(3, 30, 31)).back(), "seq 3 slot 30 success");
  ASSERT_TRUE(peer.accept());
  EXPECT_TRUE(srv->wait_log("recorder[" + t + "]: connected to 127.0.0.1:" + std::to_string(peer.port()) + "."));
  EXPECT_EQ(ask("mcc inject " + t + " 0102"), "");
  EXPECT_EQ(ask("mcc inject " + t + " " + std::string(2048, 'A')), "");
  EXPECT_EQ(hex_of(peer.read(1026)), "0102" + std::string(2048, 'A')) << "the audio alone, byte for byte";
  // A peer that stops reading: the connection fills, the recorder's writes
  // would block and it stops reading the channel, until the channel takes
  // no more. Once the peer reads again every byte the channel took comes,
  // once and in order.
  std::string audio;
  bool refused = false;
  for (int i = 0; i < 8000 && !refused; ++i) {
    std::string frame(1024, '\0');  // the channel's packet size
    for (std::size_t j = 0; j < frame.size(); ++j) frame[j] = static_cast<char>(i * 7 + j * 13 + (i >> 8));
    refused = !ask("mcc inject " + t + " " + hex_of(frame)).empty();
    if (!refused) audio += frame;
  }
  ASSERT_TRUE(refused) << "the channel never filled: the connection took " << audio.size() << " bytes";
  const std::string came = peer.read(audio.size());
  EXPECT_EQ(came.size(), audio.size());
  EXPECT_TRUE(came == audio) << "bytes lost, doubled or out of order";
  // An empty frame ends the input: the peer sees the end.
  EXPECT_EQ(ask("mcc inject " + t + " -"), "");
  EXPECT_EQ(next(), "slot 31 stopRecording userRequest");
  EXPECT_TRUE(peer.at_end());
  EXPECT_TRUE(srv->wait_log("connection to 127.0.0.1:" + std::to_string(peer.port()) + " closed."));

  // A peer that goes away: the next writes fail.
  Listener gone;
  EXPECT_EQ(exchange(recorder(4, 32, gone.port())).front(), "seq 4 slot 32 success");
  EXPECT_EQ(next(), "slot 32 receiver active " + std::to_string(newest()));
  const std::string t32 = std::to_string(newest());
  EXPECT_EQ(exchange(testsupport::connect_image(5, 30, 32)).back(), "seq 5 slot 30 success");
  ASSERT_TRUE(gone.accept());
  EXPECT_TRUE(srv->wait_log("recorder[" + t32 + "]: connected to"));
  gone.close_peer();
  std::string f;
  for (int i = 0; i < 50 && f.empty(); ++i) {
    EXPECT_EQ(ask("mcc inject " + t32 + " 0102030405"), "");
    f = srv->ctl.next(100);
  }
  EXPECT_EQ(text(f), "slot 32 stopRecording connectionAborted");
  EXPECT_TRUE(srv->wait_log("recorder[" + t32 + "]: record aborted"));

  // Nobody listening; the driver names switch channel 0, a channel like any other.
  EXPECT_EQ(ask("mcc next 0"), "");
  EXPECT_EQ(exchange(recorder(6, 33, testsupport::free_port())).front(), "seq 6 slot 33 success");
  EXPECT_EQ(next(), "slot 33 receiver active 0");
  r = exchange(testsupport::connect_image(7, 30, 33));
  if (r.size() == 1) r.push_back(next());
  EXPECT_NE(std::find(r.begin(), r.end(), "slot 33 stopRecording connectionFail"), r.end());
  for (int s : {31, 32, 33, 30}) EXPECT_EQ(exchange(simple(8, s, "destroy")).back(), "seq 8 slot " + std::to_string(s) + " success");
}

// The channel lives in the program: when it ends, the driver may give the
// switch channel to the next one. The ended slot, kept until the controller
// destroys it, leaves that line to the slot that has it now.
TEST_F(VoiceT38Server, EndedT38SlotLeavesItsSwitchChannelToTheNextOne) {
  const std::string log = t38_standin();
  helper(70, 7);
  helper(71, 8);
  const std::string line70 = "39", line71 = "40";  // trunk 1, time slots 7 and 8
  const std::size_t idle = channels().size();

  EXPECT_EQ(exchange(t38test::create(2, 72, "10.0.0.1", 0)).front(), "seq 2 slot 72 success");
  const std::string t = std::to_string(newest());
  srv->ctl.frames(300);
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).find("ready\n") != std::string::npos; }));
  EXPECT_EQ(exchange(testsupport::connect_image(3, 70, 72)).back(), "seq 3 slot 70 success");
  EXPECT_EQ(ask("hal get " + t), "connected " + line70);
  EXPECT_EQ(exchange(testsupport::connect_image(10, 72, 71)).back(), "seq 10 slot 72 success");
  EXPECT_EQ(ask("hal get " + line71), "connected " + t);
  ::kill(std::stoi(testsupport::file_text(log).substr(4)), SIGKILL);
  std::string f;
  for (int i = 0; i < 3 && f.find("abort") == std::string::npos; ++i) f = next();
  EXPECT_EQ(f, "slot 72 abort 9");
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; })) << "the channel went with the program";
  EXPECT_EQ(ask("hal get " + t), "byte 213") << "the line into the ended program's channel stayed fed";
  EXPECT_EQ(ask("hal get " + line71), "byte 213") << "a receiver stayed fed from the ended program's channel";
  // Both links go without a failure: the lines were quietened at the end.
  EXPECT_EQ(exchange(simple(11, 72, "disconnect")).back(), "seq 11 slot 72 success");
  EXPECT_EQ(exchange(simple(12, 71, "disconnect")).back(), "seq 12 slot 71 success");

  EXPECT_EQ(ask("mcc next " + t), "");
  EXPECT_EQ(exchange(t38test::create(4, 73, "10.0.0.1", 0)).front(), "seq 4 slot 73 success");
  EXPECT_EQ(std::to_string(newest()), t);
  srv->ctl.frames(300);
  EXPECT_EQ(exchange(testsupport::connect_image(5, 71, 73)).back(), "seq 5 slot 71 success");
  EXPECT_EQ(ask("hal get " + t), "connected " + line71);
  // Neither into the ended slot nor out of it: either would wire the new
  // program's line.
  EXPECT_EQ(exchange(testsupport::connect_image(6, 71, 72)).back(), "seq 6 slot 71 error connectFail");
  EXPECT_EQ(exchange(testsupport::connect_image(7, 72, 71)).back(), "seq 7 slot 72 error connectFail");
  EXPECT_NE(ask("hal get " + line71), "connected " + t);
  EXPECT_EQ(exchange(simple(8, 72, "destroy")), V{"seq 8 slot 72 success"});
  EXPECT_EQ(ask("hal get " + t), "connected " + line71) << "the ended slot's destroy cut the new program's line";

  for (int s : {73, 70, 71}) EXPECT_EQ(exchange(simple(9, s, "destroy")).back(), "seq 9 slot " + std::to_string(s) + " success");
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; }));
}

// The destroy answers at once and sends SIGTERM; a program that ignores it
// must not outlive its slot with the channel (as a modem's pppd would not).
TEST_F(VoiceT38Server, T38ProgramIgnoringTerminateGoesAfterTheDestroy) {
  const std::string log = t38_standin();
  const std::string dir = srv->board("/usr/local/sbin/");
  const std::size_t idle = channels().size();
  // First one that ends at its SIGTERM: seen ended, never killed later.
  auto r = exchange(t38test::create(1, 55, "10.0.0.1", 0));
  while (r.size() < 3) r.push_back(next());
  EXPECT_EQ(r.front(), "seq 1 slot 55 success");
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).find("ready\n") != std::string::npos; }));
  const int obedient = std::stoi(testsupport::file_text(log).substr(4));
  EXPECT_EQ(exchange(simple(2, 55, "destroy")), V{"seq 2 slot 55 success"});
  EXPECT_TRUE(testsupport::eventually([&] { return ::kill(obedient, 0) != 0; }));

  write_file(dir + "t38.stubborn", "");
  r = exchange(t38test::create(3, 56, "10.0.0.1", 0));
  while (r.size() < 3) r.push_back(next());
  EXPECT_EQ(r.front(), "seq 3 slot 56 success");
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).rfind("ready\n") > testsupport::file_text(log).find("ready\n"); }));
  const std::string started = testsupport::file_text(log);
  const std::size_t from = started.rfind("pid=");
  const int pid = std::stoi(started.substr(from + 4));

  EXPECT_EQ(exchange(simple(4, 56, "destroy")), V{"seq 4 slot 56 success"}) << "no wait for the program";
  EXPECT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).find("signal 15\n", from) != std::string::npos; }));
  // One more that ends at its SIGTERM while the stubborn one is waited on:
  // its end takes only itself off the watch.
  ::unlink((dir + "t38.stubborn").c_str());
  r = exchange(t38test::create(5, 57, "10.0.0.1", 0));
  while (r.size() < 3) r.push_back(next());
  EXPECT_EQ(r.front(), "seq 5 slot 57 success");
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).rfind("pid=") > from; }));
  const int third = std::stoi(testsupport::file_text(log).substr(testsupport::file_text(log).rfind("pid=") + 4));
  EXPECT_EQ(exchange(simple(6, 57, "destroy")), V{"seq 6 slot 57 success"});
  EXPECT_TRUE(testsupport::eventually([&] { return ::kill(third, 0) != 0; }));
  EXPECT_TRUE(testsupport::eventually([&] { return ::kill(pid, 0) != 0; })) << "the program outlived its slot";
  EXPECT_TRUE(srv->wait_log("terminate child process, pid=" + std::to_string(pid) + " status=9\n")) << srv->log();
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; })) << "its channel stayed taken";
  EXPECT_EQ(srv->ctl.next(300), "") << "the destroyed slot reports nothing";
  EXPECT_EQ(srv->log().find("t38 daemon[" + std::to_string(obedient) + "] still running"), std::string::npos);
}

// The server itself ends: its slots go with SIGTERM to their programs, and
// with no loop left to time them, one that ignores it must not be left
// holding its channel for good.
TEST_F(VoiceT38Server, T38ProgramIgnoringTerminateGoesWithTheServer) {
  RunningServer own;
  ASSERT_TRUE(own.ready()) << own.log();
  const std::string dir = own.board("/usr/local/sbin/");
  EXPECT_EQ(std::system(("mkdir -p '" + dir + "' && cp '" GW_T38_STANDIN "' '" + dir + "t38'").c_str()), 0);
  ::chmod((dir + "t38").c_str(), 0755);
  write_file(dir + "t38.log", "");
  write_file(dir + "t38.stubborn", "");
  own.ctl.send(t38test::create(1, 56, "10.0.0.1", 0));
  EXPECT_EQ(text(own.ctl.next(patience)), "seq 1 slot 56 success");
  const std::string log = dir + "t38.log";
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).find("ready\n") != std::string::npos; }));
  const int pid = std::stoi(testsupport::file_text(log).substr(4));
  // Ended, or ended and waiting to be reaped by whoever took it over.
  const auto gone = [pid] {
    if (::kill(pid, 0) != 0) return true;
    const std::string stat = testsupport::file_text("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close, 4, ") Z ") == 0;
  };

  // A second program ends a little after its SIGTERM, within the grace the
  // server gives at its end: it is seen ended, not killed.
  ::unlink((dir + "t38.stubborn").c_str());
  write_file(dir + "t38.linger", "200");
  own.ctl.send(t38test::create(2, 57, "10.0.0.1", 0));
  std::string made;  // after slot 56's stream lines
  for (int i = 0; i < 5 && made.rfind("seq 2", 0) != 0; ++i) made = text(own.ctl.next(patience));
  EXPECT_EQ(made, "seq 2 slot 57 success");
  ASSERT_TRUE(testsupport::eventually([&] { return testsupport::file_text(log).rfind("ready\n") > testsupport::file_text(log).find("ready\n"); }));
  const std::string second = testsupport::file_text(log).substr(testsupport::file_text(log).rfind("pid="));
  const int late = std::stoi(second.substr(4));

  EXPECT_EQ(own.stop(), 0) << own.log();
  EXPECT_NE(testsupport::file_text(log).find("signal 15\n"), std::string::npos);
  const bool ended = testsupport::eventually(gone);
  if (!ended) ::kill(pid, SIGKILL);
  EXPECT_TRUE(ended) << "the program outlived the server";
  EXPECT_NE(own.log().find("t38 daemon[" + std::to_string(pid) + "] still running after SIGTERM, killing"), std::string::npos);
  EXPECT_EQ(own.log().find("t38 daemon[" + std::to_string(late) + "] still running"), std::string::npos) << own.log();
}

TEST_F(VoiceT38Server, T38SlotRunsOneProgramPerChannel) {
  const std::string dir = srv->board("/usr/local/sbin/");
  const std::string log = t38_standin();
  auto ran = [&](const std::string& what) {
    return testsupport::eventually([&] { return testsupport::file_text(log).find(what) != std::string::npos; });
  };

  // 30 args: the vector takes the first 27.
  auto r = exchange(t38test::create(1, 50, "10.0.0.1", 30));
  std::string params;
  const int ts = newest(&params);
  const std::string t = std::to_string(ts);
  EXPECT_EQ(params, ":2,256,0,3,4");
  while (r.size() < 3) r.push_back(next());
  EXPECT_EQ(r, (V{"seq 1 slot 50 success", "slot 50 transmitter active " + t, "slot 50 receiver active " + t}));
  ASSERT_TRUE(ran("ready\n")) << testsupport::file_text(log);
  std::string expected = "argv[0]=/usr/local/sbin/t38\nargv[1]=--child\nargv[2]=--remote\nargv[3]=10.0.0.1/5000/6000\n";
  for (int i = 0; i < 27; ++i) expected += "argv[" + std::to_string(i + 4) + "]=a" + std::to_string(i) + "\n";
  expected += "stdin=socket\nstdin write=3\nready\n";
  const std::string first = testsupport::file_text(log);
  EXPECT_EQ(first.substr(first.find('\n') + 1), expected);
  EXPECT_EQ(written(ts, 6), V{"543338"}) << "its standard input is the slot's channel";
  EXPECT_TRUE(srv->wait_log("arg[3]=10.0.0.1/5000/6000\n"));
  EXPECT_TRUE(srv->wait_log("] successfully started"));

  // destroy: SIGTERM, success at once, no abort.
  EXPECT_EQ(exchange(simple(2, 50, "destroy")), V{"seq 2 slot 50 success"});
  EXPECT_TRUE(ran("signal 15\n")) << testsupport::file_text(log);
  const int pid = std::stoi(first.substr(4));
  EXPECT_TRUE(srv->wait_log("terminate child process, pid=" + std::to_string(pid)));
  EXPECT_EQ(exchange(simple(3, 50, "destroy")), V{"seq 3 slot 50 error slotNotExists"}) << "no abort came";

  // The program's end is the slot's abort, with the raw wait status.
  struct End {
    const char* exit_file;  // null: killed with SIGKILL
    mode_t mode;
    int abort;
    const char* line;
  } ends[] = {{"3", 0755, 768, "t38 daemon terminated with code=3"},
              {nullptr, 0755, 9, "t38 daemon terminated by signal=9"},
              {"", 0644, 60672, "t38 daemon terminated with code=237"}};
  int seq = 4;
  const std::size_t idle = channels().size();
  for (const End& e : ends) {
    write_file(log, "");
    if (e.exit_file)
      write_file(dir + "t38.exit", e.exit_file);
    else
      ::unlink((dir + "t38.exit").c_str());
    ::chmod((dir + "t38").c_str(), e.mode);
    r = exchange(t38test::create(seq, 51, "10.0.0.1", 0));
    EXPECT_EQ(r.front(), "seq " + std::to_string(seq) + " slot 51 success") << e.line;
    if (!e.exit_file) {
      ASSERT_TRUE(ran("ready\n"));
      ::kill(std::stoi(testsupport::file_text(log).substr(4)), SIGKILL);
    }
    // The stream reports come first.
    std::string f;
    for (int i = 0; i < 3 && f.find("abort") == std::string::npos; ++i) f = next();
    EXPECT_EQ(f, "slot 51 abort " + std::to_string(e.abort)) << e.line;
    EXPECT_TRUE(srv->wait_log(e.line)) << e.line;
    EXPECT_EQ(exchange(simple(seq + 1, 51, "destroy")), V{"seq " + std::to_string(seq + 1) + " slot 51 success"});
    EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; })) << e.line << ": channel left";
    seq += 2;
  }
  ::chmod((dir + "t38").c_str(), 0755);
  ::unlink((dir + "t38.exit").c_str());

  // A remote argument of 63 characters passes, 64 are refused with no
  // process and no channel.
  const std::string host53(53, '1');
  write_file(log, "");
  EXPECT_EQ(exchange(t38test::create(20, 52, host53, 0)).front(), "seq 20 slot 52 success");
  ASSERT_TRUE(ran("ready\n"));
  EXPECT_NE(testsupport::file_text(log).find("argv[3]=" + host53 + "/5000/6000\n"), std::string::npos);
  srv->ctl.frames(300);
  const std::size_t before = channels().size();
  write_file(log, "");
  EXPECT_EQ(exchange(t38test::create(21, 53, host53 + "1", 0)), V{"seq 21 slot 53 error insufficientResources"});
  EXPECT_EQ(channels().size(), before);
  EXPECT_EQ(exchange(simple(22, 52, "destroy")), V{"seq 22 slot 52 success"});
  EXPECT_TRUE(ran("signal 15\n"));
  EXPECT_EQ(testsupport::file_text(log), "signal 15\n") << "no process for the refused create";
  // The channel goes when the ended program's descriptor does.
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; }));

  // A NUL in the address or in an argument: the program would get the text
  // cut short at it. The create is refused, with no process and no channel.
  write_file(log, "");
  const std::string nul_addr = t38test::create(60, 55, std::string("10.0.0.1\0" "9", 10), 0);
  const std::string nul_arg = t38test::create(61, 55, "10.0.0.1", 0, {std::string("--fax\0--debug", 13)});
  EXPECT_EQ(exchange(nul_addr), V{"seq 60 slot 55 error insufficientResources"});
  EXPECT_EQ(exchange(nul_arg), V{"seq 61 slot 55 error insufficientResources"});
  EXPECT_TRUE(srv->wait_log("t38soft: argument holds a NUL octet\n")) << srv->log();
  EXPECT_EQ(channels().size(), idle);
  srv->ctl.frames(300);
  EXPECT_EQ(testsupport::file_text(log), "") << "no process for either";

  // Device failures: the step's line with the errno value, no slot.
  write_file(log, "");
  struct Case {
    const char* fail;
    const char* line;
  } cases[] = {{"mcc fail open ENOENT 1", "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [2]"},
               {"mcc fail allocate EBUSY 1", "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [16]"},
               {"mcc fail timeslot EIO 1", "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [5]"}};
  seq = 23;
  for (const Case& c : cases) {
    EXPECT_EQ(ask(c.fail), "");
    EXPECT_EQ(exchange(t38test::create(seq, 54, "10.0.0.1", 0)), V{"seq " + std::to_string(seq) + " slot 54 error insufficientResources"});
    EXPECT_TRUE(srv->wait_log(c.line)) << c.line;
    EXPECT_EQ(channels().size(), idle) << c.line;
    ++seq;
  }
  EXPECT_EQ(testsupport::file_text(log), "");
  // Once the device answers, the same create runs the program.
  r = exchange(t38test::create(seq, 54, "10.0.0.1", 0));
  while (r.size() < 3) r.push_back(next());
  EXPECT_EQ(r.front(), "seq " + std::to_string(seq) + " slot 54 success");
  ASSERT_TRUE(ran("ready\n"));
  EXPECT_EQ(exchange(simple(seq + 1, 54, "destroy")), V{"seq " + std::to_string(seq + 1) + " slot 54 success"});
  EXPECT_TRUE(ran("signal 15\n"));
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; }));

  // t38-instances: what the program prints, 0 when it prints nothing or
  // cannot run.
  auto instances = [&](int s) {
    EXPECT_EQ(exchange(simple(s, -1, "query")).back(), "seq " + std::to_string(s) + " success");
    LGCP::Message m;
    EXPECT_TRUE(testsupport::decode(srv->ctl.next(patience), m));
    if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().query_isSelected()) return -1;
    return static_cast<int>(m.get_pdu().get_signal().get_query().get_t38_instances().getValue());
  };
  write_file(dir + "t38.instances", "8\n");
  EXPECT_EQ(instances(30), 8);
  write_file(dir + "t38.instances", "");
  EXPECT_EQ(instances(31), 0);
  EXPECT_TRUE(srv->wait_log("t38: can't detect T38 resources"));
  // Junk counts as 0 and a number past the range as the largest (or
  // smallest) one, not as whatever its low bits make.
  const struct {
    const char* printed;
    int instances;
  } counts[] = {{"junk\n", 0}, {" 12 of them", 12}, {"99999999999\n", 2147483647}, {"4294967304\n", 2147483647},
                 {"-4294967304\n", -2147483647 - 1}};
  int q = 40;
  for (const auto& c : counts) {
    write_file(dir + "t38.instances", c.printed);
    EXPECT_EQ(instances(q++), c.instances) << c.printed;
  }
  write_file(dir + "t38.instances", "8\n");
  ::chmod((dir + "t38").c_str(), 0644);
  EXPECT_EQ(instances(32), 0);
  ::chmod((dir + "t38").c_str(), 0755);
}

}  // namespace

// The controller pipelines a slot's whole life in one write: create a
// network player, connect it (its connect to the stream starts), destroy it
// while that connect is pending, make the number again and connect that.
// Every command is answered once, in order, with its own sequence number,
// and only the second player reaches the stream peer.
TEST_F(VoiceT38Server, PipelinedLifeOfAConnectingPlayerAnswersEachCommandOnce) {
  helper(80, 9);
  Listener peer;
  srv->ctl.send_all({player_net(1, 81, peer.port(), 1), testsupport::connect_image(2, 81, 80), simple(3, 81, "destroy"),
                     player_net(4, 81, peer.port(), 2), testsupport::connect_image(5, 81, 80)});
  V got;
  for (int i = 0; i < 7; ++i) got.push_back(next());
  for (std::string& f : got)
    if (f.rfind("slot 81 transmitter active ", 0) == 0) f = "slot 81 transmitter active";
  EXPECT_EQ(got, (V{"seq 1 slot 81 success", "slot 81 transmitter active", "seq 2 slot 81 success",
                    "seq 3 slot 81 success", "seq 4 slot 81 success", "slot 81 transmitter active",
                    "seq 5 slot 81 success"}));
  // The first player's connect may have reached the listener before its
  // destroy closed it: it brings no stream id.
  ASSERT_TRUE(peer.accept());
  std::string id = peer.read(4);
  if (id.empty()) {
    peer.close_peer();
    ASSERT_TRUE(peer.accept());
    id = peer.read(4);
  }
  EXPECT_EQ(hex_of(id), "00000002") << "only the player made last streams";
  EXPECT_EQ(next(), "slot 81 startPlaying");
  EXPECT_EQ(exchange(simple(6, 81, "destroy")), V{"seq 6 slot 81 success"});
  EXPECT_EQ(exchange(simple(7, 80, "destroy")), V{"seq 7 slot 80 success"});
  EXPECT_EQ(srv->ctl.next(300), "") << "nothing of a destroyed player";
}

// A T.38 slot made, destroyed and made again in one write: the first
// program's end, which comes while the number holds the second slot, is
// not reported as the second slot's; the second one's end is, once.
TEST_F(VoiceT38Server, EndOfADestroyedT38ProgramIsNotTheNewSlotsUnderItsNumber) {
  const std::string log = t38_standin();
  const std::size_t idle = channels().size();
  const auto count_reaped = [] {
    const std::string all = srv->log(), line = "terminate child process, pid=";
    std::size_t n = 0;
    for (auto at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++n;
    return n;
  };
  const std::size_t reaped_before = count_reaped();
  srv->ctl.send_all({t38test::create(1, 58, "10.0.0.1", 0), simple(2, 58, "destroy"), t38test::create(1, 58, "10.0.0.1", 0)});
  V got;
  for (int i = 0; i < 7; ++i) got.push_back(next());
  for (std::string& f : got) f = f.substr(0, f.find(" active ") == std::string::npos ? f.size() : f.find(" active "));
  EXPECT_EQ(got, (V{"seq 1 slot 58 success", "slot 58 transmitter", "slot 58 receiver", "seq 2 slot 58 success",
                    "seq 1 slot 58 success", "slot 58 transmitter", "slot 58 receiver"}))
      << "a reused sequence number is answered for each command";
  // The first program ends on its SIGTERM (perhaps before it writes
  // anything) and is reaped while the number holds the second slot.
  EXPECT_TRUE(testsupport::eventually([&] { return count_reaped() > reaped_before; })) << srv->log();
  int second = -1;
  ASSERT_TRUE(testsupport::eventually([&] {
    for (const std::string& l : lines(testsupport::file_text(log)))
      if (l.rfind("pid=", 0) == 0 && ::kill(std::stoi(l.substr(4)), 0) == 0) second = std::stoi(l.substr(4));
    return second > 0 && testsupport::file_text(log).find("ready\n") != std::string::npos;
  })) << testsupport::file_text(log);
  EXPECT_EQ(srv->ctl.next(300), "") << "the old program's end reached the new slot";
  ::kill(second, SIGKILL);
  std::string f = next();
  EXPECT_EQ(f, "slot 58 abort 9");
  EXPECT_EQ(srv->ctl.next(300), "");
  EXPECT_EQ(exchange(simple(3, 58, "destroy")), V{"seq 3 slot 58 success"});
  EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; }));
}

// A file player none of whose prompts opens refuses its connect and owes the
// controller an abort from the loop; destroyed and made again in the same
// write, before the loop comes round, the old abort is not the new slot's.
TEST_F(VoiceT38Server, DeferredAbortOfADestroyedPlayerNeverReachesItsSuccessor) {
  helper(82, 10);
  srv->ctl.send_all({player_file(1, 83, {"missing"}, 1), testsupport::connect_image(2, 83, 82), simple(3, 83, "destroy"),
                     player_file(4, 83, {"missing"}, 1), simple(5, 83, "deactivate")});
  V got;
  for (int i = 0; i < 5; ++i) got.push_back(next());
  EXPECT_EQ(got, (V{"seq 1 slot 83 success", "seq 2 slot 83 error connectFail", "seq 3 slot 83 success",
                    "seq 4 slot 83 success", "seq 5 slot 83 error unsupported"}));
  EXPECT_EQ(srv->ctl.next(300), "") << "an abort of the destroyed player";
  // The new player's own refusal still brings its own abort, once.
  EXPECT_EQ(exchange(testsupport::connect_image(6, 83, 82)), V{"seq 6 slot 83 error connectFail"});
  EXPECT_EQ(next(), "slot 83 abort 0");
  EXPECT_EQ(srv->ctl.next(300), "");
  for (int s : {83, 82}) EXPECT_EQ(exchange(simple(7, s, "destroy")), V{"seq 7 slot " + std::to_string(s) + " success"});
}

// Streams with a live peer, ended by the controller: a player whose peer
// sends more than one buffer and then stalls, and a recorder whose peer
// answers with bytes of its own. Everything arrives once and in order; the
// destroy closes the peer's connection and gives the channel back, and no
// late signal of the destroyed slot follows.
TEST_F(VoiceT38Server, LiveStreamsEndedByADestroy) {
  helper(84, 11);
  const std::size_t idle = channels().size();
  std::string big;
  for (int i = 0; i < 3000; ++i) big.push_back(static_cast<char>(i * 7 + i / 256));
  struct Case {
    const char* name;
    bool player;
  } cases[] = {{"player", true}, {"recorder", false}};
  int seq = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Listener peer;
    auto r = exchange(c.player ? player_net(seq++, 85, peer.port(), -2) : recorder(seq++, 85, peer.port()));
    ASSERT_EQ(r.front(), "seq " + std::to_string(seq - 1) + " slot 85 success");
    const std::string t = std::to_string(newest());
    if (!c.player && r.size() == 1) EXPECT_EQ(next(), "slot 85 receiver active " + t);
    r = exchange(c.player ? testsupport::connect_image(seq++, 85, 84) : testsupport::connect_image(seq++, 84, 85));
    EXPECT_EQ(r.back().substr(r.back().size() - 7), "success");
    ASSERT_TRUE(peer.accept());
    if (c.player) {
      EXPECT_EQ(hex_of(peer.read(4)), "FFFFFFFE") << "a negative id as its 32 bits";
      EXPECT_EQ(next(), "slot 85 startPlaying");
      peer.send(big);
      std::string got;
      for (const std::string& f : written(std::stoi(t), 2 * big.size())) got += f;
      EXPECT_EQ(got, hex_of(big)) << "every byte once, in order";
    } else {
      EXPECT_TRUE(srv->wait_log("recorder[" + t + "]: connected to 127.0.0.1:" + std::to_string(peer.port()) + "."));
      peer.send("garbage from the peer");
      EXPECT_EQ(ask("mcc inject " + t + " 0A0B0C"), "");
      EXPECT_EQ(hex_of(peer.read(3)), "0A0B0C") << "the peer's bytes change nothing";
      EXPECT_EQ(ask("mcc inject " + t + " 0D"), "");
      EXPECT_EQ(hex_of(peer.read(1)), "0D");
    }
    // Mid-stream: the peer stalls, the controller destroys the slot.
    EXPECT_EQ(exchange(simple(seq, 85, "destroy")), V{"seq " + std::to_string(seq) + " slot 85 success"});
    ++seq;
    // The recorder never reads its peer: its close may come as a reset.
    EXPECT_TRUE(peer.ended()) << "the peer learns the stream ended";
    EXPECT_EQ(srv->ctl.next(300), "") << "a late signal of the destroyed slot";
    EXPECT_TRUE(testsupport::eventually([&] { return channels().size() == idle; })) << "the channel is given back";
  }
  EXPECT_EQ(exchange(simple(seq, 84, "destroy")).back(), "seq " + std::to_string(seq) + " slot 84 success");
}
