// Every device request a media slot's creation makes, failed in turn (the
// first, second, ... request of each kind, with several errno values), on
// the simulated board in-process: the factory makes no slot, and nothing it
// took is left behind (HDLC-controller channels, RTP sessions, mixes,
// descriptors, the factory's slot list). With the failure gone the same
// creation makes a slot, whose destruction again leaves nothing. Then each
// kind is connected to a map slot both ways while the switch refuses, and
// destroyed while every switch and tone-unit request fails.
#include "media/mcc_slot.h"
#include "media/mixer_factory.h"
#include "media/rtp_factory.h"
#include "media/voice_slot.h"
#include "platform/sim/dtmf.h"
#include "platform/sim/hal.h"
#include "platform/sim/mcc.h"
#include "platform/sim/mixer.h"
#include "platform/sim/rtp.h"
#include "slots/hw_mux.h"
#include "slots/map.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/stream_capture.h"


#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::sim::Mcc;
using platform::sim::mcc;

// What a creation may take, as text.
std::string board_state(SlotFactory& factory) {
  std::ostringstream os;
  os << "mcc";
  for (const auto& a : mcc().allocations()) os << " " << a.timeslot;
  platform::sim::rtp().refresh();
  int open = 0;
  for (const auto& s : platform::sim::rtp().sessions) open += s.open ? 1 : 0;
  os << "; rtp open " << open << "; mixes";
  for (const auto& u : platform::sim::mixer().units)
    for (const auto& out : u.second.mixes)
      for (const auto& in : out.second)
        os << " " << u.first << "/" << out.first << "<" << in.first.first << "/" << in.first.second << ":"
           << in.second;
  os << "; slots " << factory.GetSlots().size() << "; fds " << testsupport::open_descriptors();
  return os.str();
}

// One kind of request of a creation: how many of them it makes, how to fail
// the nth one with an errno and how to stop failing.
struct Request {
  const char* name;
  int count;
  std::function<void(int nth, int err)> fail;
  std::function<void()> clear;
};

Request mcc_request(const char* name, Mcc::Step step, int count) {
  return {name, count, [step](int nth, int err) { mcc().fail(step, err, 1, nth - 1); },
          [step] { mcc().fail(step, 0); }};
}

Request rtp_request(const char* step) {
  return {step, 1, [step](int, int err) { platform::sim::rtp().fail(step, err); },
          [step] { platform::sim::rtp().fail(step, 0); }};
}

Request dtmf_request(const char* name) {
  return {name, 1, [name](int, int err) { platform::sim::dtmf().fail(name, err, 1); },
          [name] { platform::sim::dtmf().fail(name, 0); }};
}

// The mixer driver fails with EIO whatever is asked.
Request mixer_request(const char* kind, int count) {
  return {kind, count, [kind](int nth, int) { platform::sim::mixer().fail(kind, nth); }, [] {}};
}

struct Kind {
  const char* name;
  SlotFactory& factory;
  std::function<LGCP::CreateParams()> params;
  std::vector<Request> requests;
};

LGCP::CreateParams mcc_data() {
  LGCP::CreateParams p;
  LGCP::MccParams& m = p.select_mcc();
  m.set_type(LGCP::MccType::data);
  m.set_mode(LGCP::MccMode::standard);
  return p;
}

LGCP::CreateParams file_player() {
  LGCP::CreateParams p;
  auto& f = p.select_voice().select_player().select_file();
  f.set_name().push_back(std::string("tone"));
  f.set_repeat(0);
  return p;
}

LGCP::CreateParams network_player() {
  LGCP::CreateParams p;
  auto& n = p.select_voice().select_player().select_network();
  n.set_host().set_iaddr(std::string("127.0.0.1"));
  n.set_host().set_port(9);
  n.set_id(1);
  return p;
}

LGCP::CreateParams recorder() {
  LGCP::CreateParams p;
  auto& h = p.select_voice().select_record();
  h.set_iaddr(std::string("127.0.0.1"));
  h.set_port(9);
  return p;
}

LGCP::CreateParams rtp_with_echo() {
  return rtptest::rtp_params(TERM::Payload::ptG711_Alaw, "127.0.0.1", rtptest::free_rtp_port(),
                             TERM::Payload::ptG711_Alaw, TERM::Payload::ptG711_Alaw, [](TERM::RtpParams& r) {
                               r.set_echo().set_suppressor(true);
                               r.set_echo().set_canceller(true);
                             });
}

LGCP::CreateParams mixer_input() {
  LGCP::CreateParams p;
  LGCP::MixerInParams& m = p.select_mixerIn();
  m.set_unit(1);
  m.set_channel().select_tdm(2);
  m.set_summator().select_tdm(3);
  m.set_ecm().set_ec(true);
  m.set_ecm().set_es(false);
  return p;
}

LGCP::CreateParams mixer_output() { return mixertest::mixer_out(1, {4}, {{{0}, 100}, {{1}, 200}}); }

TEST(CreateFailures, EveryRequestFailedInTurnLeavesNothingAndTheSameCreateThenWorks) {
  mcc();
  platform::sim::hal();
  platform::sim::rtp();
  platform::sim::dtmf();
  platform::sim::mixer().clear();
  ASSERT_EQ(platform::sim::mixer().add_unit(1, 8, 32), "");
  LGCP::Resources res;
  Mixer::MixerFactory::instance().Query(res);
  ASSERT_EQ(Mixer::MixerFactory::instance().tdm_channels(), 8);

  const std::vector<Kind> kinds = {
      {"data channel",
       MccFactory::instance(),
       mcc_data,
       {mcc_request("open", Mcc::Step::open, 1), mcc_request("allocate", Mcc::Step::allocate, 1),
        mcc_request("timeslot", Mcc::Step::timeslot, 1)}},
      {"file player",
       VoiceFactory::instance(),
       file_player,
       {mcc_request("open", Mcc::Step::open, 1), mcc_request("allocate", Mcc::Step::allocate, 1),
        mcc_request("timeslot", Mcc::Step::timeslot, 2)}},
      {"network player",
       VoiceFactory::instance(),
       network_player,
       {mcc_request("open", Mcc::Step::open, 1), mcc_request("allocate", Mcc::Step::allocate, 1),
        mcc_request("timeslot", Mcc::Step::timeslot, 2)}},
      {"recorder",
       VoiceFactory::instance(),
       recorder,
       {mcc_request("open", Mcc::Step::open, 1), mcc_request("allocate", Mcc::Step::allocate, 1),
        mcc_request("timeslot", Mcc::Step::timeslot, 1)}},
      {"rtp with echo canceller",
       RtpFactory::instance(),
       rtp_with_echo,
       {rtp_request("open"), rtp_request("begin"), rtp_request("add"), dtmf_request("CHANNEL_LMS_ON")}},
      {"mixer input with summator and echo canceller",
       Mixer::MixerFactory::instance(),
       mixer_input,
       {mixer_request("tdm", 1), mixer_request("add", 1), dtmf_request("CHANNEL_LMS_ON")}},
      {"mixer output of two inputs",
       Mixer::MixerFactory::instance(),
       mixer_output,
       {mixer_request("clear", 1), mixer_request("add", 2), mixer_request("tdm", 1)}},
  };
  const int errnos[] = {EIO, EBUSY, ENOMEM, EINTR, EAGAIN};

  testsupport::StreamCapture cap;
  auto make_and_destroy = [](const Kind& k) {
    Slot* s = k.factory.NewSlot(k.params());
    if (!s) return false;
    EXPECT_TRUE(s->BeforeDestroy());
    delete s;
    return true;
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    // Device services opened on first use stay open: not a leak.
    ASSERT_TRUE(make_and_destroy(k)) << cap.all();
    const std::string before = board_state(k.factory);
    for (const Request& r : k.requests) {
      for (int nth = 1; nth <= r.count; ++nth) {
        for (int err : errnos) {
          SCOPED_TRACE(std::string(r.name) + " #" + std::to_string(nth) + " errno " + std::to_string(err));
          r.fail(nth, err);
          Slot* s = k.factory.NewSlot(k.params());
          r.clear();
          EXPECT_EQ(s, nullptr) << cap.all();
          if (s) {
            EXPECT_TRUE(s->BeforeDestroy());
            delete s;
          }
          EXPECT_EQ(board_state(k.factory), before);
          EXPECT_TRUE(make_and_destroy(k)) << cap.all();
          EXPECT_EQ(board_state(k.factory), before);
        }
      }
    }
  }
}

LGCP::CreateParams map_slot() {
  LGCP::CreateParams p;
  LGCP::MapParams& m = p.select_map();
  m.set_transmitter().set_bus(0);
  m.set_transmitter().set_channel(1);
  m.set_receiver().set_bus(0);
  m.set_receiver().set_channel(2);
  return p;
}

TEST(CreateFailures, RefusedSwitchingAndFailingDestroyLeaveNothingHalfDone) {
  using platform::sim::Hal;
  Hal& hal = platform::sim::hal();
  // Open before the first look: opening disables every shared-bus channel.
  ASSERT_TRUE(HwMux::instance().IsOpened());
  mcc();
  platform::sim::rtp();
  platform::sim::dtmf();
  platform::sim::mixer().clear();
  ASSERT_EQ(platform::sim::mixer().add_unit(1, 8, 32), "");
  LGCP::Resources res;
  Mixer::MixerFactory::instance().Query(res);

  struct Row {
    const char* name;
    SlotFactory& factory;
    std::function<LGCP::CreateParams()> params;
    bool source, receiver;
  } rows[] = {
      {"data channel", MccFactory::instance(), mcc_data, true, true},
      {"recorder", VoiceFactory::instance(), recorder, false, true},
      {"rtp", RtpFactory::instance(), rtp_with_echo, true, true},
      {"mixer input", Mixer::MixerFactory::instance(), mixer_input, false, true},
      {"mixer output", Mixer::MixerFactory::instance(), mixer_output, true, false},
  };
  const int errnos[] = {EIO, EBUSY, EINTR};

  testsupport::StreamCapture cap;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    {
      // Device services opened on first use stay open: not a leak.
      Slot* warm = row.factory.NewSlot(row.params());
      ASSERT_NE(warm, nullptr) << cap.all();
      ASSERT_TRUE(Slots::instance().Destroy(warm));
    }
    const std::string before = board_state(row.factory);
    Slot* s = row.factory.NewSlot(row.params());
    Slot* map = MapFactory::instance().NewSlot(map_slot());
    ASSERT_NE(s, nullptr) << cap.all();
    ASSERT_NE(map, nullptr);
    struct Way {
      bool on;
      Slot *from, *to;
    } ways[] = {{row.source, s, map}, {row.receiver, map, s}};
    for (const Way& w : ways) {
      if (!w.on) continue;
      const int line = w.to->GetReceiveChannel();
      for (int err : errnos) {
        SCOPED_TRACE(std::string(w.from == s ? "from" : "to") + " errno " + std::to_string(err));
        const std::string idle = hal.describe(line);
        hal.fail(Hal::Kind::connect, err, 1);
        EXPECT_FALSE(Connect(w.from, w.to));
        EXPECT_EQ(w.to->GetSource(), nullptr);
        EXPECT_TRUE(w.from->GetReceivers().empty());
        EXPECT_EQ(hal.describe(line), idle);
        ASSERT_TRUE(Connect(w.from, w.to)) << cap.all();
        EXPECT_EQ(hal.describe(line), "connected " + std::to_string(w.from->GetTransmitChannel()));
        // A disconnection the switch refuses is reported, and the slots part
        // all the same (the switch keeps what it refused to change).
        hal.fail(Hal::Kind::write, err, 1);
        EXPECT_FALSE(Disconnect(w.to));
        EXPECT_EQ(w.to->GetSource(), nullptr);
        EXPECT_TRUE(w.from->GetReceivers().empty());
        EXPECT_EQ(hal.describe(line), "connected " + std::to_string(w.from->GetTransmitChannel()));
        ASSERT_TRUE(MuxDisconnect(w.to));
      }
      ASSERT_TRUE(Connect(w.from, w.to));
    }
    // Connected, and every request of the switch and the tone unit fails:
    // the slot goes all the same, with everything it holds.
    for (Hal::Kind k : {Hal::Kind::connect, Hal::Kind::disable, Hal::Kind::write})
      hal.fail(k, EIO);
    for (const char* name : {"CHANNEL_LMS_OFF", "DTMF_DISABLE_DETECTOR"}) platform::sim::dtmf().fail(name, EIO);
    EXPECT_TRUE(Slots::instance().Destroy(s));
    for (Hal::Kind k : {Hal::Kind::connect, Hal::Kind::disable, Hal::Kind::write}) hal.fail(k, 0);
    for (const char* name : {"CHANNEL_LMS_OFF", "DTMF_DISABLE_DETECTOR"}) platform::sim::dtmf().fail(name, 0);
    EXPECT_EQ(map->GetSource(), nullptr);
    EXPECT_TRUE(map->GetReceivers().empty());
    EXPECT_TRUE(Slots::instance().Destroy(map));
    EXPECT_EQ(board_state(row.factory), before);
  }
}

}  // namespace
