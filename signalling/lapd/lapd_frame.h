#pragma once
// The octets both kinds of D-channel link agree on: the control octets of
// the frames (P/F clear) and the messages of TEI management.
#include <cstdint>

namespace ISDN {
namespace lapd_frame {

enum Unnumbered : std::uint8_t {
  SABME = 0x6F, DM = 0x0F, UI = 0x03, DISC = 0x43, UA = 0x63, FRMR = 0x87, XID = 0xAF,
};
enum Supervisory : std::uint8_t { RR = 0x01, RNR = 0x05, REJ = 0x09 };
constexpr std::uint8_t PF_U = 0x10;  // P/F in an unnumbered control octet

// A TEI management message: a UI frame on SAPI 63 to the broadcast TEI whose
// information field starts with the management entity octet.
constexpr std::uint8_t management_entity = 0x0F;
constexpr std::uint8_t broadcast_tei = 127;

enum TeiMessage : std::uint8_t {
  identity_request = 1,
  identity_assigned = 2,
  identity_denied = 3,
  identity_check_request = 4,
  identity_check_response = 5,
  identity_remove = 6,
  identity_verify = 7,
};

}  // namespace lapd_frame
}  // namespace ISDN
