#pragma once
// RtpRadioFactory: what the radio slot factories (ED-137, Zarn) share. The
// codec capacities of the voice device, read afresh for each resources
// query; the RTP session of a new radio slot, set up from the controller's
// RTP parameters (payload check, RTCP socket on the local port + 1, driver
// session begun on a free switch channel, each refusal logged behind the
// factory's header); and the slot's start once built (radio status, RTCP,
// echo canceller, delays, BSS and noise gate).
#include "media/rtp_setup.h"
#include "runtime/fd.h"
#include "slots/rtp_records.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <iosfwd>

class RtpExtSlot;

class RtpRadioFactory : public SlotFactory {
 public:
  // Reads the capacities again and sets (not adds) them in the report.
  void Query(LGCP::Resources& res) override;
  // Reads the codec capacities of the voice device.
  void IQuery();

  // The header's name, then "[" g723 "," g729 "," g711 "," universal "]: ".
  std::ostream& PutHeader(std::ostream& os) const;

  // The payload tables shared with the RTP factory.
  static std::uint16_t translateCodec(TERM::Payload const& p) { return RtpSetup::translateCodec(p); }
  static std::uint16_t translateCodec(TERM::Payload const& p, TERM::Payload const& q) {
    return RtpSetup::translateCodec(p, q);
  }

  std::uint32_t g729 = 0;
  std::uint32_t g723 = 0;
  std::uint32_t g711 = 0;
  std::uint32_t g711mcc = 0;
  std::uint32_t universal = 0;

 protected:
  // `name` starts the log-line header ("rtp ext ED137"); the capacities are
  // read at once.
  explicit RtpRadioFactory(const char* name);

  // The RTP session of a new radio slot.
  struct Session {
    Fd sock;  // the RTCP socket
    Fd dev;   // the session's RTP device descriptor
    rtp_connection_params params;
    rtp_channel_info info;  // info.tdm: the switch channel
  };
  // Checks the payload, binds the RTCP socket, fills the session record and
  // begins the session with its channel (BSS asked for as the radio request
  // says). False after logging the refusal, with nothing left open.
  bool OpenSession(LGCP::CreateRtpParams const& create, Session& s);
  // Stores the radio status and the channel's BSS word, applies the echo
  // canceller and the radio request's delays, BSS and noise gate, then
  // starts RTCP towards the peer.
  // False (RTCP not started) when the DSP refused one of them: the caller
  // deletes the slot.
  bool StartSlot(RtpExtSlot& slot, Session& s, TERM::RtpParams const& rtp);

 private:
  const char* name;
};
