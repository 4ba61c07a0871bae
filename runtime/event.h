#pragma once
// Event: the descriptor watcher of the loop. It holds its own close-on-exec
// duplicate of the descriptor it is armed on, a poll mask, a name for the
// status dump and an owned handler, called with the duplicate's number and
// the returned poll bits on every pass in which poll reported anything (0
// when another descriptor woke the loop; handlers test the bits they need).
//
//   ev.Bind("Owner::OnEvent", &Owner::OnEvent, this);
//   ev.Schedule(fd, POLLIN);      // armed: polled from the next rebuild
//   ev.SetEvents(POLLIN | POLLOUT);
//   ev.Release();                 // or destruction
//
// An Event (and its handler) may be destroyed from inside its own handler.
#include "runtime/fd.h"
#include "runtime/measure.h"
#include "runtime/multiplexer.h"

#include <cstdint>
#include <string>

class Event : public EventHandler {
 public:
  class Handler {
   public:
    virtual ~Handler();
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
   public:
    using Action = void (T::*)(int, short);
    THandler(Action a, T* o) : action(a), obj(o) {}
    void Invoke(int fd, short revents) override {
      if (action) (obj->*action)(fd, revents);
    }

   private:
    Action action;
    T* obj;
  };

  // Reads a handler makes per readiness report: a source that delivers as
  // fast as it is read must not hold the loop (no timer, command or
  // watchdog ping in between); what is left waits in the driver or socket
  // for the next pass.
  static constexpr unsigned max_reads_per_event = 64;

  Event() = default;
  ~Event() override;

  // Takes ownership of the handler and deletes the one bound before.
  void Bind(Handler* h);
  template <class T>
  void Bind(const std::string& event_name, typename THandler<T>::Action action, T* obj) {
    name = event_name;
    Bind(new THandler<T>(action, obj));
  }
  void UnBind();

  // Arms the Event on a duplicate of `fd` with the mask; an invalid fd leaves
  // it unarmed. Re-arming detaches and attaches again (the end of the poll
  // order).
  void Schedule(Fd fd, short mask);
  // Disarms; the result of closing the own descriptor (-1, EBADF when none).
  int Release();
  // Changes the mask from the next rebuild on, keeping the place in the poll.
  void SetEvents(int mask) { events = static_cast<short>(mask); }

  int lowlevel_fd() const { return fd.lowlevel_fd(); }
  bool IsActive() const { return fd.is_valid(); }
  const Measure& measure() const { return measure_; }
  short get_events() const { return events; }
  std::uint32_t get_count() const { return count; }
  bool has_handler() const { return handler != nullptr; }

  void shedule_event(pollfd& entry) override;
  using EventHandler::svc_event;
  void svc_event(short revents) override;
  std::string event_name() const override { return name; }
  bool is_named() const override { return true; }

 private:
  Handler* handler = nullptr;
  Fd fd;
  short events = 0;
  std::string name = "Unknown";
  std::uint32_t count = 0;
  Measure measure_;
};
