#pragma once
// Fd: an owning file descriptor, -1 when empty. Every descriptor it takes
// over or creates carries close-on-exec. Copies are duplicates of one open
// file: file status flags (O_NONBLOCK) are shared, close-on-exec is per copy,
// and each copy closes only itself. Descriptor 0 is a valid descriptor.
#include <vector>

class Fd {
 public:
  struct BoolResult {};

  Fd() = default;
  explicit Fd(int fd);
  Fd(const Fd& other);
  Fd& operator=(const Fd& other);
  ~Fd();

  // A new raw close-on-exec duplicate owned by the caller; -1 when empty or
  // when the duplicate fails.
  int dup() const;
  bool open(const char* path, int flags);
  // -1 with errno EBADF when empty.
  int close();
  bool NonBlock();

  bool is_valid() const { return fd_ >= 0; }
  operator const BoolResult*() const { return is_valid() ? &valid_ : nullptr; }
  int lowlevel_fd() const { return fd_; }

 private:
  static const BoolResult valid_;
  int fd_ = -1;
};

// Set or clear O_NONBLOCK on a raw descriptor; false when fcntl fails.
bool NonBlockMode(int fd);
bool BlockMode(int fd);
// Sets or clears FD_CLOEXEC, keeping the other descriptor flags.
bool SetCloexec(int fd, bool on);
// Raises the soft limit of open descriptors to the hard limit: every Event
// keeps its own duplicate, so a slot holds three or more descriptors. The
// soft limit in force afterwards, or -1 when it cannot be read.
long RaiseDescriptorLimit();
// Opens the null device on each of the standard descriptors 0, 1 and 2 that
// is closed, so that the next descriptors opened (devices, sockets) never
// take their numbers and receive what is written to the standard streams.
// False when one of them could not be opened.
bool OpenStandardDescriptors();
// Fills `out` with the descriptors above the standard three that are open
// now (the listing's own excluded). False when they cannot be listed.
bool OpenDescriptorsAboveStandard(std::vector<int>& out);
// Sets close-on-exec on every open descriptor above the standard three: the
// ones the process was started with keep working here but never reach a
// program it starts. False when the open descriptors cannot be listed.
bool SetCloexecOnInherited();
