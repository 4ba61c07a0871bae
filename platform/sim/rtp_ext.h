#pragma once
// Model of the board's RTP header-extension driver "/dev/rtp_ext": every
// open is one instance. RTP_EXT_INIT_SESSION keeps the extension type and
// the four words; RTP_EXT_ATTACH_SESSION resolves `fd_rtp` to an open
// "/dev/rtp" session of this process (`pid_rtp` -1 or our own pid), else
// EBADF; RTP_EXT_DETACH_SESSION lets it go. Payloads that a test injects
// for an attached instance queue up: the descriptor is readable while any
// wait, a read takes the oldest one (-1 EAGAIN when none), and
// RTP_EXT_GET_SOURCE fills {SSRC, address, 0} of the oldest one and returns
// how many wait. RTP_EXT_SET_FILTER drops (and counts) the queued and later
// payloads of other addresses until RTP_EXT_RESET_FILTER. A write is kept
// for the test and, when the attached session's remote address is a
// loopback one, sent there as an RTP packet: header extension present
// (profile = the extension type, the payload zero-padded to whole words),
// the session's SSRC and transmit payload type, no media.
//
// Control-socket words:
//   rtpext sessions  -> one line per instance, oldest first:
//     N,open|closed,etype=0x0167,init=W1.W2.W3.W4,rtp=K|-,pid=P,filter=A|-,
//     dropped=N,ops=OP/...
//     N counts the instances from 1; K is the line (from 1) of the attached
//     session in "rtp sessions"; P is the pid of the last attach.
//     OP: init, attach:K, detach, filter:A, reset
//   rtpext inject TDM ADDR SSRC HEX [ADDR SSRC HEX ...] -> queues payloads
//     from ADDR/SSRC on the instance attached to the open RTP session on
//     channel TDM, all in one step (the reader finds them as one batch);
//     nothing is queued when any of them is malformed
//   rtpext sent TDM  -> "MS HEX" per payload written to the sessions of the
//     channel since the last ask (MS: the process clock in milliseconds)
//   rtpext fail open|init|attach|detach|source|filter|reset|read|write ERRNO
//     -> fails the next such step (ERRNO a number or a name such as EIO)
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class RtpExt : public DeviceModel {
 public:
  struct Payload {
    std::uint32_t ssrc = 0;
    std::uint32_t addr = 0;  // network byte order
    std::vector<std::uint8_t> bytes;
  };

  struct Instance {
    int number = 0;
    bool open = true;
    std::uint16_t etype = 0;
    std::uint32_t init[4] = {};
    bool initialised = false;
    unsigned rtp_serial = 0;  // the attached "/dev/rtp" session; 0: none
    std::int32_t pid = 0;
    bool filter = false;
    std::uint32_t filter_addr = 0;  // network byte order
    unsigned dropped = 0;
    std::vector<std::string> ops;
    std::deque<Payload> queue;
    bool readable = false;  // a wake-up record waits on the caller's end
    std::uint16_t seq = 0;

    // The "rtpext sessions" line.
    std::string describe() const;
  };

  struct Written {
    std::int64_t ms = 0;
    int tdm = -1;  // channel of the attached session; -1 when not attached
    std::vector<std::uint8_t> bytes;
    bool reported = false;
  };

  // Every instance since start-up, oldest first.
  std::vector<Instance> instances;
  // Every payload written, oldest first.
  std::vector<Written> written;

  // The next step of that kind fails with the errno; 0 clears.
  void fail(const std::string& step, int err);
  void refresh() { channels(); }

  // Queues a payload on the newest open instance attached to the newest
  // open RTP session of the channel. False when there is none; a payload
  // that the filter refuses is counted and still answers true.
  bool inject(int tdm, std::uint32_t addr, std::uint32_t ssrc, const std::vector<std::uint8_t>& bytes);
  // The payloads written to sessions of the channel and not yet reported,
  // now marked reported.
  std::vector<Written> take_sent(int tdm);

  int open_error() override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  ssize_t on_read(Channel& ch, int fd, void* buf, size_t len) override;
  ssize_t on_write(Channel& ch, const void* buf, size_t len) override;
  void on_open(Channel& ch) override;
  void on_close(Channel& ch) override;

 private:
  Instance* of(const Channel& ch);
  // Puts or takes the wake-up record so the descriptor is readable exactly
  // while payloads wait (as far as the model can take one back).
  void wake(Channel& ch, Instance& in);
  void send_rtp(Instance& in, const std::uint8_t* session_record, const void* buf, std::size_t len);

  std::map<const Channel*, std::size_t> of_channel_;
  Failures<std::string> failures_;
  int udp_ = -1;
};

// The model installed at "/dev/rtp_ext" (installed on first call).
RtpExt& rtp_ext();

}  // namespace sim
}  // namespace platform
