#include "runtime/multiplexer.h"

#include "platform/clock.h"
#include "platform/device.h"
#include "runtime/dpc.h"
#include "runtime/errno_text.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <utility>

Multiplexer multiplexer;

namespace {

const char watchdog_path[] = "/dev/misc/gw-wd";

// Writes a whole watchdog command (no terminating zero); a failure is
// reported after the given text.
bool wd_write(int fd, const char* command, const char* failure) {
  const size_t len = std::strlen(command);
  if (platform::dev_write(fd, command, len) == static_cast<ssize_t>(len)) return true;
  Errno err;
  std::cerr << failure << err << std::endl;
  return false;
}

}  // namespace

// ---------------------------------------------------------------- handlers

EventHandler::~EventHandler() {
  if (attached) multiplexer.detach(this);
}

std::string EventHandler::event_name() const { return "unknown"; }

bool EventHandler::is_named() const { return false; }

void EventHandler::mux_attach() {
  if (attached) return;
  multiplexer.attach(this);
  attached = true;
}

void EventHandler::mux_detach() {
  if (!attached) return;
  multiplexer.detach(this);
  attached = false;
}

Multiplexer::TimerPollNotify::~TimerPollNotify() = default;

// ---------------------------------------------------------------- the loop

Multiplexer::Multiplexer() = default;

// Only the members go: handlers, timers and deferred calls still registered
// belong to their owners.
Multiplexer::~Multiplexer() = default;

void Multiplexer::attach(EventHandler* h) {
  if (event_exists(h)) {
    std::cerr << "duplicate multiplexer attach " << std::flush;
    std::cerr << '"' << h->event_name() << "\" ignored." << std::endl;
    return;
  }
  move_to(pending, h);
}

void Multiplexer::move_to(F_dual_list<EventHandler>& l, EventHandler* h) {
  l.insert_to_tail(h);
  h->home = &l;
}

void Multiplexer::detach(EventHandler* h) {
  if (event_exists(h)) {
    h->home->remove(h);
    h->home = nullptr;
    return;
  }
  std::cerr << "indvalid Multiplexer::detach " << std::flush;
  std::cerr << h->event_name() << std::endl;
}

bool Multiplexer::event_exists(EventHandler* h) const {
  // A handler is in at most one list, and only its home can hold it.
  return h->home && (h->home == &pending || h->home == active || h->home == serviced);
}

void Multiplexer::resetWD() {
  if (wd_fd >= 0) wd_write(wd_fd, "PING", "Mux: ping watchdog failed: ");
}

void Multiplexer::open_watchdog() {
  // A child (pppd, a fax program) must not keep the watchdog open: one that
  // outlived the server would hold it alive.
  wd_fd = platform::dev_open(watchdog_path, O_WRONLY | O_CLOEXEC);
  if (wd_fd < 0) {
    Errno err;
    std::cerr << "Mux: fail to open watchdog: " << err << std::endl;
    wd_fd = -1;
    return;
  }
  if (!wd_write(wd_fd, "START", "Mux: fail to activate watchdog: ")) {
    platform::dev_close(wd_fd);
    wd_fd = -1;
  }
}

void Multiplexer::close_watchdog() {
  if (wd_fd < 0) return;
  wd_write(wd_fd, "STOP", "Mux: stop watchdog failed: ");
  platform::dev_close(wd_fd);  // also when STOP failed
  wd_fd = -1;
}

void Multiplexer::rebuild_poll_array() {
  while (EventHandler* h = pending.remove_from_head()) move_to(*active, h);
  if (fds.size() != active->size()) {
    fds.resize(active->size());
    polled.resize(active->size());
  }
  std::size_t i = 0;
  for (auto it = active->begin(); it != active->end(); ++it, ++i) {
    fds[i] = pollfd();
    polled[i] = *it;
    (*it)->shedule_event(fds[i]);
  }
}

void Multiplexer::store_revents() {
  // Handlers detached after the array was built (by the deferred calls right
  // before poll) are gone from `active`; the rest still appear in array
  // order, so each finds its own entry by identity without being touched.
  std::size_t i = 0;
  for (auto it = active->begin(); it != active->end(); ++it) {
    while (i < polled.size() && polled[i] != *it) ++i;
    if (i == polled.size()) break;
    (*it)->revents = fds[i].revents;
    ++i;
  }
}

void Multiplexer::dispatch() {
  while (!terminated && !active->empty()) {
    EventHandler* h = active->remove_from_head();
    move_to(*serviced, h);
    event_measure.begin();
    h->svc_event();
    event_measure.end();
  }
  // The serviced handlers form the poll order again; after a terminate the
  // ones not serviced stay in `serviced`.
  std::swap(active, serviced);
}

void Multiplexer::run(bool watchdog, bool live_clock) {
  std::uint32_t last_ping = 0;
  terminated = 0;
  // Handlers left unserviced by a terminate in an earlier run rejoin the
  // poll behind the others, in the order they had.
  while (EventHandler* h = serviced->remove_from_head()) move_to(*active, h);

  if (watchdog) open_watchdog();
  if (!live_clock) Mux::mux_settimeofday();

  while (!terminated) {
    int w1 = timers_schedule();
    if (w1 < 0) w1 = INT_MAX;
    int w2 = timerPoll_schedule();
    if (w2 < 0) w2 = INT_MAX;
    int wait = w1 < w2 ? w1 : w2;
    if (wait == INT_MAX) wait = -1;
    // A terminate from a timer, a deferred call or a signal that came
    // outside poll ends the loop now, not after a wait that may have no
    // limit (or a hang report for a loop that was asked to stop).
    if (terminated) break;

    rebuild_poll_array();

    if (wait < 0 && fds.empty()) {
      std::cerr << "multiplexer: system hang detected!!!" << std::endl;
      std::abort();
    }
    if (wd_fd >= 0 && (wait < 0 || wait > watchdog_period)) wait = watchdog_period;

    execute_dpc();
    if (terminated) break;

    int r = platform::poll(fds.data(), static_cast<nfds_t>(fds.size()), wait);
    Errno poll_error;

    if (!live_clock) Mux::mux_settimeofday();

    std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
    if (last_ping == 0 || last_ping > now || now - last_ping > std::uint32_t(watchdog_period - 1)) {
      last_ping = now;
      resetWD();
    }

    if (r == 0) continue;
    if (r < 0) {
      if (poll_error.value() == EINTR) continue;
      std::cerr << "multiplexer poll failed: " << poll_error << std::endl;
      std::abort();
    }
    store_revents();
    dispatch();
  }

  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
}

// ---------------------------------------------------------------- timers

void Multiplexer::set(TimerEvent* e) {
  reset(e);
  timers.insert_to_tail_by_grown(e);
  e->queued = true;
}

void Multiplexer::reset(TimerEvent* e) {
  if (!e->queued) return;
  timers.remove(e);
  e->queued = false;
}

int Multiplexer::timers_schedule() {
  // The instant the round judges by, read once, so that every event due in
  // the round is judged against it; unless the time of day goes back while
  // targets or the deferred calls run: the instant then follows the clock
  // back. Judged against the old instant, a periodic target re-arming after
  // the step would fire again at once, over and over for as long as the
  // step, with the loop never polling (nor pinging the watchdog); and a
  // timer armed after the step would seem due before it, a wait below zero.
  std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
  auto follow_clock_back = [&now] {
    const std::uint32_t clock = static_cast<std::uint32_t>(Mux::milliseconds());
    if (static_cast<std::int32_t>(clock - now) < 0) now = clock;
  };
  while (TimerEvent* head = timers.get_head()) {
    follow_clock_back();
    if (static_cast<std::int32_t>(now - head->deadline) < 0) break;
    timer_measure.begin();
    timers.remove_from_head();
    head->queued = false;
    head->fire();  // the event releases and destroys itself
    timer_measure.end();
  }

  execute_dpc();
  follow_clock_back();

  // A deadline due now is a wait of 0, not "no deadline": only an empty list
  // lets the loop wait without limit.
  if (timers.empty()) return -1;
  const std::uint32_t first = timers.get_head()->deadline;
  const std::int32_t wait = static_cast<std::int32_t>(first - now);
  if (wait >= 0 && wait <= max_timer_wait) return wait;

  std::cerr << "******** RUNTIME ERROR CONDITION *************"
            << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
            << "now = " << now << std::endl
            << "first = " << first << std::endl
            << "count = " << timers.count() << std::endl;
  // Every pending event fires one second from now, in list order.
  const int pull_in = 1000;
  for (auto it = timers.begin(); it != timers.end(); ++it) (*it)->deadline = now + pull_in;
  return pull_in;
}

void Multiplexer::hook(TimerPoolPlugin* p) { plugins.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (poll_guard)
    poll_guard->removeTimerPoolPlugin(p);
  else
    plugins.remove(p);
}

int Multiplexer::timerPoll_schedule() {
  // Plug-ins may unhook themselves or others while they are asked; the guard
  // keeps those not asked yet and drops the unhooked ones from both lists.
  class TimerPollGuard : public TimerPollNotify {
   public:
    explicit TimerPollGuard(std::list<TimerPoolPlugin*>& loop_list) : loop(loop_list) { todo.swap(loop); }
    void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
      loop.remove(p);
      todo.remove(p);
    }
    std::list<TimerPoolPlugin*>& loop;
    std::list<TimerPoolPlugin*> todo;
  };
  struct Scope {
    TimerPollNotify*& slot;
    ~Scope() { slot = nullptr; }
  };

  TimerPollGuard guard(plugins);
  poll_guard = &guard;
  Scope scope{poll_guard};
  int result = INT_MAX;
  while (!guard.todo.empty()) {
    TimerPoolPlugin* p = guard.todo.front();
    guard.todo.pop_front();
    plugins.push_back(p);
    int w = p->timerSchedule();
    if (w >= 0 && w < result) result = w;
  }
  return result;
}

// ---------------------------------------------------------------- deferred calls

void Multiplexer::attach(Dpc* d) {
  dpcs.push_back(d);
  dpcs.sort(std::less<Dpc*>());
  dpcs.unique();
}

void Multiplexer::dettach(Dpc* d) {
  dpcs.remove(d);
  dpc_queue.remove(d);
}

void Multiplexer::execute_dpc() {
  dpc_queue = dpcs;
  while (!dpc_queue.empty()) {
    Dpc* d = dpc_queue.front();
    dpc_queue.pop_front();
    dpc_measure.begin();
    d->Invoke();
    dpc_measure.end();
  }
}
