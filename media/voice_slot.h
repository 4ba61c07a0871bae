#pragma once
// Voice slots: prompt playback into the switch and recording of a switch
// channel, each through one MCC data channel of "/dev/mcc/ctl". A player
// copies prompt files ("/usr/local/voice/<name>") or a TCP peer's stream
// into the channel; a recorder copies the channel to a TCP peer. The audio
// is copied byte for byte, never examined.
#include "runtime/async_connect.h"
#include "runtime/async_copy.h"
#include "runtime/dpc.h"
#include "runtime/fd.h"
#include "schema/lgcp/LGCP.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// "10.0.0.5:4000": what the connector takes and the slots print.
std::string dhost2str(const TERM::HostAddress& host);

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // Takes the allocated channel and asks its switch channel again.
  explicit PlaySlotGeneric(Fd channel);

  bool IsTimeSlotValid() const { return timeslot >= 0; }
  Fd& RefDeviceFd() { return channel; }

  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return timeslot; }
  const char* GetName() const override { return "player"; }
  std::ostream& PutHeader(std::ostream& os) const;

 protected:
  std::int32_t timeslot;
  Fd channel;
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  PlaySlotNetwork(Fd channel, const std::string& address, std::int32_t id);

  bool IOnOutputStream() override;
  std::ostream& PutAddr(std::ostream& os) const { return os << address; }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();

 private:
  enum State { idle = 0, connecting = 1, playing = 2, ended = 3 };

  std::string address;
  std::int32_t id;
  std::int32_t state = idle;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
};

class PlaySlotFile : public PlaySlotGeneric {
 public:
  PlaySlotFile(Fd channel, std::vector<std::string> names, std::int32_t repeat);

  bool IOnOutputStream() override;

  bool restart();
  bool next_phrase();
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  void delayed_abort();

 private:
  std::unique_ptr<ASync::Copy> copier;
  Fd file;
  std::int32_t repeat;
  bool started = false;
  bool released = false;
  Dpc abort_call;
  std::vector<std::string> names;
  std::size_t position = 0;
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(const std::string& address, int timeslot, Fd channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "recorder"; }
  std::ostream& PutHeader(std::ostream& os) const;
  std::ostream& PutAddr(std::ostream& os) const { return os << address; }
  // False when no descriptor was left for the slot's copy of the channel.
  bool HoldsChannel() const { return channel.is_valid(); }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnRecordComplete(ASync::Copy::Status::Type status);
  void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);

 private:
  std::int32_t timeslot;
  Fd channel;
  std::string address;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
};

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance();

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  Slot* CreatePlay(const LGCP::PlayerParams& params);
  Slot* CreateRecord(const std::string& address);
  void OnDestroy(RecordSlot* slot) { recorders.remove(slot); }
  void OnDestroy(PlaySlotGeneric* slot) { players.remove(slot); }

  std::ostream& PutHeader(std::ostream& os) const { return os << "voice/mcc[" << counter << "]: "; }

 private:
  VoiceFactory() = default;
  // An allocated channel of the given direction, or an empty Fd.
  Fd OpenChannel(bool player, int& timeslot);
  // The slot could not copy the channel (errno from the copy).
  void ChannelNotHeld(int timeslot);

  int counter = 0;
  std::list<RecordSlot*> recorders;
  std::list<PlaySlotGeneric*> players;
};
