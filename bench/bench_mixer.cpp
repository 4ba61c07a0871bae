// Conference mixer slots on the simulated board, driven through the Slots
// service in this process: each command is a PER-encoded LGCP message handed
// to the control server as if the controller had sent it. The board has 100
// mixer units of 32 channels; one item is one change of a conference:
//
//   BM_MixerJoinLeave        an input joins (mixerIn with a summator), then
//                            leaves (destroy): two items, on an empty board;
//   BM_MixerJoinLeaveLoaded  the same with 1000 mixer slots live (per unit,
//                            outputs on channels 0..4 each mixing three
//                            inputs, inputs on 5..9 summed into them);
//   BM_MixerRebuildOutput    a 30-input output created over its live slot
//                            (the old one goes, the new mix is set): one
//                            item.
//
// Answers go nowhere (no controller is attached); the server's log lines
// are dropped while the benchmarks run.
#include "control/ctrl_server.h"
#include "media/mixer_factory.h"
#include "platform/sim/dsp.h"
#include "platform/sim/dtmf.h"
#include "platform/sim/hal.h"
#include "platform/sim/mixer.h"
#include "schema/lgcp/LGCP.h"
#include "slots/hw_mux.h"
#include "slots/slots.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <streambuf>
#include <string>
#include <vector>

namespace {

constexpr int units = 100;
constexpr int channels = 32;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

using Image = std::vector<char>;

Image encode(const LGCP::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  Image out;
  if (!ASN1::encode(m, &env, std::back_inserter(out))) std::abort();
  return out;
}

unsigned seq = 1;

LGCP::Message message(int slot) {
  LGCP::Message m;
  m.set_seq(seq++ & 0xFFFF);
  if (slot >= 0) m.set_slot(static_cast<unsigned>(slot));
  return m;
}

Image input(int slot, int unit, int channel, int summator) {
  LGCP::Message m = message(slot);
  LGCP::MixerInParams& p = m.set_pdu().select_command().select_create().select_mixerIn();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  p.set_summator().select_tdm(summator);
  return encode(m);
}

Image output(int slot, int unit, int channel, const std::vector<int>& inputs) {
  LGCP::Message m = message(slot);
  LGCP::MixerOutParams& p = m.set_pdu().select_command().select_create().select_mixerOut();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  p.set_inputs();
  for (int c : inputs) {
    LGCP::MixerInput in;
    in.set_channel().select_tdm(c);
    in.set_gain(1000 + c);
    p.ref_inputs().push_back(in);
  }
  return encode(m);
}

Image destroy(int slot) {
  LGCP::Message m = message(slot);
  m.set_pdu().select_command().select_destroy();
  return encode(m);
}

void send(const Image& image) { ctrlServer.OnMessage(image.data(), static_cast<int>(image.size())); }

// The board, the bound Slots service and a resources query, once; the log
// streams stay silent from here on.
void board() {
  static bool ready = [] {
    // Kept for good: the standard streams flush it at exit.
    static NullBuffer* null = new NullBuffer;
    std::cerr.rdbuf(null);
    std::clog.rdbuf(null);
    platform::sim::hal();
    platform::sim::dtmf();
    platform::sim::dsp();
    platform::sim::MixerDevice& mixer = platform::sim::mixer();
    mixer.clear();
    for (int u = 0; u < units; ++u) mixer.add_unit(u, channels, 64);
    ctrlServer.Bind(&Slots::instance());
    HwMux::instance();
    Mixer::MixerFactory::instance();
    LGCP::Message q = message(-1);
    q.set_pdu().select_command().select_query();
    send(encode(q));
    if (Mixer::MixerFactory::instance().units().size() != units) std::abort();
    return true;
  }();
  (void)ready;
}

// The model's logs would only grow.
void forget_requests() {
  platform::sim::mixer().take_log();
  platform::sim::dsp().clear();
  platform::sim::dtmf().clear();
}

// Slots 0..999: per unit, outputs on channels 0..4 (three inputs each) and
// inputs on 5..9 summed into them.
void load(bool on) {
  int slot = 0;
  for (int u = 0; u < units; ++u) {
    for (int k = 0; k < 5; ++k) {
      if (on)
        send(output(slot, u, k, {10 + k, 20 + k, 25 + k}));
      else
        send(destroy(slot));
      ++slot;
    }
    for (int k = 0; k < 5; ++k) {
      if (on)
        send(input(slot, u, 5 + k, k));
      else
        send(destroy(slot));
      ++slot;
    }
  }
  if (Slots::instance().Count() != (on ? 1000u : 0u)) std::abort();
}

void join_leave(benchmark::State& state) {
  // Joins on channels 10..15 of every unit, in turn, on slots 1000..1023.
  std::vector<Image> joins, leaves;
  for (int i = 0; i < 600; ++i) {
    const int slot = 1000 + i % 24;
    joins.push_back(input(slot, i % units, 10 + (i / units) % 6, i % 5));
    leaves.push_back(destroy(slot));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    send(joins[i]);
    send(leaves[i]);
    if (++i == joins.size()) {
      i = 0;
      state.PauseTiming();
      forget_requests();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);
}

void BM_MixerJoinLeave(benchmark::State& state) {
  board();
  join_leave(state);
  if (Slots::instance().Count() != 0) state.SkipWithError("slots left behind");
}
BENCHMARK(BM_MixerJoinLeave);

void BM_MixerJoinLeaveLoaded(benchmark::State& state) {
  board();
  load(true);
  join_leave(state);
  load(false);
  forget_requests();
}
BENCHMARK(BM_MixerJoinLeaveLoaded);

void BM_MixerRebuildOutput(benchmark::State& state) {
  board();
  std::vector<int> thirty;
  for (int c = 1; c <= 30; ++c) thirty.push_back(c);
  const Image rebuild = output(1023, 7, 0, thirty);
  send(rebuild);
  if (!Slots::instance().Get(1023)) state.SkipWithError("no output");
  std::size_t n = 0;
  for (auto _ : state) {
    send(rebuild);
    if (++n % 1000 == 0) {
      state.PauseTiming();
      forget_requests();
      state.ResumeTiming();
    }
  }
  if (platform::sim::mixer().mix(7, 0).size() != 30) state.SkipWithError("mix is not the 30 inputs");
  send(destroy(1023));
  forget_requests();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_MixerRebuildOutput);

}  // namespace
