// Simulated backend of the device calls: device paths with a model are
// served by it, every other path is a plain file under the board root.
#include "platform/device.h"
#include "platform/memcheck.h"
#include "platform/paths.h"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace sim {

struct Registry {
  std::map<std::string, std::shared_ptr<DeviceModel>> models;

  static Registry& get() {
    static Registry r;
    return r;
  }

  // The channel (and its model) that a descriptor of the caller belongs to.
  DeviceModel::Channel* find(int fd, DeviceModel** owner) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
    for (auto& m : models) {
      for (auto& ch : m.second->open_) {
        if (ch->ino == st.st_ino) {
          *owner = m.second.get();
          return ch.get();
        }
      }
    }
    return nullptr;
  }

  // "devices": the device paths with channels open now and how many, after
  // dropping those whose user descriptors are all closed (a test's count of
  // the server's descriptors then holds no driver end of a closed one).
  // "devices absent PATH": a board built without that device: its model
  // goes, and opens of the path find no node (ENOENT) from then on.
  static std::string words(const Args& args, std::ostream& out) {
    if (args.size() == 2 && args[0] == "absent") {
      auto it = get().models.find(args[1]);
      if (it == get().models.end()) return "no device " + args[1];
      prune(*it->second);
      if (!it->second->open_.empty()) return "device " + args[1] + " is open";
      get().models.erase(it);
      return "";
    }
    if (!args.empty()) return "usage: devices | devices absent PATH";
    for (auto& m : get().models) {
      prune(*m.second);
      if (!m.second->open_.empty()) out << m.first << " " << m.second->open_.size() << "\n";
    }
    return "";
  }

  // Drops the channels whose every user descriptor is closed.
  static void prune(DeviceModel& m) {
    for (auto it = m.open_.begin(); it != m.open_.end();) {
      struct pollfd p = {(*it)->driver_fd, 0, 0};
      if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) {
        m.on_close(**it);
        ::close((*it)->driver_fd);
        it = m.open_.erase(it);
      } else {
        ++it;
      }
    }
  }
};

DeviceModel::~DeviceModel() {
  for (auto& ch : open_) ::close(ch->driver_fd);
}

ssize_t DeviceModel::on_write(Channel&, const void*, size_t len) { return static_cast<ssize_t>(len); }

ssize_t DeviceModel::on_read(Channel&, int fd, void* buf, size_t len) { return ::read(fd, buf, len); }

int DeviceModel::on_ioctl(Channel&, unsigned long, void*) {
  errno = ENOTTY;
  return -1;
}

void DeviceModel::on_open(Channel&) {}
void DeviceModel::on_close(Channel&) {}

bool DeviceModel::deliver(const void* buf, size_t len, Channel* ch) {
  bool sent = false;
  for (Channel* c : channels()) {
    if (ch && c != ch) continue;
    if (::send(c->driver_fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(len)) sent = true;
  }
  return sent;
}

std::vector<DeviceModel::Channel*> DeviceModel::channels() {
  Registry::prune(*this);
  std::vector<Channel*> out;
  for (auto& ch : open_) out.push_back(ch.get());
  return out;
}

namespace {
Words words("devices", &Registry::words);

std::vector<std::function<bool(int)>>& holders() {
  static std::vector<std::function<bool(int)>> h;
  return h;
}
}  // namespace

SwitchChannelHolder::SwitchChannelHolder(std::function<bool(int)> holds) { holders().push_back(std::move(holds)); }

bool switch_channel_held(int channel) {
  for (const auto& holds : holders())
    if (holds(channel)) return true;
  return false;
}

int add_channel(DeviceModel& m, std::unique_ptr<DeviceModel::Channel> ch) {
  DeviceModel::Channel& ref = *ch;
  m.open_.push_back(std::move(ch));
  m.on_open(ref);
  return ref.user_fd;
}

void install(const std::string& path, std::shared_ptr<DeviceModel> m) {
  auto& models = Registry::get().models;
  if (m)
    models[path] = std::move(m);
  else
    models.erase(path);
}

std::shared_ptr<DeviceModel> model(const std::string& path) {
  auto& models = Registry::get().models;
  auto it = models.find(path);
  return it == models.end() ? nullptr : it->second;
}

}  // namespace sim

int dev_open(const char* path, int flags) {
  // As on the board: never inherited by a started program.
  flags |= O_CLOEXEC;
  sim::board_ready();
  auto m = sim::model(path);
  if (!m) return ::open(board_path(path).c_str(), flags);
  sim::Registry::prune(*m);
  if (int e = m->open_error()) {
    errno = e;
    return -1;
  }
  int sv[2];
  int type = SOCK_SEQPACKET | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0);
  if (::socketpair(AF_UNIX, type, 0, sv) != 0) return -1;
  if (flags & O_NONBLOCK) ::fcntl(sv[0], F_SETFL, O_NONBLOCK);
  ::fcntl(sv[1], F_SETFD, FD_CLOEXEC);
  struct stat st;
  ::fstat(sv[0], &st);
  auto ch = std::make_unique<sim::DeviceModel::Channel>();
  ch->user_fd = sv[0];
  ch->driver_fd = sv[1];
  ch->ino = st.st_ino;
  ch->flags = flags;
  return sim::add_channel(*m, std::move(ch));
}

int dev_ioctl(int fd, unsigned long request, void* arg) {
  sim::DeviceModel* m = nullptr;
  if (auto* ch = sim::Registry::get().find(fd, &m)) return m->on_ioctl(*ch, request, arg);
  return ::ioctl(fd, request, arg);
}

ssize_t dev_read(int fd, void* buf, size_t len) {
  sim::DeviceModel* m = nullptr;
  auto* ch = sim::Registry::get().find(fd, &m);
  if (!ch) return ::read(fd, buf, len);
  // As the kernel does before any driver sees it.
  if ((ch->flags & O_ACCMODE) == O_WRONLY) {
    errno = EBADF;
    return -1;
  }
  const ssize_t n = m->on_read(*ch, fd, buf, len);
  if (m->after_read) {
    const int e = errno;
    m->after_read(*ch, n);
    errno = e;
  }
  return n;
}

ssize_t dev_write(int fd, const void* buf, size_t len) {
  sim::DeviceModel* m = nullptr;
  auto* ch = sim::Registry::get().find(fd, &m);
  if (!ch) return ::write(fd, buf, len);
  if ((ch->flags & O_ACCMODE) == O_RDONLY) {
    errno = EBADF;
    return -1;
  }
  // The board's write system call has memcheck check these bytes; a model
  // takes them in-process.
  GW_MEMCHECK_WRITTEN(buf, len);
  return m->on_write(*ch, buf, len);
}

int dev_close(int fd) {
  int r = ::close(fd);
  int e = errno;
  for (auto& m : sim::Registry::get().models) sim::Registry::prune(*m.second);
  errno = e;
  return r;
}

}  // namespace platform
