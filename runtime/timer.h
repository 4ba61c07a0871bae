#pragma once
// One-shot timers in milliseconds. A Timer is embedded in its owner; arming
// it creates one event that the loop keeps in its deadline-ordered list.
// Deadlines are 32-bit millisecond counts of the loop clock compared by
// signed difference, so ordering holds across the wrap at 2^32 ms while the
// pending deadlines lie within 2^31 ms of now. Equal deadlines fire in the
// order armed; periodic work re-arms its timer in the target.
//
// The target is called as the last step of the expiry: it may re-arm, reset
// or destroy the timer that fired, and its owner.
#include "runtime/f_dual_list.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#ifndef GW_POOL_ALLOC
#define GW_POOL_ALLOC 1
#endif

class Multiplexer;
class Timer;

class TimerEvent : public F_dual_list_item<TimerEvent> {
 public:
  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  // Destroying a pending event cancels it: it unlinks itself through its own
  // links, whatever its place in the list.
  virtual ~TimerEvent();
  virtual void fire() = 0;

#if GW_POOL_ALLOC
  // Every arming makes an event and every expiry or cancellation frees one
  // (the heartbeat re-arms on every command): events come from free lists
  // per size, kept for reuse. n is the size of the most derived class.
  static void* operator new(std::size_t n);
  static void operator delete(void* p, std::size_t n);
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}
#endif
  // Events handed out by the pool and not yet freed.
  static unsigned long pooled_in_use();

  // deadline := now + delay (mod 2^32); enters the loop's list.
  void schedule(unsigned int delay_ms);
  void reset();
  // Signed difference of the deadlines, this one's minus the other's.
  std::int32_t compare(const TimerEvent& other) const {
    return static_cast<std::int32_t>(deadline - other.deadline);
  }

 private:
  friend class Multiplexer;
  std::uint32_t deadline = 0;
  bool queued = false;  // linked in the loop's list: cancelling needs no search
};

class Timer {
 public:
  Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() { reset(); }

  // Arms (or re-arms) the timer to call obj->*f after delay_ms.
  template <class T>
  void set(unsigned int delay_ms, void (T::*f)(), T* obj);
  // The same, with a member function told which timer fired.
  template <class T>
  void set(unsigned int delay_ms, void (T::*f)(Timer*), T* obj);
  // The same, with a plain function.
  void set(unsigned int delay_ms, void (*f)());

  // Cancels the pending event; nothing on an idle timer.
  void reset() { take(nullptr); }
  // Gives up the pending event without destroying it (used by expiry).
  TimerEvent* Unbind() { return event.release(); }
  bool is_running() const { return event != nullptr; }

 private:
  // Takes the new event (already in the list) and destroys the previous one,
  // which leaves the list.
  void take(TimerEvent* e) {
    std::unique_ptr<TimerEvent> old(event.release());
    event.reset(e);
  }

  std::unique_ptr<TimerEvent> event;
};

template <class T>
class ObjTimerEvent1 : public TimerEvent {
 public:
  using Action = void (T::*)();
  ObjTimerEvent1(Timer* t, Action f, T* o, unsigned int delay_ms) : timer(t), func(f), obj(o) {
    schedule(delay_ms);
  }
  void fire() override {
    Action f = func;
    T* o = obj;
    std::unique_ptr<TimerEvent> self(timer->Unbind());
    (o->*f)();
  }

 private:
  Timer* timer;
  Action func;
  T* obj;
};

template <class T>
class ObjTimerEvent2 : public TimerEvent {
 public:
  using Action = void (T::*)(Timer*);
  ObjTimerEvent2(Timer* t, Action f, T* o, unsigned int delay_ms) : timer(t), func(f), obj(o) {
    schedule(delay_ms);
  }
  void fire() override {
    Action f = func;
    T* o = obj;
    Timer* t = timer;
    std::unique_ptr<TimerEvent> self(t->Unbind());
    (o->*f)(t);
  }

 private:
  Timer* timer;
  Action func;
  T* obj;
};

class SimpleTimerEvent1 : public TimerEvent {
 public:
  using Action = void (*)();
  SimpleTimerEvent1(Timer* t, Action f, unsigned int delay_ms) : timer(t), func(f) { schedule(delay_ms); }
  void fire() override;

 private:
  Timer* timer;
  Action func;
};

template <class T>
void Timer::set(unsigned int delay_ms, void (T::*f)(), T* obj) {
  take(new ObjTimerEvent1<T>(this, f, obj, delay_ms));
}

template <class T>
void Timer::set(unsigned int delay_ms, void (T::*f)(Timer*), T* obj) {
  take(new ObjTimerEvent2<T>(this, f, obj, delay_ms));
}

// A periodic timer described by static data: the member function and the
// delay. SpecTimer is a Timer bound at compile time to one such record:
//
//   static const TimerSpec<PstnSlot> TUpdatespec;   // {&PstnSlot::OnUpdateTimer, 3000}
//   TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> update;
//   update.set(this);
template <class T>
struct TimerSpec {
  void (T::*func)();
  std::uint32_t delay;

  template <const TimerSpec<T>& Spec>
  class SpecTimer : public Timer {
   public:
    void set(T* obj) { Timer::set(Spec.delay, Spec.func, obj); }
  };
};

// An object that contributes its own wait to the loop.
class TimerPoolPlugin {
 public:
  TimerPoolPlugin() = default;
  TimerPoolPlugin(const TimerPoolPlugin&) = delete;
  TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
  virtual ~TimerPoolPlugin();
  // The wait in milliseconds the plug-in wants; negative for none.
  virtual int timerSchedule() = 0;

  void timerHook();
  void timerUnhook();

 private:
  bool hooked = false;
};
