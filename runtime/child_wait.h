#pragma once
// Supervision of child processes inside the event loop. A slot that starts a
// program owns a ChildWait, binds its handler and attaches the child's pid
// right after fork; when the child ends, the handler is called from the loop
// with the wait status (as waitpid reports it).
//
//   wait.Bind(this, &ModemSlot::on_terminate);
//   pid_t pid = fork(); ... wait.Attach(pid);
//
// The SIGCHLD handler only wakes the loop (one byte on a socket pair, never
// waiting); the loop then reaps every ended child with waitpid and hands each
// exit to the first watcher attached for its pid. So no exit is lost however
// many children end at once, and a full socket pair cannot stall the process.
#include <csignal>
#include <cstddef>
#include <new>

#include "runtime/event.h"
#include "runtime/f_dual_list.h"
#include "runtime/fd.h"

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait> {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Invoke(ChildWait& wait, int status) = 0;
    // Handlers live in the watcher's own storage: deleting one only runs
    // its destructor.
    static void operator delete(void*) {}
  };

  class DummyHandler : public Handler {
   public:
    void Invoke(ChildWait&, int) override {}
  };

  template <class T>
  class THandler1 : public Handler {
   public:
    typedef void (T::*Action)(int);
    THandler1(T& obj, Action action) : obj_(obj), action_(action) {}
    void Invoke(ChildWait&, int status) override { (obj_.*action_)(status); }

   private:
    T& obj_;
    Action action_;
  };

  // One static instance per translation unit that uses watchers keeps the
  // service alive from before main to the last static destruction.
  class Init {
   public:
    Init();
    ~Init();
  };
  static int UsageCounter;

  ChildWait();
  ~ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;

  template <class T>
  void Bind(T* obj, void (T::*action)(int));
  // Watches the child; a watcher already watching moves to the new pid.
  void Attach(int child_pid);
  // Ends the watch without a call.
  void Detach();
  bool is_watching() const { return listed_; }

  static void Initialize();
  static void Cleanup();
  static void Activate();

  // The child watched (or last watched).
  int pid = 0;

 private:
  friend class ChildWaitService;
  void destroy_handler() { handler_->~Handler(); }

  alignas(std::max_align_t) unsigned char storage_[64];
  Handler* handler_;
  bool listed_ = false;  // in the service's list
};

template <class T>
void ChildWait::Bind(T* obj, void (T::*action)(int)) {
  static_assert(sizeof(THandler1<T>) <= sizeof storage_, "handler storage too small");
  destroy_handler();
  handler_ = new (storage_) THandler1<T>(*obj, action);
}

static ChildWait::Init ChildWaitInit;

class ChildWaitService {
 public:
  // The one service; null before static initialisation made it and after
  // static destruction.
  static ChildWaitService* childWaitService;

  ChildWaitService() = default;
  ~ChildWaitService();
  ChildWaitService(const ChildWaitService&) = delete;
  ChildWaitService& operator=(const ChildWaitService&) = delete;

  // Sets up the wake-up socket pair, the loop event and the SIGCHLD handler.
  void Activate();
  bool is_active() const { return event_.IsActive(); }

  static void SigChldHandlerWrapper(int, siginfo_t*, void*);
  // Signal context: wakes the loop, nothing else.
  void SigChldHandler();
  // Loop context: reaps every ended child and reports each exit.
  void OnChildEvent(int fd, short revents);

  void Attach(ChildWait* wait);
  void Detach(ChildWait* wait);
  const F_dual_list<ChildWait>& watchers() const { return list_; }

 private:
  void Dispatch(int child_pid, int status);

  Event event_;
  Fd write_end_;
  F_dual_list<ChildWait> list_;
};
