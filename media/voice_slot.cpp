#include "media/voice_slot.h"

#include "platform/device.h"
#include "platform/mcc.h"
#include "platform/paths.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/slots.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <iostream>

namespace {

// Every voice copy waits for the loop; only the buffer and the flush differ.
constexpr unsigned int file_bufsize = 8192;
constexpr unsigned int connect_timeout_ms = 5000;

ASync::Copy::EventsParams copy_events(int flush) {
  ASync::Copy::EventsParams e;
  e.read = POLLIN;
  e.write = POLLOUT;
  e.flush = flush;
  return e;
}

// A prompt name is a file of the voice directory, never a path: anything
// that could leave that directory is refused.
bool SafePromptName(const std::string& name) {
  // open stops at a NUL: "..\0x" would pass here and open the directory above.
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

std::string dhost2str(const TERM::HostAddress& host) {
  return static_cast<const std::string&>(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

// ---- PlaySlotGeneric -------------------------------------------------------

PlaySlotGeneric::PlaySlotGeneric(Fd ch) : timeslot(-1), channel(ch) {
  // A copy that failed has nothing to ask, and errno stays the copy's.
  if (channel) timeslot = platform::dev_ioctl(channel.lowlevel_fd(), platform::mcc::MCC_TIMESLOT, nullptr);
}

bool PlaySlotGeneric::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

std::ostream& PlaySlotGeneric::PutHeader(std::ostream& os) const {
  return os << GetName() << "[" << timeslot << "]: ";
}

// ---- PlaySlotNetwork -------------------------------------------------------

PlaySlotNetwork::PlaySlotNetwork(Fd ch, const std::string& addr, std::int32_t stream_id)
    : PlaySlotGeneric(ch), address(addr), id(stream_id) {}

bool PlaySlotNetwork::IOnOutputStream() {
  // Reported before the connect starts: a connect that fails at once
  // releases the slot, and its inactive report must come last.
  OnChangeOutputStream(true);
  const bool was_ended = state == ended;
  if (state == idle) {
    state = connecting;
    connector.reset(new ASync::Connect);
    connector->Bind(&PlaySlotNetwork::OnConnect, this);
    connector->Start(address, connect_timeout_ms);
  }
  // One that failed right here takes no receiver.
  return IsTimeSlotValid() && (was_ended || state != ended);
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << address << " fail." << std::endl;
    Release();
    return;
  }
  std::clog << ext::header(this) << "connected to " << address << "." << std::endl;
  LGCP::IoctlResponse r;
  r.select_startPlaying();
  OnIoctlResponse(r);
  state = playing;
  connector.reset();  // the handler runs as the connector's last step
  copier.reset(new ASync::Copy);
  copier->set_events(copy_events(POLLWRNORM));
  copier->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  // The stream id first, most significant byte first; a failing socket
  // shows later as a copy error.
  const unsigned char head[4] = {static_cast<unsigned char>(static_cast<std::uint32_t>(id) >> 24),
                                 static_cast<unsigned char>(static_cast<std::uint32_t>(id) >> 16),
                                 static_cast<unsigned char>(static_cast<std::uint32_t>(id) >> 8),
                                 static_cast<unsigned char>(id)};
  (void)ASync::write(socket, head, sizeof head);
  copier->Start(socket, channel);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::Done)
    std::clog << ext::header(this) << "connection to " << address << " closed." << std::endl;
  else
    std::cerr << ext::header(this) << "play failed" << std::endl;
  Release();
}

void PlaySlotNetwork::Release() {
  state = ended;
  OnChangeOutputStream(false);
  copier.reset();
  connector.reset();
  OnAbort(0);
}

// ---- PlaySlotFile ----------------------------------------------------------

PlaySlotFile::PlaySlotFile(Fd ch, std::vector<std::string> list, std::int32_t count)
    : PlaySlotGeneric(ch), repeat(count), names(std::move(list)) {
  abort_call.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    if (!restart()) {
      // The refusal answers the connect; the abort follows from the loop.
      abort_call.Activate();
      return false;
    }
    // A file that fails at its first read ends the player right here: it
    // must not be reported active after its abort.
    if (released) return false;
    started = true;
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

bool PlaySlotFile::restart() {
  position = 0;
  return next_phrase();
}

bool PlaySlotFile::next_phrase() {
  while (position < names.size()) {
    const std::string& name = names[position++];
    const std::string path = platform::board_path("/usr/local/voice/" + name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    file = Fd(fd);
    ::lseek(file.lowlevel_fd(), 0, SEEK_SET);
    if (!copier) {
      copier.reset(new ASync::Copy);
      copier->set_bufsize(file_bufsize);
      copier->set_events(copy_events(POLLWRNORM));
      copier->Bind(&PlaySlotFile::OnPlayComplete, this);
    }
    copier->Start(file, channel);
    return true;
  }
  return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status != ASync::Copy::Status::Done) {
    Release();
    return;
  }
  if (next_phrase()) return;
  if (repeat != 0 && --repeat == 0) {
    Release();
    return;
  }
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
  released = true;
  OnChangeOutputStream(false);
  copier.reset();
  file.close();
  OnAbort(0);
}

void PlaySlotFile::delayed_abort() {
  abort_call.Deactivate();
  OnAbort(0);
}

// ---- RecordSlot ------------------------------------------------------------

RecordSlot::RecordSlot(const std::string& addr, int ts, Fd ch) : timeslot(ts), channel(ch), address(addr) {}

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

std::ostream& RecordSlot::PutHeader(std::ostream& os) const {
  return os << GetName() << "[" << timeslot << "]: ";
}

bool RecordSlot::IOnInputStream() {
  connector.reset(new ASync::Connect);
  connector->Bind(&RecordSlot::OnConnect, this);
  connector->Start(address, connect_timeout_ms);
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << address << " fail." << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  std::clog << ext::header(this) << "connected to " << address << "." << std::endl;
  connector.reset();
  copier.reset(new ASync::Copy);
  copier->set_events(copy_events(0));
  copier->Bind(&RecordSlot::OnRecordComplete, this);
  copier->Start(channel, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::Done) {
    std::clog << ext::header(this) << "connection to " << address << " closed." << std::endl;
    StopRecording(LGCP::StopRecordingCause::userRequest);
  } else {
    std::cerr << ext::header(this) << "record aborted" << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause) {
  copier.reset();
  connector.reset();
  LGCP::IoctlResponse r;
  r.select_stopRecording(cause);
  OnIoctlResponse(r);
}

// ---- VoiceFactory ----------------------------------------------------------

VoiceFactory& VoiceFactory::instance() {
  static VoiceFactory factory;
  return factory;
}

Slot* VoiceFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.voice_isSelected()) return nullptr;
  const LGCP::VoiceParams& voice = params.get_voice();
  if (voice.record_isSelected()) return CreateRecord(dhost2str(voice.get_record()));
  if (voice.player_isSelected()) return CreatePlay(voice.get_player());
  return nullptr;
}

Fd VoiceFactory::OpenChannel(bool player, int& timeslot) {
  const int fd = platform::dev_open(platform::mcc::device_path,
                                    (player ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << (player ? "writing" : "reading")
              << ": " << e << std::endl;
    return Fd();
  }
  Fd channel(fd);
  mcc_allocate_params p;
  p.mode = 2;
  p.packet_size = 1024;
  p.reserved = 0;
  p.rx_threshold = player ? 0 : 5;
  p.tx_threshold = player ? 5 : 0;
  if (platform::dev_ioctl(channel.lowlevel_fd(), platform::mcc::MCC_ALLOCATE, &p) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    return Fd();
  }
  timeslot = platform::dev_ioctl(channel.lowlevel_fd(), platform::mcc::MCC_TIMESLOT, nullptr);
  if (timeslot < 0) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
    return Fd();
  }
  return channel;
}

void VoiceFactory::ChannelNotHeld(int timeslot) {
  const Errno e;
  std::cerr << ext::header(this) << "fail to hold channel " << timeslot << ": " << e << std::endl;
}

Slot* VoiceFactory::CreatePlay(const LGCP::PlayerParams& params) {
  if (!params.network_isSelected() && !params.file_isSelected()) return nullptr;
  std::vector<std::string> names;
  if (params.file_isSelected()) {
    const auto& list = params.get_file().get_name();
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string name = static_cast<const std::string&>(list[i]);
      if (!SafePromptName(name)) {
        std::cerr << ext::header(this) << "bad prompt name \"" << name << "\"" << std::endl;
        return nullptr;
      }
      names.push_back(name);
    }
  }
  int timeslot = -1;
  Fd channel = OpenChannel(true, timeslot);
  if (!channel) return nullptr;
  PlaySlotGeneric* slot;
  if (params.network_isSelected()) {
    const auto& net = params.get_network();
    slot = new PlaySlotNetwork(channel, dhost2str(net.get_host()), static_cast<std::int32_t>(net.get_id().getValue()));
  } else {
    slot = new PlaySlotFile(channel, std::move(names),
                            static_cast<std::int32_t>(params.get_file().get_repeat().getValue()));
  }
  if (!slot->RefDeviceFd()) {
    ChannelNotHeld(timeslot);
    delete slot;
    return nullptr;
  }
  // The player asks for its time slot once more; a channel the driver
  // cannot name now would be made a slot that never connects: no slot.
  if (!slot->IsTimeSlotValid()) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
    delete slot;
    return nullptr;
  }
  players.push_back(slot);
  return slot;
}

Slot* VoiceFactory::CreateRecord(const std::string& address) {
  int timeslot = -1;
  Fd channel = OpenChannel(false, timeslot);
  if (!channel) return nullptr;
  RecordSlot* slot = new RecordSlot(address, timeslot, channel);
  // The factory's copy closes here: a slot without its own would record
  // from a channel given back to the driver.
  if (!slot->HoldsChannel()) {
    ChannelNotHeld(timeslot);
    delete slot;
    return nullptr;
  }
  recorders.push_back(slot);
  return slot;
}
