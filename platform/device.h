#pragma once
// The device calls of the board code. Every access to a board device file
// ("/dev/hal", "/dev/mcc/ctl", "/dev/misc/gw-wd", ...) goes through these, so
// the board backend (plain system calls) and the simulated backend (an
// in-process driver model behind each device) are interchangeable.
//
// Paths are board paths. A path with no simulated driver opens the file of
// that name under the board root, so tests can place plain files there.
// Descriptors returned here are real: poll works on them unchanged, and
// duplicates (dup) reach the same driver. They are always close-on-exec.
#include <cstddef>
#include <sys/types.h>

namespace platform {

int dev_open(const char* path, int flags);
int dev_ioctl(int fd, unsigned long request, void* arg);
ssize_t dev_read(int fd, void* buf, size_t len);
ssize_t dev_write(int fd, const void* buf, size_t len);
int dev_close(int fd);

}  // namespace platform
