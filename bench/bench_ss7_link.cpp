// MSUs back to back through two SS7 links in service joined by the test
// relay: level 3 of one side offers a batch, the loop runs until level 3 of
// the other side has every one of them. Each MSU costs its frame, the
// peer's acknowledgement and the RTB release.
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "signalling/ss7/slc.h"
#include "tests/signalling/ss7_relay.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

namespace {

void step(unsigned ms) {
  platform::vclock::advance_ms(ms);
  Mux::g_tv_time = Mux::timeval(0, 0);
  multiplexer.timers_schedule();
}

void MsuThroughRelay(benchmark::State& state) {
  platform::vclock::enable();
  Mux::g_tv_time = Mux::timeval(0, 0);
  std::ostringstream quiet;
  std::streambuf* saved = std::clog.rdbuf(quiet.rdbuf());
  {
    ss7test::Relay relay;
    relay.set_delay(0, 0);
    relay.set_delay(1, 0);
    ss7test::Upper a(new SS7::SLC), b(new SS7::SLC);
    relay.attach(0, &a.link());
    relay.attach(1, &b.link());
    a.link().activate();
    b.link().activate();
    for (int i = 0; i < 200 && (a.activations == 0 || b.activations == 0); ++i) step(100);
    const std::size_t batch = std::size_t(state.range(0));
    const ss7test::Bytes msu{0x83, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                             0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13};
    for (auto _ : state) {
      for (std::size_t i = 0; i < batch; ++i) a.send(msu);
      while (b.received.size() < batch) {
        if (a.link().get_state_id() != SS7::SLC::State::worked) {
          state.SkipWithError("link left service");
          break;
        }
        multiplexer.timers_schedule();
      }
      b.received.clear();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(batch));
  }
  std::clog.rdbuf(saved);
  platform::vclock::disable();
}
BENCHMARK(MsuThroughRelay)->Arg(1)->Arg(64);

}  // namespace
