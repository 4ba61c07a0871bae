#pragma once
// RtpFactory: the factory of plain RTP voice slots (the `rtp` creation
// parameters without a radio part). It binds the RTCP socket on the local
// RTP port + 1, begins the driver session on a free switch channel and
// builds the RtpSlot on it; it also reports the RTP codec capacities of the
// voice device.
#include "slots/slot_factory.h"

#include <cstdint>
#include <iosfwd>

class RtpFactory : public SlotFactory {
 public:
  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  // Reads the capacities again and puts them in the report.
  void Query(LGCP::Resources& res) override;
  // Reads the codec capacities of the voice device.
  void IQuery();

  // "rtp[" g723 "," g729 "," g711 "," universal "]: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  RtpFactory();

  std::uint32_t g729 = 0;
  std::uint32_t g723 = 0;
  std::uint32_t g711 = 0;
  std::uint32_t g711mcc = 0;
  std::uint32_t universal = 0;
};
