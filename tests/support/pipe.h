#pragma once
// A close-on-exec pipe owned by a test; fill() makes its read end readable.
#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) == 0) {
      r = p[0];
      w = p[1];
    }
  }
  ~Pipe() {
    if (r >= 0) ::close(r);
    if (w >= 0) ::close(w);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool fill() { return ::write(w, "x", 1) == 1; }
};

}  // namespace testsupport
