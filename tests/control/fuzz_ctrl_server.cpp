// Hostile messages through the control server as the controller would send
// them: decoded as LGCP::Messages and offered, command by command, to the
// services the server binds, in its bind order and with its slot factories,
// on the simulated board; answers are encoded again. A service that reads a
// CHOICE alternative without testing its selection ends here with "CHOICE
// ASSERTION FAILED!", so every service's dispatch on the parameters the
// controller chooses (CreateParams, IoctlParams, ...) is fuzzed. The
// factories and services are those of the server's own start-up
// (board/server_setup.h).
//
// One input is one or more controller sessions: a sequence of records, each a
// length octet, that many bytes of message and a step octet, so that a create
// can be followed by commands on its slot. The step runs the event loop on
// the virtual clock for a time the input chooses (0: not at all), so releases
// that end later, timers, child exits and deferred calls happen between
// commands; with its high bit set (and not 0xFE or 0xFF) the next record is
// no message but a line of the simulated board's control words ("rtp event
// ...", "mcc inject ...", "dsp fail ..."), so device events and failures come
// in between the commands as well (fuzz_ctrl_server.dict lists the words);
// 0xFE makes the controller leave, and the next message comes from a new one.
// At the end the controller waits for the answers still owed, leaves, every
// slot goes with it, and the loop runs on until whatever they left behind has
// fired.
//
// The target is also the controller's promise checked: every message that
// decodes gets exactly one answer (a response carrying its sequence number),
// never none and never two. The server's frames are read back from a real
// control connection (a socket pair under the server's own Control::Service)
// and decoded; each message the target sends is renumbered so that sequence
// numbers are unique within the input. Only a destroy whose slot's release
// is pending may be answered later, and no later than the release takes
// (the modem slot's 5000 ms terminate time-out); a controller that leaves is
// owed nothing more. Any breach aborts with its story on the error stream.
#include "asn1/asn1.h"
#include "board/server_setup.h"
#include "control/control_service.h"
#include "control/ctrl_server.h"
#include "control/ctrl_service.h"
#include "platform/clock.h"
#include "platform/sim/control_words.h"
#include "runtime/child_wait.h"
#include "runtime/event.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::ostringstream sink;
// FUZZ_CTRL_SERVER_TRACE set: each input's log, with the messages both ways,
// goes to the error stream (for reading a reproducer).
const bool trace = std::getenv("FUZZ_CTRL_SERVER_TRACE") != nullptr;

// The longest a deferred answer may take: a modem slot's release ends at the
// latest on its 5000 ms terminate time-out; the rest is slack for the loop.
constexpr std::int64_t answer_limit_ms = 6000;
// A leaving controller makes the slots service sleep one second before the
// last services hear of it.
constexpr std::int64_t leave_sleep_ms = 1000;

std::int64_t Now() {
  timeval tv;
  platform::gettimeofday(&tv);
  return static_cast<std::int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

std::string Hex(const std::string& bytes) {
  std::string s;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X ", c);
    s += b;
  }
  return s;
}

template <class T>
std::string Text(const T& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

// The server's control connection, with a socket pair for a peer.
class Link : public Control::ServiceUnix {
 private:
  int ImplActivate() override { return 1; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

Link* theLink = nullptr;

// The controller's side of the promise.
class Oracle {
 public:
  struct Cmd {
    std::string text;  // the message in value notation
    bool seq_present = false;
    long seq = 0;
    bool slot_present = false;  // the answer must carry the slot number
    long slot = 0;
    bool may_defer = false;  // a destroy
    unsigned session = 0;
    int answers = 0;
    bool open = false;  // deferred, still owed
    std::int64_t since = 0;
  };

  void Begin() {
    cmds.clear();
    rx.clear();
    current = -1;
    next_seq = 1;
    session = 0;
    live = false;
  }

  // A new controller connects through a fresh socket pair.
  void Connect(Link& link) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
    const int big = 1 << 20;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    peer = Fd(sv[1]);
    reader.Bind("fuzz controller", &Oracle::OnReadable, this);
    reader.Schedule(peer, POLLIN);
    ++session;
    live = true;
    rx.clear();
    link.Connected(Fd(sv[0]), "fuzz controller");
  }

  // The message the controller sends next: renumbered when it carries a
  // sequence number, so that every answer names one command.
  std::string Renumber(const std::string& bytes) {
    LGCP::Message m;
    if (!Decode(bytes, m) || !m.seq_isPresent()) return bytes;
    m.set_seq(static_cast<int>(next_seq++));
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(m, &env, std::back_inserter(out))) return bytes;
    return std::string(out.begin(), out.end());
  }

  // The server handles one message.
  void Deliver(const std::string& bytes) {
    LGCP::Message m;
    const bool decodes = Decode(bytes, m);
    if (trace) std::clog << ">> " << (decodes ? Text(m) : "undecodable " + Hex(bytes)) << std::endl;
    if (decodes) {
      Cmd c;
      c.text = Text(m);
      c.seq_present = m.seq_isPresent();
      if (c.seq_present) c.seq = m.get_seq().getValue();
      const bool command = m.get_pdu().command_isSelected();
      c.slot_present = command && m.slot_isPresent() && m.get_slot().getValue() <= 1023;
      if (c.slot_present) c.slot = m.get_slot().getValue();
      c.may_defer = command && c.slot_present && m.get_pdu().get_command().destroy_isSelected();
      c.session = session;
      cmds.push_back(c);
      current = static_cast<int>(cmds.size()) - 1;
    }
    ctrlServer.OnMessage(bytes.data(), static_cast<int>(bytes.size()));
    Drain();
    const int handled = current;
    current = -1;
    if (!decodes) return;
    Cmd& c = cmds[handled];
    if (c.answers > 0 || !live || c.session != session) return;
    // A connection that broke under the answer owes nothing either.
    if (!theLink->IsConnected()) return;
    if (!c.may_defer) Fault("a command left without an answer", c);
    c.open = true;
    c.since = Now();
  }

  // Time has passed: what is owed must have come by now.
  void Check() {
    Drain();
    if (!live) return;
    const std::int64_t now = Now();
    for (Cmd& c : cmds)
      if (c.open && now - c.since > answer_limit_ms)
        Fault("a deferred answer still missing after " + std::to_string(now - c.since) + " ms", c);
  }

  bool Owed() const {
    for (const Cmd& c : cmds)
      if (c.open) return true;
    return false;
  }

  // The controller has gone (told by the last bound service): what came
  // before it left is read, and the rest is owed to nobody.
  void Left() {
    Drain();
    reader.Release();
    peer.close();
    if (!live) return;
    live = false;
    const std::int64_t gone = Now() - leave_sleep_ms;
    for (Cmd& c : cmds) {
      if (c.open && gone - c.since > answer_limit_ms)
        Fault("a deferred answer missing when the controller left, after " + std::to_string(gone - c.since) + " ms", c);
      c.open = false;
    }
  }

 private:
  static bool Decode(const std::string& bytes, LGCP::Message& m) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, m, true);
  }

  void OnReadable(int, short) { Drain(); }

  void Drain() {
    if (!peer) return;
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(peer.lowlevel_fd(), buf, sizeof buf);
      if (n <= 0) break;
      rx.append(buf, static_cast<std::size_t>(n));
    }
    // TPKT: version 3, a reserved octet, the length of the whole frame.
    while (rx.size() >= 4) {
      if (static_cast<unsigned char>(rx[0]) != 3) Fault("a frame that is not TPKT: " + Hex(rx.substr(0, 8)));
      const std::size_t len = (static_cast<unsigned char>(rx[2]) << 8) | static_cast<unsigned char>(rx[3]);
      if (len < 4) Fault("a TPKT frame shorter than its header");
      if (rx.size() < len) break;
      Frame(rx.substr(4, len - 4));
      rx.erase(0, len);
    }
  }

  void Frame(const std::string& bytes) {
    LGCP::Message m;
    if (!Decode(bytes, m)) Fault("a message the controller cannot decode: " + Hex(bytes));
    if (trace) std::clog << "<< " << m << std::endl;
    if (!m.get_pdu().response_isSelected()) return;  // signals are not answers
    const std::string text = Text(m);
    const bool seq_present = m.seq_isPresent();
    const long seq = seq_present ? m.get_seq().getValue() : 0;
    Cmd* c = nullptr;
    if (current >= 0 && cmds[current].seq_present == seq_present && (!seq_present || cmds[current].seq == seq))
      c = &cmds[current];
    for (std::size_t i = 0; !c && i < cmds.size(); ++i) {
      Cmd& k = cmds[i];
      if (!k.open || k.seq_present != seq_present) continue;
      if (seq_present ? k.seq == seq : (m.slot_isPresent() && k.slot == m.get_slot().getValue())) c = &k;
    }
    for (std::size_t i = 0; !c && seq_present && i < cmds.size(); ++i)
      if (cmds[i].seq_present && cmds[i].seq == seq) c = &cmds[i];
    if (!c) Fault("an answer to no command: " + text);
    ++c->answers;
    if (c->answers > 1) Fault("a second answer: " + text, *c);
    if (c->session != session) Fault("an answer to a command of a controller that has left: " + text, *c);
    const bool slot_ok = m.slot_isPresent() == c->slot_present &&
                         (!c->slot_present || static_cast<long>(m.get_slot().getValue()) == c->slot);
    if (!slot_ok) Fault("an answer with the wrong slot number: " + text, *c);
    c->open = false;
  }

  [[noreturn]] void Fault(const std::string& what) {
    const std::string log = sink.str();
    std::fprintf(stderr, "\n== ONE ANSWER PER COMMAND BROKEN: %s\n", what.c_str());
    std::fprintf(stderr, "== server log (last part):\n%s\n",
                 log.substr(log.size() > 6000 ? log.size() - 6000 : 0).c_str());
    std::abort();
  }

  [[noreturn]] void Fault(const std::string& what, const Cmd& c) {
    Fault(what + "\n   command: " + c.text + "\n   answers: " + std::to_string(c.answers));
  }

  std::vector<Cmd> cmds;
  std::string rx;
  int current = -1;
  long next_seq = 1;
  unsigned session = 0;
  bool live = false;
  Fd peer;
  Event reader;
};

Oracle oracle;

// Bound last, so that it hears of a leaving controller after the slots and
// board services did, and claims nothing.
class Witness : public CtrlSrv::Service {
 public:
  void OnConnect() override {}
  void OnDisconnect() override { oracle.Left(); }
  bool OnCommand(LGCP::Command const&) override { return false; }
};

bool SetUp() {
  std::cout.rdbuf(sink.rdbuf());
  std::cerr.rdbuf(sink.rdbuf());
  std::clog.rdbuf(sink.rdbuf());
  // A board of its own, and no program a slot would start does anything.
  const std::string root = "/tmp/fuzz-ctrl-server-board-" + std::to_string(::getpid());
  ::setenv("GW_BOARD_ROOT", root.c_str(), 0);
  // A program a slot starts runs until it is killed and ignores the hangup a
  // release sends, so a pending release ends on its own timer, in virtual
  // time, and the input decides what happens meanwhile.
  ::mkdir(root.c_str(), 0755);
  const std::string program = root + "/standin.sh";
  std::ofstream(program) << "#!/bin/sh\ntrap '' HUP\nexec sleep 30\n";
  ::chmod(program.c_str(), 0755);
  ::setenv("GW_STANDIN_PROGRAM", program.c_str(), 1);
  // The second a leaving controller gives pending releases passes at once.
  platform::vclock::enable();

  ServerSetup::CreateSlotFactories();
  ServerSetup::BindControlServices();
  static Witness witness;
  ctrlServer.Bind(&witness);
  theLink = new Link;
  ctrlServer.Activate(theLink);
  // Ended children are reaped and reported from the loop, as in the server.
  ChildWait::Activate();
  return true;
}

void Stop() { multiplexer.terminate(); }

// Runs the loop until `ms` of virtual time have passed (a poll that finds
// nothing ready moves the clock by its whole wait).
void RunFor(unsigned ms) {
  Timer stop;
  stop.set(ms, &Stop);
  multiplexer.run(false, true);
}

// A connection the stack took down is reported to the server, as the loop's
// deferred call would.
void Settle() {
  if (theLink->GetState() == Control::Service::State::Deactivating) theLink->OnDeactivateDPC();
}

void Leave() {
  theLink->Disconnect();
  Settle();
}

// The step octet: how long the loop runs after a message. Long runs cost
// real time (periodic work of the board services), so only 0xFF asks for
// one past the heartbeat's supervision, and only once per input.
void Step(std::uint8_t step, bool& long_run_done) {
  static const unsigned ms[8] = {1, 5, 20, 100, 300, 1000, 3000, 5200};
  if (step == 0xFE) {
    Leave();
    return;
  }
  if (step == 0xFF && !long_run_done) {
    long_run_done = true;
    RunFor(130000);
  } else if (step != 0) {
    RunFor(ms[step & 7]);
  }
  oracle.Check();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = SetUp();
  (void)ready;
  sink.str(std::string());  // the logs of one input only
  oracle.Begin();
  std::size_t at = 0;
  bool device_line = false;
  bool long_run_done = false;
  while (at < size) {
    const std::size_t len = data[at++];
    const std::size_t n = len < size - at ? len : size - at;
    const std::string bytes(reinterpret_cast<const char*>(data + at), n);
    if (device_line) {
      platform::sim::control_request(bytes);
    } else {
      Settle();
      if (!theLink->IsConnected()) oracle.Connect(*theLink);
      oracle.Deliver(oracle.Renumber(bytes));
    }
    at += n;
    device_line = false;
    if (at < size) {
      const std::uint8_t step = data[at++];
      device_line = step != 0xFF && step != 0xFE && (step & 0x80);
      Step(step, long_run_done);
    }
  }
  // The controller waits for what it is owed before it leaves.
  for (int i = 0; i < 12 && oracle.Owed(); ++i) {
    RunFor(500);
    oracle.Check();
  }
  oracle.Check();
  Settle();
  if (theLink->IsConnected()) Leave();
  RunFor(6000);
  if (trace) std::fprintf(stderr, "%s", sink.str().c_str());
  return 0;
}
