#include "runtime/timer.h"

#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"

#include <cstdlib>
#include <iostream>
#include <vector>

// GW_POOL_CHECKED: set by the build with the sanitizers.
#ifndef GW_POOL_CHECKED
#define GW_POOL_CHECKED 0
#endif
#if GW_POOL_CHECKED
#include <sanitizer/asan_interface.h>
#endif

TimerEvent::~TimerEvent() { reset(); }

// ---------------------------------------------------------------- event pool
//
// Free lists per size (8-octet steps up to 128 octets; larger events, which
// no owner has, use the heap). Single thread, nothing locked. With
// AddressSanitizer every event is its own heap block, a free one is poisoned
// until it is handed out again, free events are reused oldest first, and
// freeing a free event aborts.
namespace {

unsigned long in_use = 0;

#if GW_POOL_ALLOC

constexpr std::size_t kGranule = 8;
constexpr std::size_t kLargest = 128;
constexpr std::size_t kClasses = kLargest / kGranule + 1;

std::size_t size_class(std::size_t n) { return (n + kGranule - 1) / kGranule; }
std::size_t block_size(std::size_t c) { return c ? c * kGranule : kGranule; }

#if GW_POOL_CHECKED

// Kept outside the blocks: the leak checker does not read poisoned memory.
struct Ring {
  std::vector<void*> slots;
  std::size_t head = 0;
  void push(void* p) { slots.push_back(p); }
  void* pop() {
    if (head == slots.size()) return nullptr;
    void* p = slots[head++];
    if (head == slots.size()) {
      slots.clear();
      head = 0;
    }
    return p;
  }
};
Ring& freed(std::size_t c) {
  // Never destroyed: timers that outlive static destruction still free here.
  static Ring* const rings = new Ring[kClasses];
  return rings[c];
}

#else

struct Block {
  Block* next;
};
Block* free_list[kClasses] = {};

#endif
#endif

}  // namespace

unsigned long TimerEvent::pooled_in_use() { return in_use; }

#if GW_POOL_ALLOC

void* TimerEvent::operator new(std::size_t n) {
  if (n > kLargest) return ::operator new(n);
  const std::size_t c = size_class(n);
#if GW_POOL_CHECKED
  void* b = freed(c).pop();
  if (b)
    ASAN_UNPOISON_MEMORY_REGION(b, block_size(c));
  else
    b = ::operator new(block_size(c));
#else
  void* b = free_list[c];
  if (b)
    free_list[c] = free_list[c]->next;
  else
    b = ::operator new(block_size(c));
#endif
  ++in_use;
  return b;
}

void TimerEvent::operator delete(void* p, std::size_t n) {
  if (!p) return;
  if (n > kLargest) {
    ::operator delete(p);
    return;
  }
  const std::size_t c = size_class(n);
#if GW_POOL_CHECKED
  if (__asan_address_is_poisoned(p)) {
    std::cerr << "timer event " << p << " freed twice" << std::endl;
    std::abort();
  }
  freed(c).push(p);
  ASAN_POISON_MEMORY_REGION(p, block_size(c));
#else
  Block* b = static_cast<Block*>(p);
  b->next = free_list[c];
  free_list[c] = b;
#endif
  --in_use;
}

#endif

void TimerEvent::schedule(unsigned int delay_ms) {
  deadline = static_cast<std::uint32_t>(Mux::milliseconds()) + delay_ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

void SimpleTimerEvent1::fire() {
  Action f = func;
  std::unique_ptr<TimerEvent> self(timer->Unbind());
  f();
}

void Timer::set(unsigned int delay_ms, void (*f)()) { take(new SimpleTimerEvent1(this, f, delay_ms)); }

TimerPoolPlugin::~TimerPoolPlugin() { timerUnhook(); }

void TimerPoolPlugin::timerHook() {
  if (hooked) return;
  multiplexer.hook(this);
  hooked = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked) return;
  multiplexer.unhook(this);
  hooked = false;
}
