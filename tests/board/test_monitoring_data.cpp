// The monitoring state's parsers, smoothing and status files, and the SNMP
// front's batching and silence limit on the virtual clock.
#include "board/monitoring/framer_data_holder.h"
#include "board/monitoring/monitoring_data_holder.h"
#include "board/monitoring/net_if_data_holder.h"
#include "board/snmp/snmp_agent_ctrl.h"
#include "board/snmp/snmp_agent_instance.h"
#include "platform/sim/netif.h"
#include "runtime/ini_file.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/log_sink.h"
#include "tests/support/per_image.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <utility>
#include <vector>

namespace {

std::vector<unsigned char> bytes(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

std::string read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

TEST(FramerDataHolder, ParsesTheDriverText) {
  FramerDataHolder f(1, "/proc/driver/hdlc/peb22554/0");
  EXPECT_EQ(f.state(), "absent");
  EXPECT_FALSE(f.connected());
  auto text = bytes(
      "x Current state           : No Carrier\n"
      "Loss of Signal          : yes\n"
      "Loss of Frame Alignment : no\n"
      "Receive Slip Negative   : 12\n"
      "unrelated line\n"
      "Receive Slip Positive   : 7");
  EXPECT_TRUE(f.setFramerStatus(text));
  EXPECT_EQ(f.state(), "No Carrier");
  EXPECT_FALSE(f.connected());
  EXPECT_TRUE(f.lossOfSignal());
  EXPECT_FALSE(f.lossOfFrameAlignment());
  EXPECT_EQ(f.negativeSlips(), 12);
  EXPECT_EQ(f.positiveSlips(), 7);
  EXPECT_FALSE(f.setFramerStatus(text));
  // Counters beyond int read as the largest int, on 32 and 64 bits alike.
  auto many = bytes("Receive Slip Negative   : 4294967297\nReceive Slip Positive   : 2147483648\n");
  EXPECT_TRUE(f.setFramerStatus(many));
  EXPECT_EQ(f.negativeSlips(), INT_MAX);
  EXPECT_EQ(f.positiveSlips(), INT_MAX);
  auto up = bytes("Current state           : Multiframe\n");
  EXPECT_TRUE(f.setFramerStatus(up));
  EXPECT_TRUE(f.connected());
  auto nothing = bytes("Current state           : Multiframe\nLoss of Signal          : yes\n");
  EXPECT_FALSE(f.setFramerStatus(nothing));
}

TEST(NetIfDataHolder, SmoothsOverThreeSamples) {
  NetIfDataHolder n(2, "eth0");
  EXPECT_EQ(n.operStatus(), 2);
  struct Step {
    int sample;
    bool changed;
    int oper;
  } steps[] = {{1, true, 2}, {1, true, 1}, {0, false, 1}, {1, false, 1}, {0, true, 2}, {0, false, 2}, {1, false, 2}, {1, true, 1}};
  int i = 0;
  for (const auto& s : steps) {
    EXPECT_EQ(n.setNetIfStatus(s.sample), s.changed) << "step " << i;
    EXPECT_EQ(n.operStatus(), s.oper) << "step " << i;
    EXPECT_EQ(n.adminStatus(), s.oper) << "step " << i;
    ++i;
  }
}

// Sampled through the packet socket: a request that fails adds no sample, and
// the socket is closed after every sample.
TEST(NetIfDataHolder, FailedRequestsAddNoSampleAndTheSocketIsClosed) {
  using Kind = platform::sim::NetIfs::Kind;
  auto& sim = platform::sim::netifs();
  sim.reset();
  ASSERT_FALSE(sim.table().empty());
  const int index = sim.table().begin()->first;
  NetIfDataHolder n(index, sim.table().begin()->second.name);
  const int fds = testsupport::open_descriptors();
  struct Step {
    int fail;  // 0: none, else 1 + the request that fails
    bool running, changed;
    int oper;
  } steps[] = {{0, true, true, 2},  {0, true, true, 1},   {1 + int(Kind::name), false, false, 1},
               {1 + int(Kind::flags), false, false, 1}, {1 + int(Kind::socket), false, false, 1},
               {0, false, false, 1}, {0, false, true, 2}};
  int i = 0;
  for (const auto& s : steps) {
    if (s.fail) sim.fail(Kind(s.fail - 1), EIO, 1);
    sim.set_running(index, s.running);
    EXPECT_EQ(n.updateNetIf(), s.changed) << "step " << i;
    EXPECT_EQ(n.operStatus(), s.oper) << "step " << i;
    ++i;
  }
  EXPECT_EQ(testsupport::open_descriptors(), fds);
  sim.reset();
}

TEST(MonitoringDataHolder, StatusFilesAndRecords) {
  testsupport::ScratchBoardRoot root;
  const std::string mon = root.path() + "/var/monitoring/";
  ASSERT_EQ(std::system(("mkdir -p " + mon + "term_cnts").c_str()), 0);
  std::ofstream(mon + "dip") << "3";
  std::ofstream(mon + "term_cnts/server") << "8";

  MonitoringDataHolder h;
  EXPECT_FALSE(exists(mon + "dip"));
  EXPECT_EQ(read(mon + "term_cnts/server"), "8");
  struct stat st;
  ASSERT_EQ(::stat(mon.c_str(), &st), 0);

  EXPECT_TRUE(h.setConfigVersion(0x2a, 0xff));
  EXPECT_EQ(read(mon + "config_version"), "0000002a-00000000000000ff");
  ::unlink((mon + "config_version").c_str());
  EXPECT_FALSE(h.setConfigVersion(0x2a, 0xff));
  EXPECT_FALSE(exists(mon + "config_version"));
  EXPECT_TRUE(h.setDipValue(5));
  EXPECT_EQ(read(mon + "dip"), "5");

  // Counters: an extBoard counter without ownerId writes nothing and is an
  // entry of its own; the boards named after it keep their own rows.
  LGCP::TermCounter c;
  c.set_owner(LGCP::TermCounterOwner::extBoard);
  c.set_cnt(4);
  h.setTermCounter(c);
  c.set_ownerId(2);
  c.set_cnt(6);
  h.setTermCounter(c);
  c.set_ownerId(3);
  c.set_cnt(7);
  h.setTermCounter(c);
  c.set_ownerId(2);
  c.set_cnt(8);
  h.setTermCounter(c);
  EXPECT_EQ(read(mon + "term_cnts/board2"), "8");
  EXPECT_EQ(read(mon + "term_cnts/board3"), "7");
  std::vector<std::pair<int, int>> rows;  // ownerId (-1: none), count
  for (const auto& t : h.GetTermCounters())
    rows.emplace_back(t.ownerId_isPresent() ? int(t.get_ownerId().getValue()) : -1, int(t.get_cnt().getValue()));
  EXPECT_EQ(rows, (std::vector<std::pair<int, int>>{{-1, 4}, {2, 8}, {3, 7}}));
  // Another owner's counter without ownerId still stands for that owner
  // whatever id a later one carries.
  LGCP::TermCounter r;
  r.set_owner(LGCP::TermCounterOwner::router);
  r.set_cnt(1);
  h.setTermCounter(r);
  r.set_ownerId(5);
  r.set_cnt(9);
  h.setTermCounter(r);
  EXPECT_EQ(h.GetTermCounters().size(), 4u);
  EXPECT_EQ(h.GetTermCounters().back().get_cnt().getValue(), 9);
  // Nor does the id keep apart two rows of an owner whose file and item
  // have none: the agents get one row per such counter, and a second,
  // older one sent after it would show them a stale count.
  LGCP::TermCounter s;
  s.set_owner(LGCP::TermCounterOwner::server);
  s.set_ownerId(7);
  s.set_cnt(1);
  h.setTermCounter(s);
  s.omit_ownerId();
  s.set_cnt(2);
  h.setTermCounter(s);
  s.set_ownerId(7);
  s.set_cnt(3);
  h.setTermCounter(s);
  EXPECT_EQ(read(mon + "term_cnts/server"), "3");
  std::vector<int> servers;
  for (const auto& t : h.GetTermCounters())
    if (t.get_owner().asInt() == LGCP::TermCounterOwner::server) servers.push_back(int(t.get_cnt().getValue()));
  EXPECT_EQ(servers, std::vector<int>{3});

  // Free-form values: one entry per {section, name, index}.
  MON::SnmpSetCommands list;
  MON::SnmpSetCommand v;
  v.set_uniq(1);
  v.set_id().select_name().set_section("s");
  v.ref_id().ref_name().set_name("n");
  v.ref_id().ref_name().set_index(1);
  v.set_value("a");
  list.ref_commands().push_back(v);
  v.ref_id().ref_name().set_index(2);
  v.set_value("b");
  list.ref_commands().push_back(v);
  h.setSnmpCommands(list);
  list.ref_commands().clear();
  v.set_value("c");
  list.ref_commands().push_back(v);
  h.setSnmpCommands(list);
  EXPECT_EQ(h.GetSnmpCommands().get_commands().size(), 2u);
  EXPECT_EQ(read(mon + "s/1/n"), "a");
  EXPECT_EQ(read(mon + "s/2/n"), "c");
  ASSERT_EQ(::stat((mon + "s/2").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  // Names up to the longest a directory takes are written too.
  for (std::size_t n : {251u, 252u, 255u}) {
    list.ref_commands().clear();
    v.ref_id().ref_name().set_name(std::string(n, 'x'));
    list.ref_commands().push_back(v);
    h.setSnmpCommands(list);
    EXPECT_EQ(read(mon + "s/2/" + std::string(n, 'x')), "c") << n;
  }

  // A new controller gets its file even with status unknown.
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr("10.1.2.3");
  info.set_status(HSP::ControllerStatus::unknown);
  EXPECT_FALSE(h.setControllerStatus(info));
  EXPECT_EQ(read(mon + "controller/10.1.2.3/status"), "0");

  // Names that are not one plain path component.
  for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_FALSE(MonitoringDataHolder::IsPathComponent(bad)) << bad;
  EXPECT_FALSE(MonitoringDataHolder::IsPathComponent(std::string("a\0b", 3)));
  EXPECT_TRUE(MonitoringDataHolder::IsPathComponent("10.1.2.3"));
}

// A disk that fills up: the file under the "_tmp" name is the full device,
// so the content cannot be written.
TEST(MonitoringDataHolder, FullDiskKeepsTheLastCompleteFile) {
  testsupport::ScratchBoardRoot root;
  const std::string mon = root.path() + "/var/monitoring/";
  ASSERT_EQ(std::system(("mkdir -p " + mon).c_str()), 0);
  MonitoringDataHolder h;
  h.setDipValue(5);
  EXPECT_FALSE(exists(mon + "dip_tmp")) << "renamed over the file";
  ASSERT_EQ(::symlink("/dev/full", (mon + "dip_tmp").c_str()), 0);
  std::ostringstream log;
  std::streambuf* was = std::clog.rdbuf(log.rdbuf());
  // The stored value changes and is reported; the file keeps the last value
  // written whole, and the failure is told.
  EXPECT_TRUE(h.setDipValue(123456));
  std::clog.rdbuf(was);
  EXPECT_EQ(read(mon + "dip"), "5");
  EXPECT_FALSE(exists(mon + "dip_tmp"));
  EXPECT_EQ(log.str(), "FAIL write status file </var/monitoring/dip> with code=28\n");
}

// A "self" link left by a run under another own address is pointed at the
// own controller's directory when that directory is made, and stays there
// when other controllers' directories are made.
TEST(MonitoringDataHolder, SelfLinkLeftByAnEarlierRunIsReplaced) {
  testsupport::ScratchBoardRoot root;
  const std::string dir = root.path() + "/var/monitoring/controller/";
  ASSERT_EQ(std::system(("mkdir -p " + dir + "192.168.99.99").c_str()), 0);
  ASSERT_EQ(::symlink((dir + "192.168.99.99").c_str(), (dir + "self").c_str()), 0);
  MonitoringDataHolder h;
  const std::string own = h.getSelfHostAddress().GetStrAddr();
  ASSERT_NE(own, "192.168.99.99");
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr(own);
  info.set_status(HSP::ControllerStatus::active);
  EXPECT_TRUE(h.setControllerStatus(info));
  EXPECT_EQ(read(dir + "self/status"), "2");
  EXPECT_FALSE(exists(dir + "self_tmp"));
  // Another controller's new directory leaves the link where it is.
  info.set_host().set_iaddr(own == "10.9.8.7" ? "10.9.8.6" : "10.9.8.7");
  info.set_status(HSP::ControllerStatus::notrun);
  EXPECT_FALSE(h.setControllerStatus(info));
  EXPECT_EQ(read(dir + "self/status"), "2");
}

// Every list the controller fills by naming new keys stops taking new ones
// at its bound: nothing more is kept or written, while the keys it has are
// still updated.
TEST(MonitoringDataHolder, ControllerKeysStopAtTheirBound) {
  testsupport::ScratchBoardRoot root;
  const std::string mon = root.path() + "/var/monitoring/";
  ASSERT_EQ(std::system(("mkdir -p " + mon).c_str()), 0);
  MonitoringDataHolder h;
  auto value = [](int key, const std::string& v) {
    MON::SnmpSetCommand c;
    c.set_uniq(1);
    auto& n = c.set_id().select_name();
    n.set_section("s");
    n.set_name("n");
    n.set_index(key);
    c.set_value(v);
    return c;
  };
  struct Kind {
    const char* name;
    std::size_t bound;
    std::function<LGCP::DisplayParams(int key, int v)> make;
    std::function<std::size_t()> count;
    std::function<std::string(int key)> file;
  };
  const Kind kinds[] = {
      {"board", MonitoringDataHolder::max_entries,
       [](int key, int v) {
         LGCP::DisplayParams p;
         auto& b = p.select_board().select_boardStatus();
         b.set_position(key);
         b.set_version(std::vector<char>{char('0' + v)});
         b.set_status(LGCP::ExtBoardStatus::ready);
         b.set_type(LGCP::ExtBoardType::isdn);
         return p;
       },
       [&] { return h.GetBoardStatus().size(); }, [&](int key) { return mon + "board" + std::to_string(key); }},
      {"phone", MonitoringDataHolder::max_entries,
       [](int key, int v) {
         LGCP::DisplayParams p;
         auto& e = p.select_emPhone().select_phoneStatus();
         e.set_id(key);
         e.set_panelSV(std::vector<char>{char('0' + v)});
         e.set_ctrlSV(std::vector<char>{'C'});
         e.set_fpgaSV(std::vector<char>{'F'});
         e.set_status(LGCP::EmPhoneStatus::ready);
         e.set_powerStatus(LGCP::POWERStatus::main);
         e.set_mode(LGCP::EmPhoneMode::active);
         e.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
         e.set_baseStatus(LGCP::EmPhoneConnectionStatus::connected);
         return p;
       },
       [&] { return h.GetEmPhoneStatus().size(); }, [&](int key) { return mon + "emphone" + std::to_string(key); }},
      {"counter", MonitoringDataHolder::max_entries,
       [](int key, int v) {
         LGCP::DisplayParams p;
         p.select_termCounter().set_owner(LGCP::TermCounterOwner::extBoard);
         p.ref_termCounter().set_ownerId(key);
         p.ref_termCounter().set_cnt(v);
         return p;
       },
       [&] { return h.GetTermCounters().size(); },
       [&](int key) { return mon + "term_cnts/board" + std::to_string(key); }},
      {"controller", MonitoringDataHolder::max_entries,
       [](int key, int v) {
         LGCP::DisplayParams p;
         p.select_controller().set_host().set_iaddr("10.7." + std::to_string(key / 256) + "." +
                                                    std::to_string(key % 256));
         p.ref_controller().set_status(v % 2 ? HSP::ControllerStatus::ok : HSP::ControllerStatus::standby);
         return p;
       },
       [&] { return h.GetControllers().size(); },
       [&](int key) {
         return mon + "controller/10.7." + std::to_string(key / 256) + "." + std::to_string(key % 256) + "/status";
       }},
      // Identified by oid, so the many values make no files.
      {"free-form value", MonitoringDataHolder::max_values,
       [&](int key, int v) {
         LGCP::DisplayParams p;
         MON::SnmpSetCommand c;
         c.set_uniq(1);
         c.set_id().select_oid("1.3.6.1." + std::to_string(key));
         c.set_value(std::to_string(v));
         p.select_snmp_set().ref_commands().push_back(c);
         return p;
       },
       [&] { return h.GetSnmpCommands().get_commands().size(); }, [](int) { return std::string(); }},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const int bound = static_cast<int>(k.bound);
    for (int key = 0; key < bound; ++key) {
      ASSERT_TRUE(h.HasRoomFor(k.make(key, 1))) << key;
      h.setDisplayStatus(k.make(key, 1));
    }
    ASSERT_EQ(k.count(), k.bound);
    // A new key: refused by the check, and not kept by the holder either.
    EXPECT_FALSE(h.HasRoomFor(k.make(bound, 1)));
    h.setDisplayStatus(k.make(bound, 1));
    EXPECT_EQ(k.count(), k.bound);
    if (!k.file(bound).empty()) {
      EXPECT_FALSE(exists(k.file(bound)));
    }
    // A known key still takes its new value.
    EXPECT_TRUE(h.HasRoomFor(k.make(bound - 1, 2)));
    h.setDisplayStatus(k.make(bound - 1, 2));
    EXPECT_EQ(k.count(), k.bound);
    if (!k.file(bound).empty()) {
      EXPECT_TRUE(exists(k.file(bound - 1)));
    }
  }
  const auto& values = h.GetSnmpCommands().get_commands();
  EXPECT_EQ(std::string(values[values.size() - 1].get_value()), "2");
  MON::SnmpSetCommands named;
  named.ref_commands().push_back(value(1, "a"));
  h.setSnmpCommands(named);
  EXPECT_EQ(h.GetSnmpCommands().get_commands().size(), MonitoringDataHolder::max_values);
  EXPECT_FALSE(exists(mon + "s/1/n"));

  // One command list: a new id named twice counts once; known ids are free.
  MonitoringDataHolder fresh;
  MON::SnmpSetCommands list;
  for (int key = 0; key + 1 < int(MonitoringDataHolder::max_values); ++key)
    list.ref_commands().push_back(value(key, "a"));
  fresh.setSnmpCommands(list);
  LGCP::DisplayParams last;
  last.select_snmp_set().ref_commands().push_back(value(5000, "x"));
  last.ref_snmp_set().ref_commands().push_back(value(0, "y"));
  last.ref_snmp_set().ref_commands().push_back(value(5000, "z"));
  EXPECT_TRUE(fresh.HasRoomFor(last));
  last.ref_snmp_set().ref_commands().push_back(value(5001, "w"));
  EXPECT_FALSE(fresh.HasRoomFor(last));
}

// A free-form value list decodes with an id alternative or an extension
// this side does not know, but cannot be encoded again for the agents:
// kept, it would make every later push of the stored values fail.
TEST(MonitoringDataHolder, ValuesTheAgentsCannotBeSentAreNotStorable) {
  // SnmpSetCommands of one command {uniq 7, id, value "x"}.
  const struct {
    std::vector<unsigned char> image;
    bool storable;
  } rows[] = {
      {{0x00, 0x01, 0x00, 0x01, 0x07, 0x00, 0x01, 0x6F, 0x01, 0x78}, true},  // id oid "o"
      {{0x00, 0x01, 0x00, 0x01, 0x07, 0x80, 0x01, 0x00, 0x01, 0x78}, false},  // unknown id alternative
      {{0x00, 0x01, 0x80, 0x01, 0x07, 0x00, 0x01, 0x6F, 0x01, 0x78, 0x01, 0x01, 0x00}, false},  // unknown addition
  };
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  for (const auto& r : rows) {
    LGCP::DisplayParams p;
    const char* data = reinterpret_cast<const char*>(r.image.data());
    ASSERT_TRUE(ASN1::decode(data, data + r.image.size(), &env, p.select_snmp_set(), true));
    EXPECT_EQ(MonitoringDataHolder::IsStorable(p), r.storable) << p;
  }
}

// What a newer agent may send: alternatives added after the markers of
// the response, signal and command choices, and an error cause added after
// its marker. Responses and signals are taken and ignored, a command is
// logged as unknown, and only a frame that does not decode is a decode
// error.
TEST(SnmpAgentInstance, MessagesOfANewerAgent) {
  const struct {
    const char* image;
    const char* logged;  // "" nothing
  } rows[] = {
      {"60 00 01 00", ""},                                  // response 01, extension bit 1, alternative 4 + 0
      {"A0 00 02 AB CD", ""},                               // signal 10, alternative 1 + 0
      {"5E 1A 80", ""},                                     // ping response, error cause 5 (ext. 0 000110, 101)
      {"20 00 01 00", ": receive unknown message type"},    // command 00, alternative 4 + 0
      {"20 00 05 00", ": receive : decode error!"},         // its open type cut short
  };
  for (const auto& r : rows) {
    testsupport::StreamCapture cap;
    SnmpAgentInstance agent;
    const std::vector<char> b = testsupport::bytes(r.image);
    agent.OnMessage(b.data(), static_cast<int>(b.size()));
    std::vector<std::string> lines;
    for (const auto& l : cap.err()) lines.push_back(l.text);
    for (const auto& l : cap.log()) lines.push_back(l.text);
    EXPECT_EQ(lines, *r.logged ? std::vector<std::string>{r.logged} : std::vector<std::string>{}) << r.image;
  }
}

TEST(SnmpAgentCtrl, QueuesOnlyKnownItems) {
  SnmpAgentCtrl ctrl;
  ASSERT_EQ(ctrl.items().size(), 34u);
  std::string v = "1";
  ctrl.Send(34, v);
  ctrl.Send(-1, v);
  EXPECT_FALSE(ctrl.flush_pending());
  ctrl.Send(2, v);
  EXPECT_TRUE(ctrl.flush_pending());
  ctrl.OnDpcSend();
  EXPECT_FALSE(ctrl.flush_pending());
}

// An agent whose section is wrong or short gets no connection; it stays in
// the list, built.
TEST(SnmpAgentCtrl, BadSectionsMakeNoConnection) {
  for (const char* text : {"host = 127.0.0.1:1\nname = other\n", "host = 127.0.0.1\nname = dovr\n", "name = dovr\n"}) {
    IniFile::File config;
    std::istringstream in(std::string("[snmpagent]\n") + text);
    in >> config;
    SnmpAgentCtrl ctrl;
    ctrl.CreateInstances(config["snmpagent"]);
    ASSERT_EQ(ctrl.links().size(), 1u);
    EXPECT_EQ(ctrl.links().front()->state(), SnmpAgentInstance::built) << text;
    // What is sent meanwhile goes nowhere.
    ctrl.SendTrapsink({"10.0.0.1"});
    EXPECT_EQ(ctrl.links().front()->state(), SnmpAgentInstance::built) << text;
  }
}

// Every batched value takes a uniq number; after years of values the
// counter starts again at 1 instead of overflowing into negative numbers.
TEST(SnmpAgentCtrl, UniqNumbersStayPositivePastTheLargestInt) {
  const int top = std::numeric_limits<int>::max();
  int counter = top - 1;
  std::vector<int> taken;
  for (int i = 0; i < 4; ++i) taken.push_back(take_uniq(counter));
  EXPECT_EQ(taken, (std::vector<int>{top - 1, top, 1, 2}));
}

class SnmpAgentLink : public testsupport::VirtualClockTest {
 protected:
  // One zarngw link of `ctrl` to the agent, made from its configuration
  // text, given its time to connect.
  static SnmpAgentInstance& link_to(SnmpAgentCtrl& ctrl, testsupport::SnmpTestAgent& agent) {
    IniFile::File config;
    std::istringstream text("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) + "\nname = zarngw\n");
    text >> config;
    ctrl.CreateInstances(config["snmpagent"]);
    run_for(100);
    agent.pump(1000);
    return *ctrl.links().front();
  }
};

// The silence limit is a signed difference of wrapping 32-bit stamps: a
// link connected just before the millisecond count wraps is still dropped
// after 30 s, and not before.
TEST_F(SnmpAgentLink, SilentAgentDroppedAcrossTheWrap) {
  // 4294967.296 s is 2^32 ms: start 10 s before the wrap.
  platform::vclock::set(4294957, 0);
  Mux::g_tv_time = Mux::timeval(0, 0);
  testsupport::SnmpTestAgent agent(false);
  SnmpAgentCtrl ctrl;
  SnmpAgentInstance& link = link_to(ctrl, agent);
  ASSERT_EQ(ctrl.links().size(), 1u);
  ASSERT_EQ(link.state(), SnmpAgentInstance::connected);
  std::string v = "x";
  ctrl.Send(27, v);
  run_for(29000);
  EXPECT_EQ(link.state(), SnmpAgentInstance::connected);
  run_for(7000);
  EXPECT_EQ(link.state(), SnmpAgentInstance::lost);
  agent.pump(100);
  EXPECT_GE(agent.count_commands(&MON::Command::ping_isSelected), 5);
}

// A batch longer than a peer decodes in one message reaches the agent whole,
// in several messages and in order.
TEST_F(SnmpAgentLink, LongBatchGoesInMessagesThePeerDecodes) {
  testsupport::SnmpTestAgent agent(true);
  SnmpAgentCtrl ctrl;
  ASSERT_EQ(link_to(ctrl, agent).state(), SnmpAgentInstance::connected);
  const int n = 2 * int(SnmpAgentCtrl::max_commands) + 44;
  for (int i = 0; i < n; ++i) {
    std::string v = std::to_string(i);
    ctrl.Send(27, i, v);  // mask 4: one batch
  }
  run_for(10);
  ASSERT_TRUE(agent.wait([&] { return agent.values_of("sgBuildVersion").size() >= std::size_t(n); }, 3000));
  for (const auto& f : agent.frames) EXPECT_TRUE(f.decoded);
  const auto got = agent.values_of("sgBuildVersion");
  ASSERT_EQ(got.size(), std::size_t(n));
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(got[i].index, i);
    if (i > 0) {
      EXPECT_EQ(got[i].uniq, got[i - 1].uniq + 1);
    }
  }
  EXPECT_EQ(got.back().frame - got.front().frame, 2);
}

// Values too long together for one frame reach the agent whole as well, in
// order: batched ones and a list passed through alike.
TEST_F(SnmpAgentLink, LongValuesGoInMessagesThatFitAFrame) {
  testsupport::SnmpTestAgent agent(true);
  SnmpAgentCtrl ctrl;
  ASSERT_EQ(link_to(ctrl, agent).state(), SnmpAgentInstance::connected);
  const std::size_t n = 100;  // of 1000 octets each: two frames' worth
  const std::string base(1000, 'v');
  MON::SnmpSetCommands list;
  for (std::size_t i = 0; i < n; ++i) {
    std::string v = base + std::to_string(i);
    ctrl.Send(27, int(i), v);
    MON::SnmpSetCommand c;
    c.set_uniq(int(i));
    c.set_id().select_name().set_section("s");
    c.ref_id().ref_name().set_name("n");
    c.ref_id().ref_name().set_index(int(i));
    c.set_value(v);
    list.ref_commands().push_back(c);
  }
  ctrl.Send(list);
  // Long names count as much as long values.
  const std::string long_name(1000, 'n');
  for (auto& c : list.ref_commands()) {
    c.ref_id().ref_name().set_section(long_name);
    c.ref_id().ref_name().set_name(long_name);
    c.set_value(c.get_value().substr(1000));
  }
  ctrl.Send(list);
  run_for(10);
  agent.wait([&] {
    return agent.values_of("sgBuildVersion").size() >= n && agent.values_of("n").size() >= n &&
           agent.values_of(long_name).size() >= n;
  }, 3000);
  for (const auto& f : agent.frames) EXPECT_TRUE(f.decoded);
  const auto named = agent.values_of(long_name);
  ASSERT_EQ(named.size(), n);
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(named[i].value, std::to_string(i));
  for (const char* name : {"sgBuildVersion", "n"}) {
    const auto got = agent.values_of(name);
    ASSERT_EQ(got.size(), n) << name;
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(got[i].value, base + std::to_string(i));
  }
}
