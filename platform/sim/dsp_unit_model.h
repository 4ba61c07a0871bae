#pragma once
// Common ground of the models of the board's two DSP units ("/dev/dtmf" and
// "/dev/dsp"): every request is logged with its name, its fields and the
// loop time; named requests (and the open) can be made to fail with an
// errno, for a number of requests or until cleared; event records are
// queued to every open descriptor, whole or cut short.
//
// Control-socket words shared by both families (FAMILY is "dtmf" or "dsp"):
//   FAMILY log          -> one line per request since the last "log": its
//                          name and fields in decimal
//   FAMILY raw HEX      -> queues the bytes as one record (none: empty)
//   FAMILY fail NAME E [N] -> requests NAME (or "open") fail with errno E:
//                          the next N, or all until "FAMILY fail NAME 0"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class DspUnitModel : public DeviceModel {
 public:
  struct Request {
    std::string name;
    std::vector<long long> fields;
    std::uint32_t ms;  // loop clock (low 32 bits of the millisecond count)

    // "NAME f1 f2 ...".
    std::string text() const;
  };

  // Every request since the last clear.
  std::vector<Request> requests;
  // The requests not yet taken, and marks them taken ("FAMILY log").
  std::vector<Request> take_new();

  // Fails requests of that name (or the open) with errno `err` (0 clears):
  // the next `count`, or every one when count is negative.
  void fail(const std::string& name, int err, long long count = -1);
  // Forgets requests and failures.
  virtual void clear();

  int open_error() override;

  // Queues one record to every open descriptor; false when none is open.
  bool deliver_record(const std::vector<std::uint8_t>& bytes);

  // The request names this device knows.
  virtual const std::vector<std::string>& request_names() const = 0;

  // Serves the shared words; `handled` is false for a word it does not know.
  std::string shared_words(const char* family, const Args& args, std::ostream& out, bool& handled);

 protected:
  // Logs a request; returns the errno to fail it with (0: it goes on).
  int record(const std::string& name, std::vector<long long> fields);

 private:
  Failures<std::string> failures_;
  std::size_t taken_ = 0;
};

// Record helpers: words in the machine's byte order, at byte offsets.
std::uint32_t get_u32(const void* rec, std::size_t off);
std::uint16_t get_u16(const void* rec, std::size_t off);
void put_u32(std::vector<std::uint8_t>& rec, std::uint32_t v);

// A word of a request line as a 32-bit field: -2^31 .. 2^32-1.
bool parse_word32(const std::string& word, std::uint32_t& value);

}  // namespace sim
}  // namespace platform
