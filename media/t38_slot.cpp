#include "media/t38_slot.h"

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/mcc.h"
#include "platform/paths.h"
#include "runtime/ext_output.h"
#include "runtime/fork_child.h"
#include "runtime/multiplexer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr const char* t38_program = "/usr/local/sbin/t38";
// The vector holds at most this many entries before its closing null.
constexpr std::size_t max_args = 31;
// Exit code of a child whose exec failed (its wait status shows 237).
constexpr int exec_failed = 1005;

// The shell sees the path as one word, whatever it holds.
std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Milliseconds from now to a steady-clock deadline, 0 once it has passed.
int ms_until(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A command run through the shell with its standard output read here, as
// popen runs it, but waited for only up to a deadline. It leads a process
// group of its own, so a program that outstays the wait is killed together
// with whatever it started.
class CountCommand {
 public:
  CountCommand() = default;
  CountCommand(const CountCommand&) = delete;
  CountCommand& operator=(const CountCommand&) = delete;
  ~CountCommand() {
    if (out_ >= 0) ::close(out_);
  }

  bool Start(const std::string& command) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    const pid_t pid = fork_child();
    if (pid == 0) {
      ::setpgid(0, 0);
      // The write end is made standard output without close-on-exec.
      if (ends[1] == STDOUT_FILENO)
        ::fcntl(ends[1], F_SETFD, 0);
      else
        ::dup2(ends[1], STDOUT_FILENO);
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ends[1]);
    if (pid < 0) {
      ::close(ends[0]);
      return false;
    }
    // Either side may run first: the group exists before any kill of it.
    ::setpgid(pid, pid);
    pid_ = pid;
    out_ = ends[0];
    return true;
  }

  // One line of at most `max` characters (its line feed kept), as fgets
  // reads it: false when nothing came before the end of the output or the
  // deadline. A line cut short by the deadline is not taken.
  bool ReadLine(std::string& line, std::size_t max, std::chrono::steady_clock::time_point deadline) {
    line.clear();
    while (line.size() < max) {
      pollfd p = {out_, POLLIN, 0};
      const int r = ::poll(&p, 1, ms_until(deadline));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        std::clog << "t38: no count within " << T38SoftFactory::count_wait_ms << " ms" << std::endl;
        held_ = true;
        return false;
      }
      char c;
      const ssize_t n = ::read(out_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return !line.empty();
      line += c;
      if (c == '\n') break;
    }
    return true;
  }

  // Closes the pipe and reaps the program, killing its group when it has not
  // ended by the deadline. A killed program that still does not go is left
  // to the loop's reaping of children.
  void End(std::chrono::steady_clock::time_point deadline) {
    ::close(out_);
    out_ = -1;
    // Output still held open at the deadline: a shell that has ended may
    // have left what it started holding it, which is killed with the group
    // while the unreaped shell keeps the group's number from reuse.
    if (!held_ && Reaped(deadline)) return;
    std::clog << "t38: count program[" << pid_ << "] still running, killing" << std::endl;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    Reaped(std::chrono::steady_clock::now() + std::chrono::milliseconds(kill_wait_ms));
  }

 private:
  bool Reaped(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
      if (r < 0 && errno == EINTR) continue;
      // Anything but "still running" (ended, or reaped elsewhere) ends it.
      if (r != 0) return true;
      if (ms_until(deadline) <= 0) return false;
      // Real time: the program is a real process whatever clock the loop has.
      ::poll(nullptr, 0, 5);
    }
  }

  // How long a killed program is given to be gone before the loop's own
  // reaping of children is left to collect it.
  static constexpr int kill_wait_ms = 500;

  pid_t pid_ = -1;
  int out_ = -1;
  bool held_ = false;  // the read met the deadline, not the output's end
};

}  // namespace

// ---- T38SoftSlot -----------------------------------------------------------

T38SoftSlot::T38SoftSlot(int child, int ts) : pid(child), timeslot(ts) {
  wait.Bind(this, &T38SoftSlot::OnT38Terminate);
  wait.Attach(pid);
}

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  // The slot goes at once and the program's end is not reported; the
  // factory sees it end, and kills one that ignores SIGTERM.
  if (pid >= 1) {
    ::kill(pid, SIGTERM);
    wait.Detach();
    T38SoftFactory::instance().Linger(pid);
  }
  return true;
}

std::ostream& T38SoftSlot::PutHeader(std::ostream& os) const {
  Put(os);
  return os << ": ";
}

void T38SoftSlot::OnT38Terminate(int status) {
  if ((status & 0x7f) == 0)
    std::clog << ext::header(this) << "t38 daemon terminated with code=" << ((status >> 8) & 0xff) << std::endl;
  else if ((status & 0xff) != 0x7f)
    std::clog << ext::header(this) << "t38 daemon terminated by signal=" << (status & 0x7f) << std::endl;
  // The lines into the channel and out of it go quiet while the slot still
  // names it: with the program gone the number is the driver's, to hand out
  // again.
  MuxQuietenLines(this);
  pid = -1;
  OnAbort(status);
}

// ---- T38Lingering ---------------------------------------------------------

T38Lingering::T38Lingering(int child) : pid(child) {
  wait.Bind(this, &T38Lingering::OnEnd);
  wait.Attach(pid);
  timer.set(kill_after_ms, &T38Lingering::OnTimeOut, this);
}

void T38Lingering::OnEnd(int) { T38SoftFactory::instance().Forget(this); }

void T38Lingering::Kill() {
  std::cerr << "t38 daemon[" << pid << "] still running after SIGTERM, killing" << std::endl;
  ::kill(pid, SIGKILL);
}

void T38Lingering::OnTimeOut() {
  Kill();
  T38SoftFactory::instance().Forget(this);
}

void T38Lingering::EndBy(std::chrono::steady_clock::time_point deadline) {
  timer.reset();
  wait.Detach();
  for (;;) {
    // Anything but "still running" (ended, or no longer ours) ends the watch.
    if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
    if (std::chrono::steady_clock::now() >= deadline) break;
    platform::sleep_ms(10);
  }
  Kill();
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// ---- T38SoftFactory --------------------------------------------------------

T38SoftFactory::~T38SoftFactory() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(T38Lingering::exit_grace_ms);
  for (auto& l : lingering) l->EndBy(deadline);
}

void T38SoftFactory::Linger(int pid) { lingering.emplace_back(new T38Lingering(pid)); }

void T38SoftFactory::Forget(const T38Lingering* l) {
  for (auto it = lingering.begin(); it != lingering.end(); ++it) {
    if (it->get() != l) continue;
    lingering.erase(it);
    return;
  }
}

T38SoftFactory& T38SoftFactory::instance() {
  static T38SoftFactory factory;
  return factory;
}

Slot* T38SoftFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.t38soft_isSelected()) return nullptr;
  const LGCP::T38Soft& t38 = params.get_t38soft();

  // The remote argument first: a refused create must leave no channel.
  char remote[64];
  const std::string& iaddr = t38.get_dhost().get_iaddr();
  const int len = std::snprintf(remote, sizeof remote, "%s/%d/%d", iaddr.c_str(),
                                static_cast<int>(t38.get_dhost().get_port().getValue()),
                                static_cast<int>(t38.get_shost().get_port().getValue()));
  if (len < 0 || static_cast<std::size_t>(len) >= sizeof remote) {
    std::cerr << ext::header(this) << "remote argument too long (" << len << " characters): " << iaddr << std::endl;
    return nullptr;
  }
  // The program would see a text with a NUL only up to it: the address or
  // an argument silently cut. Such a create is refused as a whole.
  const auto& extra = t38.get_args();
  const std::size_t passed = std::min(extra.size(), max_args - 4);
  bool nul = iaddr.find('\0') != std::string::npos;
  for (std::size_t i = 0; i < passed && !nul; ++i)
    nul = static_cast<const std::string&>(extra[i]).find('\0') != std::string::npos;
  if (nul) {
    std::cerr << ext::header(this) << "argument holds a NUL octet" << std::endl;
    return nullptr;
  }

  const int fd = platform::dev_open(platform::mcc::device_path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << errno << "]" << std::endl;
    return nullptr;
  }
  mcc_allocate_params p;
  p.mode = 2;
  p.packet_size = static_cast<std::uint32_t>(t38.get_rx_packet_size().getValue());
  p.reserved = 0;
  p.rx_threshold = static_cast<std::uint32_t>(t38.get_rx_threshold().getValue());
  p.tx_threshold = static_cast<std::uint32_t>(t38.get_tx_threshold().getValue());
  if (platform::dev_ioctl(fd, platform::mcc::MCC_ALLOCATE, &p) < 0) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << errno << "]" << std::endl;
    platform::dev_close(fd);
    return nullptr;
  }
  const int timeslot = platform::dev_ioctl(fd, platform::mcc::MCC_TIMESLOT, nullptr);
  if (timeslot < 0) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << errno << "]" << std::endl;
    platform::dev_close(fd);
    return nullptr;
  }

  std::vector<std::string> args = {t38_program, "--child", "--remote", remote};
  for (std::size_t i = 0; i < extra.size() && args.size() < max_args; ++i)
    args.push_back(static_cast<const std::string&>(extra[i]));
  std::clog << "args for run t38 daemon:" << std::endl;
  for (std::size_t i = 0; i < args.size(); ++i) std::clog << "arg[" << i << "]=" << args[i] << std::endl;

  // Everything the child needs is ready before fork: it only moves the
  // channel to its standard input and runs the program.
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const std::string path = platform::board_path(t38_program);

  // The server goes on once the child has run the program: until then the
  // child holds the server's sockets, and a slot's port the server frees
  // meanwhile could not be bound anew.
  ExecGate gate;
  const pid_t child = fork_child();
  if (child == 0) gate.child();
  if (child > 0) gate.wait();
  if (child < 0) {
    platform::dev_close(fd);
    return nullptr;
  }
  if (child == 0) {
    if (fd == 0) {
      ::fcntl(0, F_SETFD, ::fcntl(0, F_GETFD) & ~FD_CLOEXEC);
    } else {
      ::dup2(fd, 0);  // the duplicate does not carry close-on-exec
    }
    ::execv(path.c_str(), argv.data());
    ::_exit(exec_failed);
  }
  std::clog << "t38 daemon[" << child << "] successfully started" << std::endl;
  Slot* slot = new T38SoftSlot(child, timeslot);
  // The channel lives on in the child.
  platform::dev_close(fd);
  return slot;
}

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(QueryNumOfInstances()); }

int T38SoftFactory::QueryNumOfInstances() {
  const std::string command = shell_quoted(platform::board_path(t38_program)) + " --num-of-instances";
  // The loop waits for the program: one that never prints, or prints and
  // never ends, would stop every slot, timer and the watchdog for good (the
  // board resets). It gets count_wait_ms for both; past that it is killed.
  CountCommand run;
  if (!run.Start(command)) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(count_wait_ms);
  multiplexer.resetWD();
  std::string line;
  const bool got = run.ReadLine(line, 31, deadline);
  run.End(deadline);
  multiplexer.resetWD();
  if (!got) {
    std::clog << "t38: can't detect T38 resources" << std::endl;
    return 0;
  }
  // The program's line is outside input: a number past the range counts as
  // the largest (or smallest) one, not as its low bits.
  const long n = std::strtol(line.c_str(), nullptr, 10);
  if (n > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (n < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(n);
}
