#pragma once
// Starting a child process for a program while the server's signal
// handlers are installed. Between fork and exec the child still holds the
// server's handlers: a SIGTERM sent to it there would run the server's
// handler in the child and be lost, and the program, once running, would
// never end. fork_child holds every signal back across fork; the child puts
// back the default action of every caught signal before it lets them in,
// so a signal sent early reaches the child with its default effect.
#include <sys/types.h>

// As fork(): the child's pid in the parent (-1 with errno set on failure),
// 0 in the child. The parent's signal mask is as before in both.
pid_t fork_child();

// Holds the parent back until its child holds none of the parent's
// descriptors: the child has run its program (they are close-on-exec) or
// closed them itself. Until then a socket the parent closes stays bound in
// the child, and the parent could not bind its port anew. Made before
// fork_child; the child calls `child()`, the parent `wait()`. A child whose
// exec failed says why with `failed()`, so the parent can tell a program
// that never ran from one that ended with the same exit code.
class ExecGate {
 public:
  ExecGate();
  ~ExecGate();
  ExecGate(const ExecGate&) = delete;
  ExecGate& operator=(const ExecGate&) = delete;

  // In the child: leaves it the end that closes at its exec.
  void child();
  // In the child: that end, for a child that closes descriptors itself.
  int child_end() const { return write_; }
  // In the child, after a failed exec: reports the error to the parent.
  void failed(int err);
  // In the parent: returns once the child's end is closed; the error the
  // child reported, 0 when none.
  int wait();

 private:
  int read_ = -1;
  int write_ = -1;
};
