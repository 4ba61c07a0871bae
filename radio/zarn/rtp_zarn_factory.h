#pragma once
// RtpZARNFactory: the factory of Zarn radio slots, reached by an `rtp`
// creation whose radio status is a Zarn one. It begins the RTP session as
// every radio factory does, prepares the header-extension records
// (extension type 0x1337) and builds the gateway-side radio slot: with its
// own header-extension session and the periodic status, or, when the
// controller names an RTP session of another process (`only-rtp`),
// attached to that one through the RTP device.
#include "radio/rtp_radio_factory.h"

class RtpZARNFactory : public RtpRadioFactory {
 public:
  static RtpZARNFactory& instance();
  ~RtpZARNFactory() override;

  const char* GetName() const override { return "RTP Ext ZARN"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

 private:
  RtpZARNFactory();
};
