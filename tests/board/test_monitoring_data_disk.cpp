// The status files on a status tree that refuses writes, for real: a tiny
// tmpfs mounted over "/var/monitoring/" in a mount namespace of the test's
// own, filled to the last byte, remounted read-only, or closed to the
// writer by its mode; and a file name taken by a directory, which refuses
// the rename. The readers keep the last complete file meanwhile, the
// change still counts as one, and once the fault is gone the next check
// with the same value writes the file. Then the same for the running
// server, with its status dump.
#include "board/monitoring/monitoring_data_holder.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/log_sink.h"
#include "tests/support/netns.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The failures a child noted, one line each; "" when there were none.
struct Notes {
  std::string text;
  void check(bool ok, const std::string& what) {
    if (!ok) text += what + "\n";
  }
};

}  // namespace

TEST(MonitoringDataHolder, StatusFilesOnAFailingDisk) {
  testsupport::ScratchBoardRoot root;
  const std::string mon = root.path() + "/var/monitoring";
  ASSERT_EQ(std::system(("mkdir -p " + mon).c_str()), 0);

  RUN_IN_MOUNTNS(result, [&]() {
    // Room for the status files and a few pages more.
    testsupport::mount_tmpfs(mon, 64 * 1024);
    Notes notes;
    const int descriptors = testsupport::open_descriptors();
    MonitoringDataHolder h;
    const std::string own = h.getSelfHostAddress().GetStrAddr();
    const std::string ctl = mon + "/controller/" + own;
    const std::string files[] = {mon + "/dip", mon + "/powerstatus", mon + "/config_version", ctl + "/status"};
    std::string filler;

    const auto refusals = testsupport::disk_refusals(mon, {ctl});
    const testsupport::DiskFault faults[] = {
        // First, so the own controller's directory and "self" link are
        // made only once the disk takes them.
        refusals[0],
        {"full", [&] { filler = testsupport::fill(mon); }, [&] { ::unlink(filler.c_str()); }},
        refusals[1],
        {"rename refused",
         [&] {
           for (const auto& f : files) ::unlink(f.c_str()), ::mkdir(f.c_str(), 0755);
         },
         [&] {
           for (const auto& f : files) ::rmdir(f.c_str());
         }},
    };

    // One call of every setter with the values of step n; what each
    // reported, as one text.
    auto set_all = [&](int n) {
      LGCP::ControllerInfo info;
      info.set_host().set_iaddr(own);
      info.set_status(static_cast<HSP::ControllerStatus::NamedNumber>(n % 2 ? HSP::ControllerStatus::active
                                                                            : HSP::ControllerStatus::standby));
      std::string r;
      r += h.setDipValue(n) ? '1' : '0';
      r += h.setPowerStatus(static_cast<LGCP::POWERStatus::NamedNumber>(n % 2 ? 2 : 1)) ? '1' : '0';
      r += h.setConfigVersion(n, n) ? '1' : '0';
      r += h.setControllerStatus(info) ? '1' : '0';
      return r;
    };
    auto contents = [&]() {
      std::string r;
      for (const auto& f : files) r += "[" + read(f) + "]";
      return r;
    };
    h.setDipValue(0);
    h.setPowerStatus(LGCP::POWERStatus::standby);
    h.setConfigVersion(0, 0);
    std::string before = contents();

    int n = 0;
    for (const auto& fault : faults) {
      const std::string row = std::string(fault.name) + ": ";
      ++n;
      fault.on();
      std::ostringstream log;
      std::streambuf* was = std::clog.rdbuf(log.rdbuf());
      notes.check(set_all(n) == "1111", row + "every change is reported");
      const std::string first = log.str();
      notes.check(set_all(n) == "0000", row + "a retry is not a change");
      std::clog.rdbuf(was);
      fault.off();
      if (std::string(fault.name) != "rename refused")
        notes.check(contents() == before, row + "the last complete files stay: " + contents() + " not " + before);
      for (const auto& f : files) notes.check(!exists(f + "_tmp"), row + "nothing left aside for " + f);
      // The failed write of each of the four files is logged, its retries
      // are not.
      std::size_t fails = 0;
      for (std::size_t at = 0; (at = first.find("FAIL", at)) != std::string::npos; ++at) ++fails;
      notes.check(fails >= 4, row + "every failure is logged: " + first);
      notes.check(log.str() == first, row + "retries are quiet: " + log.str());

      notes.check(set_all(n) == "0000", row + "the retry once the disk is back is not a change");
      const std::string now = contents();
      notes.check(now != before && exists(mon + "/controller/self/status") &&
                      read(mon + "/controller/self/status") == read(ctl + "/status"),
                  row + "written once the disk is back: " + now);
      // Written: the next call with the same value writes nothing.
      for (const auto& f : files) ::unlink(f.c_str());
      set_all(n);
      for (const auto& f : files) notes.check(!exists(f), row + "written twice: " + f);
      for (const auto& f : files) ::rmdir(f.c_str());
      ++n;
      notes.check(set_all(n) == "1111", row + "a change after the fault");
      before = contents();
    }

    // A file cut short: one page left for a value that needs two. The
    // last complete value stays, and the next push of it writes it.
    MON::SnmpSetCommands list;
    MON::SnmpSetCommand v;
    v.set_uniq(1);
    v.set_id().select_name().set_section("s");
    v.ref_id().ref_name().set_name("n");
    v.ref_id().ref_name().set_index(1);
    v.set_value("short");
    list.ref_commands().push_back(v);
    h.setSnmpCommands(list);
    filler = testsupport::fill(mon);
    struct stat st;
    ::stat(filler.c_str(), &st);
    ::truncate(filler.c_str(), st.st_size > 4096 ? st.st_size - 4096 : 0);
    list.ref_commands().clear();
    v.set_value(std::string(6000, 'x'));
    list.ref_commands().push_back(v);
    std::ostringstream log;
    std::streambuf* was = std::clog.rdbuf(log.rdbuf());
    h.setSnmpCommands(list);
    std::clog.rdbuf(was);
    notes.check(read(mon + "/s/1/n") == "short", "cut short: the last complete value stays");
    notes.check(log.str() == "FAIL write status file </var/monitoring/s/1/n> with code=28\n",
                "cut short: " + log.str());
    ::unlink(filler.c_str());
    h.setSnmpCommands(list);
    notes.check(read(mon + "/s/1/n") == std::string(6000, 'x'), "cut short: written once there is room");

    notes.check(testsupport::open_descriptors() == descriptors, "descriptors left open");
    return notes.text;
  });
  EXPECT_EQ(result.output, "");
}

// The running server with its status tree and its "/var/log/" on small
// disks that fill up: the status dump asked for meanwhile fails with its
// line and leaves the last complete dump, a new DIP value waits in memory,
// and both reach their files once there is room again, while the server
// runs on. Waits in real time for the two-second checks.
TEST(MonitoringServer, StatusTreeAndDumpOnAFullDisk) {
  RUN_IN_MOUNTNS(result, []() {
    testsupport::RunningServer srv({}, [](const std::string& root) {
      for (const char* dir : {"/var/monitoring", "/var/log"}) {
        if (std::system(("mkdir -p " + root + dir).c_str()) != 0) throw std::runtime_error("no " + root + dir);
        testsupport::mount_tmpfs(root + dir, 64 * 1024);
      }
    });
    Notes notes;
    if (!srv.ready()) return "not started: " + srv.log();
    const std::string dip = srv.board("/var/monitoring/dip"), dump = srv.board("/var/log/server-status");
    srv.process->signal(SIGUSR2);
    notes.check(testsupport::eventually([&] { return read(dip) == "0" && exists(dump); }), "no files at the start");
    const std::string last = read(dump);
    const std::string fillers[] = {testsupport::fill(srv.board("/var/monitoring")),
                                   testsupport::fill(srv.board("/var/log"))};

    notes.check(srv.sim.ask("hal dip 9") == "", "dip not set");
    notes.check(srv.wait_log("FAIL write status file </var/monitoring/dip> with code=28"), "no failure logged");
    srv.process->signal(SIGUSR2);
    notes.check(srv.wait_log("dump status error"), "no dump failure logged");
    notes.check(read(dip) == "0" && read(dump) == last && !exists(dump + "_tmp") && !exists(dip + "_tmp"),
                "not the last complete files");

    for (const auto& f : fillers) ::unlink(f.c_str());
    notes.check(testsupport::eventually([&] { return read(dip) == "9"; }), "the DIP file stays stale");
    srv.process->signal(SIGUSR2);
    notes.check(testsupport::eventually([&] { return read(dump) != last && !exists(dump + "_tmp"); }),
                "no dump once there is room");
    notes.check(srv.stop() == 0, "the server did not run on: " + srv.log());
    return notes.text;
  });
  EXPECT_EQ(result.output, "");
}
