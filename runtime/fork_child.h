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
