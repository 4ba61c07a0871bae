#include "slots/device_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

const char* GetVoiceDevName() { return "/dev/voice"; }
const char* GetMixerDevName() { return "/dev/mixer"; }
const char* GetDTMFDevName() { return "/dev/dtmf"; }
const char* GetDSPDevName() { return "/dev/dsp"; }
const char* GetRtpDevName() { return "/dev/rtp"; }
const char* GetRtpExtDevName() { return "/dev/rtp_ext"; }
const char* GetModemDevName() { return "/dev/mctl"; }
const char* GetMaintenance() { return "/dev/maintenance"; }
const char* GetSpiTdmDevName() { return "/dev/spi_tdm"; }

const char* GetCodecAsStr(int codec) {
  static const char* const names[] = {"unknown", "g711", "g723", "g729", "tonec",
                                      "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
  if (codec < 0 || codec >= static_cast<int>(sizeof names / sizeof names[0])) return "invalid";
  return names[codec];
}

const char* RTPStrError(unsigned code) {
  struct Entry {
    unsigned code;
    const char* text;
  };
  static const Entry table[] = {
      {0, "No error"},
      {0x3000002, "Parameter out of range"},
      {0x3000004, "Memory allocation failed"},
      {0x3000008, "Allocated buffer too small"},
      {0x3000101, "Maximum number of contexts exceeded"},
      {0x3000102, "Context destroyed or never created"},
      {0x3000103, "Socket not open for reading or writing"},
      {0x3000104, "Can't obtain a new socket"},
      {0x3000105, "Can't bind socket"},
      {0x3000106, "Unable to set socket option"},
      {0x3000107, "Unable to write to socket"},
      {0x3000108, "Unable to read from socket"},
      {0x3000109, "Socket does not belong to session"},
      {0x300010A, "Change not allowed during open session"},
      {0x300010B, "Invalid address specified"},
      {0x300010C, "Invalid port specified"},
      {0x300010E, "Unable to close session"},
      {0x300010F, "No such membership info"},
      {0x3000110, "Invalid rtpprofile specified"},
      {0x3000111, "no data to receive at socket"},
      {0x3000112, "Packet looped back"},
      {0x3000113, "CSRC list not yet set"},
      {0x3000114, "2 CSRCs on list have same SSRC"},
      {0x3000115, "Packet has incorrect format"},
      {0x3000116, "Person not session member"},
      {0x3000117, "Person data protected"},
      {0x3000118, "No such sender in current session"},
      {0x3000119, "No such SDES field"},
      {0x300011A, "Encryption / decryption function not set"},
      {0x300011B, "Packet was unsuccessfully decrypted"},
      {0x300011C, "End of iterating list"},
      {0x300011D, "Not allowed to recurse"},
      {0x300011E, "SSRC in use"},
      {0x300011F, "Couldn't get socket name"},
      {0x3000120, "No such contributor"},
      {0x3000121, "CSRC list full"},
      {0x3000122, "Don't send this packet now"},
  };
  for (const auto& e : table)
    if (e.code == code) return e.text;
  static char unknown[48];
  std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", static_cast<int>(code));
  return unknown;
}

RtpErr::RtpErr(int code) : code_(code), errno_(errno) {}

std::ostream& operator<<(std::ostream& os, const RtpErr& e) { return os << std::strerror(e.sys_errno()); }

namespace {

struct Lines {
  std::ostream& os;
  Lines& operator()(const char* text) {
    os << "  " << text << '\n';
    return *this;
  }
  template <class T>
  Lines& operator()(const char* name, T value) {
    os << "  " << name << value << '\n';
    return *this;
  }
};

}  // namespace

std::ostream& operator<<(std::ostream& os, const rtp_connection_params& p) {
  Lines{os}("rtp_connection_params")("{")(" packet_factor = ", unsigned(p.packet_factor))(" rx_pt = ", unsigned(p.rx_pt))(
      " tx_pt = ", unsigned(p.tx_pt))(" ssrc = ", std::uint32_t(p.ssrc))("}");
  return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& p) {
  Lines{os}("rtp_attach_session_params")("{")(" fd_rtp = ", int(p.fd_rtp))(" pid_rtp = ", int(p.pid_rtp))("}");
  return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& p) {
  Lines{os}("rtp_ext_attach_session_params")("{")(" fd_rtp = ", int(p.fd_rtp))(" pid_rtp = ", int(p.pid_rtp))("}");
  return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& p) {
  Lines{os}("rtp_ext_init_params")("{")(" etype = ", unsigned(p.etype))("}");
  return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_channel_info& p) {
  return os << "rtp_channel_info" << " {" << " tdm=" << int(p.tdm) << " dev_no=" << int(p.dev_no)
            << " chn=" << int(p.chn) << " }";
}
