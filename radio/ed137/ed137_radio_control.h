#pragma once
// The ED-137 radio control: the radio side of an ED-137 radio link. The
// ground side sends TX-form header extensions carrying push-to-talk; the
// control decodes them, lets them through by the radio's type and mode,
// and reports each change to the controller as an "rtpExt" signal. It sends
// RX-form header extensions with the radio state that the controller sets
// (push-to-talk echo, squelch, signal quality), repeats that state as the
// keep-alive, and reports a missing ground keep-alive with the abort cause
// 151. ED137RadioControl holds the common machinery; ED137RadioGWControl is
// the gateway role that the slots create.
#include "radio/control/radio_control.h"
#include "radio/ed137/r2s_proto.h"

#include <cstdint>

namespace RTPSignalling {

// The radio's session parameters from the controller.
struct ED137RadioParams {
  bool transmissionDependOnSQU = false;
  std::uint32_t sigtime = 1;
  std::uint32_t r2sKeepAlivePeriod = 200;  // ms
  std::uint32_t r2sKeepAliveMultiplier = 10;
  std::uint32_t type = 2;      // TERM::ED137RadioType, "radio-txrx"
  std::uint32_t txrxMode = 2;  // TERM::ED137RadioTxRxMode, "txrx"

  // The optional fields replace the defaults when present; type and mode
  // are always taken.
  void Init(TERM::ED137RadioResponse const& response);
};

// One radio state.
struct ED137RadioState {
  static constexpr std::uint32_t HEADER = 0x0001;
  static constexpr std::uint32_t SQI = 0x0002;
  static constexpr std::uint32_t RX_FORM = 0x1000;  // radio to ground
  static constexpr std::uint32_t TX_FORM = 0x2000;  // ground to radio
  static constexpr std::uint32_t FORM = 0xF000;

  std::uint32_t code = 0;
  std::uint32_t ptt = 0;  // TERM::ED137RadioPTT; the ground may send 5 to 7
  std::uint32_t squ = 0;
  std::uint32_t pttId = 0;
  std::uint32_t pttMute = 0;
  std::uint32_t pttSummation = 0;
  std::uint32_t sct = 0;
  std::uint32_t bssMethod = 0;   // TERM::ED137RadioBSSMethod
  std::uint32_t bssQuality = 0;  // 0 to 31
  in_addr sessionAddr = {0};
  std::uint32_t sessionSsrc = 0;

  std::uint32_t Form() const { return code & FORM; }
  bool IsEqual(ED137RadioState const& other) const;
  // A controller's request over this state. False, leaving the state as it
  // was, for params that are neither "rx" nor "tx", a session address that
  // is not a dotted IPv4 address, or values the header extension's fields
  // cannot hold.
  bool DecodeASN(TERM::ED137RadioModifier const& modifier);
  // Whether the header extension's fields hold the status's values.
  static bool Carried(TERM::ED137RadioStatus const& status);
  // The status given at creation: RX form; the session stays. False, and
  // the state as it was, when it is not carried.
  bool DecodeASN(TERM::ED137RadioStatus const& status);
  // "rx" for the RX form, "tx" for the TX form, nothing selected otherwise.
  void EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

class ED137RadioControl : public RadioControl {
 public:
  ED137RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit ED137RadioControl(rtp_ext_init_params const& init);
  ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);

  void SetParams(ED137RadioParams const& p) { params = p; }
  const ED137RadioParams& GetParams() const { return params; }
  const ED137RadioState& GetRadioState() const { return radioState; }
  const ED137RadioState& GetChanState() const { return chanState; }

  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& modifier) override;
  bool GetSQU() override { return radioState.squ != 0; }
  void OnRtpExtEvent(int fd, short revents) override;

  virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
  virtual bool AccessFormChanToRadio(ED137RadioState const&) { return true; }
  virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

  // The received payload's state: address, SSRC, form and header, and the
  // signal quality of its SQI elements. -1 for an unknown form.
  static int DecodeProto(r2s_proto const& proto, ED137RadioState& state);
  // The "rtpExt" signal: the radio state as status, the received state as
  // request.
  static void EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request);
  static void EncodeASN(ED137RadioState const& radio, ED137RadioState const& received, TERM::RtpRadioRequest& request);

 protected:
  void Init();
  // A state set by the controller, towards the radio's ground.
  void SendRadioStateToChan(ED137RadioState const& state);
  bool NeedSendProto(ED137RadioState const& state) const;
  // Packs and writes one payload; the write's result (the bytes written, or
  // negative when it failed), 0 when packing failed.
  int SendProtoToChan(r2s_proto const& proto);
  // One payload from the ground, delivered once per burst of one source.
  void OnRtpProtoRXEvent(r2s_proto const& proto);

  ED137RadioParams params;
  r2s_proto decoding;
  r2s_proto pending;
  std::uint32_t lastPeriodicSend = 0;
  std::uint32_t lastNotification = 0;
  std::uint32_t lastReceive = 0;
  // The ground was reported silent and has sent nothing since. Kept apart
  // from the stamps: after 24.8 days of silence the last-receive stamp
  // reads as one "from the future", and the silence would end unseen.
  bool groundSilent = false;
  std::uint32_t now = 0;  // time of the receive pass in progress
  ED137RadioState chanState;
  ED137RadioState radioState;
};

class ED137RadioGWControl : public ED137RadioControl {
 public:
  using ED137RadioControl::ED137RadioControl;

  // Keep-alive supervision and the periodic keep-alive; returns the delay
  // to the next tick.
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(ED137RadioState const& state) override;
  int PutProtoFromChanToRadio(ED137RadioState const& state) override;
  // Only radios that transmit ("radio-txrx", "radio", "coupling") in a
  // mode that transmits ("tx", "txrx") take the ground's requests.
  bool AccessFormChanToRadio(ED137RadioState const& state) override;
  int EncodeProto(ED137RadioState const& state, r2s_proto& proto) override;
};

// The abort cause of a missing ground keep-alive.
constexpr int ED137_KEEPALIVE_LOST = 151;

}  // namespace RTPSignalling
