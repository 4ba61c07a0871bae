#pragma once
// SnmpAgentCtrl: the front of the SNMP agent links. It creates the links
// from the "snmpagent" sections, keeps the table of monitoring items,
// batches item values as MON snmp-set commands and flushes the batches at
// the event loop's next deferred-call point, so everything queued in one
// loop pass travels together.
//
// Batch keys 2 and 4 hold commands; an item goes into every batch its mask
// shares a bit with. A flush sends every non-empty batch, key 2 then key 4,
// to every link: an item of mask 6 reaches each link twice, under two
// consecutive uniq numbers. A batch of more values than one message may
// carry, by count or by size, goes as several messages.
#include "board/snmp/isnmp_agent_notify.h"
#include "board/snmp/snmp_agent_instance.h"
#include "runtime/dpc.h"
#include "schema/mon/MON.h"

#include <cstddef>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace IniFile {
class Section;
}

// Takes the next number of a uniq counter: the counter's value, and moves
// the counter on. The numbers stay positive: after the largest int the
// counter starts again at 1, rather than overflowing after years of values.
inline int take_uniq(int& counter) {
  const int v = counter;
  counter = v == std::numeric_limits<int>::max() ? 1 : v + 1;
  return v;
}

class SnmpAgentCtrl {
 public:
  typedef int MonitoringItemType;
  struct MonitoringItem {
    MonitoringItemType item;
    int mask;
    std::string section;
    std::string name;
  };

  // The values one snmp-set message carries at most: a peer decodes no
  // longer SEQUENCE OF.
  static constexpr std::size_t max_commands = 128;
  // Octets one value takes at most in a message beside its texts: the
  // uniq and the index, the lengths of the texts, alignment and choices.
  static constexpr std::size_t command_overhead = 48;
  // The values of one message take at most this many octets, so that the
  // message fits one TPKT frame (its own head takes a few octets).
  static constexpr std::size_t max_octets = 65531 - 16;
  // The most one message may take: a TPKT frame's 16-bit length counts its
  // own four-octet head.
  static constexpr std::size_t max_message = 65531;

  SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;
  virtual ~SnmpAgentCtrl();

  void CreateInstances(IniFile::Section& section);
  bool Bind(ISnmpAgentNotify* n);
  void UnBind();

  void Send(MonitoringItemType item, std::string& value) { Send(item, 0, value); }
  void Send(MonitoringItemType item, int index, std::string& value);
  void Send(MON::SnmpSetCommands const& list);
  void SendTrapsink(const std::list<std::string>& hosts);
  // Whether the trapsink command for these hosts fits one message. Each
  // host costs it an octet more than it costs the controller's list, so a
  // list the controller could send may still not go out.
  static bool TrapsinkFits(const std::list<std::string>& hosts);
  void OnDpcSend();

  const std::list<std::unique_ptr<SnmpAgentInstance>>& links() const { return links_; }
  const std::vector<MonitoringItem>& items() const { return items_; }
  bool flush_pending() const { return flush_.IsActive(); }
  // The command queued under a batch key (2 or 4), or null.
  const MON::Command* batch(int key) const {
    const auto at = batches_.find(key);
    return at == batches_.end() ? nullptr : at->second.get();
  }

 private:
  static MON::Command TrapsinkCommand(const std::list<std::string>& hosts);
  void SendCommand(MON::Command const& cmd);
  // Sends the values in order, as snmp-set messages each within
  // max_commands and max_octets.
  void SendSlices(MON::SnmpSetCommands::commands::value_type const& list);

  std::list<std::unique_ptr<SnmpAgentInstance>> links_;
  std::vector<MonitoringItem> items_;
  Dpc flush_;
  int uniq_ = 1;
  ISnmpAgentNotify* notify_ = nullptr;
  std::map<int, std::unique_ptr<MON::Command>> batches_;
};
