#pragma once
// The board's character devices named in one place, codec numbers and RTP
// library error codes as text, and printers of the RTP driver records for
// diagnostics.
#include "slots/rtp_records.h"

#include <iosfwd>

const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetRtpExtDevName();
const char* GetModemDevName();
const char* GetMaintenance();
const char* GetSpiTdmDevName();

// "unknown", "g711", ... "conf" for 0..8, "invalid" otherwise.
const char* GetCodecAsStr(int codec);

// The text of an RTP library error code. An unknown code is formatted into
// one static buffer: the text stays valid until the next unknown code.
const char* RTPStrError(unsigned code);

// An RTP error: the code and the system error number at construction;
// prints as the system's text of that number.
class RtpErr {
 public:
  explicit RtpErr(int code);
  int code() const { return code_; }
  int sys_errno() const { return errno_; }

 private:
  int code_;
  int errno_;
};

std::ostream& operator<<(std::ostream& os, const RtpErr& e);
std::ostream& operator<<(std::ostream& os, const rtp_connection_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_channel_info& p);
