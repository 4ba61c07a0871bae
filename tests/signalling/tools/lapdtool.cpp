// lapdtool: the ISDN data link on the command line.
//
//   lapdtool pair [--pcap FILE] [--messages N] [--drop K] [--capacity C] [-v] [--log L]
//     A primary-rate user side against a network side over a relay that
//     loses every K-th frame (default 7) and holds at most C frames per
//     direction (default 0: no limit), on the virtual clock: establishment,
//     N (default 1000) distinct messages each way, each expected once and in
//     order without re-establishment, then release by DISC/UA. Exit 0 only
//     when all of that happened. FILE receives every frame handed to the
//     relay (libpcap, link type 177 seen from the network side).
//
//   lapdtool bus [--pcap FILE] [-v]
//     The network-side basic-rate manager and three user-side terminals on a
//     simulated bus, on the virtual clock: TEIs 64, 65 and 66 handed out,
//     a message from each terminal, a SETUP to all, a message per call
//     reference, a burst of ten for one, a busy terminal's held messages,
//     then quiet time past two periodic TEI checks and the idle polls. Exit 0
//     when every message arrived where it should, and only there. FILE
//     receives every bus frame, seen from the network side.
//
//   lapdtool decode [--network] HEX
//     Prints the trace text of one frame (blanks allowed in HEX).
#include "control/protocols_list.h"
#include "platform/clock.h"
#include "runtime/dpc.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"
#include "signalling/lapd/hdlc_bus.h"
#include "signalling/lapd/hdlc_relay.h"
#include "signalling/lapd/lapd_nt.h"
#include "signalling/lapd/lapd.h"
#include "signalling/trace/dlogframe.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

int usage() {
  std::cerr << "usage: lapdtool pair [--pcap FILE] [--messages N] [--drop K] [--capacity C] [-v] [--log L]\n"
               "       lapdtool bus [--pcap FILE] [-v]\n"
               "       lapdtool decode [--network] HEX\n";
  return 2;
}

// ---- decode ----------------------------------------------------------------

bool parse_hex(const std::string& text, std::vector<unsigned char>& out) {
  std::string digits;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return true;
}

int decode(int argc, char** argv) {
  bool network = false;
  std::string hex;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--network") == 0)
      network = true;
    else
      hex += std::string(argv[i]) + " ";
  }
  std::vector<unsigned char> frame;
  if (hex.empty() || !parse_hex(hex, frame)) return usage();
  char buf[ISDN::logbuf_size];
  buf[0] = '\0';
  ISDN::dlogframe(frame.data(), static_cast<int>(frame.size()), network ? 1 : 0, buf);
  std::fputs(buf, stdout);
  return 0;
}

// ---- pcap ------------------------------------------------------------------

// libpcap file, written byte by byte (big-endian fields); link type 177,
// each frame behind the 16-octet header of a capture on the network side.
class PcapWriter {
 public:
  bool open(const std::string& path) {
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) return false;
    put32(0xA1B2C3D4);
    put16(2);
    put16(4);
    put32(0);       // this zone
    put32(0);       // significant figures
    put32(65535);   // snapshot length
    put32(177);     // LINKTYPE_LINUX_LAPD
    return static_cast<bool>(out_);
  }
  void frame(bool from_network, const Packet& f) {
    if (!out_.is_open()) return;
    struct timeval tv;
    platform::gettimeofday(&tv);
    std::uint32_t len = f.length() + 16;
    put32(static_cast<std::uint32_t>(tv.tv_sec));
    put32(static_cast<std::uint32_t>(tv.tv_usec));
    put32(len);
    put32(len);
    put16(from_network ? 4 : 0);  // sent by the capturing (network) side, or received
    put16(0x20FD);                // LAPD hardware type
    put16(1);                     // address length
    out_.put(1);                  // the capturing side is the network side
    for (int i = 0; i < 7; ++i) out_.put(0);
    put16(0x0030);                // LAPD protocol
    for (std::uint32_t i = 0; i < f.length(); ++i) out_.put(static_cast<char>(f[int(i)]));
  }
  bool close() {
    if (!out_.is_open()) return true;
    out_.close();
    return !out_.fail();
  }

 private:
  void put16(std::uint16_t v) {
    out_.put(static_cast<char>(v >> 8));
    out_.put(static_cast<char>(v & 0xFF));
  }
  void put32(std::uint32_t v) {
    put16(static_cast<std::uint16_t>(v >> 16));
    put16(static_cast<std::uint16_t>(v & 0xFFFF));
  }
  std::ofstream out_;
};

// What a run of the pair or the bus sets up: the virtual clock from 0, the
// links' own lines ("tx full", "T203.") only when verbose, and the capture
// file when one is asked for.
class Run {
 public:
  Run(bool verbose, const std::string& pcap) : pcap_(pcap), saved_clog_(std::clog.rdbuf()) {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    if (!verbose) std::clog.rdbuf(null_sink_.rdbuf());
  }
  ~Run() { restore_log(); }

  // Opens the capture file; false, said, when it cannot be written.
  bool open() {
    if (pcap_.empty() || writer.open(pcap_)) return true;
    restore_log();
    std::cerr << "lapdtool: cannot write " << pcap_ << std::endl;
    return false;
  }
  // Closes the capture file; false, said, when it could not be written.
  bool close() {
    if (writer.close()) return true;
    std::cerr << "lapdtool: cannot write " << pcap_ << std::endl;
    return false;
  }
  // The links' lines go to the log again.
  void restore_log() { std::clog.rdbuf(saved_clog_); }

  PcapWriter writer;

 private:
  std::string pcap_;
  std::streambuf* saved_clog_;
  std::ofstream null_sink_;
};

// ---- pair ------------------------------------------------------------------

// A Q.931 INFORMATION message whose display carries the side and number, so
// the capture reads as signalling and each message is told apart.
Packet make_message(char side, unsigned n) {
  char text[16];
  int len = std::snprintf(text, sizeof text, "%c%06u", side, n);
  Packet p;
  p.reserve_head(ISDN::LAPD::header_room);
  p.put8(0x08);
  p.put8(0x01);
  p.put8(0x01);
  p.put8(0x7B);
  p.put8(0x28);
  p.put8(static_cast<std::uint8_t>(len));
  for (int i = 0; i < len; ++i) p.put8(static_cast<std::uint8_t>(text[i]));
  return p;
}

bool read_message(const Packet& p, char& side, unsigned& n) {
  if (p.length() != 13 || p[0] != 0x08 || p[3] != 0x7B || p[4] != 0x28 || p[5] != 7) return false;
  side = static_cast<char>(p[6]);
  n = 0;
  for (int i = 7; i < 13; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    n = n * 10 + unsigned(p[i] - '0');
  }
  return true;
}

class Side : public ProtocolsFamily, public ISDN::LAPD::Notify {
 public:
  Side(ISDN::Side::type side, char tag, unsigned total, unsigned log)
      : tag_(tag), total_(total) {
    link = new ISDN::LAPD(side, log);
    link->BindNotify(this);
    add_protocol_tail(link);
    feeder_.Bind(this, &Side::feed);
  }

  void on_activated(Protocol*) override {
    ++activations;
    feeder_.Activate();
  }
  void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> s) override {
    released = true;
    release_text = s->message();
    release_success = s->success();
  }
  void on_status(Smart_pointer<Internal_protocol_status> s) override {
    ++reports;
    if (verbose) std::cerr << tag_ << ": " << s->message() << std::endl;
  }
  int on_message(Packet& p) override {
    char side;
    unsigned n;
    if (!read_message(p, side, n) || side == tag_ || n != received) {
      ++faults;
      if (verbose) std::cerr << tag_ << ": unexpected message " << p << " (want " << received << ")" << std::endl;
    } else {
      ++received;
    }
    return 0;
  }
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {
    if (link->GetFlowStatus() == ISDN::LAPD::FlowStatus::normal) feeder_.Activate();
  }

  // Gives messages while the link's flow status lets it.
  void feed() {
    feeder_.Deactivate();
    while (given_ < total_ && link->GetFlowStatus() == ISDN::LAPD::FlowStatus::normal) {
      Packet m = make_message(tag_, given_++);
      link->message(m);
    }
  }

  bool all_given() const { return given_ == total_; }
  bool drained() const { return link->queued() == 0 && link->unacknowledged() == 0; }

  ISDN::LAPD* link;
  int activations = 0;
  unsigned received = 0;
  unsigned faults = 0;
  unsigned reports = 0;
  bool released = false;
  bool release_success = false;
  std::string release_text;
  bool verbose = false;

 private:
  char tag_;
  unsigned total_;
  unsigned given_ = 0;
  Dpc feeder_;
};

class Pair {
 public:
  Pair(unsigned messages, unsigned log)
      : user(ISDN::Side::user, 'U', messages, log), net(ISDN::Side::network, 'N', messages, log),
        total_(messages) {
    relay.end(0).bind(user.link);
    relay.end(1).bind(net.link);
    user.link->set_linkno(1);
    net.link->set_linkno(2);
    user.link->hdlc(&relay.end(0));
    net.link->hdlc(&relay.end(1));
    watch_.Bind(this, &Pair::check);
  }

  // Watches for the end of the exchange, then releases.
  void check() {
    if (!release_asked_ && user.all_given() && net.all_given() && user.received == total_ &&
        net.received == total_ && user.drained() && net.drained() && relay.idle()) {
      release_asked_ = true;
      user.link->deactivate();
    }
    if (user.released || user.faults || net.faults || user.activations > 1 || net.activations > 1) {
      watch_.Deactivate();
      multiplexer.terminate();
    }
  }

  void run(unsigned limit_ms) {
    user.link->activate();
    watch_.Activate();
    Timer limit;
    limit.set(limit_ms, &Pair::stop);
    multiplexer.run(false, true);
  }
  static void stop() { multiplexer.terminate(); }

  HdlcRelay relay;
  Side user;
  Side net;

 private:
  unsigned total_;
  bool release_asked_ = false;
  Dpc watch_;
};

int pair(int argc, char** argv) {
  std::string pcap;
  unsigned messages = 1000, drop = 7, capacity = 0, log = 0, latency = 2;
  bool verbose = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](unsigned& v) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      unsigned long x = std::strtoul(argv[++i], &end, 10);
      if (!end || *end) return false;
      v = static_cast<unsigned>(x);
      return true;
    };
    if (a == "--pcap" && i + 1 < argc) {
      pcap = argv[++i];
    } else if (a == "--messages") {
      if (!value(messages)) return usage();
    } else if (a == "--drop") {
      if (!value(drop)) return usage();
    } else if (a == "--latency") {
      if (!value(latency)) return usage();
    } else if (a == "--capacity") {
      if (!value(capacity)) return usage();
    } else if (a == "--log") {
      if (!value(log)) return usage();
      verbose = true;
    } else if (a == "-v") {
      verbose = true;
    } else {
      return usage();
    }
  }

  Run run(verbose, pcap);
  if (!run.open()) return 1;
  int result = 1;
  {
    Pair p(messages, log);
    p.user.verbose = p.net.verbose = verbose;
    p.relay.drop_every(drop);
    p.relay.capacity(capacity);
    p.relay.latency(latency);
    // A UA of the network's that the line loses leaves the user's repeated
    // DISC to be answered by DM: still a completed release.
    bool ua_lost = false;
    p.relay.tap([&](int from, const Packet& f, bool lost) {
      run.writer.frame(from == 1, f);
      if (lost && from == 1 && f.length() == 3 && (f[2] & 0xEF) == 0x63) ua_lost = true;
    });
    struct timeval t0, t1;
    platform::gettimeofday(&t0);
    p.run(messages * 200 + 600000);
    platform::gettimeofday(&t1);
    long long ms = (t1.tv_sec - t0.tv_sec) * 1000LL + (t1.tv_usec - t0.tv_usec) / 1000;

    bool user_released = p.user.release_text == "success (UA received)" ||
                         (ua_lost && p.user.release_text == "error (DM received)");
    bool ok = p.user.released && user_released &&
              p.net.released && p.net.release_text == "remote error (DISC received)" &&
              p.user.received == messages && p.net.received == messages && p.user.faults == 0 &&
              p.net.faults == 0 && p.user.activations == 1 && p.net.activations == 1;
    run.restore_log();
    std::printf("pair: %u messages each way; user received %u, network received %u; "
                "%llu frames, %llu lost, %llu refused; %lld ms virtual time\n",
                messages, p.user.received, p.net.received, (unsigned long long)p.relay.taken(),
                (unsigned long long)p.relay.lost(), (unsigned long long)p.relay.refused(), ms);
    std::printf("user: %d activation(s), %u report(s), release \"%s\"; network: %d activation(s), %u report(s), "
                "release \"%s\"\n",
                p.user.activations, p.user.reports, p.user.release_text.c_str(), p.net.activations,
                p.net.reports, p.net.release_text.c_str());
    std::printf("%s\n", ok ? "pair: ok" : "pair: FAILED");
    result = ok ? 0 : 1;
  }
  if (!run.close()) return 1;
  return result;
}


// ---- bus -------------------------------------------------------------------

std::string hex(const Packet& p) {
  std::string s;
  char b[4];
  for (std::uint32_t i = 0; i < p.length(); ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[int(i)]);
    s += b;
  }
  return s;
}

Packet octets(std::initializer_list<std::uint8_t> b) {
  Packet p;
  p.reserve_head(8);
  for (std::uint8_t x : b) p.put8(x);
  return p;
}

class Terminal : public ProtocolsFamily {
 public:
  Terminal() {
    link = new ISDN::LAPD(ISDN::Side::user, 0);
    link->change_to_bri();
    add_protocol_tail(link);
  }
  void on_activated(Protocol*) override { ++activations; }
  int on_message(Packet& p) override {
    received.push_back(hex(p));
    return 0;
  }
  ISDN::LAPD* link;
  int activations = 0;
  std::vector<std::string> received;
};

void run_ms(unsigned ms) {
  Timer stop;
  stop.set(ms, &Pair::stop);
  multiplexer.run(false, true);
}

int bus(int argc, char** argv) {
  std::string pcap;
  bool verbose = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--pcap" && i + 1 < argc)
      pcap = argv[++i];
    else if (a == "-v")
      verbose = true;
    else
      return usage();
  }
  Run run(verbose, pcap);
  if (!run.open()) return 1;

  std::vector<std::string> faults;
  std::uint64_t frames = 0;
  struct timeval t0, t1;
  platform::gettimeofday(&t0);
  {
    HdlcBus line(3);
    auto* nt = new ISDN::LAPD_NT;
    line.add_protocol_tail(nt);
    if (verbose) nt->set_log(2);
    std::vector<std::string> up;
    line.upper([&](Packet& m) { up.push_back(hex(m)); });
    line.tap([&](int from, const Packet& f) {
      ++frames;
      run.writer.frame(from < 0, f);
    });
    Terminal term[3];
    std::vector<std::string> want[3], want_up;
    for (unsigned i = 0; i < 3; ++i) {
      term[i].link->set_linkno(i + 1);
      term[i].link->hdlc(&line.terminal(i));
      line.terminal(i).bind(term[i].link);
    }
    auto from_above = [&](Packet m) { nt->message(m); };

    // The terminals ask for identities as the line comes up.
    for (Terminal& t : term) t.link->BeginTeiAssignProcedure();
    nt->activate();
    run_ms(100);
    for (unsigned i = 0; i < 3; ++i)
      if (term[i].link->full_state().ownTEI != int(64 + i) ||
          term[i].link->full_state().state != ISDN::Multiple_frame_established)
        faults.push_back("terminal " + std::to_string(i) + " not set up on TEI " + std::to_string(64 + i));

    // A message from each terminal with its own call reference.
    for (unsigned i = 0; i < 3; ++i) {
      Packet m = octets({0x08, 0x01, std::uint8_t(i + 1), 0x7B});
      term[i].link->message(m);
      want_up.push_back(hex(m));
    }
    run_ms(100);

    // From above: a SETUP to all, a message per call reference (answers
    // carry the flag bit), one for nobody, and a burst for the first call.
    Packet setup = octets({0x08, 0x01, 0x04, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA2});
    from_above(setup);
    for (auto& w : want) w.push_back(hex(setup));
    for (unsigned i = 0; i < 3; ++i) {
      Packet m = octets({0x08, 0x01, std::uint8_t(0x80 | (i + 1)), 0x7D});
      from_above(m);
      want[i].push_back(hex(m));
    }
    from_above(octets({0x08, 0x01, 0x89, 0x7D}));
    for (std::uint8_t k = 0; k < 10; ++k) {
      Packet m = octets({0x08, 0x01, 0x81, 0x7B, 0x28, 0x01, std::uint8_t('0' + k)});
      from_above(m);
      want[0].push_back(hex(m));
    }
    run_ms(200);

    // Busy hold: terminal 2 reports busy, two messages wait for its RR.
    const ISDN::LAPD_NT_user* u = nt->find(66);
    if (!u) {
      faults.push_back("terminal 2 lost its TEI");
    } else {
      std::uint8_t nr = static_cast<std::uint8_t>(u->va() << 1);
      line.inject(2, octets({0x02, 0x85, 0x05, nr}));
      run_ms(2);
      for (std::uint8_t type : {0x45, 0x4D}) {
        Packet m = octets({0x08, 0x01, 0x83, type});
        from_above(m);
        want[2].push_back(hex(m));
      }
      run_ms(2);
      if (u->held() != 2) faults.push_back("busy terminal: " + std::to_string(u->held()) + " messages held, not 2");
      line.inject(2, octets({0x02, 0x85, 0x01, nr}));
      run_ms(100);
    }

    // Quiet time: idle polls and the checks at 60 s and 120 s.
    run_ms(125000);

    for (unsigned i = 0; i < 3; ++i) {
      if (term[i].received != want[i])
        faults.push_back("terminal " + std::to_string(i) + " received " + std::to_string(term[i].received.size()) +
                         " messages, not the " + std::to_string(want[i].size()) + " expected");
      if (term[i].activations != 1)
        faults.push_back("terminal " + std::to_string(i) + " set up " + std::to_string(term[i].activations) + " times");
      if (!nt->find(std::uint8_t(64 + i))) faults.push_back("TEI " + std::to_string(64 + i) + " lost");
      if (term[i].link->stats().T200 != 0)
        faults.push_back("terminal " + std::to_string(i) + " needed T200 " + std::to_string(term[i].link->stats().T200) +
                         " times");
    }
    if (up != want_up) faults.push_back("the manager passed up " + std::to_string(up.size()) + " messages, not 3");
    platform::gettimeofday(&t1);
  }
  run.restore_log();
  long long ms = (t1.tv_sec - t0.tv_sec) * 1000LL + (t1.tv_usec - t0.tv_usec) / 1000;
  std::printf("bus: 3 terminals; %llu frames; %lld ms virtual time\n", (unsigned long long)frames, ms);
  for (const std::string& f : faults) std::printf("bus: %s\n", f.c_str());
  std::printf("%s\n", faults.empty() ? "bus: ok" : "bus: FAILED");
  if (!run.close()) return 1;
  return faults.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "pair") return pair(argc - 2, argv + 2);
  if (cmd == "decode") return decode(argc - 2, argv + 2);
  if (cmd == "bus") return bus(argc - 2, argv + 2);
  return usage();
}
