#include "control/trace_ctl.h"

#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"

#include <iostream>

TraceCtl traces;

TraceCtl::Signalling::Signalling() : hdlc(false), zarngw(false), events(false) {}

TraceCtl::Monitoring::Monitoring() : internal(false) {}

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection* block : section) Configure(*block);
}

void TraceCtl::Configure(IniFile::SubSection& block) {
  IniFile::Reader reader("traces: ", std::cerr);
  signalling.hdlc = false;
  signalling.zarngw = false;
  reader.optional.add(&signalling.hdlc, "signalling.hdlc");
  reader.optional.add(&signalling.zarngw, "signalling.zarngw");
  reader.optional.add(&signalling.events, "signalling.events");
  monitoring.internal = false;
  reader.optional.add(&monitoring.internal, "monitoring.internal");
  reader(block);
}
