// Finding the receiver of one DTMF unit event among a full board's tone
// receivers (every voice channel has one): the event names its time slot
// and the receivers are searched in the order they were made.
#include "slots/tonec_receiver.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

class Channel : public Hardware::TonecReceiver {
 public:
  explicit Channel(std::uint32_t ts) : ts(ts) {}
  void tonec_event(Params const&) override {}
  std::uint32_t tonec_timeslot() override { return ts; }
  std::uint32_t ts;
};

// The time slot of the newest receiver: the search passes every other one.
void FindNewest(benchmark::State& state) {
  std::vector<std::unique_ptr<Channel>> channels;
  const auto n = static_cast<std::uint32_t>(state.range(0));
  for (std::uint32_t i = 0; i < n; ++i) channels.emplace_back(new Channel(i));
  for (auto _ : state) {
    auto* r = Hardware::UnitReceiverLink<Hardware::TonecReceiver>::find(
        n - 1, [](Hardware::TonecReceiver& c) { return c.tonec_timeslot(); });
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FindNewest)->Arg(16)->Arg(256)->Arg(1024);

}  // namespace
