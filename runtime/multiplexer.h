#pragma once
// The event loop: the one Multiplexer of the process (`multiplexer`), which
// polls the descriptors of the attached EventHandlers, fires timers, runs the
// deferred calls and keeps the hardware watchdog alive. Everything runs on
// the one thread that calls run(); only terminate() may be called from a
// signal handler.
//
// An attached handler is in exactly one of three lists: `pending` (attached
// since the poll array was last rebuilt), `active` (polled, in poll order)
// and `serviced` (already serviced in the dispatch under way). Handlers may
// attach and detach themselves and each other at any time: a detached handler
// is never serviced after detach returned. Each handler knows the list that
// holds it, so attach and detach cost the same with hundreds of slots open
// as with three.
#include "runtime/f_dual_list.h"
#include "runtime/measure.h"

#include <csignal>
#include <iosfwd>
#include <list>
#include <poll.h>
#include <string>
#include <vector>

class TimerEvent;
class TimerPoolPlugin;
class Dpc;

// A participant of the loop that watches one descriptor.
class EventHandler : public F_dual_list_item<EventHandler> {
 public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  // Owners detach before destroying; one still attached is detached here,
  // so the loop never services a handler whose memory is gone.
  virtual ~EventHandler();

  // Fills the poll entry with the descriptor and the requested events.
  virtual void shedule_event(pollfd& entry) = 0;
  // Services the handler with the bits poll returned for its entry (0 when
  // another descriptor woke the loop).
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const;
  // Whether the status dump lists the handler.
  virtual bool is_named() const;

  void mux_attach();
  void mux_detach();
  void svc_event() { svc_event(revents); }

  bool is_attached() const { return attached; }

 private:
  friend class Multiplexer;
  bool attached = false;
  short revents = 0;
  // The loop's list that holds the handler; null when in none.
  F_dual_list<EventHandler>* home = nullptr;
};

class Multiplexer {
 public:
  // Told of plug-ins unhooked while the plug-ins are being asked.
  class TimerPollNotify {
   public:
    virtual ~TimerPollNotify();
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* plugin) = 0;
  };

  // Longest wait a pending timer may ask for; a later deadline is taken for
  // a clock that jumped and is pulled in to one second.
  static constexpr int max_timer_wait = 7200000;
  // The wait cap while the watchdog is open, and its ping period.
  static constexpr int watchdog_period = 1000;

  Multiplexer();
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;
  ~Multiplexer();

  // Runs passes until terminate(). `watchdog` opens and drives the hardware
  // watchdog; with `live_clock` false the cached time of day is refreshed
  // once before the first pass and after every poll.
  void run(bool watchdog, bool live_clock);
  // Only sets a flag, so a signal handler may call it.
  void terminate() { terminated = 1; }

  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(EventHandler* h) const;

  // Writes "PING" to the watchdog when it is open.
  void resetWD();

  // The loop's part of the status report.
  void dump(std::ostream& os) const;

  // Timers: the deadline-ordered list of pending events.
  void set(TimerEvent* e);
  void reset(TimerEvent* e);
  // Fires the due timers, runs the deferred calls, and returns the wait in
  // milliseconds until the earliest deadline: 0 when a deadline is due now,
  // -1 when no timer is pending.
  int timers_schedule();
  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);
  // The least wait a plug-in asks for (0 or more), 2147483647 when none.
  int timerPoll_schedule();

  // Deferred calls.
  void attach(Dpc* d);
  void dettach(Dpc* d);
  void execute_dpc();

  // Read access for the status dump and for tests.
  const F_dual_list<EventHandler>& pending_list() const { return pending; }
  const F_dual_list<EventHandler>& serviced_list() const { return *serviced; }
  const F_dual_list<EventHandler>& active_list() const { return *active; }
  const F_sorted_list<TimerEvent>& timer_list() const { return timers; }
  const std::list<Dpc*>& dpc_list() const { return dpcs; }
  int watchdog_fd() const { return wd_fd; }

  // Timing of each deferred call, handler service and timer firing.
  Measure dpc_measure;
  Measure event_measure;
  Measure timer_measure;

 private:
  void open_watchdog();
  void close_watchdog();
  void rebuild_poll_array();
  void store_revents();
  void dispatch();
  // Links h at the tail of l and records l as its home.
  static void move_to(F_dual_list<EventHandler>& l, EventHandler* h);

  F_sorted_list<TimerEvent> timers;
  F_dual_list<EventHandler> pending;
  // `active` and `serviced` trade places at the end of a dispatch by
  // exchanging these pointers, so the handlers' homes stay right without
  // touching them.
  F_dual_list<EventHandler> polled_lists[2];
  F_dual_list<EventHandler>* active = &polled_lists[0];
  F_dual_list<EventHandler>* serviced = &polled_lists[1];
  std::vector<pollfd> fds;
  std::vector<EventHandler*> polled;  // the handler each entry of fds was filled for
  std::list<Dpc*> dpcs;
  std::list<Dpc*> dpc_queue;
  volatile std::sig_atomic_t terminated = 0;
  std::list<TimerPoolPlugin*> plugins;
  TimerPollNotify* poll_guard = nullptr;
  int wd_fd = -1;
};

extern Multiplexer multiplexer;
