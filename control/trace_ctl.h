#pragma once
// TraceCtl: the process-wide trace switches (global `traces`), read once at
// start-up from the "traces" section of the configuration file and only
// read afterwards. All of them are off until then, and stay off without a
// configuration file.
namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class TraceCtl {
 public:
  struct Signalling {
    Signalling();
    bool hdlc;    // "signalling.hdlc": HDLC channel engine and HDLC package slots
    bool zarngw;  // "signalling.zarngw"
    bool events;  // "signalling.events": voice-processing receiver events
  };
  struct Monitoring {
    Monitoring();
    bool internal;  // "monitoring.internal": board monitoring
  };

  TraceCtl() = default;

  // Reads every block of the section in file order.
  void Configure(IniFile::Section& section);
  // Reads one block. "signalling.events" keeps its value when the block
  // does not mention it; the other switches fall back to off.
  void Configure(IniFile::SubSection& block);

  Signalling signalling;
  Monitoring monitoring;
};

extern TraceCtl traces;
