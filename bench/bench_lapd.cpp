// ISDN data link back to back: a user side and a network side on the relay
// line, frames per second through both links (I frames one way, their
// acknowledgements the other), as items per second.
#include "control/protocols_list.h"
#include "signalling/lapd/hdlc_relay.h"
#include "signalling/lapd/lapd.h"

#include <benchmark/benchmark.h>

namespace {

class Owner : public ProtocolsFamily {
 public:
  explicit Owner(ISDN::Side::type side) {
    link = new ISDN::LAPD(side, 0);
    add_protocol_tail(link);
  }
  int on_message(Packet&) override {
    ++received;
    return 0;
  }
  ISDN::LAPD* link;
  std::uint64_t received = 0;
};

Packet message(unsigned size) {
  Packet p;
  p.reserve_head(ISDN::LAPD::header_room);
  for (unsigned i = 0; i < size; ++i) p.put8(static_cast<std::uint8_t>(i));
  return p;
}

// Messages of the given size from the user side to the network side, one
// burst of the given length at a time, each burst carried through to its
// acknowledgements before the next.
void BackToBack(benchmark::State& state) {
  const unsigned size = static_cast<unsigned>(state.range(0));
  const int burst = static_cast<int>(state.range(1));
  Owner user(ISDN::Side::user), net(ISDN::Side::network);
  HdlcRelay relay;
  relay.end(0).bind(user.link);
  relay.end(1).bind(net.link);
  user.link->hdlc(&relay.end(0));
  net.link->hdlc(&relay.end(1));
  user.link->activate();
  while (!relay.idle()) relay.deliver();
  if (user.link->full_state().state != ISDN::Multiple_frame_established) {
    state.SkipWithError("link not established");
    return;
  }
  const std::uint64_t first = relay.taken();
  for (auto _ : state) {
    for (int i = 0; i < burst; ++i) {
      Packet m = message(size);
      user.link->message(m);
    }
    while (!relay.idle()) relay.deliver();
  }
  if (net.received != static_cast<std::uint64_t>(state.iterations()) * static_cast<std::uint64_t>(burst))
    state.SkipWithError("messages lost");
  state.SetItemsProcessed(static_cast<std::int64_t>(relay.taken() - first));
  state.counters["messages"] = benchmark::Counter(static_cast<double>(net.received), benchmark::Counter::kIsRate);
}
BENCHMARK(BackToBack)->Args({16, 1})->Args({16, 7})->Args({260, 7});

}  // namespace
