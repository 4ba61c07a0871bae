#include "platform/sim/mctl.h"

#include "platform/mctl.h"
#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace platform {
namespace sim {

void Mctl::fail(unsigned long request, int err, long long count) { failures_.set(request, err, count); }

void Mctl::clear() {
  pool = 4;
  requests.clear();
  failures_.clear();
  fail_open = 0;
}

int Mctl::open_error() {
  if (int e = failures_.take(0)) return e;
  return fail_open;
}

void Mctl::on_close(Channel& ch) {
  for (auto it = owner_.begin(); it != owner_.end();) {
    if (it->second == ch.ino)
      it = owner_.erase(it);
    else
      ++it;
  }
}

int Mctl::on_ioctl(Channel& ch, unsigned long request, void* arg) {
  // Words of the argument record, by request.
  int nwords = 0;
  switch (request) {
    case mctl::MCTL_ANSWER:
    case mctl::MCTL_ORIGINATE:
    case mctl::MCTL_SET_DDM:
    case mctl::MCTL_RESET_DMP:
    case mctl::MCTL_FAX_ORIGINATE:
      nwords = 2;
      break;
    case mctl::MCTL_SET_DMP:
      nwords = 3;
      break;
    case mctl::MCTL_ALLOC:
    case mctl::MCTL_ENUM:
    case mctl::MCTL_GET_TIMESLOT:
      break;
    default:
      errno = ENOTTY;
      return -1;
  }
  if (nwords && !arg) {
    errno = EFAULT;
    return -1;
  }
  char name[16];
  std::snprintf(name, sizeof name, "0x%lX", request);
  std::ostringstream line;
  line << name;
  const auto* words = static_cast<const std::int32_t*>(arg);
  for (int i = 0; i < nwords; ++i) line << " " << words[i];
  if (request == mctl::MCTL_ENUM) line << " " << static_cast<int>(reinterpret_cast<std::intptr_t>(arg));
  requests.push_back(line.str());
  if (int e = failures_.take(request)) {
    errno = e;
    return -1;
  }
  switch (request) {
    case mctl::MCTL_ALLOC: {
      channels();  // frees the modems of closed descriptors
      for (int m = 0; m < pool; ++m) {
        if (owner_.count(m)) continue;
        owner_[m] = ch.ino;
        return m;
      }
      errno = EBUSY;
      return -1;
    }
    case mctl::MCTL_ENUM: {
      const int next = static_cast<int>(reinterpret_cast<std::intptr_t>(arg)) + 1;
      if (next < 0 || next >= pool) {
        errno = ENODEV;
        return -1;
      }
      return next;
    }
    case mctl::MCTL_GET_TIMESLOT:
      for (const auto& o : owner_)
        if (o.second == ch.ino) return timeslot_of(o.first);
      errno = EINVAL;
      return -1;
    default:
      if (words[0] < 0 || words[0] >= pool) {
        errno = EINVAL;
        return -1;
      }
      return 0;
  }
}

Mctl& mctl_model() { return installed_model<Mctl>("/dev/mctl"); }

namespace {

DefaultModel installed([] { mctl_model(); });

std::string mctl_words(const Args& args, std::ostream& out) {
  Mctl& m = mctl_model();
  if (args.empty()) return "usage: mctl pool N | mctl requests | mctl fail 0xBBnn|open E [N]";
  long long n = 0;
  if (args[0] == "pool") {
    if (args.size() != 2 || !parse_int(args[1], n) || n < 0 || n > 65536) return "usage: mctl pool N";
    m.pool = static_cast<int>(n);
    return "";
  }
  if (args[0] == "requests") {
    for (const auto& r : m.requests) out << r << "\n";
    m.requests.clear();
    return "";
  }
  if (args[0] == "fail") {
    long long err = 0, count = -1;
    char* end = nullptr;
    const bool open = args.size() >= 2 && args[1] == "open";
    const unsigned long request = args.size() >= 2 && !open ? std::strtoul(args[1].c_str(), &end, 16) : 0;
    if (args.size() < 3 || args.size() > 4 || (!open && (!end || *end != '\0' || (request >> 8) != 0xBB)) ||
        !parse_int(args[2], err) || err < 0 || (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: mctl fail 0xBBnn|open ERRNO [COUNT]";
    m.fail(request, static_cast<int>(err), count);
    return "";
  }
  return "unknown mctl request " + args[0];
}

Words words("mctl", mctl_words);

}  // namespace
}  // namespace sim
}  // namespace platform
