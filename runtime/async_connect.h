#pragma once
// A TCP connect that does not block the loop: the socket is non-blocking,
// the end of the connect comes as POLLOUT on it, and a one-shot timer bounds
// the wait. The outcome goes to the bound handler, once per Start, with the
// connected socket (empty for every outcome but Connected).
//
//   conn.Bind(&PlaySlotNetwork::OnConnect, this);
//   conn.Start("10.1.2.3:8000", 5000);   // may complete before it returns
//
// The handler is called as the last step: it may destroy the Connect.
#include <string>

#include "runtime/async_handler.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace ASync {

class Connect {
 public:
  struct Status {
    enum Type {
      Idle = 0,        // never started
      InProgress = 1,  // Start running or the connect pending
      Failed = 2,      // socket, mode, address, connect, pending error, error event, time-out
      Connected = 3,
      Stopped = 4,  // ended by Stop
    };
  };

  using Handler = HandlerOf<Status::Type, Fd>;
  template <class T>
  using THandler = THandlerOf<T, Status::Type, Fd>;

  Connect() = default;
  // Deletes the handler without calling it; a pending connect just ends.
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  // Connects to "a.b.c.d:port" (no name resolution), giving up after
  // timeout_ms. A text that does not parse fails at once. A Start while a
  // connect is pending drops that one and starts afresh.
  void Start(const std::string& address, unsigned int timeout_ms);
  // Ends a pending connect with Stopped; nothing otherwise.
  void Stop();

  // Takes ownership; deletes the handler bound before.
  void Bind(Handler* handler) { handler_.Bind(handler); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* obj) {
    Bind(new THandler<T>(action, obj));
  }
  void UnBind() { Bind(nullptr); }

  Status::Type status() const { return status_; }

  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer* timer);
  // Ends the connect with the status and reports it (the first one wins).
  void Complete(Status::Type status);

 private:
  Status::Type status_ = Status::Idle;
  Fd socket_;
  Event event_;
  HandlerHolder<Status::Type, Fd> handler_;
  Timer timer_;
};

}  // namespace ASync
