#include "platform/sim/dtmf.h"

#include "platform/dtmf.h"

#include <cerrno>
#include <cstdint>

namespace platform {
namespace sim {

namespace {

struct RequestInfo {
  unsigned long number;
  const char* name;
  bool by_value;
};

const RequestInfo requests_known[] = {
    {dtmf::DTMF_CONFIGURE_DETECTOR, "DTMF_CONFIGURE_DETECTOR", false},
    {dtmf::DTMF_ENABLE_DETECTOR, "DTMF_ENABLE_DETECTOR", false},
    {dtmf::DTMF_DISABLE_DETECTOR, "DTMF_DISABLE_DETECTOR", true},
    {dtmf::DTMF_DIAL, "DTMF_DIAL", false},
    {dtmf::CHANNEL_LMS_ON, "CHANNEL_LMS_ON", true},
    {dtmf::CHANNEL_LMS_OFF, "CHANNEL_LMS_OFF", true},
    {dtmf::DTMF_REJECTION_ENABLE, "DTMF_REJECTION_ENABLE", true},
    {dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION_DISABLE", true},
    {dtmf::IVA_DETECTOR_ENABLE, "IVA_DETECTOR_ENABLE", true},
    {dtmf::IVA_DETECTOR_DISABLE, "IVA_DETECTOR_DISABLE", true},
    {dtmf::IVA_CONFIGURE_DETECTOR, "IVA_CONFIGURE_DETECTOR", false},
    {dtmf::SELCAL_DIAL, "SELCAL_DIAL", false},
};

}  // namespace

const std::vector<std::string>& Dtmf::request_names() const {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const auto& r : requests_known) n.push_back(r.name);
    return n;
  }();
  return names;
}

int Dtmf::on_ioctl(Channel&, unsigned long request, void* arg) {
  const RequestInfo* info = nullptr;
  for (const auto& r : requests_known)
    if (r.number == request) info = &r;
  if (!info) {
    errno = ENOTTY;
    return -1;
  }
  std::vector<long long> fields;
  if (info->by_value) {
    fields.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg)));
  } else {
    if (!arg) {
      errno = EFAULT;
      return -1;
    }
    switch (request) {
      case dtmf::DTMF_CONFIGURE_DETECTOR:
        for (std::size_t off = 0; off < dtmf::CONFIGURE_SIZE; off += 4) fields.push_back(get_u32(arg, off));
        break;
      case dtmf::DTMF_ENABLE_DETECTOR:
        fields = {get_u32(arg, 0), get_u32(arg, 4)};
        break;
      case dtmf::IVA_CONFIGURE_DETECTOR:
        fields = {get_u32(arg, 0), static_cast<std::int32_t>(get_u32(arg, 4))};
        break;
      case dtmf::DTMF_DIAL:
        fields = {get_u32(arg, 0), get_u16(arg, 4), get_u16(arg, 6), get_u16(arg, 8), get_u16(arg, 10)};
        break;
      case dtmf::SELCAL_DIAL: {
        const auto* b = static_cast<const std::uint8_t*>(arg);
        fields = {get_u32(arg, 0), get_u16(arg, 4), b[6], b[7], b[8], b[9]};
        if (b[10] != 0 || b[11] != 0) {
          errno = EINVAL;
          return -1;
        }
        break;
      }
    }
  }
  if (int e = record(info->name, std::move(fields))) {
    errno = e;
    return -1;
  }
  return 0;
}

bool Dtmf::event(std::uint32_t code, std::uint32_t timeslot, std::uint32_t timestamp, std::uint32_t id) {
  std::vector<std::uint8_t> rec;
  put_u32(rec, code);
  put_u32(rec, timeslot);
  put_u32(rec, timestamp);
  put_u32(rec, id);
  return deliver_record(rec);
}

Dtmf& dtmf() { return installed_model<Dtmf>("/dev/dtmf"); }

namespace {

DefaultModel installed([] { dtmf(); });

std::string dtmf_words(const Args& args, std::ostream& out) {
  const char* usage = "usage: dtmf log | dtmf event CODE TS STAMP ID | dtmf raw HEX | dtmf fail NAME ERRNO [COUNT]";
  if (args.empty()) return usage;
  bool handled = false;
  std::string r = dtmf().shared_words("dtmf", args, out, handled);
  if (handled) return r;
  if (args[0] == "event") {
    std::uint32_t w[4];
    if (args.size() != 5) return "usage: dtmf event CODE TS STAMP ID";
    for (int i = 0; i < 4; ++i)
      if (!parse_word32(args[i + 1], w[i])) return "usage: dtmf event CODE TS STAMP ID";
    if (!dtmf().event(w[0], w[1], w[2], w[3])) return "dtmf is not open";
    return "";
  }
  return "unknown dtmf request " + args[0];
}

Words words("dtmf", dtmf_words);

}  // namespace
}  // namespace sim
}  // namespace platform
