// A controller's burst on the simulated board: 1024 map slots created (slot
// k: transmitter shared channel k, receiver 1024 + k), each connected to the
// next, then all destroyed: 3072 commands in one write, until their 3072
// answers and the 2048 stream signals are back. Everything runs in this
// process: the control server with the Slots service on the loop, a
// loopback controller read by the same loop.
#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "platform/sim/hal.h"
#include "runtime/event.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"
#include "slots/hw_mux.h"
#include "slots/map.h"
#include "slots/slots.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string frame(const LGCP::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  ASN1::encode(m, &env, std::back_inserter(out));
  const std::size_t len = out.size() + 4;
  std::string f = {'\x03', '\x00', static_cast<char>(len >> 8), static_cast<char>(len & 0xFF)};
  return f + std::string(out.begin(), out.end());
}

std::string burst() {
  std::string all;
  int seq = 1;
  auto message = [&](int slot) {
    LGCP::Message m;
    m.set_seq(seq++);
    m.set_slot(static_cast<unsigned>(slot));
    return m;
  };
  for (int k = 0; k < 1024; ++k) {
    LGCP::Message m = message(k);
    LGCP::MapParams& p = m.set_pdu().select_command().select_create().select_map();
    p.set_transmitter().set_bus(static_cast<unsigned>(k / 128));
    p.set_transmitter().set_channel(static_cast<unsigned>(k % 128));
    p.set_receiver().set_bus(static_cast<unsigned>((1024 + k) / 128));
    p.set_receiver().set_channel(static_cast<unsigned>(k % 128));
    all += frame(m);
  }
  for (int k = 0; k < 1024; ++k) {
    LGCP::Message m = message(k);
    m.set_pdu().select_command().select_connect(static_cast<unsigned>((k + 1) % 1024));
    all += frame(m);
  }
  for (int k = 0; k < 1024; ++k) {
    LGCP::Message m = message(k);
    m.set_pdu().select_command().select_destroy();
    all += frame(m);
  }
  return all;
}

// The controller's side, read by the loop: counts whole frames and stops the
// loop when the expected number has come.
class Controller {
 public:
  explicit Controller(unsigned short port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) std::abort();
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    event_.Bind("Controller::OnRead", &Controller::OnRead, this);
    event_.Schedule(Fd(::dup(fd_)), POLLIN);
  }
  ~Controller() { ::close(fd_); }

  void Send(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }
  void Expect(std::size_t frames) {
    frames_ = 0;
    want_ = frames;
  }
  std::size_t frames() const { return frames_; }

 private:
  void OnRead(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char chunk[65536];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) return;
    buf_.append(chunk, static_cast<std::size_t>(n));
    std::size_t at = 0;
    while (buf_.size() - at >= 4) {
      const std::size_t len = (static_cast<unsigned char>(buf_[at + 2]) << 8) | static_cast<unsigned char>(buf_[at + 3]);
      if (len < 4 || buf_.size() - at < len) break;
      at += len;
      ++frames_;
    }
    buf_.erase(0, at);
    if (want_ && frames_ >= want_) multiplexer.terminate();
  }

  int fd_ = -1;
  Event event_;
  std::string buf_;
  std::size_t frames_ = 0;
  std::size_t want_ = 0;
};

void stop() { multiplexer.terminate(); }

// The server side and the connected controller, set up once for every run
// of the benchmark (binding and listening are for the whole process).
Controller& controller() {
  static Controller* ctl = [] {
    platform::sim::hal();
    HwMux::instance();
    MapFactory::instance();
    ctrlServer.Bind(&Slots::instance());
    auto* acceptor = new Control::AcceptorNetCheckConnection(0);
    ctrlServer.Activate(acceptor);
    auto* c = new Controller(acceptor->GetBoundPort());
    Timer settle;
    settle.set(50, &stop);
    multiplexer.run(false, true);
    return c;
  }();
  return *ctl;
}

void SlotBurst(benchmark::State& state) {
  // The switching events go to the log streams; keep them out of the report.
  std::ostringstream sink;
  std::streambuf* saved[] = {std::clog.rdbuf(sink.rdbuf()), std::cerr.rdbuf(sink.rdbuf())};
  Controller& ctl = controller();
  static const std::string commands = burst();
  for (auto _ : state) {
    ctl.Expect(3072 + 2048);
    ctl.Send(commands);
    multiplexer.run(false, true);
    if (ctl.frames() != 3072 + 2048) state.SkipWithError("frames missing");
    sink.str(std::string());
  }
  state.counters["commands/s"] = benchmark::Counter(3072.0 * state.iterations(), benchmark::Counter::kIsRate);
  std::clog.rdbuf(saved[0]);
  std::cerr.rdbuf(saved[1]);
}
BENCHMARK(SlotBurst)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
