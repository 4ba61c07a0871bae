// Taking packets from the pool and giving them back, with the usual work
// done on them in between.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "runtime/clean_queue.h"
#include "runtime/packet.h"

namespace {

void BM_TakeAndRelease(benchmark::State& state) {
  for (auto _ : state) {
    Packet p;
    p.reserve_head(4);
    benchmark::DoNotOptimize(p.get());
  }
}
BENCHMARK(BM_TakeAndRelease);

// Many packets held at once: the pool hands out and takes back in bulk.
void BM_TakeManyThenRelease(benchmark::State& state) {
  std::vector<Packet> held(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    for (Packet& p : held) p.reserve_head(0);
    for (Packet& p : held) p.clear();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TakeManyThenRelease)->Arg(16)->Arg(1024);

// A TPKT frame of the given payload, built the way the control link does.
void BM_BuildFrame(benchmark::State& state) {
  const int payload = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Packet p;
    p.reserve_head(4);
    for (int i = 0; i < payload; ++i) p.put8(static_cast<std::uint8_t>(i));
    p.push16_b(static_cast<std::uint16_t>(4 + payload));
    p.push8(0);
    p.push8(3);
    benchmark::DoNotOptimize(p.get());
  }
  state.SetBytesProcessed(state.iterations() * payload);
}
BENCHMARK(BM_BuildFrame)->Arg(16)->Arg(256);

void BM_CopyOnWrite(benchmark::State& state) {
  Packet original;
  original.reserve_head(4);
  std::memset(original.put(static_cast<std::uint32_t>(state.range(0))), 0x55,
              static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Packet copy = original;
    copy.put8(1);
    benchmark::DoNotOptimize(copy.get());
  }
}
BENCHMARK(BM_CopyOnWrite)->Arg(64)->Arg(4096);

void BM_QueueRoundTrip(benchmark::State& state) {
  CleanQueue<Packet, 135> q;
  Packet p;
  p.reserve_head(4);
  Packet out;
  for (auto _ : state) {
    q.put(p);
    q.get(out);
  }
}
BENCHMARK(BM_QueueRoundTrip);

}  // namespace
