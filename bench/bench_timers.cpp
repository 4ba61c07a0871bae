// Arming and cancelling timers while 10,000 others are pending.
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

struct Owner {
  void fire() {}
};

struct Pending {
  Owner owner;
  std::vector<std::unique_ptr<Timer>> timers;
  explicit Pending(int n) {
    for (int i = 0; i < n; ++i) {
      timers.emplace_back(new Timer);
      timers.back()->set(60000 + static_cast<unsigned>(i), &Owner::fire, &owner);
    }
  }
};

// Arming and cancelling one timer: with a long delay it lands behind the
// others (the common case, one comparison); with a short one in front of
// them (a few comparisons: the walk looks from both ends); with one that
// lands in the middle of the pending deadlines (the walk meets halfway).
void ArmAndCancel(benchmark::State& state) {
  Pending pending(static_cast<int>(state.range(0)));
  const unsigned delay = static_cast<unsigned>(state.range(1));
  Owner owner;
  Timer t;
  for (auto _ : state) {
    t.set(delay, &Owner::fire, &owner);
    t.reset();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ArmAndCancel)->Args({10000, 3600000})->Args({10000, 10})->Args({10000, 65000});

// Re-arming a running timer (restart of a supervision timer).
void ReArmRunning(benchmark::State& state) {
  Pending pending(static_cast<int>(state.range(0)));
  Owner owner;
  Timer t;
  t.set(120000, &Owner::fire, &owner);
  for (auto _ : state) t.set(120000, &Owner::fire, &owner);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReArmRunning)->Arg(10000);

// Cancelling a pending timer wherever its event sits in the list, then
// re-arming it (a long delay: it goes back to the tail with one comparison).
// The cost must not grow with the number pending.
void CancelAnywhere(benchmark::State& state) {
  Pending pending(static_cast<int>(state.range(0)));
  const std::size_t n = pending.timers.size();
  std::size_t i = 0;
  for (auto _ : state) {
    i = (i + 7919) % n;  // a prime stride: every position, in scattered order
    Timer& t = *pending.timers[i];
    t.reset();
    t.set(3600000, &Owner::fire, &pending.owner);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CancelAnywhere)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace
