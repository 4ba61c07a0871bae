#pragma once
// RtpED137Factory: the factory of ED-137 radio slots, reached with an `rtp`
// create whose radio status selects "ed-137". It begins the RTP session as
// every radio factory does, derives the radio's parameters and the
// header-extension set-up from the radio response, and builds the gateway
// slot.
#include "radio/ed137/ed137_radio_control.h"
#include "radio/rtp_radio_factory.h"

class RtpED137Factory : public RtpRadioFactory {
 public:
  static RtpED137Factory& instance();

  const char* GetName() const override { return "RTP Ext ED137"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

  // The set-up record of the header-extension device: type 0x0167 and the
  // words 1, 123, period / (packet factor x 10) and 1, the last two times
  // sigtime when it is not 0 (a packet factor of 0 counts as 2).
  static rtp_ext_init_params InitParams(RTPSignalling::ED137RadioParams const& radio, std::uint16_t packetFactor);

 private:
  RtpED137Factory() : RtpRadioFactory("rtp ext ED137") {}
};
