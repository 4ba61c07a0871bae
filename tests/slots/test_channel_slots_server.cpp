// Black-box: trunk, BRI, map, external and echo slots created, switched and
// destroyed by a controller of the running server; the switch is read
// through the simulator's control socket.
#include "tests/slots/slots_server.h"

using namespace slotstest;
using namespace testsupport;

namespace {

class ChannelSlots : public ServerSuite {
 protected:
  static std::string destroy(int seq, int slot) { return null_command_image(seq, slot, "destroy"); }
  static int count_in_log(const std::string& text) {
    const std::string log = srv().log();
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
};

TEST_F(ChannelSlots, TrunkAndBriTimeSlots) {
  srv().ctl.send("C0 01 01 00 03 08 38 02 28");  // create trunk {2, 5} on slot 3
  EXPECT_EQ(srv().ctl.next(patience_ms), "C0 01 01 00 03 40");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 03 8A 80 01 45");  // transmitter active 69
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 03 89 80 01 45");  // receiver active 69
  EXPECT_EQ(ask({trunk_image(2, 4, 4, 1), trunk_image(3, 4, 0, 4, true), trunk_image(4, 4, 1, 3, true)}, 5),
            (Strings{"seq 2 slot 4 error insufficientResources", "seq 3 slot 4 error insufficientResources",
                     "seq 4 slot 4 success", "slot 4 transmitter active 7", "slot 4 receiver active 7"}));

  // Commands a trunk does not serve.
  EXPECT_EQ(ask({activate_image(5, 3), null_command_image(6, 3, "deactivate"), user_data_image(7, 3, "u"),
                 ioctl_image(8, 3), "C0 01 11 00 03 04 04 00", connect_image(9, 3, 12)},
                6),
            (Strings{"seq 5 slot 3 error unsupported", "seq 6 slot 3 error unsupported",
                     "seq 7 slot 3 error unsupported", "seq 8 slot 3 error unsupported",
                     "seq 17 slot 3 error invalidSlot", "seq 9 slot 3 error slotNotExists"}));

  // Trunk to BRI channel through the switch, both ways.
  EXPECT_EQ(ask({connect_image(10, 3, 4), connect_image(11, 4, 3)}, 2),
            (Strings{"seq 10 slot 3 success", "seq 11 slot 4 success"}));
  EXPECT_EQ(hal("get 7"), "connected 69");
  EXPECT_EQ(hal("get 69"), "connected 7");

  // A second slot on the same time slot removes the first.
  EXPECT_EQ(ask(trunk_image(12, 8, 2, 5), 3),
            (Strings{"seq 12 slot 8 success", "slot 8 transmitter active 69", "slot 8 receiver active 69"}));
  EXPECT_TRUE(srv().wait_log("trunk-slot: two slots require the same timeslot, remove old.\n old slot 03:trunk\n"))
      << srv().log();
  EXPECT_EQ(ask(destroy(13, 3)), Strings{"seq 13 slot 3 error slotNotExists"});
  EXPECT_EQ(hal("get 7"), "byte 213") << "the old trunk's receiver lost its source";
  // Create over a live slot: one success, then the new slot's signals.
  EXPECT_EQ(ask(trunk_image(14, 8, 0, 1), 3),
            (Strings{"seq 14 slot 8 success", "slot 8 transmitter active 1", "slot 8 receiver active 1"}));
  // The time slot went free with its slot: no replacement message now.
  const int removed = count_in_log("remove old.");
  EXPECT_EQ(ask(trunk_image(15, 9, 2, 5), 3),
            (Strings{"seq 15 slot 9 success", "slot 9 transmitter active 69", "slot 9 receiver active 69"}));
  EXPECT_EQ(count_in_log("remove old."), removed);
  EXPECT_EQ(ask({destroy(16, 4), destroy(17, 8), destroy(18, 9)}, 3),
            (Strings{"seq 16 slot 4 success", "seq 17 slot 8 success", "seq 18 slot 9 success"}));
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, MapAndExternalChannels) {
  ask(trunk_image(1, 3, 2, 5), 3);  // channel 69
  // A map with a transmitter only.
  EXPECT_EQ(ask(map_image(2, 4, 8322, -1), 2), (Strings{"seq 2 slot 4 success", "slot 4 transmitter active 8322"}));
  EXPECT_EQ(ask(connect_image(3, 3, 4)), Strings{"seq 3 slot 3 error connectFail"});
  EXPECT_TRUE(srv().wait_log("slot 04:map don't have input stream from 03:trunk\n")) << srv().log();
  // A map whose receiver is that channel removes the older slot.
  EXPECT_EQ(ask(map_image(4, 6, -1, 8322), 2), (Strings{"seq 4 slot 6 success", "slot 6 receiver active 8322"}));
  EXPECT_TRUE(srv().wait_log(
      "map-slot: two slots require the same ipc-slot, remove old.\nnew slot na:map <-> old slot 04:map\n"))
      << srv().log();
  EXPECT_EQ(ask(destroy(5, 4)), Strings{"seq 5 slot 4 error slotNotExists"});

  // An external channel pair: the receive side opens with activate.
  EXPECT_EQ(ask(ext_image(6, 5, 5, 6), 2), (Strings{"seq 6 slot 5 success", "slot 5 transmitter active 8197"}));
  EXPECT_EQ(ask(connect_image(7, 3, 5)), Strings{"seq 7 slot 3 error connectFail"});
  EXPECT_TRUE(srv().wait_log("slot 05:bri don't have input stream from 03:trunk\n"));
  EXPECT_EQ(ask(activate_image(8, 5), 2), (Strings{"slot 5 receiver active 8198", "seq 8 slot 5 success"}));
  EXPECT_EQ(hal("get 8198"), "byte 213");
  EXPECT_EQ(ask(connect_image(9, 3, 5)), Strings{"seq 9 slot 3 success"});
  EXPECT_EQ(hal("get 8198"), "connected 69");
  EXPECT_TRUE(srv().wait_log("mux: slot 03:trunk [69] -> 05:bri [8198]\n"));
  EXPECT_EQ(ask(null_command_image(10, 5, "deactivate"), 2),
            (Strings{"slot 5 receiver inactive", "seq 10 slot 5 success"}));
  EXPECT_EQ(hal("get 8198"), "disabled");

  // The map's receiver: switched, disconnected, destroyed.
  EXPECT_EQ(ask({connect_image(11, 3, 6), null_command_image(12, 6, "disconnect")}, 2),
            (Strings{"seq 11 slot 3 success", "seq 12 slot 6 success"}));
  EXPECT_EQ(hal("get 8322"), "byte 213");
  EXPECT_TRUE(srv().wait_log("mux: disconnect slot 06:map [8322]\n"));
  EXPECT_EQ(ask({connect_image(13, 3, 6), destroy(14, 6)}, 2),
            (Strings{"seq 13 slot 3 success", "seq 14 slot 6 success"}));
  EXPECT_EQ(hal("get 8322"), "disabled");
  EXPECT_TRUE(srv().wait_log("map: disable map channel 130\n"));

  // Echo-canceller buses are not detected: no echo slot.
  EXPECT_EQ(ask(create_image(15, 7,
                             [](LGCP::CreateParams& p) {
                               LGCP::EchoParams& e = p.select_echo();
                               e.set_bus(0);
                               e.set_channel(1);
                             })),
            Strings{"seq 15 slot 7 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("Scanning echo channels ...\n"));
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, MendedEdges) {
  const int internal_errors = count_in_log("internal error"), removals = count_in_log("remove old");
  // External channels outside the shared buses make no slot; 0 and 2047 do.
  EXPECT_EQ(ask({ext_image(1, 5, 2048, 6), ext_image(2, 5, 5, -1), ext_image(3, 5, 2047, 2047),
                 ext_image(40, 12, 6, 2048), ext_image(41, 12, 0, 0)},
                7),
            (Strings{"seq 1 slot 5 error insufficientResources", "seq 2 slot 5 error insufficientResources",
                     "seq 3 slot 5 success", "slot 5 transmitter active 10239",
                     "seq 40 slot 12 error insufficientResources", "seq 41 slot 12 success",
                     "slot 12 transmitter active 8192"}));
  // A map on one channel both ways: one entry, held and given back once.
  EXPECT_EQ(ask(map_image(4, 6, 8200, 8200), 3),
            (Strings{"seq 4 slot 6 success", "slot 6 receiver active 8200", "slot 6 transmitter active 8200"}));
  EXPECT_EQ(ask(destroy(5, 6)), Strings{"seq 5 slot 6 success"});
  EXPECT_EQ(hal("get 8200"), "disabled");
  EXPECT_EQ(ask(map_image(6, 7, 8200, -1), 2), (Strings{"seq 6 slot 7 success", "slot 7 transmitter active 8200"}));
  EXPECT_EQ(count_in_log("internal error"), internal_errors) << srv().log();
  EXPECT_EQ(count_in_log("remove old"), removals) << srv().log();

  // A failed move keeps the old path.
  ask({trunk_image(7, 3, 2, 5), trunk_image(8, 8, 0, 1), map_image(9, 4, -1, 8322)}, 8);
  EXPECT_EQ(ask(connect_image(10, 3, 4)), Strings{"seq 10 slot 3 success"});
  EXPECT_EQ(hal("fail connect 5 1"), "");
  EXPECT_EQ(ask(connect_image(11, 8, 4)), Strings{"seq 11 slot 8 error connectFail"});
  EXPECT_EQ(hal("get 8322"), "connected 69");
  EXPECT_EQ(ask(connect_image(12, 8, 4)), Strings{"seq 12 slot 8 success"});
  EXPECT_EQ(hal("get 8322"), "connected 1");

  // An activation whose idle byte the switch refused is refused and not
  // announced: the receive side stays closed until an activation succeeds.
  EXPECT_EQ(ask(ext_image(13, 11, 9, 10), 2), (Strings{"seq 13 slot 11 success", "slot 11 transmitter active 8201"}));
  EXPECT_EQ(hal("fail write 5 1"), "");
  EXPECT_EQ(ask(activate_image(14, 11)), Strings{"seq 14 slot 11 error unsupported"});
  EXPECT_EQ(ask(connect_image(15, 3, 11)), Strings{"seq 15 slot 3 error connectFail"});
  EXPECT_EQ(ask(activate_image(16, 11), 2), (Strings{"slot 11 receiver active 8202", "seq 16 slot 11 success"}));
  EXPECT_EQ(hal("get 8202"), "byte 213");
  // Activated again while connected: the source keeps feeding it.
  EXPECT_EQ(ask({connect_image(17, 3, 11), activate_image(18, 11)}, 2),
            (Strings{"seq 17 slot 3 success", "seq 18 slot 11 success"}));
  EXPECT_EQ(hal("get 8202"), "connected 69");
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, SlotsSharingAReceiveChannel) {
  // Two external slots on one channel pair: the first opened and fed by a
  // trunk. The second's activate, deactivate and destroy leave that line
  // alone, its receive side closed or open; so does a map's destroy.
  EXPECT_EQ(ask({trunk_image(1, 20, 3, 7), ext_image(2, 21, 20, 21), ext_image(3, 22, 20, 21),
                 activate_image(4, 21), connect_image(5, 20, 21)},
                10)
                .back(),
            "seq 5 slot 20 success");
  EXPECT_EQ(hal("get 8213"), "connected 103");
  EXPECT_EQ(ask(null_command_image(6, 22, "deactivate")), Strings{"seq 6 slot 22 success"});
  EXPECT_EQ(hal("get 8213"), "connected 103") << "deactivate of the closed slot";
  EXPECT_EQ(ask(activate_image(7, 22), 2), (Strings{"slot 22 receiver active 8213", "seq 7 slot 22 success"}));
  EXPECT_EQ(hal("get 8213"), "connected 103") << "activate of the second slot";
  EXPECT_EQ(ask(null_command_image(8, 22, "deactivate"), 2),
            (Strings{"slot 22 receiver inactive", "seq 8 slot 22 success"}));
  EXPECT_EQ(hal("get 8213"), "connected 103") << "deactivate of the open, unconnected slot";
  EXPECT_EQ(ask({ext_image(9, 23, 20, 21), destroy(10, 23)}, 3).back(), "seq 10 slot 23 success");
  EXPECT_EQ(hal("get 8213"), "connected 103") << "destroy of a slot never opened";
  EXPECT_EQ(ask({activate_image(11, 22), destroy(12, 22)}, 3).back(), "seq 12 slot 22 success");
  EXPECT_EQ(hal("get 8213"), "connected 103") << "destroy of the open, unconnected slot";
  EXPECT_EQ(ask({map_image(13, 24, -1, 8213), destroy(14, 24)}, 3).back(), "seq 14 slot 24 success");
  EXPECT_EQ(hal("get 8213"), "connected 103") << "destroy of a map on the channel";
  EXPECT_TRUE(srv().wait_log("map: disable map channel 21\n"));
  // The slot holding the line still gives it up when it goes.
  EXPECT_EQ(ask({destroy(15, 21), destroy(16, 20)}, 2),
            (Strings{"seq 15 slot 21 success", "seq 16 slot 20 success"}));
  EXPECT_EQ(hal("get 8213"), "disabled");
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, SharedReceiveChannelWiredAgain) {
  // Two external slots on one channel pair, both connected: the line is the
  // later connection's. The earlier slot's disconnect, and the destroy of
  // whichever slot no longer holds the line, leave it alone.
  EXPECT_EQ(ask({trunk_image(1, 20, 3, 7), trunk_image(2, 25, 3, 8), ext_image(3, 21, 20, 21), ext_image(4, 22, 20, 21),
                 activate_image(5, 21), activate_image(6, 22), connect_image(7, 20, 21), connect_image(8, 25, 22)},
                16)
                .back(),
            "seq 8 slot 25 success");
  EXPECT_EQ(hal("get 8213"), "connected 104");
  EXPECT_EQ(ask(null_command_image(9, 21, "disconnect")), Strings{"seq 9 slot 21 success"});
  EXPECT_EQ(hal("get 8213"), "connected 104") << "disconnect of the slot whose line was taken over";
  EXPECT_EQ(ask(connect_image(10, 20, 21)), Strings{"seq 10 slot 20 success"});
  EXPECT_EQ(hal("get 8213"), "connected 103");
  EXPECT_EQ(ask(destroy(11, 22)), Strings{"seq 11 slot 22 success"});
  EXPECT_EQ(hal("get 8213"), "connected 103") << "destroy of the connected slot whose line was taken over";
  // The holder still gives the line up when it goes.
  EXPECT_EQ(ask(destroy(12, 21)), Strings{"seq 12 slot 21 success"});
  EXPECT_EQ(hal("get 8213"), "disabled");
  EXPECT_EQ(ask({destroy(13, 20), destroy(14, 25)}, 2), (Strings{"seq 13 slot 20 success", "seq 14 slot 25 success"}));
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, SharedReceiveChannelFedByOneSource) {
  // Two external slots on one receive channel, both fed from one trunk: the
  // line carries that trunk for the later one too, and the earlier one's
  // disconnect leaves it alone. The same with two sources on one transmit
  // channel (two external slots may name the same channels).
  EXPECT_EQ(ask({trunk_image(1, 30, 3, 9), ext_image(2, 31, 30, 31), ext_image(3, 32, 30, 31), activate_image(4, 31),
                 activate_image(5, 32), connect_image(6, 30, 31), connect_image(7, 30, 32)},
                13)
                .back(),
            "seq 7 slot 30 success");
  EXPECT_EQ(hal("get 8223"), "connected 105");
  EXPECT_EQ(ask(null_command_image(8, 31, "disconnect")), Strings{"seq 8 slot 31 success"});
  EXPECT_EQ(hal("get 8223"), "connected 105") << "the line still held by the later slot on the same source";
  EXPECT_EQ(ask(null_command_image(9, 32, "disconnect")), Strings{"seq 9 slot 32 success"});
  EXPECT_EQ(hal("get 8223"), "byte 213");

  EXPECT_EQ(ask({ext_image(10, 33, 40, 41), ext_image(11, 34, 40, 41), connect_image(12, 33, 31),
                 connect_image(13, 34, 32)},
                6)
                .back(),
            "seq 13 slot 34 success");
  EXPECT_EQ(hal("get 8223"), "connected 8232");
  EXPECT_EQ(ask(null_command_image(14, 31, "disconnect")), Strings{"seq 14 slot 31 success"});
  EXPECT_EQ(hal("get 8223"), "connected 8232") << "the line still held by the slot fed from the same channel";
  EXPECT_EQ(ask({destroy(15, 34), destroy(16, 33), destroy(17, 32), destroy(18, 31), destroy(19, 30)}, 5).back(),
            "seq 19 slot 30 success");
  EXPECT_EQ(hal("get 8223"), "disabled");
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, FailedMoveOnASharedReceiveChannel) {
  // Two external slots on one receive channel, the later one's connection
  // on the line. Moving the earlier one to another source fails in the
  // switch: the line stays the later one's, not the earlier one's old path.
  EXPECT_EQ(ask({trunk_image(1, 40, 3, 11), trunk_image(2, 41, 3, 12), trunk_image(3, 42, 3, 13),
                 ext_image(4, 43, 50, 51), ext_image(5, 44, 52, 51), activate_image(6, 43), activate_image(7, 44),
                 connect_image(8, 40, 43), connect_image(9, 41, 44)},
                19)
                .back(),
            "seq 9 slot 41 success");
  EXPECT_EQ(hal("get 8243"), "connected 108");
  ASSERT_EQ(hal("fail connect 5 1"), "");
  EXPECT_EQ(ask(connect_image(10, 42, 43)), Strings{"seq 10 slot 42 error connectFail"});
  ASSERT_EQ(hal("fail connect 0"), "");
  EXPECT_EQ(hal("get 8243"), "connected 108") << "the failed move took the line from the slot holding it";
  EXPECT_EQ(ask({destroy(11, 44), destroy(12, 43), destroy(13, 42), destroy(14, 41), destroy(15, 40)}, 5).back(),
            "seq 15 slot 40 success");
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(ChannelSlots, QueryAndALostController) {
  srv().ctl.send("80 01 02 00");
  EXPECT_EQ(srv().ctl.next(patience_ms), "80 01 02 40");
  EXPECT_EQ(srv().ctl.next(patience_ms),
            "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 04 00 80 01 00 01 00 01 00 00 01 00 01 02 01 00 01 00");

  ask({trunk_image(1, 3, 2, 5), map_image(2, 6, 8193, 8322), ext_image(3, 5, 5, 6), activate_image(4, 5),
       connect_image(5, 3, 6), connect_image(6, 6, 5)},
      12);
  EXPECT_EQ(hal("list"), "8198 8193\n8322 69");
  srv().ctl.close();
  Strings answer;
  EXPECT_TRUE(eventually([&] {
    if (!srv().reconnect()) return false;
    srv().ctl.send(null_command_image(7, -1, "ping"));
    answer = frames(1);
    return answer == Strings{"seq 7 success"};
  }));
  EXPECT_EQ(hal("get 8322"), "disabled");
  EXPECT_EQ(hal("get 8198"), "disabled");
  EXPECT_EQ(hal("list"), "");
  const int removals = count_in_log("remove old");
  // Every slot went, and with them their time slots and channels.
  EXPECT_EQ(ask({destroy(8, 3), destroy(9, 5), destroy(10, 6)}, 3),
            (Strings{"seq 8 slot 3 error slotNotExists", "seq 9 slot 5 error slotNotExists",
                     "seq 10 slot 6 error slotNotExists"}));
  EXPECT_EQ(ask({trunk_image(11, 9, 2, 5), map_image(12, 10, 8193, 8322)}, 6),
            (Strings{"seq 11 slot 9 success", "slot 9 transmitter active 69", "slot 9 receiver active 69",
                     "seq 12 slot 10 success", "slot 10 receiver active 8322", "slot 10 transmitter active 8193"}));
  EXPECT_EQ(count_in_log("remove old"), removals) << srv().log();
}

TEST_F(ChannelSlots, BurstOfThreeThousandCommands) {
  // Slot k: map with transmitter 8192 + k and receiver 8192 + 1024 + k,
  // connected to slot k + 1; then all destroyed. One write.
  Strings images;
  int seq = 1;
  for (int k = 0; k < 1024; ++k) images.push_back(map_image(seq++, k, 8192 + k, 8192 + 1024 + k));
  for (int k = 0; k < 1024; ++k) images.push_back(connect_image(seq++, k, (k + 1) % 1024));
  for (int k = 0; k < 1024; ++k) images.push_back(destroy(seq++, k));
  const Strings got = ask(images, 3072 + 2048);
  ASSERT_EQ(got.size(), 5120u);
  int successes = 0, streams = 0, next_seq = 1;
  for (const auto& f : got) {
    if (f.find(" success") != std::string::npos) {
      ++successes;
      const int s = std::atoi(f.c_str() + 4);
      EXPECT_EQ(s, next_seq) << f;
      next_seq = s + 1;
    } else if (f.find(" active ") != std::string::npos) {
      ++streams;
    }
  }
  EXPECT_EQ(successes, 3072);
  EXPECT_EQ(streams, 2048);
  EXPECT_EQ(hal("list"), "");
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
