#include "runtime/timer.h"

#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"

TimerEvent::~TimerEvent() { reset(); }

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
