#include "platform/sim/dsp_unit_model.h"

#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/time.h>

namespace platform {
namespace sim {

std::string DspUnitModel::Request::text() const {
  std::ostringstream os;
  os << name;
  for (long long f : fields) os << ' ' << f;
  return os.str();
}

std::vector<DspUnitModel::Request> DspUnitModel::take_new() {
  std::vector<Request> out(requests.begin() + static_cast<std::ptrdiff_t>(std::min(taken_, requests.size())),
                           requests.end());
  taken_ = requests.size();
  return out;
}

void DspUnitModel::fail(const std::string& name, int err, long long count) { failures_.set(name, err, count); }

void DspUnitModel::clear() {
  requests.clear();
  taken_ = 0;
  failures_.clear();
  fail_open = 0;
}

int DspUnitModel::open_error() {
  if (int e = failures_.take("open")) return e;
  return fail_open;
}

int DspUnitModel::record(const std::string& name, std::vector<long long> fields) {
  struct timeval tv;
  platform::gettimeofday(&tv);
  const auto ms = static_cast<std::uint32_t>(static_cast<std::int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000);
  requests.push_back(Request{name, std::move(fields), ms});
  return failures_.take(name);
}

bool DspUnitModel::deliver_record(const std::vector<std::uint8_t>& bytes) {
  return deliver(bytes.data(), bytes.size());
}

std::string DspUnitModel::shared_words(const char* family, const Args& args, std::ostream& out, bool& handled) {
  handled = true;
  const std::string f = family;
  if (args[0] == "log") {
    if (args.size() != 1) return "usage: " + f + " log";
    for (const Request& r : take_new()) out << r.text() << "\n";
    return "";
  }
  if (args[0] == "raw") {
    // The bytes may be split over several words.
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i < args.size(); ++i)
      if (!parse_hex(args[i], bytes)) return "usage: " + f + " raw HEX";
    if (!deliver_record(bytes)) return f + " is not open";
    return "";
  }
  if (args[0] == "fail") {
    long long err = 0, count = -1;
    const auto& names = request_names();
    if (args.size() < 3 || args.size() > 4 ||
        (args[1] != "open" && std::find(names.begin(), names.end(), args[1]) == names.end()) ||
        !parse_int(args[2], err) || err < 0 || err > 4095 ||
        (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: " + f + " fail open|REQUEST ERRNO [COUNT]";
    fail(args[1], static_cast<int>(err), count);
    return "";
  }
  handled = false;
  return "";
}

std::uint32_t get_u32(const void* rec, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, static_cast<const std::uint8_t*>(rec) + off, sizeof v);
  return v;
}

std::uint16_t get_u16(const void* rec, std::size_t off) {
  std::uint16_t v;
  std::memcpy(&v, static_cast<const std::uint8_t*>(rec) + off, sizeof v);
  return v;
}

void put_u32(std::vector<std::uint8_t>& rec, std::uint32_t v) {
  std::uint8_t b[4];
  std::memcpy(b, &v, sizeof v);
  rec.insert(rec.end(), b, b + 4);
}

bool parse_word32(const std::string& word, std::uint32_t& value) {
  long long v = 0;
  if (!parse_int(word, v) || v < -2147483648LL || v > 4294967295LL) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace sim
}  // namespace platform
