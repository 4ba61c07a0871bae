// The programs the server starts (t38, pppd) misbehaving as they can on a
// real board: an exec that fails each way, ends by exit, signal and core
// dump, a stop and a continue, a grandchild that keeps the channel, many
// programs ending at once, and fork refused for want of process ids. The
// server runs as a black box; these tests wait in real time, each wait
// bounded and ended as soon as the awaited thing has happened.
#include "tests/media/t38_images.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/netns.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"

#include "schema/lgcp/LGCP.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;

// A frame as short text; aborts with their codes, accounting with the
// octets received (a fax's pages).
std::string tell(const std::string& frame) {
  LGCP::Message m;
  if (frame.empty() || !decode(frame, m) || !m.get_pdu().signal_isSelected()) return describe(frame);
  const LGCP::Signal& s = m.get_pdu().get_signal();
  const std::string slot = "slot " + std::to_string(m.get_slot().getValue());
  if (s.abort_isSelected()) return slot + " abort " + std::to_string(s.get_abort().getValue());
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().acct_isSelected())
    return slot + " acct in " + std::to_string(s.get_modemProceeding().get_acct().get_octetsIn().get_low().getValue());
  return describe(frame);
}

void write_file(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  ::chmod(path.c_str(), mode);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string simple(int seq, int slot, const char* what) { return null_command_image(seq, slot, what); }

std::string dsp_modem(int seq, int slot) {
  return create_image(seq, slot, [](LGCP::CreateParams& p) {
    TERM::ModemParams& m = p.select_modem();
    m.set_cid("");
    m.set_cdid("");
  });
}

// The t38 stand-in under the server's board root, its steering files
// cleared; the path of its (emptied) log.
std::string install_t38(const RunningServer& srv) {
  const std::string dir = srv.board("/usr/local/sbin/");
  const std::string q = "'" + dir + "'";
  // A core dumped by a crash row goes too.
  std::system(("mkdir -p " + q + " && cd " + q + " && rm -rf t38 t38.exit t38.stubborn t38.crash t38.orphan core core.* && cp '" GW_T38_STANDIN "' t38").c_str());
  ::chmod((dir + "t38").c_str(), 0755);
  write_file(dir + "t38.log", "");
  return dir + "t38.log";
}

// The pids the stand-in logged, in start order.
std::vector<int> t38_pids(const std::string& log) {
  std::vector<int> out;
  std::istringstream in(file_text(log));
  for (std::string l; std::getline(in, l);)
    if (l.compare(0, 4, "pid=") == 0) out.push_back(std::stoi(l.substr(4)));
  return out;
}

std::size_t channel_count(RunningServer& srv) {
  const std::string all = srv.sim.ask("mcc channels");
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + (all.empty() ? 0 : 1);
}

class ProgramFaults : public SharedServerTest<ProgramFaults> {
 protected:
  void SetUp() override {
    SharedServerTest::SetUp();
    log_ = install_t38(srv());
    dir_ = srv().board("/usr/local/sbin/");
    idle_ = channel_count(srv());
  }

  // Frames until `n` of them satisfy `want` or time is up; those frames.
  static Strings collect(std::size_t n, const std::function<bool(const std::string&)>& want = nullptr) {
    Strings got;
    std::size_t matched = 0;
    while (matched < n) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) break;
      const std::string t = tell(f);
      if (want && !want(t)) continue;
      got.push_back(t);
      ++matched;
    }
    return got;
  }
  static std::string next_abort() {
    const Strings a = collect(1, [](const std::string& t) { return has(t, " abort "); });
    return a.empty() ? "no abort" : a[0];
  }
  static std::string answer_of(const std::string& image) {
    srv().ctl.send(image);
    const Strings a = collect(1, [](const std::string& t) { return t.compare(0, 4, "seq ") == 0; });
    return a.empty() ? "no answer" : a[0];
  }
  // A t38 slot made: its answer, its two stream reports passed by.
  static std::string create_t38(int seq, int slot) {
    srv().ctl.send(t38test::create(seq, slot, "10.0.0.1", 0));
    const Strings got = collect(3);
    return got.empty() ? "no answer" : got[0];
  }
  // Anything the server sends within a short while.
  static Strings quiet(int ms = 300) {
    Strings out;
    for (const auto& f : srv().ctl.frames(ms)) out.push_back(tell(f));
    return out;
  }
  // A stop and a continue are no end: the program is then killed.
  static void stop_continue_kill(int pid) {
    ::kill(pid, SIGSTOP);
    EXPECT_EQ(quiet(), Strings{}) << "a stop taken for an end";
    ::kill(pid, SIGCONT);
    EXPECT_EQ(quiet(), Strings{}) << "a continue taken for an end";
    ::kill(pid, SIGKILL);
  }
  bool ready_line(std::size_t n = 1) const {
    return eventually([&] { return count_of(file_text(log_), "ready\n") >= n; });
  }

  std::string log_, dir_;
  std::size_t idle_ = 0;
};

}  // namespace

// However the exec fails, the child ends as a program that cannot run: the
// slot reports it once with the status of exit code 1005 (237), and its
// destroy leaves no channel.
TEST_F(ProgramFaults, T38ExecFailingEachWayEndsTheSlotOnce) {
  const std::string t38 = dir_ + "t38";
  struct Row {
    const char* what;
    std::function<void()> make;
  } rows[] = {
      {"missing (ENOENT)", [&] { ::unlink(t38.c_str()); }},
      {"a directory (EACCES)", [&] { ::unlink(t38.c_str()), ::mkdir(t38.c_str(), 0755); }},
      {"a script without #! (ENOEXEC)", [&] { ::unlink(t38.c_str()), write_file(t38, "echo ran >&2\n", 0755); }},
      {"missing interpreter", [&] { ::unlink(t38.c_str()), write_file(t38, "#!/nonexistent/sh\necho ran\n", 0755); }},
      {"interpreter not executable",
       [&] { ::unlink(t38.c_str()), write_file(t38, "#!" + dir_ + "t38.log\necho ran\n", 0755); }},
  };
  int seq = 1;
  for (const Row& r : rows) {
    ::rmdir(t38.c_str());
    r.make();
    EXPECT_EQ(create_t38(seq, 60), "seq " + std::to_string(seq) + " slot 60 success")
        << r.what;
    EXPECT_EQ(next_abort(), "slot 60 abort 60672") << r.what;
    EXPECT_TRUE(srv().wait_log("t38 daemon terminated with code=237")) << r.what;
    EXPECT_EQ(answer_of(simple(seq + 1, 60, "destroy")), "seq " + std::to_string(seq + 1) + " slot 60 success")
        << r.what;
    EXPECT_EQ(quiet(), Strings{}) << r.what << ": reported twice";
    EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_; })) << r.what << ": channel left";
    seq += 2;
  }
  ::rmdir(t38.c_str());
  install_t38(srv());
}

// What the controller is told of each way a program ends: the raw wait
// status, so an exit code, a signal and a core dump stay apart; a stop and
// a continue are no end at all.
TEST_F(ProgramFaults, T38EndsReachTheControllerAsTheirWaitStatus) {
  struct Row {
    const char* what;
    const char* file;  // steering file made before the start
    std::function<void(int pid)> act;
    std::set<int> aborts;  // a core dump shows only where the system writes one
    const char* line;
  } rows[] = {
      {"exit 5", "t38.exit", nullptr, {5 << 8}, "t38 daemon terminated with code=5"},
      // SIGQUIT: a sanitized program turns some other signals into exits.
      {"SIGQUIT", nullptr, [](int pid) { ::kill(pid, SIGQUIT); }, {SIGQUIT, SIGQUIT | 0x80},
       "t38 daemon terminated by signal=3"},
      {"abort dumping core", "t38.crash", nullptr, {SIGABRT | 0x80, SIGABRT}, "t38 daemon terminated by signal=6"},
      {"stopped, continued, killed", nullptr,
       stop_continue_kill,
       {SIGKILL}, "t38 daemon terminated by signal=9"},
  };
  int seq = 1;
  for (const Row& r : rows) {
    install_t38(srv());
    if (r.file) write_file(dir_ + r.file, "5");
    EXPECT_EQ(create_t38(seq, 61), "seq " + std::to_string(seq) + " slot 61 success")
        << r.what;
    ASSERT_TRUE(ready_line()) << r.what;
    const int pid = t38_pids(log_).at(0);
    if (r.act) r.act(pid);
    const std::string a = next_abort();
    const int code = std::atoi(a.substr(a.rfind(' ') + 1).c_str());
    EXPECT_EQ(r.aborts.count(code), 1u) << r.what << ": " << a;
    EXPECT_TRUE(srv().wait_log("terminate child process, pid=" + std::to_string(pid) + " status=" +
                               std::to_string(code) + "\n"))
        << r.what;
    EXPECT_TRUE(srv().wait_log(r.line)) << r.what;
    EXPECT_EQ(answer_of(simple(seq + 1, 61, "destroy")), "seq " + std::to_string(seq + 1) + " slot 61 success");
    EXPECT_EQ(quiet(), Strings{}) << r.what;
    EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_; })) << r.what << ": channel left";
    seq += 2;
  }
  install_t38(srv());
}

// A program stopped when its slot goes cannot act on the SIGTERM: it is not
// taken for ended, and is killed with its channel after the grace time.
TEST_F(ProgramFaults, T38ProgramStoppedAtTheDestroyIsStillKilled) {
  EXPECT_EQ(create_t38(1, 62), "seq 1 slot 62 success");
  ASSERT_TRUE(ready_line());
  const int pid = t38_pids(log_).at(0);
  ::kill(pid, SIGSTOP);
  EXPECT_EQ(quiet(), Strings{});
  EXPECT_EQ(answer_of(simple(2, 62, "destroy")), "seq 2 slot 62 success");
  EXPECT_EQ(channel_count(srv()), idle_ + 1) << "a stopped program still holds its channel";
  EXPECT_TRUE(srv().wait_log("still running after SIGTERM, killing")) << srv().log();
  EXPECT_TRUE(srv().wait_log("terminate child process, pid=" + std::to_string(pid) + " status=9\n")) << srv().log();
  EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_; })) << "the stopped program kept its channel";
  EXPECT_EQ(quiet(), Strings{}) << "the destroyed slot reports nothing";
}

// A program that leaves a process behind holding its standard input (the
// channel): the slot's end is reported once, the channel stays with that
// process and no other slot is given it; it goes when that process does.
TEST_F(ProgramFaults, T38GrandchildKeepingTheChannelLeavesTheNextSlotClean) {
  write_file(dir_ + "t38.orphan", "");
  EXPECT_EQ(create_t38(1, 63), "seq 1 slot 63 success");
  ASSERT_TRUE(ready_line());
  const std::string first = file_text(log_);
  const int orphan = std::stoi(first.substr(first.find("orphan=") + 7));
  EXPECT_EQ(next_abort(), "slot 63 abort 0");
  const std::string held = srv().sim.ask("mcc channels");
  EXPECT_EQ(answer_of(simple(2, 63, "destroy")), "seq 2 slot 63 success");
  EXPECT_EQ(channel_count(srv()), idle_ + 1) << "the channel goes with the last process holding it";

  ::unlink((dir_ + "t38.orphan").c_str());
  write_file(log_, "");
  EXPECT_EQ(create_t38(3, 64), "seq 3 slot 64 success");
  ASSERT_TRUE(ready_line());
  EXPECT_EQ(channel_count(srv()), idle_ + 2);
  const std::string both = srv().sim.ask("mcc channels");
  const std::string fresh = both.substr(both.rfind('\n') + 1);
  EXPECT_FALSE(has(held, fresh.substr(0, fresh.find(':')) + ":")) << "the held channel was given again: " << both;

  ::kill(orphan, SIGKILL);
  EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_ + 1; })) << srv().sim.ask("mcc channels");
  EXPECT_EQ(quiet(), Strings{}) << "the left-behind process is no slot's";
  EXPECT_EQ(answer_of(simple(4, 64, "destroy")), "seq 4 slot 64 success");
  EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_; }));
}

// Many programs ending in one loop pass: each end reaches its slot once,
// killed all at once or all sent SIGTERM by one burst of destroys, with
// pppd slots answering their destroys when their program has ended.
TEST_F(ProgramFaults, ManyProgramsEndingTogetherAreEachReportedOnce) {
  const int n = 12;
  Strings creates, destroys;
  for (int i = 0; i < n; ++i) creates.push_back(t38test::create(1, 100 + i, "10.0.0.1", 0));
  srv().ctl.send_all(creates);
  EXPECT_EQ(collect(n, [](const std::string& t) { return has(t, " success"); }).size(), std::size_t(n));
  ASSERT_TRUE(ready_line(n));
  const std::vector<int> pids = t38_pids(log_);
  ASSERT_EQ(pids.size(), std::size_t(n));
  for (int pid : pids) ::kill(pid, SIGKILL);
  Strings aborts = collect(n, [](const std::string& t) { return has(t, " abort "); });
  std::sort(aborts.begin(), aborts.end());
  Strings want;
  for (int i = 0; i < n; ++i) want.push_back("slot " + std::to_string(100 + i) + " abort 9");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(aborts, want);
  EXPECT_EQ(quiet(), Strings{}) << "an end reported twice";
  for (int i = 0; i < n; ++i) destroys.push_back(simple(2, 100 + i, "destroy"));
  srv().ctl.send_all(destroys);
  EXPECT_EQ(collect(n, [](const std::string& t) { return has(t, " success"); }).size(), std::size_t(n));

  // Again, with pppd slots among them, all destroyed in one burst.
  const int m = 4;
  write_file(log_, "");
  creates.clear();
  destroys.clear();
  for (int i = 0; i < n; ++i) creates.push_back(t38test::create(3, 100 + i, "10.0.0.1", 0));
  for (int i = 0; i < m; ++i) {
    creates.push_back(trunk_image(4, 120 + i, 0, 1 + i));
    creates.push_back(dsp_modem(5, 130 + i));
    creates.push_back(connect_image(6, 120 + i, 130 + i));
  }
  srv().ctl.send_all(creates);
  EXPECT_EQ(collect(n + 3 * m, [](const std::string& t) { return t.compare(0, 4, "seq ") == 0; }).size(),
            std::size_t(n + 3 * m));
  ASSERT_TRUE(ready_line(n));
  // Each pppd up to its hangup handler: a hangup before it would end it
  // with the signal's default action.
  const std::string pppd_log = srv().board("/var/standin/pppd.log");
  ASSERT_TRUE(eventually([&] { return count_of(file_text(pppd_log), "pid ") >= std::size_t(m); })) << srv().log();
  const std::vector<int> again = t38_pids(log_);
  Strings expected;
  for (int i = 0; i < n; ++i) {
    destroys.push_back(simple(7, 100 + i, "destroy"));
    expected.push_back("seq 7 slot " + std::to_string(100 + i) + " success");
  }
  for (int i = 0; i < m; ++i) {
    for (int s : {130 + i, 120 + i}) {
      destroys.push_back(simple(8, s, "destroy"));
      expected.push_back("seq 8 slot " + std::to_string(s) + " success");
    }
  }
  srv().ctl.send_all(destroys);
  Strings answers = collect(expected.size());
  std::sort(answers.begin(), answers.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(answers, expected);
  EXPECT_EQ(quiet(), Strings{});
  for (int pid : again)
    EXPECT_TRUE(srv().wait_log("terminate child process, pid=" + std::to_string(pid) + " status=0\n")) << pid;
  EXPECT_TRUE(eventually([&] { return channel_count(srv()) == idle_; }));
  const std::string all = srv().log();
  for (int pid : again)
    EXPECT_EQ(count_of(all, "terminate child process, pid=" + std::to_string(pid) + " "), 1u) << pid;
  EXPECT_EQ(count_of(all, "pppd terminated with code 0\n"), std::size_t(m)) << all;
  ::unlink(pppd_log.c_str());
}

// pppd failing to run or ending each way: one abort with the raw wait
// status, and the slot's destroy hands its modem back, so every row gets
// the same modem and time slot.
TEST_F(ProgramFaults, PppdFailuresAndEndsAbortOnceAndFreeTheModem) {
  const std::string bad = dir_ + "pppd-bad";
  const std::string pppd_log = srv().board("/var/standin/pppd.log");
  const auto mode = [&](const std::string& text) {
    ::mkdir(srv().board("/var/standin").c_str(), 0755);
    write_file(srv().board("/var/standin/pppd.mode"), text + "\n");
  };
  const auto standin_pid = [&] {
    EXPECT_TRUE(eventually([&] { return has(file_text(pppd_log), "pid "); }));
    return std::atoi(file_text(pppd_log).c_str() + 4);
  };
  struct Row {
    const char* what;
    std::function<void()> make;  // a program of the controller's, at `bad`
    const char* mode;            // else the stand-in, in this mode
    std::function<void(int pid)> act;
    std::set<int> aborts;
  } rows[] = {
      {"not executable", [&] { write_file(bad, "#!/bin/sh\n", 0644); }, nullptr, nullptr, {512}},
      {"a directory", [&] { ::mkdir(bad.c_str(), 0755); }, nullptr, nullptr, {512}},
      {"a script without #!", [&] { write_file(bad, "echo ran >&2\n", 0755); }, nullptr, nullptr, {512}},
      {"missing interpreter", [&] { write_file(bad, "#!/nonexistent/sh\n", 0755); }, nullptr, nullptr, {512}},
      {"exit 7", nullptr, "exit 7", nullptr, {7 << 8}},
      {"SIGQUIT", nullptr, "hup 0", [](int pid) { ::kill(pid, SIGQUIT); }, {SIGQUIT, SIGQUIT | 0x80}},
      {"abort dumping core", nullptr, "crash", nullptr, {SIGABRT, SIGABRT | 0x80}},
      {"stopped, continued, killed", nullptr, "hup 0",
       stop_continue_kill,
       {SIGKILL}},
  };
  std::string first_streams;
  int seq = 1;
  for (const Row& r : rows) {
    std::system(("rm -rf '" + bad + "'").c_str());
    ::unlink(pppd_log.c_str());
    if (r.make) r.make();
    mode(r.mode ? r.mode : "hup 0");
    srv().ctl.send(trunk_image(seq, 140, 0, 5));
    EXPECT_EQ(collect(3).size(), 3u) << r.what;
    EXPECT_EQ(answer_of(create_image(seq + 1, 141,
                                     [&](LGCP::CreateParams& p) {
                                       TERM::ModemParams& m = p.select_modem();
                                       m.set_cid("");
                                       m.set_cdid("");
                                       if (r.make) m.set_execfile("/usr/local/sbin/pppd-bad");
                                     })),
              "seq " + std::to_string(seq + 1) + " slot 141 success")
        << r.what;
    srv().ctl.send(connect_image(seq + 2, 140, 141));
    const Strings streams = collect(3);
    if (first_streams.empty() && !streams.empty()) first_streams = streams[0];
    EXPECT_EQ(streams.empty() ? "" : streams[0], first_streams) << r.what << ": another modem";
    if (r.act) r.act(standin_pid());
    const std::string a = next_abort();
    const int code = std::atoi(a.substr(a.rfind(' ') + 1).c_str());
    EXPECT_EQ(r.aborts.count(code), 1u) << r.what << ": " << a;
    EXPECT_TRUE(srv().wait_log("pppd terminated with code " + std::to_string(code) + "\n")) << r.what;
    EXPECT_EQ(answer_of(simple(seq + 3, 141, "destroy")), "seq " + std::to_string(seq + 3) + " slot 141 success")
        << r.what;
    EXPECT_EQ(answer_of(simple(seq + 4, 140, "destroy")), "seq " + std::to_string(seq + 4) + " slot 140 success")
        << r.what;
    EXPECT_EQ(quiet(), Strings{}) << r.what << ": reported twice";
    seq += 5;
  }
  std::system(("rm -rf '" + bad + "' '" + srv().board("/var/standin") + "'/core*").c_str());
  ::unlink(pppd_log.c_str());
  mode("hup 0");
}

// A fax program that cannot run is no fax that received pages: the
// accounting before the abort counts none, while a program that ran and
// ended with the same code has its code taken as its pages.
TEST_F(ProgramFaults, FaxProgramThatCannotRunCountsNoPages) {
  const std::string bad = dir_ + "fax-bad";
  write_file(bad, "#!/bin/sh\n", 0644);
  ::mkdir(srv().board("/var/standin").c_str(), 0755);
  write_file(srv().board("/var/standin/fax.mode"), "exit 2\n");
  struct Row {
    const char* execfile;
    const char* pages;
    const char* lines;
  } rows[] = {{"/usr/local/sbin/fax-bad", "0", "fax transfer failed\npages received: 0\n"},
              {"/usr/local/sbin/fax", "2", "fax terminated with code 512\npages received: 2\n"}};
  int seq = 1;
  for (const Row& r : rows) {
    srv().ctl.send(trunk_image(seq, 144, 0, 7));
    EXPECT_EQ(collect(3).size(), 3u);
    EXPECT_EQ(answer_of(create_image(seq + 1, 145,
                                     [&](LGCP::CreateParams& p) {
                                       TERM::ModemParams& m = p.select_modem();
                                       m.set_cid("");
                                       m.set_cdid("");
                                       m.set_fax();
                                       m.set_execfile(r.execfile);
                                       m.set_execargs().push_back(ASN1::IA5String("send"));
                                     })),
              "seq " + std::to_string(seq + 1) + " slot 145 success");
    srv().ctl.send(connect_image(seq + 2, 144, 145));
    const Strings got = collect(5);
    ASSERT_EQ(got.size(), 5u) << r.execfile;
    EXPECT_EQ(Strings(got.begin() + 2, got.end()),
              (Strings{"seq " + std::to_string(seq + 2) + " slot 144 success", std::string("slot 145 acct in ") + r.pages,
                       "slot 145 abort 512"}))
        << r.execfile;
    EXPECT_TRUE(srv().wait_log(r.lines)) << r.execfile;
    EXPECT_EQ(answer_of(simple(seq + 3, 145, "destroy")), "seq " + std::to_string(seq + 3) + " slot 145 success");
    EXPECT_EQ(answer_of(simple(seq + 4, 144, "destroy")), "seq " + std::to_string(seq + 4) + " slot 144 success");
    EXPECT_EQ(quiet(), Strings{});
    seq += 5;
  }
  ::unlink(bad.c_str());
  ::unlink(srv().board("/var/standin/fax.mode").c_str());
}

// A pppd stopped when its slot goes cannot act on the hangup: the destroy
// is not taken as done at the stop, and completes after the kill.
TEST_F(ProgramFaults, PppdStoppedAtTheDestroyIsKilledAfterTheGraceTime) {
  const std::string pppd_log = srv().board("/var/standin/pppd.log");
  ::unlink(pppd_log.c_str());
  srv().ctl.send(trunk_image(1, 142, 0, 6));
  EXPECT_EQ(collect(3).size(), 3u);
  EXPECT_EQ(answer_of(dsp_modem(2, 143)), "seq 2 slot 143 success");
  srv().ctl.send(connect_image(3, 142, 143));
  EXPECT_EQ(collect(3).size(), 3u);
  ASSERT_TRUE(eventually([&] { return has(file_text(pppd_log), "pid "); }));
  const int pid = std::atoi(file_text(pppd_log).c_str() + 4);
  ::kill(pid, SIGSTOP);
  const auto t0 = real_ms();
  EXPECT_EQ(answer_of(simple(4, 143, "destroy")), "seq 4 slot 143 success");
  EXPECT_GE(real_ms() - t0, 4900) << "a stopped pppd taken for ended";
  EXPECT_TRUE(srv().wait_log("pppd terminate timeout!\npppd isn't terminated, killing ...\n")) << srv().log();
  EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; })) << "killed and reaped";
  EXPECT_EQ(answer_of(simple(5, 142, "destroy")), "seq 5 slot 142 success");
  EXPECT_EQ(quiet(), Strings{});
}

// fork refused with EAGAIN, for real: the server runs in a process-id
// namespace whose ids are all taken. A t38 create is refused with no
// channel left; a modem start aborts with the errno; once ids are free
// again both start their programs.
TEST(ProgramForkRefused, NoProcessIdLeftRefusesCleanlyAndRecovers) {
  RUN_IN_NETNS(result, ([]() -> std::string {
    if (::unshare(CLONE_NEWPID) != 0) throw NetnsUnavailable("no process-id namespace");
    int out[2];
    if (::pipe(out) != 0) throw NetnsUnavailable("no pipe");
    const pid_t init = ::fork();
    if (init < 0) throw NetnsUnavailable("no first process in the namespace");
    if (init == 0) {
      ::close(out[0]);
      std::ostringstream r;
      try {
        ip("link set lo up");
        const int fd = ::open("/proc/sys/kernel/pid_max", O_WRONLY);
        if (fd < 0 || ::write(fd, "400", 3) != 3) throw NetnsUnavailable("process-id limit not settable per namespace");
        ::close(fd);
        RunningServer srv;
        if (!srv.ready()) throw std::runtime_error("server not ready: " + srv.log());
        const std::string log = install_t38(srv);
        const std::size_t idle = channel_count(srv);
        auto answer = [&](const std::string& image, std::size_t n = 1) {
          srv.ctl.send(image);
          std::string got;
          for (std::size_t i = 0; i < n; ++i) got += tell(srv.ctl.next(patience_ms)) + "; ";
          return got;
        };
        r << answer(trunk_image(1, 2, 0, 1), 3) << "\n";
        r << answer(dsp_modem(2, 3)) << "\n";

        // Take every id left.
        int hold[2];
        if (::pipe(hold) != 0) throw std::runtime_error("no pipe");
        std::vector<pid_t> holders;
        for (;;) {
          const pid_t h = ::fork();
          if (h < 0) {
            if (errno != EAGAIN) throw std::runtime_error("fork failed otherwise");
            break;
          }
          if (h == 0) {
            ::close(hold[1]);
            char c;
            while (::read(hold[0], &c, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
          }
          holders.push_back(h);
        }
        ::close(hold[0]);
        r << "t38: " << answer(t38test::create(3, 4, "10.0.0.1", 0)) << "channels left " << channel_count(srv) - idle
          << "\n";
        r << "modem: " << answer(connect_image(4, 2, 3), 4) << "\n";
        r << "logged: " << srv.wait_log("vfork fail: Resource temporarily unavailable\n", 1000) << "\n";

        ::close(hold[1]);
        for (pid_t h : holders) ::waitpid(h, nullptr, 0);
        r << answer(simple(5, 3, "destroy")) << answer(simple(6, 2, "destroy")) << "\n";
        r << "t38: " << answer(t38test::create(7, 4, "10.0.0.1", 0), 3)
          << "ran " << eventually([&] { return has(file_text(log), "ready\n"); }) << "\n";
        r << answer(trunk_image(8, 2, 0, 1), 3) << answer(dsp_modem(9, 3)) << answer(connect_image(10, 2, 3), 3)
          << "pppd " << srv.wait_log("pppd executed") << "\n";
        r << answer(simple(11, 4, "destroy")) << answer(simple(12, 3, "destroy")) << answer(simple(13, 2, "destroy"))
          << "\n";
        r << "stop " << srv.stop() << "\n";
      } catch (const NetnsUnavailable& e) {
        r.str("");
        r << "-" << e.what();
      } catch (const std::exception& e) {
        r << "threw: " << e.what();
      }
      const std::string s = r.str();
      (void)!::write(out[1], s.data(), s.size());
      ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ::waitpid(init, nullptr, 0);
    if (!text.empty() && text[0] == '-') throw NetnsUnavailable(text.substr(1));
    return text;
  }));
  EXPECT_EQ(result.output,
            "seq 1 slot 2 success; slot 2 transmitter active 1; slot 2 receiver active 1; \n"
            "seq 2 slot 3 success; \n"
            "t38: seq 3 slot 4 error insufficientResources; channels left 0\n"
            "modem: slot 3 transmitter active 1792; slot 3 receiver active 1792; slot 3 abort 11; seq 4 slot 2 success; \n"
            "logged: 1\n"
            "seq 5 slot 3 success; seq 6 slot 2 success; \n"
            "t38: seq 7 slot 4 success; slot 4 transmitter active 4097; slot 4 receiver active 4097; ran 1\n"
            "seq 8 slot 2 success; slot 2 transmitter active 1; slot 2 receiver active 1; seq 9 slot 3 success; "
            "slot 3 transmitter active 1792; slot 3 receiver active 1792; seq 10 slot 2 success; pppd 1\n"
            "seq 11 slot 4 success; seq 12 slot 3 success; seq 13 slot 2 success; \n"
            "stop 0\n");
}
