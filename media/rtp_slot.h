#pragma once
// RtpSlot: one RTP voice session of the board's RTP driver on a switch
// channel. The driver packetises the channel's TDM signal towards the
// remote address and plays what it receives into the same channel; the
// slot owns the driver session, relays its PD events, sends while a source
// is connected, restarts the session on a codec change, and sends RTCP SDES
// at start and BYE at the end.
//
// The channel's tone and voice-processing functions of the DSP come with
// it (private bases); their detections become the slot's signals.
//
// The radio slots derive from it: they use `fd`, `transmitting`,
// setTransmissionDependOnSQU and call IAfterCreate, IBeforeDestroy and Ioctl
// from their own overrides.
#include "media/rtcp.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "slots/dsproc_receiver.h"
#include "slots/rtp_records.h"
#include "slots/slot.h"
#include "slots/tonec_receiver.h"

#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>

class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  // Builds the slot on a session the caller has begun and whose channel
  // (`timeslot`) it has added; `fd` is the session's descriptor.
  RtpSlot(int timeslot, Fd fd, rtp_connection_params const& params);
  // Sends the BYE and releases the DSP functions.
  ~RtpSlot() override;

  // Whether the session's descriptor is held and watched: false when no
  // descriptor was left for the slot's copies of it (no slot then).
  bool HoldsSession() const { return event.IsActive(); }
  // Keeps a duplicate of the RTCP socket and the peer, and sends one SDES;
  // false when no descriptor was left for the duplicate.
  bool startRTPC(Fd& sock, sockaddr_in const& peer);
  // Encodes the message and sends it to the RTCP peer (result not looked at).
  void send(RTPC::Msg const& msg);
  void setTransmissionDependOnSQU(bool on) { transmissionDependOnSQU = on; }
  // The fourth word of the channel request the session was begun with (the
  // radio channels' BSS request); a restart adds its channel with it again.
  void setChannelWord(std::int32_t word) { channelWord = word; }
  // Begins the session again with the current `params` on the same channel.
  // The new session is begun while the old one is open; only then does it
  // take over (descriptor and event watch) and the old one is closed. What
  // the slot had asked of the old session goes on: its channel word, its PD
  // events (a new session that refuses them is no restart) and sending. On
  // failure the old session stays.
  bool restart();
  // The payload type of a codec mode: alaw 8, ulaw 0, lbrc the receive
  // payload type given at creation.
  std::uint32_t translate_payload(LGCP::CodecMode const& mode) const;
  bool enablePD(LGCP::PDParams const& pd);
  bool disablePD();
  // Reads the driver's event records while there are any, up to the bound.
  void OnRtpEvent(int fd, short revents);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "rtp"; }

  // The DSP functions the factories set up on a new slot (echo canceller;
  // delays, BSS and noise gate of the radio channels).
  using Hardware::TonecReceiver::echoCancel;
  using Hardware::DSProcReceiver::configureDelays;
  using Hardware::DSProcReceiver::enableBSS;
  using Hardware::DSProcReceiver::enableNG;

  // "rtp[" the channel "]: ", the start of the slot's log lines.
  std::ostream& PutHeader(std::ostream& os) const;

  int GetTimeslot() const { return timeslot; }
  const rtp_connection_params& GetParams() const { return params; }
  bool IsTransmitting() const { return transmitting; }

 protected:
  int timeslot;
  Fd fd;
  Event event;
  rtp_connection_params params;
  sockaddr_in rtcpPeer;
  Fd rtcpFd;
  std::uint32_t defaultPt;
  bool transmitting = false;
  bool transmissionDependOnSQU = false;
  std::int32_t channelWord = 0;
  // Whether the session was asked for PD events, and with which timeout.
  bool pdAsked = false;
  std::int32_t pdTimeout = 0;

 private:
  void tonec_event(Hardware::TonecReceiver::Params const& p) override { processTonecEvent(p); }
  std::uint32_t tonec_timeslot() override { return static_cast<std::uint32_t>(timeslot); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& ev) override { processVADEvent(ev); }
  void dsproc_bss_event(::dsproc_bss_event const* ev) override { processBSSEvent(*ev); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& ev) override { processSDEvent(ev); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* ev) override { processToneFltEvent(*ev); }
  void dsproc_flags_event(::dsproc_flags_event const* ev) override { processFlagsEvent(*ev); }
  std::uint32_t dsproc_timeslot() const override { return static_cast<std::uint32_t>(timeslot); }

  // A codec-mode request on the receive (`rx`) or transmit payload type.
  bool ChangeCodec(bool rx, LGCP::CodecMode const& mode);
  int Request(unsigned long request, void* arg = nullptr);
  // RTP_SET_EVENT_PD with the timeout on a session's descriptor.
  static int RequestPD(int session, std::int32_t timeout);
};
