// Black-box runs of the server with SNMP agents listening: the full push
// when a link connects, the board checks on their timers, the power signal,
// the display command (files, LEDs, forwarded values, refused names) and
// the status tree. Real time: the checks run at 1 s, 2 s and 5 s.
#include "asn1/asn1.h"
#include "board/monitoring/monitoring_data_holder.h"
#include "board/snmp/snmp_agent_ctrl.h"
#include "schema/lgcp/LGCP.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <iterator>

namespace {

using testsupport::SnmpTestAgent;

void write_file(const std::string& path, const std::string& text) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::string cmd = "mkdir -p '" + dir + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ofstream(path) << text;
}

std::string encode(const LGCP::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
  return testsupport::hex(out);
}

std::string display(int seq, const LGCP::DisplayParams& p) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_pdu().select_command().select_display(p);
  return encode(m);
}

std::string power_signal(LGCP::POWERStatus::NamedNumber s) {
  LGCP::Message m;
  m.set_pdu().select_signal().select_power(s);
  return encode(m);
}

std::string answer(int seq, bool ok, LGCP::ErrorCause::NamedNumber cause = LGCP::ErrorCause::invalidParams) {
  LGCP::Message m;
  m.set_seq(seq);
  if (ok)
    m.set_pdu().select_response().select_success();
  else
    m.set_pdu().select_response().select_error(cause);
  return encode(m);
}

// The last value of an item, "?" when none came.
std::string last(const SnmpTestAgent& a, const std::string& name, int index = -1) {
  auto v = a.values_of(name, index);
  return v.empty() ? "?" : v.back().value;
}

bool is_link(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

const char framer_text[] =
    "Framer 0\n"
    "Current state           : Connected\n"
    "Loss of Signal          : no\n"
    "Loss of Frame Alignment : no\n"
    "Receive Slip Negative   : 3\n"
    "Receive Slip Positive   : 4\n";

}  // namespace

TEST(MonitoringServer, PushesChecksDisplaysAndStatusTree) {
  SnmpTestAgent zarngw(true), dovr(true);
  testsupport::RunningServer srv({}, [&](const std::string& root) {
    write_file(root + "/usr/local/etc/server.conf",
               "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(zarngw.port()) +
                   "\nname = zarngw\n[snmpagent]\nhost = 127.0.0.1:" + std::to_string(dovr.port()) +
                   "\nname = dovr\n[snmpagent]\nhost = 127.0.0.1:1\nname = other\n");
    write_file(root + "/usr/local/etc/config.0000002a-00000000000000ff", "");
    write_file(root + "/usr/local/etc/config.2save.tar.bz2", "");
    // A directory is no configuration, whatever its name.
    write_file(root + "/usr/local/etc/config.00000063-0000000000000001/x", "");
    write_file(root + "/var/version", "G-5.1\n");
    write_file(root + "/var/u-boot-version", "U-1\n");
    write_file(root + "/var/fpga-version", "F-2");
    write_file(root + "/proc/voice/version", "drv 1.4.2 r5\n");
    write_file(root + "/proc/driver/hdlc/peb22554/0", framer_text);
    write_file(root + "/var/monitoring/dip", "77");
    write_file(root + "/var/monitoring/term_cnts/router", "9");
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  srv.ctl.keep_power_signals = true;
  // The power byte 0 means both supplies; the first power check is at 2 s.
  ASSERT_EQ(srv.sim.ask("hal power 0"), "");
  const std::string netifs = srv.sim.ask("netif list");
  ASSERT_FALSE(netifs.empty());
  const int ifindex = std::atoi(netifs.c_str());
  ASSERT_EQ(srv.sim.ask("netif set " + std::to_string(ifindex) + " up"), "");

  // The full push: stored values as they are when the link comes up. The
  // controller's connect may come first (its power check sends "main" to the
  // links already up), so the push is found by its driver build, sent only
  // there, and judged by the value stored before it.
  ASSERT_TRUE(zarngw.wait([&] {
    const auto build = zarngw.values_of("driverBuild");
    if (build.empty()) return false;
    for (const auto& v : zarngw.values_of("powerStatus"))
      if (v.frame == build[0].frame + 1) return true;
    return false;
  })) << srv.log();
  {
    const int push = zarngw.values_of("driverBuild")[0].frame;
    auto in_push = [&](const std::string& name, int index = -1) {
      std::vector<SnmpTestAgent::Value> out;
      for (const auto& v : zarngw.values_of(name, index))
        if (v.frame == push || v.frame == push + 1) out.push_back(v);
      return out;
    };
    auto all_power = zarngw.values_of("powerStatus");
    auto power = in_push("powerStatus");
    ASSERT_EQ(power.size(), 2u);
    EXPECT_EQ(power[1].uniq, power[0].uniq + 1);
    EXPECT_EQ(power[0].section, "gatewayCommon");
    EXPECT_EQ(power[0].index, 0);
    // "0" as stored at start, "main" when the controller's check came first,
    // "both" when the 2 s check did (a very slow link); then as that check
    // told this link, if it was up to hear it.
    EXPECT_TRUE(power[0].value == "0" || power[0].value == "2" || power[0].value == "3") << power[0].value;
    for (const auto& v : all_power) {
      if (v.frame < push) { EXPECT_EQ(power[0].value, v.value); }
    }
    // Batch 2, then batch 4, each its own message.
    EXPECT_EQ(power[1].frame, power[0].frame + 1);
    EXPECT_EQ(in_push("driverBuild")[0].value, "1.4.2 [r5]");
    // Stored values as they are before the first checks, or as those checks
    // found them when the link came up later than they ran.
    const auto stored = [&](const std::string& name, int index, const std::string& at_start,
                            const std::string& checked) {
      const std::string v = in_push(name, index)[0].value;
      EXPECT_TRUE(v == at_start || v == checked) << name << ": " << v;
    };
    stored("gatewayDip", -1, "4294967295", "0");
    stored("gatewayConfigVersion", -1, "4294967295", "42");
    stored("sgBuildVersion", -1, "", "G-5.1");
    stored("e1StatusDsc", 1, "absent", "Connected");
    EXPECT_EQ(in_push("e1StatusDsc", 1).size(), 1u);  // mask 2: batch 2 only
    EXPECT_EQ(in_push("sgBuildVersion").size(), 1u);   // mask 4: batch 4 only
  }
  ASSERT_TRUE(dovr.wait([&] { return !dovr.values_of("powerStatus").empty(); })) << srv.log();

  // The checks: versions, configuration version and framers at 1 s; power,
  // DIP and interfaces at 2 s.
  auto ups = [&] {
    int n = 0;
    for (const auto& v : zarngw.values_of("ifOperStatus", ifindex)) n += v.value == "1";
    return n;
  };
  // Both batches of the change.
  ASSERT_TRUE(zarngw.wait([&] { return ups() >= 2; })) << srv.log();
  EXPECT_EQ(last(zarngw, "sgBuildVersion"), "G-5.1");  // without the line end
  EXPECT_EQ(last(zarngw, "sgBootVersion"), "U-1");
  EXPECT_EQ(last(zarngw, "sgFPGAVersion"), "F-2");
  EXPECT_EQ(last(zarngw, "gatewayConfigVersion"), "42");
  EXPECT_EQ(last(zarngw, "e1StatusDsc", 1), "Connected");
  EXPECT_EQ(last(zarngw, "e1NegSlipCount", 1), "3");
  EXPECT_EQ(last(zarngw, "powerStatus"), "3");
  EXPECT_EQ(last(zarngw, "gatewayDip"), "0");
  for (const auto& v : zarngw.values_of("gatewayConfigVersion")) EXPECT_NE(v.value, "99");
  {
    // The first running sample gives "down", the second "up".
    auto oper = zarngw.values_of("ifOperStatus", ifindex);
    ASSERT_GE(oper.size(), 4u);
    EXPECT_EQ(oper[oper.size() - 4].value, "2");
    EXPECT_EQ(oper[oper.size() - 2].value, "1");
  }
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/config_version")), "0000002a-00000000000000ff");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/powerstatus")), "3");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/dip")), "0");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/term_cnts/router")), "9");
  EXPECT_NE(srv.log().find("snmpagent: "), std::string::npos) << srv.log();
  // The working directory is now the configuration directory.
  char cwd[4096];
  const std::string link = "/proc/" + std::to_string(srv.process->pid()) + "/cwd";
  const ssize_t n = ::readlink(link.c_str(), cwd, sizeof cwd - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(cwd, static_cast<std::size_t>(n)), srv.board("/usr/local/etc"));
  // The gateway's own controller directory and its "self" link.
  EXPECT_TRUE(is_link(srv.board("/var/monitoring/controller/self")));

  // Power signals: the connect found a change (twice "main"), the 2 s check
  // another ("both"). On a slow start the first check may come before the
  // controller's connect and find "main" itself: then the connect has no
  // change and says "main" once.
  std::vector<std::string> early;
  ASSERT_TRUE(testsupport::eventually([&] {
    for (const auto& f : srv.ctl.frames(50)) early.push_back(f);
    return early.size() >= 3 || (early.size() == 2 && early[1] != "24 60");
  }, 2000)) << ::testing::PrintToString(early);
  const std::size_t mains = early[1] == "24 60" ? 2 : 1;
  EXPECT_EQ(early[0], "24 60");
  EXPECT_EQ(early[mains], power_signal(LGCP::POWERStatus::both));
  // A byte of 3 is both supplies as well, 4 and more unknown; a power or
  // DIP read the board refuses changes nothing: no supply or switch is made up.
  ASSERT_EQ(srv.sim.ask("hal power 3"), "");
  ASSERT_EQ(srv.sim.ask("hal dip 9"), "");
  ASSERT_TRUE(zarngw.wait([&] { return last(zarngw, "gatewayDip") == "9"; }));
  ASSERT_EQ(srv.sim.ask("hal fail power 5"), "");
  ASSERT_EQ(srv.sim.ask("hal fail dip 5"), "");
  EXPECT_EQ(srv.ctl.next(2500), "");
  zarngw.pump(200);
  EXPECT_EQ(last(zarngw, "gatewayDip"), "9");
  ASSERT_EQ(srv.sim.ask("hal fail power 0"), "");
  ASSERT_EQ(srv.sim.ask("hal fail dip 0"), "");
  ASSERT_EQ(srv.sim.ask("hal power 4"), "");
  EXPECT_EQ(srv.ctl.next(5000), "24 40");
  ASSERT_TRUE(zarngw.wait([&] { return last(zarngw, "powerStatus") == "0"; }));

  // Framer LEDs: e1 2 line up, link up, link down, line down.
  srv.sim.ask("hal led");
  LGCP::DisplayParams framer;
  framer.select_framer().set_e1(2);
  framer.ref_framer().set_info().select_line(true);
  EXPECT_EQ(display(1, framer), "80 01 01 1A 48 80");
  srv.ctl.send(display(1, framer));
  EXPECT_EQ(srv.ctl.next(5000), answer(1, true));
  framer.ref_framer().set_info().select_link(true);
  srv.ctl.send(display(2, framer));
  EXPECT_EQ(srv.ctl.next(5000), answer(2, true));
  framer.ref_framer().set_info().select_link(false);
  srv.ctl.send(display(2, framer));
  EXPECT_EQ(srv.ctl.next(5000), answer(2, true));
  framer.ref_framer().set_info().select_line(false);
  srv.ctl.send(display(3, framer));
  EXPECT_EQ(srv.ctl.next(5000), answer(3, true));
  // The first and the last framer have their bits as well.
  for (int e1 : {0, 3}) {
    framer.ref_framer().set_e1(e1);
    framer.ref_framer().set_info().select_line(true);
    srv.ctl.send(display(3, framer));
    EXPECT_EQ(srv.ctl.next(5000), answer(3, true));
  }
  EXPECT_EQ(srv.sim.ask("hal led"), "30\n20\n30\n00\n03\nc3");

  // Board and phone: their items and files.
  LGCP::DisplayParams board;
  auto& bs = board.select_board().select_boardStatus();
  bs.set_position(3);
  bs.set_version(std::vector<char>{'V', '1'});
  bs.set_status(LGCP::ExtBoardStatus::ready);
  bs.set_type(LGCP::ExtBoardType::isdn);
  srv.ctl.send(display(4, board));
  EXPECT_EQ(srv.ctl.next(5000), answer(4, true));
  LGCP::DisplayParams phone;
  auto& ps = phone.select_emPhone().select_phoneStatus();
  ps.set_id(0);
  ps.set_panelSV(std::vector<char>{'P'});
  ps.set_ctrlSV(std::vector<char>{'C'});
  ps.set_fpgaSV(std::vector<char>{'F'});
  ps.set_status(LGCP::EmPhoneStatus::ready);
  ps.set_powerStatus(LGCP::POWERStatus::main);
  ps.set_mode(LGCP::EmPhoneMode::active);
  ps.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
  ps.set_baseStatus(LGCP::EmPhoneConnectionStatus::disconnected);
  srv.ctl.send(display(5, phone));
  EXPECT_EQ(srv.ctl.next(5000), answer(5, true));
  LGCP::DisplayParams counter;
  counter.select_termCounter().set_owner(LGCP::TermCounterOwner::router);
  counter.ref_termCounter().set_cnt(5);
  srv.ctl.send(display(6, counter));
  EXPECT_EQ(srv.ctl.next(5000), answer(6, true));
  ASSERT_TRUE(zarngw.wait([&] { return last(zarngw, "routerTermCnt") == "5"; }));
  EXPECT_EQ(last(zarngw, "extBoardSoftVer", 3), "V1");
  EXPECT_EQ(last(zarngw, "extBoardType", 3), "1");
  EXPECT_EQ(last(zarngw, "emPhonePanelSoftVer", 1), "P");
  EXPECT_EQ(last(zarngw, "emPhoneBaseStatus", 1), "2");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/board3")), "3\nV1\n1\n");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/emphone0")), "P\nC\nF\n2\n2\n1\n1\n2\n");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/term_cnts/router")), "5");
  // The other owners' files and items; an extBoard counter's row is its
  // ownerId, also behind a counter of a board the controller did not name.
  LGCP::DisplayParams unnamed;
  unnamed.select_termCounter().set_owner(LGCP::TermCounterOwner::extBoard);
  unnamed.ref_termCounter().set_cnt(3);
  srv.ctl.send(display(6, unnamed));
  EXPECT_EQ(srv.ctl.next(5000), answer(6, true));
  const struct {
    LGCP::TermCounterOwner::NamedNumber owner;
    const char* item;
    int index;
    const char* file;
  } owners[] = {{LGCP::TermCounterOwner::controller, "controllerTermCnt", 0, "controller"},
                {LGCP::TermCounterOwner::server, "serverTermCnt", 0, "server"},
                {LGCP::TermCounterOwner::extBoard, "extBoardTermCnt", 2, "board2"}};
  for (const auto& o : owners) {
    LGCP::DisplayParams c;
    c.select_termCounter().set_owner(o.owner);
    if (o.index) c.ref_termCounter().set_ownerId(o.index);
    c.ref_termCounter().set_cnt(6);
    srv.ctl.send(display(6, c));
    EXPECT_EQ(srv.ctl.next(5000), answer(6, true));
    ASSERT_TRUE(zarngw.wait([&] { return last(zarngw, o.item, o.index) == "6"; })) << o.item;
    EXPECT_EQ(testsupport::file_text(srv.board(std::string("/var/monitoring/term_cnts/") + o.file)), "6");
  }

  // Another controller's state: its file, and item 3 with the own status.
  const std::size_t item3 = zarngw.values_of("controllerStatus").size();
  LGCP::DisplayParams other;
  other.select_controller().set_host().set_iaddr("10.9.9.9");
  other.ref_controller().set_status(HSP::ControllerStatus::ok);
  srv.ctl.send(display(7, other));
  EXPECT_EQ(srv.ctl.next(5000), answer(7, true));
  ASSERT_TRUE(zarngw.wait([&] { return zarngw.values_of("controllerStatus").size() > item3; }));
  EXPECT_NE(zarngw.values_of("controllerStatus").back().value, "1");
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/controller/10.9.9.9/status")), "1");

  // Free-form values go to the agents at once, unchanged.
  LGCP::DisplayParams set;
  {
    MON::SnmpSetCommand c;
    c.set_uniq(777);
    auto& n = c.set_id().select_name();
    n.set_section("sec");
    n.set_name("nm");
    n.set_index(2);
    c.set_value("v1");
    set.select_snmp_set().ref_commands().push_back(c);
  }
  srv.ctl.send(display(8, set));
  EXPECT_EQ(srv.ctl.next(5000), answer(8, true));
  ASSERT_TRUE(dovr.wait([&] { return !dovr.values_of("nm").empty(); }));
  EXPECT_EQ(dovr.values_of("nm").back().uniq, 777);
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/sec/2/nm")), "v1");

  // Names that would leave the status tree are refused whole.
  for (const char* bad : {"..", ".", "", "a/b"}) {
    LGCP::DisplayParams evil = set;
    evil.ref_snmp_set().ref_commands()[0].ref_id().ref_name().set_section(bad);
    evil.ref_snmp_set().ref_commands()[0].set_uniq(778);
    srv.ctl.send(display(9, evil));
    EXPECT_EQ(srv.ctl.next(5000), answer(9, false)) << bad;
    LGCP::DisplayParams evil_host = other;
    evil_host.ref_controller().ref_host().set_iaddr(bad);
    srv.ctl.send(display(10, evil_host));
    EXPECT_EQ(srv.ctl.next(5000), answer(10, false)) << bad;
  }

  // Trap receivers: hosts only.
  LGCP::DisplayParams traps;
  traps.select_snmpTrapReceivers().push_back(ASN1::IA5String("1.2.3.4"));
  srv.ctl.send(display(11, traps));
  EXPECT_EQ(srv.ctl.next(5000), answer(11, true));
  ASSERT_TRUE(zarngw.wait([&] { return zarngw.count_commands(&MON::Command::snmp_trapsink_set_isSelected) > 0; }));
  for (const auto& f : zarngw.frames) {
    if (!f.decoded || !f.msg->get_pdu().command_isSelected()) continue;
    const auto& cmd = f.msg->get_pdu().get_command();
    if (cmd.snmp_trapsink_set_isSelected()) {
      ASSERT_EQ(cmd.get_snmp_trapsink_set().get_trapsinks().size(), 1u);
      EXPECT_EQ(std::string(cmd.get_snmp_trapsink_set().get_trapsinks()[0].get_host()), "1.2.3.4");
      EXPECT_FALSE(cmd.get_snmp_trapsink_set().get_trapsinks()[0].port_isPresent());
    }
    if (cmd.snmp_set_isSelected()) {
      for (const auto& c : cmd.get_snmp_set().get_commands()) EXPECT_NE(c.get_uniq().getValue(), 778);
    }
  }
  EXPECT_FALSE(testsupport::eventually([&] { return ::access(srv.board("/var/monitoring/x").c_str(), F_OK) == 0; },
                                       10));

  // A phone id with no successor has no row in the agents' table; its
  // status is kept all the same.
  ps.set_id(INT_MAX);
  srv.ctl.send(display(12, phone));
  EXPECT_EQ(srv.ctl.next(5000), answer(12, true));
  EXPECT_TRUE(testsupport::eventually([&] {
    return testsupport::file_text(srv.board("/var/monitoring/emphone2147483647")) == "P\nC\nF\n2\n2\n1\n1\n2\n";
  }));

  // Phones up to the bound are kept; a new id past it is refused and told,
  // one already kept is still updated.
  for (int id = 1; id + 1 < int(MonitoringDataHolder::max_entries); ++id) {
    ps.set_id(id);
    srv.ctl.send(display(13, phone));
    ASSERT_EQ(srv.ctl.next(5000), answer(13, true)) << id;
  }
  ps.set_id(5000);
  srv.ctl.send(display(14, phone));
  EXPECT_EQ(srv.ctl.next(5000), answer(14, false, LGCP::ErrorCause::insufficientResources));
  ps.set_id(0);
  srv.ctl.send(display(15, phone));
  EXPECT_EQ(srv.ctl.next(5000), answer(15, true));
  EXPECT_NE(::access(srv.board("/var/monitoring/emphone5000").c_str(), F_OK), 0);

  // The controller leaves: board files go, the rest stays.
  srv.ctl.close();
  EXPECT_TRUE(testsupport::eventually(
      [&] { return ::access(srv.board("/var/monitoring/board3").c_str(), F_OK) != 0; }));
  EXPECT_EQ(testsupport::file_text(srv.board("/var/monitoring/emphone0")), "P\nC\nF\n2\n2\n1\n1\n2\n");
  EXPECT_EQ(zarngw.connections(), 1);

  // A connect without a power change gets the power signal once.
  ASSERT_TRUE(srv.reconnect());
  srv.ctl.keep_power_signals = true;
  EXPECT_EQ(srv.ctl.next(5000), "24 40");
  EXPECT_EQ(srv.ctl.frames(1500), std::vector<std::string>{});
}

// Trap receivers fill one message to the agents, which spends an octet more
// on each than the controller's command did: a list that fits the one frame
// but not the other is refused and told, and the receivers kept before are
// still the ones the agents get. A list that fits goes whole.
TEST(MonitoringServer, TrapReceiversBeyondOneAgentFrame) {
  SnmpTestAgent agent(true);
  testsupport::RunningServer srv({}, [&](const std::string& root) {
    write_file(root + "/usr/local/etc/server.conf",
               "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) + "\nname = zarngw\n");
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  ASSERT_TRUE(agent.wait([&] { return agent.connected(); })) << srv.log();
  auto lists = [&] {
    std::vector<std::vector<std::string>> out;
    for (const auto& f : agent.frames) {
      if (!f.decoded || !f.msg->get_pdu().command_isSelected()) continue;
      const auto& cmd = f.msg->get_pdu().get_command();
      if (!cmd.snmp_trapsink_set_isSelected()) continue;
      out.emplace_back();
      for (const auto& s : cmd.get_snmp_trapsink_set().get_trapsinks()) out.back().push_back(s.get_host());
    }
    return out;
  };
  auto receivers = [](std::size_t n, std::size_t length, char c) {
    LGCP::DisplayParams p;
    auto& list = p.select_snmpTrapReceivers();
    for (std::size_t i = 0; i < n; ++i) list.push_back(ASN1::IA5String(std::string(length, c)));
    return p;
  };
  const struct {
    std::size_t n, length;
    bool kept;
  } cases[] = {
      {128, 509, false},  // 65,416 octets from the controller, 65,541 to the agents
      {128, 500, true},   // 64,265 to the agents
      {128, 16, true},
  };
  std::vector<std::string> told;
  int seq = 1;
  for (const auto& c : cases) {
    const std::string frame = display(seq, receivers(c.n, c.length, char('a' + seq)));
    ASSERT_LE((frame.size() + 1) / 3, 65531u);
    srv.ctl.send(frame);
    if (c.kept) {
      EXPECT_EQ(srv.ctl.next(5000), answer(seq, true)) << c.length;
      told.assign(c.n, std::string(c.length, char('a' + seq)));
      ASSERT_TRUE(agent.wait([&] { return !lists().empty() && lists().back() == told; })) << c.length;
    } else {
      EXPECT_EQ(srv.ctl.next(5000), answer(seq, false, LGCP::ErrorCause::insufficientResources)) << c.length;
    }
    ++seq;
  }
  // At the edge: a list whose message takes exactly the most one frame
  // carries goes whole; one octet more is refused. The last host grows the
  // message by one octet per character.
  std::size_t last = 0;  // the message of the 128 hosts of 500 characters
  for (const auto& f : agent.frames) {
    if (!f.decoded || !f.msg->get_pdu().command_isSelected()) continue;
    const auto& cmd = f.msg->get_pdu().get_command();
    if (!cmd.snmp_trapsink_set_isSelected()) continue;
    const auto& sinks = cmd.get_snmp_trapsink_set().get_trapsinks();
    if (sinks.size() == 128 && std::string(sinks[0].get_host()).size() == 500) last = f.octets;
  }
  ASSERT_GT(last, 0u);
  const std::size_t edge = 500 + SnmpAgentCtrl::max_message - last;
  for (const std::size_t length : {edge, edge + 1}) {
    LGCP::DisplayParams p = receivers(127, 500, 'y');
    p.ref_snmpTrapReceivers().push_back(ASN1::IA5String(std::string(length, 'z')));
    srv.ctl.send(display(seq, p));
    const bool fits = length == edge;
    EXPECT_EQ(srv.ctl.next(5000), answer(seq, fits, LGCP::ErrorCause::insufficientResources)) << length;
    if (fits) {
      ASSERT_TRUE(agent.wait([&] { return lists().back().size() == 128 && lists().back().back().size() == edge; }))
          << srv.log();
    }
    ++seq;
  }
  // The refused list was never taken: the first list the agents got is the
  // second one sent, and nothing was dropped on the way.
  EXPECT_EQ(lists().front().front(), std::string(500, 'c'));
  EXPECT_EQ(srv.log().find("cannot be sent"), std::string::npos) << srv.log();
}
