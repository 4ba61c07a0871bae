// Attaching and detaching one descriptor handler while a full board's worth
// of others are attached (a slot that opens or closes its device), and one
// loop pass with that many handlers when one descriptor is ready.
#include "runtime/multiplexer.h"

#include <benchmark/benchmark.h>
#include <iostream>
#include <memory>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

class Quiet : public EventHandler {
 public:
  void shedule_event(pollfd& entry) override {
    entry.fd = -1;
    entry.events = 0;
  }
  void svc_event(short) override {}
};

// n handlers attached (they wait in the loop's pending list: the lists are
// searched alike).
struct Polled {
  std::vector<std::unique_ptr<Quiet>> handlers;
  explicit Polled(int n) {
    for (int i = 0; i < n; ++i) {
      handlers.emplace_back(new Quiet);
      handlers.back()->mux_attach();
    }
  }
  ~Polled() {
    for (auto& h : handlers) h->mux_detach();
  }
};

// One more handler attached, then detached, among n polled ones.
void AttachDetachOne(benchmark::State& state) {
  Polled polled(static_cast<int>(state.range(0)));
  Quiet one;
  for (auto _ : state) {
    one.mux_attach();
    one.mux_detach();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AttachDetachOne)->Arg(16)->Arg(512)->Arg(2048);

// Closing a handler in the middle of the polled list and opening it again
// (it rejoins at the tail): destroy and create of one slot.
void ReopenMiddle(benchmark::State& state) {
  Polled polled(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  const std::size_t n = polled.handlers.size();
  for (auto _ : state) {
    i = (i + 7919) % n;
    polled.handlers[i]->mux_detach();
    polled.handlers[i]->mux_attach();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReopenMiddle)->Arg(16)->Arg(512)->Arg(2048);

// The one ready descriptor: a pipe with a byte in it; its service stops the
// run, so every iteration is one pass.
class Ready : public EventHandler {
 public:
  Ready() {
    if (::pipe(fds) == 0) (void)::write(fds[1], "x", 1);
  }
  ~Ready() override {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void shedule_event(pollfd& entry) override {
    entry.fd = fds[0];
    entry.events = POLLIN;
  }
  void svc_event(short) override { multiplexer.terminate(); }
  int fds[2] = {-1, -1};
};

// One pass of the loop (rebuild of the poll array, poll, every handler
// serviced) with n handlers, the ready one last.
void OnePass(benchmark::State& state) {
  std::ostringstream sink;
  std::streambuf* old = std::clog.rdbuf(sink.rdbuf());
  {
    Polled polled(static_cast<int>(state.range(0)));
    Ready ready;
    ready.mux_attach();
    for (auto _ : state) {
      multiplexer.run(false, true);
      sink.str("");
    }
    ready.mux_detach();
  }
  std::clog.rdbuf(old);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(OnePass)->Arg(16)->Arg(512)->Arg(2048);

}  // namespace
