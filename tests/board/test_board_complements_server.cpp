// Black-box: the server started on boards built with another hardware
// complement than the simulator's default (fewer or more E1 framers, no
// basic-rate module, mixer units with few or no channels, missing DSP
// units, an HDLC controller without channels, no modems, other DIP and
// power bytes). Each row of the table is one server run on such a board,
// with one controller connection and one monitoring agent: the start-up
// lines, the status reports of the trunks that exist, the resources
// report, creates that need hardware the board lacks, CAS and clock
// commands, and what the monitoring tells its agents. Real time, every
// wait bounded.
#include "tests/board/board_lgcp.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Strings = std::vector<std::string>;
using testsupport::RunningServer;
using testsupport::SnmpTestAgent;

void write_file(const std::string& path, const std::string& text) {
  for (std::string::size_type i = 1; i < path.size(); ++i)
    if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
  std::ofstream(path) << text;
}

const char framer_text[] =
    "Current state           : Connected\n"
    "Loss of Signal          : no\n"
    "Loss of Frame Alignment : no\n";

// The resources report as one line: "rtp G729/G723/G711/G711MCC/UNIVERSAL
// modem DSP/DIGITAL mcc DATA/BRI/TRANS t38 N lin16 N mux B echo BUSES mixer
// UNIT:TDM_IN/TDM_OUT/MIXER_IN ..." ("-" for an empty list).
std::string resources_text(const LGCP::Resources& r) {
  std::ostringstream s;
  s << "rtp " << r.get_rtp_g729().getValue() << "/" << r.get_rtp_g723().getValue() << "/" << r.get_rtp_g711().getValue()
    << "/" << r.get_rtp_g711mcc().getValue() << "/" << r.get_universal().getValue() << " modem "
    << r.get_modem().getValue() << "/" << r.get_digital_modems().getValue() << " mcc " << r.get_mcc_data().getValue()
    << "/" << r.get_mcc_bri().getValue() << "/" << r.get_mcc_trans().getValue() << " t38 "
    << r.get_t38_instances().getValue() << " lin16 " << r.get_lin16().getValue() << " mux "
    << (static_cast<bool>(r.get_mux()) ? 1 : 0) << " echo";
  if (r.get_echoBus().size() == 0) s << " -";
  for (std::size_t i = 0; i < r.get_echoBus().size(); ++i) s << " " << r.get_echoBus()[i].getValue();
  s << " mixer";
  if (r.get_mixer().size() == 0) s << " -";
  for (std::size_t i = 0; i < r.get_mixer().size(); ++i) {
    const LGCP::MixerResources_subtype& m = r.get_mixer()[i];
    s << " " << m.get_unit().getValue() << ":" << m.get_tdm_inputs().getValue() << "/" << m.get_tdm_outputs().getValue()
      << "/" << m.get_mixer_inputs().getValue();
  }
  if (r.drvVersion_isPresent()) s << " drvVersion";
  return s.str();
}

// A frame as text: answers and slot signals as the slot tests write them,
// trunk status and CAS as the board tests do, the resources report as above.
std::string text(const std::string& frame) {
  LGCP::Message m;
  if (!testsupport::decode(frame, m)) return "undecodable " + frame;
  if (m.get_pdu().signal_isSelected()) {
    const LGCP::Signal& sig = m.get_pdu().get_signal();
    if (sig.query_isSelected()) return "query " + resources_text(sig.get_query());
    if (sig.trunkStatus_isSelected() || sig.cas_isSelected()) return boardtest::describe(frame);
    if (sig.power_isSelected()) return "power " + std::to_string(sig.get_power().asInt());
  }
  return testsupport::describe(frame);
}

bool is_status(const std::string& s) { return s.rfind("e1 ", 0) == 0 || s.rfind("bri ", 0) == 0; }

// The trunk numbers of the reports of one type, ascending, as "0 1 2".
std::string trunks_of(const Strings& frames, const std::string& type) {
  std::set<int> seen;
  for (const auto& f : frames)
    if (f.rfind(type + " ", 0) == 0) seen.insert(std::atoi(f.c_str() + type.size() + 1));
  std::string out;
  for (int t : seen) out += (out.empty() ? "" : " ") + std::to_string(t);
  return out;
}

std::string mcc_image(int seq, int slot) {
  return testsupport::create_image(seq, slot, [](LGCP::CreateParams& p) {
    LGCP::MccParams& m = p.select_mcc();
    m.set_type(LGCP::MccType::data);
    m.set_mode(LGCP::MccMode::standard);
  });
}

std::string echo_image(int seq, int slot, int bus) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::EchoParams& e = p.select_echo();
    e.set_bus(static_cast<unsigned>(bus));
    e.set_channel(1);
  });
}

std::string cas_open(int seq, int trunk, int timeslot) { return boardtest::cas_image(seq, trunk, timeslot, "open", 3); }

// One command and the frames it brings, status reports passed by.
struct Exchange {
  std::string image;
  Strings frames;
};

struct Complement {
  const char* name;
  // The simulator's complement file (control-socket requests).
  std::string board;
  // Framer status files 0 .. framers-1 under the driver's directory.
  int framers;
  // Lines of the server's output at start.
  Strings start;
  // Trunks of the E1 and basic-rate status reports ("" for none).
  std::string e1, bri;
  std::string resources;
  // Commands after the resources query. A create refused leaves no slot:
  // each one is followed by a destroy that finds none.
  std::vector<Exchange> commands;
  // The clock select the last clockCfg left ("hal clock").
  std::string clock;
  // What the monitoring tells its agents: framer indexes, DIP, power.
  std::string framer_items, dip, power;
  // Control-socket requests after the commands, with their answers.
  std::vector<std::pair<std::string, std::string>> board_after = {};
};

std::string hundred_units() {
  std::string out;
  for (int u = 0; u < 100; ++u) out += " " + std::to_string(u) + ":32/32/64";
  return out;
}

std::string units_to_add(int count) {
  std::string out;
  for (int u = 0; u < count; ++u) out += "mixer add " + std::to_string(u) + " 32 64\n";
  return out;
}

std::vector<Complement> complements() {
  using mixertest::in_image;
  using mixertest::out_image;
  return {
      {"Smallest",
       "# The least a board has: one E1 framer, no basic-rate module (no SPI\n"
       "# bus: ENODEV), no mixer, no DSP units, no voice or RTP device, an HDLC\n"
       "# controller with no free channel (ENOSPC), no modems, no HDLC\n"
       "# interfaces.\n"
       "hal fail spi-read 19\n"
       "hal fail spi-write 19\n"
       "e1 status 1 error 19\n"
       "e1 status 2 error 19\n"
       "e1 status 3 error 19\n"
       "cas trunks 1\n"
       "hal clock absent 1 2 3\n"
       "devices absent /dev/mixer\n"
       "devices absent /dev/dtmf\n"
       "devices absent /dev/dsp\n"
       "devices absent /dev/voice\n"
       "devices absent /dev/rtp\n"
       "mcc fail allocate 28\n"
       "mctl pool 0\n"
       "net del hdlc0\n"
       "net del hdlc1\n"
       "hal dip 0\n"
       "hal power 1\n",
       1,
       {"spi: try init\n", "spi: hal without spi\n", "Scanning echo channels ...\n",
        "E1: synchronization status read fail, trunk = 3 cause = ", "\"/dev/voice\" open fail: "},
       "0",
       "",
       "rtp 0/0/0/0/0 modem 0/0 mcc 0/0/0 t38 0 lin16 0 mux 1 echo - mixer -",
       {{in_image(2, 10, 0, {0}), {"seq 2 slot 10 error insufficientResources"}},
        {out_image(3, 11, 0, {0}), {"seq 3 slot 11 error insufficientResources"}},
        {mcc_image(4, 12), {"seq 4 slot 12 error insufficientResources"}},
        {echo_image(5, 13, 0), {"seq 5 slot 13 error insufficientResources"}},
        {mixertest::create(15, 18,
                           rtptest::rtp_params(TERM::Payload::ptG711_Ulaw, "127.0.0.1", 40000,
                                               TERM::Payload::ptG711_Ulaw, TERM::Payload::ptG711_Ulaw)),
         {"seq 15 slot 18 error insufficientResources"}},
        {testsupport::trunk_image(6, 14, 4, 1), {"seq 6 slot 14 error insufficientResources"}},
        // The trunk factories are the board's whatever its framers.
        {testsupport::trunk_image(7, 15, 0, 1),
         {"seq 7 slot 15 success", "slot 15 transmitter active 1", "slot 15 receiver active 1"}},
        // CAS on the framer there, and on one the board lacks: the
        // driver's refusal comes back as the trunk's CAS status.
        {cas_open(8, 0, 5), {"cas 0 0 rx 0 tx 0", "cas 0 5 rx 0 tx 3", "seq 8 success"}},
        {cas_open(9, 2, 5), {"cas 2 0 rx -1 tx 0", "seq 9 success"}},
        // The clock of a framer the board lacks is refused, not taken as set.
        {boardtest::clock_image(10, false, true, 0), {"seq 10 success"}},
        {boardtest::clock_image(11, false, true, 3), {"seq 11 error internal"}},
        // The shared buses are there whatever else the board lacks: their
        // first and last channels.
        {testsupport::map_image(12, 16, 8192, -1), {"seq 12 slot 16 success", "slot 16 transmitter active 8192"}},
        {testsupport::map_image(13, 17, -1, 10239), {"seq 13 slot 17 success", "slot 17 receiver active 10239"}},
        {testsupport::connect_image(14, 16, 17), {"seq 14 slot 16 success"}}},
       "source 0 selects 2",
       "1",
       "0",
       "1",
       {{"hal get 10239", "connected 8192"}}},
      {"Mixed",
       "# Two E1 framers and the basic-rate module; a mixer unit whose TDM\n"
       "# channels are none beside one that has some; the tone unit without\n"
       "# the voice-processing unit; a few HDLC channels, one modem, one\n"
       "# HDLC interface; only G.711 over the HDLC controller.\n"
       "e1 status 2 error 19\n"
       "e1 status 3 error 19\n"
       "cas trunks 2\n"
       "mixer add 3 0 0\n"
       "mixer add 7 8 16\n"
       "dsp fail open 19\n"
       "mcc resources 4 2 1\n"
       "mctl pool 1\n"
       "net del hdlc1\n"
       "voice 8 30\n"
       "hal dip 65\n"
       "hal power 0\n"
       "# A request the simulator refuses is reported; the others stand.\n"
       "hal dip 300\n",
       2,
       {"spi: enable channel 7\n", "found point-o-point devices: hdlc0\n",
        "sim: /sim-board line 18: hal dip 300: error "},
       "0 1",
       "0 1 2 3 4 5 6 7",
       "rtp 0/0/0/30/0 modem 1/1 mcc 4/2/1 t38 0 lin16 0 mux 1 echo - mixer 3:0/0/0 7:0/0/0",
       {// Both units count the smaller channel number: none.
        {in_image(2, 10, 3, {0}), {"seq 2 slot 10 error insufficientResources"}},
        {out_image(3, 11, 7, {0}), {"seq 3 slot 11 error insufficientResources"}},
        {mcc_image(4, 12), {"seq 4 slot 12 success"}},
        {testsupport::trunk_image(5, 13, 7, 3, true),
         {"seq 5 slot 13 success", "slot 13 transmitter active 31", "slot 13 receiver active 31"}},
        {cas_open(6, 1, 0), {"cas 1 0 rx 0 tx 0", "seq 6 success"}},
        {cas_open(7, 2, 0), {"cas 2 0 rx -1 tx 0", "seq 7 success"}},
        {boardtest::clock_image(8, true, true, 2), {"seq 8 success"}}},
       "source 4 selects 2",
       "1 2",
       "65",
       "3"},
      {"OneChannelMixer",
       "# Three E1 framers; one mixer unit of a single channel; the tone unit\n"
       "# without the voice-processing unit.\n"
       "e1 status 3 error 19\n"
       "cas trunks 3\n"
       "mixer add 0 1 1\n"
       "devices absent /dev/dsp\n"
       "hal dip 128\n"
       "hal power 2\n",
       3,
       {"spi: enable channel 7\n"},
       "0 1 2",
       "0 1 2 3 4 5 6 7",
       "rtp 0/0/0/0/0 modem 4/2 mcc 0/0/0 t38 0 lin16 0 mux 1 echo - mixer 0:1/1/1",
       {{out_image(2, 10, 0, {0}), {"seq 2 slot 10 success"}},
        {in_image(3, 11, 0, {0}), {"seq 3 slot 11 success"}},
        {in_image(4, 12, 0, {1}), {"seq 4 slot 12 error insufficientResources"}},
        {out_image(5, 12, 0, {1}), {"seq 5 slot 12 error insufficientResources"}},
        // Tone detection on the unit there; voice activity needs the unit
        // the board lacks.
        {mixertest::ioctl(6, 11, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }), {"seq 6 slot 11 success"}},
        {mixertest::ioctl(7, 11, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); }),
         {"seq 7 slot 11 error unsupported"}},
        {cas_open(8, 2, 0), {"cas 2 0 rx 0 tx 0", "seq 8 success"}},
        {cas_open(9, 3, 0), {"cas 3 0 rx -1 tx 0", "seq 9 success"}},
        // The unit's one channel on the cross-connect, both ways.
        {testsupport::trunk_image(10, 14, 2, 1),
         {"seq 10 slot 14 success", "slot 14 transmitter active 65", "slot 14 receiver active 65"}},
        {testsupport::connect_image(11, 14, 11), {"slot 11 receiver active 2048", "seq 11 slot 14 success"}},
        {testsupport::connect_image(12, 10, 14), {"slot 10 transmitter active 2048", "seq 12 slot 10 success"}}},
       "source 4 selects 1",
       "1 2 3",
       "128",
       "2",
       {{"hal get 2048", "connected 65"}, {"hal get 65", "connected 2048"}}},
      {"BasicRateOnly",
       "# No E1 module at all: no maintenance or CAS device, no E1 framer\n"
       "# lines to take the clock from; the basic-rate module only.\n"
       "devices absent /dev/maintenance\n"
       "devices absent /dev/e1-cas\n"
       "hal clock absent 0 1 2 3\n"
       "hal dip 3\n",
       0,
       {"spi: enable channel 7\n"},
       "",
       "0 1 2 3 4 5 6 7",
       "rtp 0/0/0/0/0 modem 4/2 mcc 0/0/0 t38 0 lin16 0 mux 1 echo - mixer -",
       {// What needs the E1 devices is refused, not answered as done.
        {boardtest::trunk_image(2, 0, true), {"seq 2 error internal"}},
        {cas_open(3, 0, 1), {"seq 3 error internal"}},
        {boardtest::clock_image(4, false, true, 1), {"seq 4 error internal"}},
        {boardtest::clock_image(5, false, false, 0), {"seq 5 success"}},
        {testsupport::trunk_image(6, 10, 0, 2, true),
         {"seq 6 slot 10 success", "slot 10 transmitter active 2", "slot 10 receiver active 2"}}},
       "source 5 selects 2",
       "",
       "3",
       "2"},
      {"Largest",
       "# Every E1 framer and a fifth status file the server never watches;\n"
       "# a hundred and one mixer units, of which the server takes a hundred;\n"
       "# the HDLC controller's counts at their largest; all codecs; many\n"
       "# modems and HDLC interfaces.\n" +
           units_to_add(101) +
           "mcc resources 2147483647 2147483647 2147483647\n"
           "voice 4 120\nvoice 2 60\nvoice 1 240\nvoice 8 480\nvoice 65 960\n"
           "mctl pool 64\n"
           "net add hdlc2 0x11\nnet add hdlc3 0x11\n"
           "hal dip 255\n"
           "hal power 7\n",
       5,
       {"spi: enable channel 7\n", "found point-o-point devices: hdlc0 hdlc1 hdlc2 hdlc3\n"},
       "0 1 2 3",
       "0 1 2 3 4 5 6 7",
       "rtp 120/60/240/480/960 modem 64/4 mcc 2147483647/2147483647/2147483647 t38 0 lin16 0 mux 1 echo - "
       "mixer" +
           hundred_units(),
       {{out_image(2, 10, 99, {31}), {"seq 2 slot 10 success"}},
        {in_image(3, 11, 99, {31}), {"seq 3 slot 11 success"}},
        {in_image(4, 12, 99, {32}), {"seq 4 slot 12 error insufficientResources"}},
        // The hundred-and-first unit is not taken.
        {in_image(5, 13, 100, {0}), {"seq 5 slot 13 error insufficientResources"}},
        {cas_open(6, 3, 31), {"cas 3 0 rx 0 tx 0", "cas 3 31 rx 0 tx 3", "seq 6 success"}},
        {boardtest::clock_image(7, false, true, 7), {"seq 7 success"}},
        // The last channel of the last unit taken, on the cross-connect.
        {testsupport::trunk_image(8, 14, 3, 31),
         {"seq 8 slot 14 success", "slot 14 transmitter active 127", "slot 14 receiver active 127"}},
        {testsupport::connect_image(9, 14, 11), {"slot 11 receiver active 5247", "seq 9 slot 14 success"}},
        {testsupport::connect_image(10, 10, 14), {"slot 10 transmitter active 5247", "seq 10 slot 10 success"}}},
       "source 7 selects 2",
       "1 2 3 4",
       "255",
       "0",
       // Unit 99's block of 32 switch channels follows the 99 before it.
       {{"hal get 5247", "connected 127"}, {"hal get 127", "connected 5247"}}},
  };
}

void PrintTo(const Complement& c, std::ostream* os) { *os << c.name; }

class BoardComplements : public ::testing::TestWithParam<Complement> {};

TEST_P(BoardComplements, StartsReportsAndRefusesWhatIsNotThere) {
  const Complement& c = GetParam();
  SnmpTestAgent agent(true);
  RunningServer srv({}, [&](const std::string& root) {
    write_file(root + "/sim-board", c.board);
    for (int n = 0; n < c.framers; ++n)
      write_file(root + "/proc/driver/hdlc/peb22554/" + std::to_string(n), framer_text);
    write_file(root + "/usr/local/etc/server.conf",
               "[traces]\nmonitoring.internal = true\n[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) +
                   "\nname = zarngw\n");
    write_file(root + "/var/version", "G-1\n");
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  EXPECT_TRUE(srv.wait_log("Starting server [")) << srv.log();
  EXPECT_TRUE(srv.wait_log("], port=" + std::to_string(srv.port) + "\n")) << srv.log();
  for (const auto& line : c.start) EXPECT_TRUE(srv.wait_log(line)) << line << "\n" << srv.log();
  // The complement file was taken whole, but for the refusals expected.
  std::size_t refusals = 0;
  for (const auto& line : c.start) refusals += line.rfind("sim: ", 0) == 0;
  std::size_t reported = 0;
  const std::string log = srv.log();
  for (auto at = log.find("sim: /sim-board"); at != std::string::npos; at = log.find("sim: /sim-board", at + 1))
    ++reported;
  EXPECT_EQ(reported, refusals) << log;

  // Two seconds of status reports: only the trunks the board has.
  const auto pass_by = srv.ctl.drop;
  srv.ctl.drop = nullptr;
  Strings reports;
  const std::int64_t until = testsupport::real_ms() + 2500;
  while (testsupport::real_ms() < until)
    for (const auto& f : srv.ctl.frames(100)) reports.push_back(text(f));
  srv.ctl.drop = pass_by;
  EXPECT_EQ(trunks_of(reports, "e1"), c.e1);
  EXPECT_EQ(trunks_of(reports, "bri"), c.bri);

  // The resources report: exactly what the board has.
  srv.ctl.send(testsupport::null_command_image(1, -1, "query"));
  Strings got;
  while (got.size() < 2) {
    const std::string f = srv.ctl.next(testsupport::patience_ms);
    if (f.empty()) break;
    got.push_back(text(f));
  }
  EXPECT_EQ(got, (Strings{"seq 1 success", "query " + c.resources}));

  for (const auto& x : c.commands) {
    srv.ctl.send(x.image);
    Strings frames;
    while (frames.size() < x.frames.size()) {
      const std::string f = srv.ctl.next(testsupport::patience_ms);
      if (f.empty()) break;
      if (!is_status(text(f))) frames.push_back(text(f));
    }
    EXPECT_EQ(frames, x.frames);
    LGCP::Message m;
    ASSERT_TRUE(testsupport::decode(x.image, m));
    if (!m.get_pdu().get_command().create_isSelected() || x.frames[0].find("error") == std::string::npos) continue;
    const int slot = static_cast<int>(m.get_slot().getValue());
    srv.ctl.send(testsupport::null_command_image(90, slot, "destroy"));
    EXPECT_EQ(text(srv.ctl.next(testsupport::patience_ms)),
              "seq 90 slot " + std::to_string(slot) + " error slotNotExists");
  }
  // A refused HDLC channel was given back.
  if (c.name == std::string("Smallest")) {
    EXPECT_EQ(srv.sim.ask("devices").find("/dev/mcc/ctl"), std::string::npos);
  }
  EXPECT_EQ(srv.sim.ask("hal clock"), c.clock);
  for (const auto& q : c.board_after) EXPECT_EQ(srv.sim.ask(q.first), q.second) << q.first;

  // A hangup signal sends the report unasked, the same with the slots made
  // (none of them aborted).
  srv.process->signal(SIGHUP);
  Strings unasked;
  while (unasked.empty() || unasked.back().rfind("query", 0) != 0) {
    const std::string f = srv.ctl.next(testsupport::patience_ms);
    if (f.empty()) break;
    if (!is_status(text(f))) unasked.push_back(text(f));
  }
  EXPECT_EQ(unasked, Strings{"query " + c.resources});
  // The monitoring: framer items for the framers there, DIP and power.
  EXPECT_TRUE(agent.wait([&] {
    const auto dip = agent.values_of("gatewayDip");
    return !dip.empty() && dip.back().value == c.dip && srv.log().find("BuildVersion - ") != std::string::npos;
  })) << srv.log();
  std::set<int> indexes;
  for (const auto& v : agent.values_of("e1Connected")) indexes.insert(v.index);
  std::string watched;
  for (int i : indexes) watched += (watched.empty() ? "" : " ") + std::to_string(i);
  EXPECT_EQ(watched, c.framer_items);
  const auto power = agent.values_of("powerStatus");
  EXPECT_EQ(power.empty() ? "none" : power.back().value, c.power);
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/dip")), c.dip);
  // A supply byte past the known ones is `unknown`, as stored at start: no
  // change, so no status file.
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/powerstatus")), c.power == "0" ? "" : c.power);
  // No framer is looked for that the board does not have.
  EXPECT_EQ(srv.log().find("Error open file"), std::string::npos) << srv.log();
  EXPECT_EQ(srv.stop(), 0) << srv.log();
}

INSTANTIATE_TEST_SUITE_P(Table, BoardComplements, ::testing::ValuesIn(complements()),
                         [](const ::testing::TestParamInfo<Complement>& i) { return std::string(i.param.name); });

}  // namespace
