// Any bytes as a received Zarn packet: whatever the receive path lets
// through must become a radio report that the control link can encode (a
// report the encoder refuses would be lost without a trace).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/asn1.h"
#include "radio/zarn/zarn_radio_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  sig_proto p;
  sig_proto_init(&p);
  if (sig_proto_unpack(&p, data, static_cast<int>(size)) != 0 || !RTPSignalling::ProtoValuesInRange(p)) return 0;
  RTPSignalling::ZarnRadioState r;
  RTPSignalling::DecodeProto(p, r);
  TERM::RtpRadioRequest req;
  RTPSignalling::EncodeASN(RTPSignalling::ZarnRadioState(), r, req);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  if (!ASN1::encode(req, &env, std::back_inserter(out))) std::abort();
  return 0;
}
