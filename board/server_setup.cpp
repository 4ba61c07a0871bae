#include "board/server_setup.h"

#include "board/monitoring/monitoring_ctl.h"
#include "board/services/bus_ctl.h"
#include "board/services/e1_ctl.h"
#include "board/services/hw_tests.h"
#include "board/services/spi_ctrl.h"
#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "media/hdlc_slot.h"
#include "media/mcc_slot.h"
#include "media/mixer_factory.h"
#include "media/modem_factory.h"
#include "media/rtp_factory.h"
#include "media/t38_slot.h"
#include "media/voice_slot.h"
#include "radio/ed137/ed137_factory.h"
#include "radio/zarn/rtp_zarn_factory.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "slots/ext.h"
#include "slots/hw_mux.h"
#include "slots/map.h"
#include "slots/slots.h"

namespace ServerSetup {

void CreateSlotFactories() {
  // One line each, in this order.
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpZARNFactory::instance();
  RtpED137Factory::instance();
  HdlcSlotFactory::instance();

  HwMux::instance();
}

void BindControlServices() {
  ctrlServer.Bind(&HeartBeatCtl::instance());
  ctrlServer.Bind(&Slots::instance());
  ctrlServer.Bind(&HwTests::instance());
  ctrlServer.Bind(&BusCtl::instance());
  ctrlServer.Bind(&E1Ctl::instance());
  // Built here, so the framers are set up before any controller comes.
  ctrlServer.Bind(&spiCtrl::instance());
  ctrlServer.Bind(&MonitoringCtl::instance());
}

}  // namespace ServerSetup
