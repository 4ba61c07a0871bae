// The channel slot kinds and their factories, in process.
#include "slots/ext.h"
#include "slots/map.h"
#include "slots/trunk.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

TEST(TrunkFactories, StaticObjectsAreTheOldestInTheRegistry) {
  std::vector<SlotFactory*> order;
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) order.push_back(f);
  ASSERT_GE(order.size(), 12u);
  const std::vector<SlotFactory*> oldest(order.end() - 12, order.end());
  const std::vector<SlotFactory*> expected = {&trunk_bri7, &trunk_bri6, &trunk_bri5, &trunk_bri4,
                                              &trunk_bri3, &trunk_bri2, &trunk_bri1, &trunk_bri0,
                                              &trunk3,     &trunk2,     &trunk1,     &trunk0};
  EXPECT_EQ(oldest, expected);
  EXPECT_STREQ(trunk0.GetName(), "Trunks");
  EXPECT_STREQ(trunk_bri5.GetName(), "TrunksBRI");
}

TEST(TrunkFactories, ChannelsAndRefusals) {
  LGCP::CreateParams p;
  LGCP::TrunkParams& t = p.select_trunk();
  t.set_trunk(2);
  t.set_timeslot(5);
  EXPECT_EQ(trunk0.NewSlot(p), nullptr) << "another interface";
  Slot* s = trunk2.NewSlot(p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetTransmitChannel(), 69);
  EXPECT_EQ(s->GetTrunk(), 2);
  EXPECT_EQ(s->GetTrunkTimeSlot(), 5);
  EXPECT_STREQ(s->GetName(), "trunk");
  EXPECT_EQ(trunk2.GetTimeSlotOwner(5), s);
  EXPECT_TRUE(s->BeforeDestroy());
  EXPECT_EQ(trunk2.GetTimeSlotOwner(5), nullptr);
  EXPECT_TRUE(trunk2.GetSlots().empty());
  delete s;
  // The first and the last time slot go free like any other.
  auto edges = [](TrunkFactory& f, LGCP::CreateParams const& params, LGCP::TrunkParams& tp,
                  std::initializer_list<unsigned> timeslots) {
    for (unsigned ts : timeslots) {
      tp.set_timeslot(ts);
      Slot* edge = f.NewSlot(params);
      ASSERT_NE(edge, nullptr) << ts;
      EXPECT_EQ(f.GetTimeSlotOwner(ts), edge) << ts;
      edge->BeforeDestroy();
      EXPECT_EQ(f.GetTimeSlotOwner(ts), nullptr) << ts;
      delete edge;
    }
  };
  edges(trunk2, p, t, {0, 31});

  LGCP::CreateParams b;
  LGCP::TrunkParams& bt = b.select_trunk_bri();
  bt.set_trunk(1);
  bt.set_timeslot(3);
  EXPECT_EQ(trunk1.NewSlot(b), nullptr) << "not the E1 alternative";
  Slot* bri = trunk_bri1.NewSlot(b);
  ASSERT_NE(bri, nullptr);
  EXPECT_EQ(bri->GetReceiveChannel(), 7);
  EXPECT_EQ(bri->GetTrunk(), 1);
  EXPECT_EQ(bri->GetTrunkTimeSlot(), 3);
  EXPECT_STREQ(bri->GetName(), "trunkBRI");
  bt.set_timeslot(4);
  EXPECT_EQ(trunk_bri1.NewSlot(b), nullptr);
  EXPECT_EQ(trunk_bri1.GetTimeSlotOwner(3), bri);
  bri->BeforeDestroy();
  EXPECT_EQ(trunk_bri1.GetTimeSlotOwner(3), nullptr);
  delete bri;
  edges(trunk_bri1, b, bt, {0});
  // Removing a slot that is not listed changes nothing.
  TrunkSlot stray(3);
  trunk_bri1.Remove(&stray);
  EXPECT_TRUE(trunk_bri1.GetSlots().empty());
}

TEST(EchoFactory, DetectedBusesAreReportedAndServed) {
  testsupport::StreamCapture cap;
  EchoFactory& echo = EchoFactory::instance();
  LGCP::CreateParams p;
  LGCP::EchoParams& e = p.select_echo();
  e.set_bus(1);
  e.set_channel(2);
  EXPECT_EQ(echo.NewSlot(p), nullptr);
  echo.SetBusPresent(3, true);
  echo.SetBusPresent(1, true);
  echo.SetBusPresent(0, true);
  LGCP::Resources res;
  echo.Query(res);
  ASSERT_EQ(res.get_echoBus().size(), 3u);
  EXPECT_EQ(res.get_echoBus()[0].getValue(), 0);
  EXPECT_EQ(res.get_echoBus()[1].getValue(), 1);
  EXPECT_EQ(res.get_echoBus()[2].getValue(), 3);
  Slot* s = echo.NewSlot(p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetTransmitChannel(), 34);
  EXPECT_STREQ(s->GetName(), "echo");
  // Channels outside the bus's 32: none, and no overflow of the sum.
  for (int channel : {32, -1, INT_MAX, INT_MIN}) {
    e.set_channel(channel);
    EXPECT_EQ(echo.NewSlot(p), nullptr) << channel;
  }
  for (int channel : {0, 31}) {
    e.set_channel(channel);
    Slot* edge = echo.NewSlot(p);
    ASSERT_NE(edge, nullptr) << channel;
    EXPECT_EQ(edge->GetTransmitChannel(), 32 + channel);
    edge->BeforeDestroy();
    delete edge;
  }
  e.set_bus(-1);
  EXPECT_EQ(echo.NewSlot(p), nullptr) << "bus compared unsigned";
  s->BeforeDestroy();
  delete s;
  echo.Scan();
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "Scanning echo channels ..."));
  LGCP::Resources none;
  echo.Query(none);
  EXPECT_TRUE(none.get_echoBus().empty());
}

}  // namespace
