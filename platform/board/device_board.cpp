// Board backend: the device calls are the plain system calls.
#include "platform/device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

// Every device is opened close-on-exec: the programs the server starts
// (pppd, fax, t38) must not hold a channel, a modem or the cross-connect.
// A child that is meant to have a device gets it by dup2 after fork.
int dev_open(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int dev_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
ssize_t dev_read(int fd, void* buf, size_t len) { return ::read(fd, buf, len); }
ssize_t dev_write(int fd, const void* buf, size_t len) { return ::write(fd, buf, len); }
int dev_close(int fd) { return ::close(fd); }

}  // namespace platform
