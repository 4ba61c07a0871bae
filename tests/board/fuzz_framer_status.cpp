// Any bytes as one read of a framer driver's status file, and its first line
// as a version file's: the framer's status lines are parsed, and its values
// and the line are queued for the SNMP agents as the monitoring queues them.
// Every batch must encode for the agents' links (a batch the encoder refuses
// loses every value of that pass, at every push again) and carry each value
// it was given.
#include "asn1/asn1.h"
#include "board/monitoring/framer_data_holder.h"
#include "board/snmp/snmp_agent_ctrl.h"
#include "schema/mon/MON.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Item numbers of the monitoring table (see SnmpAgentCtrl).
enum { e1Connected = 21, sgBuildVersion = 27 };

std::size_t encoded_values(const MON::Command* batch) {
  if (!batch || !batch->snmp_set_isSelected()) return 0;
  const std::size_t n = batch->get_snmp_set().get_commands().size();
  if (n == 0) return 0;
  MON::Message msg;
  msg.set_pdu().select_command(*batch);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  if (!ASN1::encode(msg, &env, std::back_inserter(out))) std::abort();
  MON::Message back;
  if (!ASN1::decode(out.data(), out.data() + out.size(), &env, back, true)) std::abort();
  if (back.get_pdu().get_command().get_snmp_set().get_commands().size() != n) std::abort();
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The monitoring reads at most 1024 bytes of the file.
  if (size > 1024) return 0;
  std::vector<unsigned char> bytes(data, data + size);
  FramerDataHolder f(1, "/proc/driver/hdlc/peb22554/0");
  f.setFramerStatus(bytes);
  f.setFramerStatus(bytes);

  // A version file's first line: up to 254 bytes, without its line end.
  std::string line(bytes.begin(), bytes.begin() + (size < 254 ? size : 254));
  line = line.substr(0, line.find('\n'));
  line = line.substr(0, line.find('\0'));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();

  SnmpAgentCtrl ctrl;
  std::string values[] = {std::to_string(f.connected() ? 1 : 0),
                          f.state(),
                          std::to_string(f.lossOfSignal() ? 1 : 0),
                          std::to_string(f.lossOfFrameAlignment() ? 1 : 0),
                          std::to_string(f.negativeSlips()),
                          std::to_string(f.positiveSlips())};
  for (int i = 0; i < 6; ++i) ctrl.Send(e1Connected + i, f.number(), values[i]);
  ctrl.Send(sgBuildVersion, line);
  // The framer's items go to batch 2, the version's to batch 4.
  if (encoded_values(ctrl.batch(2)) != 6 || encoded_values(ctrl.batch(4)) != 1) std::abort();
  ctrl.OnDpcSend();
  return 0;
}
