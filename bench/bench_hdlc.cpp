// Frames per second through the HDLC channel engine: two channels of the
// simulated controller cross-wired, one sending, the other receiving, both
// served by the event loop. The bare SOCK_SEQPACKET send/recv loop beside it
// is the yardstick of the same run: the engine, the device layer and the
// loop together should keep at least a third of its rate.
#include "platform/sim/hal.h"
#include "platform/sim/mcc.h"
#include "runtime/multiplexer.h"
#include "slots/hdlc.h"

#include <benchmark/benchmark.h>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int frame_size = 32;
constexpr int batch = 256;

struct Sender : HDLC::Notify {
  HDLC* channel = nullptr;
  Packet frame;
  int left = 0;

  // Sends until the batch is out or the receiver pushes back.
  void pump() {
    while (left > 0 && channel->hdlc_transmit(frame)) --left;
  }
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override { pump(); }
};

struct Receiver : HDLC::Notify {
  int expected = 0;
  int got = 0;
  void on_hdlc_receive(Packet&) override {
    if (++got == expected) multiplexer.terminate();
  }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

void HdlcEngineWiredChannels(benchmark::State& state) {
  // An activation wires the channel to its line through the cross-connect
  // and gives the channel up when the switch refuses: the board's switch
  // must be there.
  platform::sim::hal();
  platform::sim::Mcc& mcc = platform::sim::mcc();
  HDLC a, b;
  Sender tx;
  Receiver rx;
  a.bind(&tx);
  b.bind(&rx);
  HDLC::Params p;
  p.tdm = 1;
  p.type = 1;
  a.params(p);
  p.tdm = 2;
  b.params(p);
  if (!a.activate() || !b.activate()) {
    state.SkipWithError("no controller channel");
    return;
  }
  auto alloc = mcc.allocations();
  mcc.wire(alloc[alloc.size() - 2].timeslot, alloc.back().timeslot);
  tx.channel = &a;
  tx.frame.reserve_tail(frame_size);
  for (int i = 0; i < frame_size; ++i) tx.frame.put8(static_cast<std::uint8_t>(i));

  // The loop says goodbye on every return; keep the report readable.
  std::streambuf* log = std::clog.rdbuf(nullptr);
  for (auto _ : state) {
    rx.got = 0;
    rx.expected = batch;
    tx.left = batch;
    if (a.is_ready()) tx.pump();
    multiplexer.run(false, true);
  }
  std::clog.rdbuf(log);
  state.SetItemsProcessed(state.iterations() * batch);
  if (b.statistics().received != a.statistics().sent) state.SkipWithError("frames lost");
}
BENCHMARK(HdlcEngineWiredChannels);

// The yardstick: one frame sent and received on a bare socket pair.
void BareSeqpacketSendRecv(benchmark::State& state) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  unsigned char out[frame_size] = {};
  static unsigned char in[65536];
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) {
      if (::send(sv[0], out, sizeof out, 0) != frame_size) state.SkipWithError("send");
      if (::recv(sv[1], in, sizeof in, 0) != frame_size) state.SkipWithError("recv");
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  ::close(sv[0]);
  ::close(sv[1]);
}
BENCHMARK(BareSeqpacketSendRecv);

}  // namespace
