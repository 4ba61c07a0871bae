#include "runtime/child_wait.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "runtime/ipc_signal.h"

int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

// ---- ChildWait ------------------------------------------------------------

ChildWait::Init::Init() {
  if (++UsageCounter == 1) ChildWait::Initialize();
}

ChildWait::Init::~Init() {
  if (--UsageCounter == 0) ChildWait::Cleanup();
}

ChildWait::ChildWait() : handler_(new (storage_) DummyHandler) {}

ChildWait::~ChildWait() {
  destroy_handler();
  Detach();
}

void ChildWait::Attach(int child_pid) {
  pid = child_pid;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Attach(this);
}

void ChildWait::Detach() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Detach(this);
}

void ChildWait::Initialize() { ChildWaitService::childWaitService = new ChildWaitService; }

void ChildWait::Cleanup() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  ChildWaitService::childWaitService = nullptr;
  delete s;
}

void ChildWait::Activate() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Activate();
}

// ---- ChildWaitService -----------------------------------------------------

ChildWaitService::~ChildWaitService() {
  event_.Release();
  while (ChildWait* w = list_.remove_from_head()) w->listed_ = false;
}

void ChildWaitService::Activate() {
  if (event_.IsActive()) return;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  write_end_ = Fd(pair[0]);
  // The signal handler must never wait: with a full queue a wake-up is
  // already pending, so dropping this one loses nothing.
  write_end_.NonBlock();

  event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
  NonBlockMode(pair[1]);
  event_.Schedule(Fd(pair[1]), POLLIN);

  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  if (childWaitService) childWaitService->SigChldHandler();
}

void ChildWaitService::SigChldHandler() {
  const int saved = errno;
  const int fd = write_end_.lowlevel_fd();
  if (fd >= 0) {
    const char wake = 0;
    ssize_t r = ::send(fd, &wake, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)r;
  }
  errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  // Empty the wake-ups first: a child that ends after this sends a new one,
  // so its exit is picked up on a later pass if the reaping below misses it.
  char buf[64];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
  }

  int status = 0;
  pid_t child;
  while ((child = ::waitpid(-1, &status, WNOHANG)) > 0) Dispatch(int(child), status);
}

void ChildWaitService::Dispatch(int child_pid, int status) {
  std::clog << "terminate child process, pid=" << child_pid << " status=" << status << std::endl;
  for (ChildWait* w : list_) {
    if (w->pid != child_pid) continue;
    list_.remove(w);
    w->listed_ = false;
    // Last step: the handler may re-attach or destroy the watcher.
    w->handler_->Invoke(*w, status);
    return;
  }
}

void ChildWaitService::Attach(ChildWait* wait) {
  if (wait->listed_) list_.remove(wait);
  list_.insert_to_tail(wait);
  wait->listed_ = true;
}

void ChildWaitService::Detach(ChildWait* wait) {
  if (!wait->listed_) return;
  list_.remove(wait);
  wait->listed_ = false;
}
