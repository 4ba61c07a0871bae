#pragma once
// Model of the board's RTP driver "/dev/rtp": every open is one session.
// RTP_BEGIN_SESSION keeps the session record; RTP_ADD_CHANNEL with `tdm` -1
// writes back the lowest switch channel (from `first_channel`) that no open
// session nor another driver holds, and given a channel takes that one over
// (as a session restart does while the old session is still open). The other
// requests are recorded as the session's operations; a request that fails
// records nothing. Events are 36-byte records {type, value, timeout, 0...}
// queued on the newest open session of a channel; a read with none waiting
// answers EAGAIN, on a descriptor opened without O_NONBLOCK too, as the
// driver does.
//
// Control-socket words:
//   rtp sessions          -> one line per session, oldest first:
//     open|closed,tdm=T,remote=A:P,local=A:P,rx_pt=N,tx_pt=N,pfactor=N,
//     vad=N,crate=N,ssrc=N,ttl=N,tos=N,ops=OP/...
//     OP: begin, add:TDM (as passed; add:TDM.W when the fourth word W of
//     the request is not 0), start_tx, stop_tx, pd_set:W0.....W8,
//     pd_reset:W, r10, r3, r11, attach:FD.PID (RTP_ATTACH_SESSION as passed)
//   rtp event TDM TYPE VALUE TIMEOUT -> queues one event record
//   rtp raw TDM [HEX]     -> queues the bytes as one record (none: empty)
//   rtp assign TDM        -> the next RTP_ADD_CHANNEL that asks for a channel
//                          writes back TDM, whatever it is
//   rtp fail open|begin|add|pd_set|pd_reset|attach|read ERRNO -> fails the next such
//                          step (read: the next event read of any session)
//                          (ERRNO a number or a name such as EIO)
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class Rtp : public DeviceModel {
 public:
  static constexpr int first_channel = 4096;

  struct Session {
    bool open = true;
    int tdm = -1;
    // Names the session for other models (the header-extension device)
    // whatever `clear` does to the list.
    unsigned serial = 0;
    std::uint8_t record[44] = {};
    std::vector<std::string> ops;

    // The "rtp sessions" line; fields read at the record's offsets.
    std::string describe() const;
  };

  // Every session since the last clear, oldest first.
  std::vector<Session> sessions;

  // The next step of that kind ("open", "begin", "add", "pd_set") fails
  // with the errno; 0 clears.
  void fail(const std::string& step, int err);
  // The next channel handed out is `tdm`, whatever it is.
  void assign(int tdm) { assigned_.push_back(tdm); }
  void clear();

  // Queues a record on the newest open session of the channel; false when
  // the channel has none.
  bool deliver_to(int tdm, const void* buf, std::size_t len);
  bool event(int tdm, std::uint32_t type, std::uint32_t value, std::uint32_t timeout);
  // Refreshes the open/closed state of the sessions.
  void refresh() { channels(); }

  // The index in `sessions` of the open session that a descriptor of this
  // process (or a duplicate of it) belongs to; -1 when it is none.
  int session_of_fd(int fd);
  // The index of the session with that serial; -1 when it was forgotten.
  int index_of(unsigned serial) const;

  int open_error() override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  ssize_t on_read(Channel& ch, int fd, void* buf, size_t len) override;
  void on_open(Channel& ch) override;
  void on_close(Channel& ch) override;

 private:
  std::map<const Channel*, std::size_t> of_channel_;
  std::vector<int> assigned_;
  Failures<std::string> failures_;
  unsigned next_serial_ = 1;
};

// The model installed at "/dev/rtp" (installed on first call).
Rtp& rtp();

// Model of the voice device "/dev/voice": the capacity request answers the
// count set for the codec number (0 when none was set).
//
// Control-socket words:
//   voice CODEC COUNT -> sets the count of a codec number
class Voice : public DeviceModel {
 public:
  std::map<long long, int> counts;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
};

Voice& voice();

}  // namespace sim
}  // namespace platform
