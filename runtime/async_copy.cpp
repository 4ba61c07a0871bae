#include "runtime/async_copy.h"

#include <unistd.h>

#include <cerrno>

namespace ASync {

int read(Fd& fd, void* buf, unsigned int len) { return int(::read(fd.lowlevel_fd(), buf, len)); }

int write(Fd& fd, const void* buf, unsigned int len) {
  return int(::write(fd.lowlevel_fd(), buf, len));
}

int close(Fd& fd) { return fd.close(); }

namespace {
const unsigned int defaultBufSize = 1024;
const int errorBits = POLLERR | POLLHUP | POLLNVAL;
}  // namespace

Copy::~Copy() { delete[] buffer_; }

void Copy::Start(const Fd& src, const Fd& dst) {
  status_ = Status::Copying;
  src_ = src;
  dst_ = dst;
  src_event_.Release();
  dst_event_.Release();
  src_event_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  dst_event_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  if (!buffer_) {
    bufsize_ = defaultBufSize;
    buffer_ = new char[bufsize_];
  }
  begin_ = end_ = buffer_;
  src_event_.Schedule(src_, 0);
  dst_event_.Schedule(dst_, 0);
  written_ = 0;
  next_ = &Copy::SrcReady;
  if (!src_event_.IsActive() || !dst_event_.IsActive()) {
    // No descriptor was left for a copy: a side nobody polls would leave
    // the copy waiting for good.
    Complete(Status::Error);
    return;
  }
  Progress();
}

void Copy::Stop() {
  if (status_ != Status::Copying) return;
  if (GoFlush()) Progress();
}

void Copy::set_events(const EventsParams& events) {
  events_ = events;
  Complete(Status::Stopped);
}

void Copy::set_bufsize(unsigned int size) {
  delete[] buffer_;
  buffer_ = nullptr;
  bufsize_ = size;
  if (size) buffer_ = new char[size];
  // The pending window pointed into the old buffer; a running copy ends
  // here (last step: the handler may destroy this Copy).
  begin_ = end_ = buffer_;
  Complete(Status::Stopped);
}

void Copy::Progress() {
  // A step that completes returns false and touches nothing afterwards, so
  // the handler it called may have destroyed this Copy.
  while ((this->*next_)()) {
  }
}

bool Copy::SrcReady() {
  errno = 0;
  const int n = read(src_, buffer_, bufsize_);
  if (n > 0) {
    begin_ = buffer_;
    end_ = buffer_ + n;
    src_event_.SetEvents(0);
    dst_event_.SetEvents(events_.write);
    next_ = &Copy::DstReady;
    return true;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    src_event_.SetEvents(events_.read);
    dst_event_.SetEvents(0);
    return false;
  }
  // A failure after data was copied is taken as the end of the stream.
  if (written_ != 0) return GoFlush();
  Complete(Status::Error);
  return false;
}

bool Copy::DstReady() {
  const int n = write(dst_, begin_, unsigned(end_ - begin_));
  if (n > 0) {
    written_ += std::uint32_t(n);
    begin_ += n;
    if (begin_ != end_) return true;
    if (status_ == Status::Flushing) return GoFlushDst();
    src_event_.SetEvents(events_.read);
    dst_event_.SetEvents(0);
    next_ = &Copy::SrcReady;
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    src_event_.SetEvents(0);
    dst_event_.SetEvents(events_.write);
    return false;
  }
  Complete(Status::Error);
  return false;
}

bool Copy::GoFlush() {
  src_event_.Release();
  src_.close();
  if (next_ == &Copy::DstReady) {
    status_ = Status::Flushing;
    return true;
  }
  return GoFlushDst();
}

bool Copy::GoFlushDst() {
  if (events_.flush != 0) {
    dst_event_.SetEvents(events_.flush);
    next_ = &Copy::NotReady;
    status_ = Status::FlushWait;
    return true;
  }
  Complete(Status::Done);
  return false;
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & events_.read) {
    Progress();
    return;
  }
  if (revents & errorBits) {
    // Stop polling a hung-up source; the next read tells end or error.
    src_event_.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & errorBits) {
    Complete(Status::Error);
    return;
  }
  switch (status_) {
    case Status::Copying:
    case Status::Flushing:
      if (revents & events_.write) Progress();
      break;
    case Status::FlushWait:
      if (revents & events_.flush) Complete(Status::Done);
      break;
    default:
      break;
  }
}

void Copy::Complete(Status::Type status) {
  if (!running()) return;
  src_event_.UnBind();
  dst_event_.UnBind();
  status_ = status;
  src_event_.Release();
  dst_event_.Release();
  src_.close();
  dst_.close();
  next_ = &Copy::NotReady;
  // Last step: the handler may destroy this Copy or start the next one.
  handler_.Invoke(status);
}

}  // namespace ASync
