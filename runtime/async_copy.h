#pragma once
// Copying from one descriptor to another under the loop, without blocking:
// one buffer is read and written out back to back for as long as the
// descriptors accept, and poll events are awaited only when a call would
// block. When the source ends, the copy can wait for the destination to
// drain (the flush mask) before it reports completion, once, to the bound
// handler.
//
//   copy.set_bufsize(8192);
//   copy.set_events({POLLIN, POLLOUT, POLLWRNORM});
//   copy.Bind(&PlaySlotFile::OnPlayComplete, this);
//   copy.Start(file, voice);       // may complete before it returns
//
// The handler is called as the last step: it may destroy the Copy or start
// the next one.
#include <poll.h>

#include <cstdint>

#include "runtime/async_handler.h"
#include "runtime/event.h"
#include "runtime/fd.h"

namespace ASync {

class Copy {
 public:
  struct Status {
    enum Type {
      Idle = 0,
      Copying = 1,
      Flushing = 2,   // the source ended; buffered data is still being written
      FlushWait = 3,  // all written; waiting for the flush mask on the destination
      Error = 4,
      Done = 5,
      Stopped = 6,  // ended by set_events or set_bufsize
    };
  };

  struct EventsParams {
    int read = POLLIN;
    int write = POLLOUT;
    int flush = POLLWRNORM;  // 0: complete as soon as everything is written
  };

  using Handler = HandlerOf<Status::Type>;
  template <class T>
  using THandler = THandlerOf<T, Status::Type>;

  Copy() = default;
  // Deletes the handler without calling it; a running copy just ends.
  ~Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  // Copies from src to dst; the Copy keeps duplicates of both, and ends
  // at once with Error when no descriptor is left for them.
  void Start(const Fd& src, const Fd& dst);
  // While copying: closes the source now; what was read is still written,
  // then the copy completes as at the end of the input.
  void Stop();
  // Both end a running copy with Stopped; set them before Start.
  void set_events(const EventsParams& events);
  // 0 drops the buffer: the next Start takes 1024 bytes again.
  void set_bufsize(unsigned int size);

  // Takes ownership; deletes the handler bound before.
  void Bind(Handler* handler) { handler_.Bind(handler); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* obj) {
    Bind(new THandler<T>(action, obj));
  }
  void UnBind() { Bind(nullptr); }

  Status::Type status() const { return status_; }
  // Bytes written since Start.
  std::uint32_t written() const { return written_; }
  unsigned int bufsize() const { return bufsize_; }

  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);

 private:
  typedef bool (Copy::*Step)();

  // Runs steps back to back until one has to wait.
  void Progress();
  bool SrcReady();
  bool DstReady();
  bool NotReady() { return false; }
  bool GoFlush();
  bool GoFlushDst();
  void Complete(Status::Type status);
  bool running() const {
    return status_ == Status::Copying || status_ == Status::Flushing || status_ == Status::FlushWait;
  }

  Fd src_;
  Fd dst_;
  EventsParams events_;
  unsigned int bufsize_ = 0;
  Step next_ = &Copy::NotReady;
  HandlerHolder<Status::Type> handler_;
  Event src_event_;
  Event dst_event_;
  std::uint32_t written_ = 0;
  char* begin_ = nullptr;  // the data read but not yet written
  char* end_ = nullptr;
  Status::Type status_ = Status::Idle;
  char* buffer_ = nullptr;
};

// The system's read, write and close on the descriptor an Fd holds.
int read(Fd& fd, void* buf, unsigned int len);
int write(Fd& fd, const void* buf, unsigned int len);
int close(Fd& fd);

}  // namespace ASync
