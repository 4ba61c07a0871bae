#include "media/modem_slot.h"

#include "media/modem_factory.h"
#include "media/rtp_setup.h"
#include "platform/device.h"
#include "platform/mctl.h"
#include "platform/hdlc_if.h"
#include "platform/program.h"
#include "runtime/errno_text.h"
#include "runtime/fd.h"
#include "runtime/fork_child.h"
#include "slots/device_names.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/sockios.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <vector>

namespace {

// A text field of a record: up to its first NUL, at most the field's size.
std::string field_text(const unsigned char* rec, std::size_t offset, std::size_t size) {
  const char* p = reinterpret_cast<const char*>(rec + offset);
  return std::string(p, strnlen(p, size));
}

BASE::INTEGER64Bits counter(std::int32_t high, std::int32_t low) {
  BASE::INTEGER64Bits c;
  c.set_low(low);
  c.set_high(high);
  return c;
}

// A dotted address as four bytes in network order; all ones when the text
// is no address.
std::uint32_t address(const std::string& text) {
  std::uint32_t a;
  return RtpSetup::DottedAddress(text, a) ? a : 0xFFFFFFFFu;
}

// Closes every descriptor above the standard three but `keep` (-1: none),
// as the exec would (the server's descriptors are all close-on-exec).
void close_server_descriptors(int keep) {
#ifdef SYS_close_range
  const unsigned k = static_cast<unsigned>(keep);
  if (keep < 3) {
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
  } else if ((keep == 3 || ::syscall(SYS_close_range, 3u, k - 1, 0u) == 0) &&
             ::syscall(SYS_close_range, k + 1, ~0u, 0u) == 0) {
    return;
  }
#endif
  std::vector<int> open;
  OpenDescriptorsAboveStandard(open);
  for (const int fd : open)
    if (fd != keep) ::close(fd);
}

// Runs the program in a new process: argv keeps the board path of the
// program, the file executed is the platform's. Returns the process id, or
// -1 with errno set. Given without a wait before the exec, `exec_error`
// gets the error of an exec that failed (0 when the program runs).
pid_t start_child(const std::vector<std::string>& args, unsigned sleep_s, const char* banner, int* exec_error) {
  const std::string file = platform::program_file(args[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The program would see a text with a NUL only up to it: another program
  // or an argument silently cut. It is not run; the child ends as one
  // whose exec failed.
  bool runnable = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].find('\0') == std::string::npos) continue;
    std::cerr << "argument " << i << " holds a NUL octet, not executed" << std::endl;
    runnable = false;
  }
  std::fflush(nullptr);
  // The server goes on once the child has dropped its descriptors.
  ExecGate gate;
  const pid_t pid = fork_child();
  if (pid > 0) {
    const int e = gate.wait();
    if (exec_error) *exec_error = e;
  }
  if (pid != 0) return pid;
  gate.child();
  // The fax receiver waits a second before its exec. Should the server die
  // meanwhile, this child's copies of the pid file's lock and of the control,
  // authentication and simulator listeners would keep them from the server
  // started next: they go now, not at the exec. Without that wait, and when
  // asked, the gate stays up to the exec to tell whether the program ran.
  const int keep = exec_error && sleep_s == 0 ? gate.child_end() : -1;
  close_server_descriptors(keep);
  ::sleep(sleep_s);
  if (banner) {
    const std::string line = std::string(banner) + "\n";
    (void)!::write(1, line.data(), line.size());
  }
  if (runnable) ::execv(file.c_str(), argv.data());
  const int e = runnable ? errno : EINVAL;
  if (banner) (void)!::write(1, "fail to exec!\n", 14);
  if (keep >= 0) gate.failed(e);
  ::_exit(2);
}

}  // namespace

// ModemSlot.

ModemSlot::ModemSlot(TERM::ModemParams const& p) : params(p) { childWait.Bind(this, &ModemSlot::on_terminate); }

ModemSlot::~ModemSlot() { pppd_kill(); }

void ModemSlot::PutHeader(std::ostream& os) const {
  Put(os);
  os << ": ";
}

bool ModemSlot::IBeforeDestroy() {
  if (!pppd_executing()) {
    unbind();
    return true;
  }
  std::cerr << "sent HUP to pppd." << std::endl;
  ::kill(pid, SIGHUP);
  terminateTimer.set(terminate_timeout_ms, &ModemSlot::on_terminate_timeout, this);
  return false;
}

void ModemSlot::complete_release() {
  terminateTimer.reset();
  unbind();
  on_release();
}

void ModemSlot::append_execargs(std::vector<std::string>& args) const {
  std::size_t n = 0;
  for (const auto& a : params.get_execargs()) {
    if (n++ == max_execargs) break;
    args.push_back(a);
  }
}

void ModemSlot::abort_on(const char* text, const Errno& e) {
  std::cerr << text << e << std::endl;
  OnAbort(e.value());
}

pid_t ModemSlot::spawn(const std::vector<std::string>& args, unsigned sleep_s, const char* banner, int* exec_error) {
  const pid_t child = start_child(args, sleep_s, banner, exec_error);
  if (child < 0) abort_on("vfork fail: ", Errno());
  return child;
}

void ModemSlot::pppd_exec(const std::string& device, const char* options) {
  if (pppd_executing()) return;
  std::vector<std::string> args;
  args.push_back(params.execfile_isPresent() ? std::string(params.get_execfile()) : "/usr/local/sbin/pppd");
  if (params.execargs_isPresent()) {
    append_execargs(args);
  } else {
    args.push_back("file");
    args.push_back(options);
    args.push_back(device);
    if (!params.get_cid().empty()) {
      args.push_back("remotenumber");
      args.push_back(params.get_cid());
    }
  }
  const pid_t child = spawn(args, 0, nullptr);
  if (child < 0) return;
  pid = child;
  childWait.Bind(this, &ModemSlot::on_terminate);
  childWait.Attach(pid);
  std::clog << "pppd executed" << " cid=\"" << std::string(params.get_cid()) << "\"" << " pid=" << pid << std::endl;
}

void ModemSlot::pppd_kill() {
  if (pid == -1) return;
  std::cerr << "pppd isn't terminated, killing ..." << std::endl;
  ::kill(pid, SIGKILL);
  childWait.Detach();
  pid = -1;
  ::sleep(0);
}

void ModemSlot::on_terminate(int status) {
  std::clog << "pppd terminated with code " << status << std::endl;
  pid = -1;
  if (is_releasing()) {
    complete_release();
    return;
  }
  OnAbort(status);
}

void ModemSlot::on_fax_terminate(int status) {
  std::clog << "fax terminated with code " << status << std::endl;
  pid = -1;
  // The exit code of a child whose exec failed is its own, not a count of
  // pages: a fax program that never ran received none.
  if ((status & 0xFF) != 0 || fax_not_run) std::clog << "fax transfer failed" << std::endl;
  const int pages = fax_not_run ? 0 : (status >> 8) & 0xFF;
  fax_not_run = false;
  std::clog << "pages received: " << pages << std::endl;
  TERM::MdmAccounting acct;
  acct.set_octetsOut(counter(0, 0));
  acct.set_octetsIn(counter(0, pages));
  acct.set_packetsOut(counter(0, 0));
  acct.set_packetsIn(counter(0, 0));
  acct.set_time(counter(0, 0));
  OnModem(TERM::ModemProceeding(TERM::ModemProceeding::acct::index, acct));
  if (is_releasing()) {
    complete_release();
    return;
  }
  OnAbort(status);
}

void ModemSlot::on_terminate_timeout() {
  std::cerr << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  if (is_releasing()) complete_release();
}

// The authentication link.

void ModemSlot::OnAuth(const unsigned char* rec) {
  const std::uint32_t length = static_cast<std::uint32_t>(auth_record::word(rec, 0));
  const std::int32_t type = auth_record::word(rec, 4);
  switch (type) {
    case auth_record::voauth:
      if (length == auth_record::voauth_length)
        OnAuthRequest(rec);
      else
        std::cerr << "auth request, invalid size: " << length << std::endl;
      break;
    case auth_record::accept:
      std::cerr << "auth accept, ignored." << std::endl;
      break;
    case auth_record::ip:
      std::cerr << "auth ip, ignored." << std::endl;
      break;
    case auth_record::voacct:
      if (length == auth_record::voacct_length)
        OnAcctInformation(rec);
      else
        std::cerr << "auth accounting, invalid size: " << length << std::endl;
      break;
    default: {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(type));
      std::cerr << "unknown request from portslave: " << hex << std::endl;
    }
  }
}

void ModemSlot::OnAuthRequest(const unsigned char* rec) {
  TERM::MdmRequestUserAuth a;
  a.set_username(field_text(rec, 12, 64));
  a.set_password(field_text(rec, 76, 64));
  OnModem(TERM::ModemProceeding(TERM::ModemProceeding::auth::index, a));
}

void ModemSlot::OnAcctInformation(const unsigned char* rec) {
  using auth_record::word;
  TERM::MdmAccounting acct;
  acct.set_octetsOut(counter(word(rec, 24), word(rec, 28)));
  acct.set_octetsIn(counter(word(rec, 32), word(rec, 36)));
  acct.set_packetsOut(counter(word(rec, 40), word(rec, 44)));
  acct.set_packetsIn(counter(word(rec, 48), word(rec, 52)));
  acct.set_time(counter(0, word(rec, 56)));
  OnModem(TERM::ModemProceeding(TERM::ModemProceeding::acct::index, acct));
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& p) {
  if (!p.modem_isSelected()) {
    std::cerr << "modem's activation requests parameter." << std::endl;
    return false;
  }
  const TERM::ModemUserParameters& u = p.get_modem();
  unsigned char accept[auth_record::accept_length] = {};
  auth_record::put_word(accept, 0, auth_record::accept_length);
  auth_record::put_word(accept, 4, auth_record::accept);
  auth_record::put_word(accept, 8, modem_id());
  auth_record::put_word(accept, 12, 1);
  send_auth(accept);

  unsigned char ip[auth_record::ip_length] = {};
  auth_record::put_word(ip, 0, auth_record::ip_length);
  auth_record::put_word(ip, 4, auth_record::ip);
  auth_record::put_word(ip, 8, modem_id());
  auth_record::put_word(ip, 12, 0);
  const std::uint32_t addrs[4] = {address(u.get_remoteAddr()), address(u.get_netmask()), address(u.get_gateway()),
                                  address(u.get_dns())};
  std::memcpy(ip + 16, addrs, sizeof addrs);  // already in network order
  auth_record::put_word(ip, 32, static_cast<std::int32_t>(u.get_mtu().getValue()));
  send_auth(ip);
  return true;
}

void ModemSlot::send_auth(const unsigned char* rec) const {
  if (has_auth_session())
    ModemFactory::instance().SendAuth(rec);
  else
    std::clog << "send error: unknown auth " << modem_id() << " session." << std::endl;
}

// DspModemSlot.

DspModemSlot::~DspModemSlot() {
  pppd_kill();
  unbind();
}

void DspModemSlot::unbind() { ModemFactory::instance().ReleaseModemSlot(this); }

bool DspModemSlot::IOnOutputStream() {
  InitModem();
  return true;
}

bool DspModemSlot::IOnInputStream() {
  InitModem();
  return true;
}

void DspModemSlot::InitModem() {
  if (modem >= 0) return;
  const int raw = platform::dev_open(GetModemDevName(), O_RDONLY);
  if (raw < 0) return abort_on("fail to open device: ", Errno());
  Fd dev(raw);
  auto fail = [&](const char* text) {
    const Errno e;
    dev.close();
    abort_on(text, e);
  };
  const int number = platform::dev_ioctl(raw, mctl::MCTL_ALLOC, nullptr);
  if (number < 0) return fail("insufficient resources : ");
  const int ts = platform::dev_ioctl(raw, mctl::MCTL_GET_TIMESLOT, nullptr);
  if (ts < 0) return fail("get timeslot fail : ");
  if (params.ddm_isPresent()) {
    std::int32_t mask = 0;
    for (const auto& m : params.get_ddm()) {
      if (m.is_ddmV110()) mask |= 1;
      if (m.is_ddm8BIT()) mask |= 2;
      if (m.is_ddm7BIT()) mask |= 4;
    }
    std::int32_t arg[2] = {number, mask};
    if (platform::dev_ioctl(raw, mctl::MCTL_SET_DDM, arg) != 0) return fail("set DDM failed : ");
  }
  {
    std::int32_t arg[2] = {number, -1};
    if (platform::dev_ioctl(raw, mctl::MCTL_RESET_DMP, arg) != 0) {
      Errno e;
      std::cerr << "reset dmp parameters failed : " << e << std::endl;
    }
  }
  if (params.dmp_isPresent()) {
    for (const auto& d : params.get_dmp()) {
      std::int32_t arg[3] = {number, static_cast<std::int32_t>(d.get_offset().getValue()),
                             static_cast<std::int32_t>(d.get_value().getValue())};
      if (platform::dev_ioctl(raw, mctl::MCTL_SET_DMP, arg) != 0) {
        Errno e;
        std::cerr << "set dmp parameter " << "index=" << arg[1] << " value=" << arg[2] << " failed : " << e
                  << std::endl;
      }
    }
  }
  device = dev;
  // Not copied, the next request would fail as if the modem had refused it.
  if (!device) return fail("fail to hold device: ");
  timeslot = ts;
  modem = number;
  dev.close();
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  std::int32_t arg[2] = {modem, -1};
  if (!params.fax_isPresent()) {
    char tty[32];
    std::snprintf(tty, sizeof tty, "/dev/mdm%d", modem);
    if (!params.originate_isPresent()) {
      if (platform::dev_ioctl(device.lowlevel_fd(), mctl::MCTL_ANSWER, arg) != 0)
        return abort_on("answer failed : ", Errno());
      pppd_exec(tty, "/usr/local/etc/ppp/aoptions");
    } else {
      if (platform::dev_ioctl(device.lowlevel_fd(), mctl::MCTL_ORIGINATE, arg) != 0)
        return abort_on("originate failed : ", Errno());
      pppd_exec(tty, "/usr/local/etc/ppp/coptions");
    }
    return;
  }
  if (params.execargs_isPresent()) {
    RunFaxTransfer();
  } else if (!params.originate_isPresent()) {
    RunFaxReceiver();
  } else if (platform::dev_ioctl(device.lowlevel_fd(), mctl::MCTL_FAX_ORIGINATE, arg) != 0) {
    abort_on("originate failed : ", Errno());
  }
}

void DspModemSlot::RunFaxTransfer() {
  std::vector<std::string> args;
  args.push_back(params.execfile_isPresent() ? std::string(params.get_execfile()) : "/usr/local/sbin/fax");
  args.push_back("-m");
  args.push_back(std::to_string(modem));
  append_execargs(args);
  device.close();
  int exec_error = 0;
  const pid_t child = spawn(args, 0, "executing fax transfer", &exec_error);
  if (child < 0) return;
  pid = child;
  fax_not_run = exec_error != 0;
  childWait.Bind(static_cast<ModemSlot*>(this), &DspModemSlot::on_fax_terminate);
  childWait.Attach(pid);
  std::clog << "fax transfer executed" << " modem=" << modem << " ts=" << timeslot << std::endl;
}

void DspModemSlot::RunFaxReceiver() {
  device.close();
  char file[64];
  const std::time_t now = std::time(nullptr);
  std::tm tm;
  ::localtime_r(&now, &tm);
  std::strftime(file, sizeof file, "/var/fax-%H-%M-%S.g3", &tm);
  const std::vector<std::string> args = {"/usr/local/bin/fax", "-m", std::to_string(modem), "receive", file};
  if (spawn(args, 1, "executing") < 0) return;
  std::clog << "fax receiver executed" << " modem=" << modem << " ts=" << timeslot << std::endl;
}

// HdlcModemSlot.

HdlcModemSlot::~HdlcModemSlot() {
  pppd_kill();
  set_idle();
  unbind();
}

void HdlcModemSlot::unbind() { ModemFactory::instance().ReleaseModemSlot(this); }

bool HdlcModemSlot::IOnOutputStream() {
  if (!pppd_executing()) initModem();
  return true;
}

bool HdlcModemSlot::IOnInputStream() {
  if (!pppd_executing()) initModem();
  return true;
}

// A socket for the interface requests and a request record naming the
// interface; -1 when no socket is to be had.
int HdlcModemSlot::interface_request(ifreq& r) const {
  std::memset(&r, 0, sizeof r);
  std::snprintf(r.ifr_name, IFNAMSIZ, "%s", name.c_str());
  return ::socket(AF_INET, SOCK_DGRAM, 0);
}

void HdlcModemSlot::initModem() {
  ifreq r;
  const int sock = interface_request(r);
  // Without a socket no call can start: the controller hears of it as of
  // the interface refusing PPP below.
  if (sock < 0) return abort_on("can't get interface socket: ", Errno());
  Fd s(sock);
  unsigned char settings[128] = {};
  r.ifr_settings.type = IF_GET_IFACE;
  r.ifr_settings.size = sizeof settings;
  r.ifr_settings.ifs_ifsu.raw_hdlc = reinterpret_cast<raw_hdlc_proto*>(settings);
  if (platform::hdlc_ioctl(sock, SIOCWANDEV, &r) != 0) {
    // An interface gone since the slot was made: no call can start, and the
    // controller hears of it as of the interface refusing PPP below.
    const Errno e;
    std::cerr << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
    OnAbort(e.value());
    return;
  }
  std::int32_t ch;
  std::memcpy(&ch, settings + 12, sizeof ch);
  channel = ch;
  std::uint32_t zero = 0;
  r.ifr_settings.type = IF_PROTO_PPP;
  r.ifr_settings.size = sizeof zero;
  r.ifr_settings.ifs_ifsu.raw_hdlc = reinterpret_cast<raw_hdlc_proto*>(&zero);
  if (platform::hdlc_ioctl(sock, SIOCWANDEV, &r) != 0) {
    // No call can start on the interface: the controller hears of it as
    // of a DSP modem that failed.
    const Errno e;
    std::cerr << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
    OnAbort(e.value());
    return;
  }
  pppd_exec(name, "/usr/local/etc/ppp/ioptions");
}

void HdlcModemSlot::set_idle() {
  ifreq r;
  const int sock = interface_request(r);
  if (sock < 0) return;
  Fd s(sock);
  if (platform::hdlc_ioctl(sock, SIOCGIFFLAGS, &r) != 0) {
    std::cerr << "SIOCGIFFLAGS fail!!!" << std::endl;
    return;
  }
  r.ifr_flags = static_cast<short>(r.ifr_flags & ~IFF_UP);
  if (platform::hdlc_ioctl(sock, SIOCSIFFLAGS, &r) != 0) {
    std::cerr << "SIOCSIFFLAGS fail!!!" << std::endl;
    return;
  }
  raw_hdlc_proto raw;
  raw.encoding = 0;
  raw.parity = 0;
  r.ifr_settings.type = IF_PROTO_HDLC;
  r.ifr_settings.size = sizeof raw;
  r.ifr_settings.ifs_ifsu.raw_hdlc = &raw;
  if (platform::hdlc_ioctl(sock, SIOCWANDEV, &r) != 0) std::cerr << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}
