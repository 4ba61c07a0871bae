/* Linked only into the programs of the emulated cross build
 * (tools/cross-test.sh). qemu-user (7.2) answers every IPPROTO_TCP option as
 * one int: a TCP_INFO query gets only the record's first four octets, and
 * qemu stores them as an int in the target's byte order, so a big-endian
 * target reads them reversed (state and ca_state come out as the zero probe
 * and retransmit counts, and every connection check would find its socket
 * closed). The board's kernel gives the record as it is; this restores its
 * first octets so the programs see what the board shows them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

int getsockopt(int fd, int level, int name, void* value, socklen_t* len) {
  typedef int (*fn)(int, int, int, void*, socklen_t*);
  static fn real;
  if (!real) real = (fn)dlsym(RTLD_NEXT, "getsockopt");
  const socklen_t asked = len ? *len : 0;
  const int r = real(fd, level, name, value, len);
  if (r == 0 && level == IPPROTO_TCP && name == TCP_INFO && asked > 4 && *len == 4) {
    unsigned char* b = (unsigned char*)value;
    unsigned char t = b[0];
    b[0] = b[3];
    b[3] = t;
    t = b[1];
    b[1] = b[2];
    b[2] = t;
  }
  return r;
}
