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

// A fixed-delay timer armed behind the others: the common case.
void ArmLatestAndCancel(benchmark::State& state) {
  Pending pending(static_cast<int>(state.range(0)));
  Owner owner;
  Timer t;
  for (auto _ : state) {
    t.set(3600000, &Owner::fire, &owner);
    t.reset();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ArmLatestAndCancel)->Arg(10000);

// A short timer that lands at the front: insertion walks from the tail.
void ArmEarliestAndCancel(benchmark::State& state) {
  Pending pending(static_cast<int>(state.range(0)));
  Owner owner;
  Timer t;
  for (auto _ : state) {
    t.set(10, &Owner::fire, &owner);
    t.reset();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ArmEarliestAndCancel)->Arg(10000);

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

}  // namespace
