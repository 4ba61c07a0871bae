#pragma once
// Slots: the control service that owns every slot by its LGCP slot number
// and carries out the controller's slot commands (query, create, connect,
// disconnect, activate, deactivate, userData, ioctl, destroy). It hands
// trunk status signals of other services to the factories and destroys
// every slot when the controller goes away.
#include "control/ctrl_service.h"

#include <cstddef>
#include <list>

class Slot;

class Slots : public CtrlSrv::Service {
 public:
  static constexpr int table_size = 1024;

  static Slots& instance();

  void OnConnect() override;
  // Destroys every slot; those whose release is pending are deleted after
  // the whole process has slept one second.
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;
  void OnSignal(LGCP::Signal const& sig) override;

  // Asks every factory for its resources and sends the report to the
  // controller as a `query` signal.
  void UpdateHardwareResources();
  // Disconnects the slot and destroys it: true when it is gone, false when
  // its release is pending (it stays in the table until on_release).
  bool Destroy(Slot* slot);
  // A pending release has finished: answers the destroy that waits for it,
  // if any, and deletes the slot.
  void on_release(Slot* slot);

  // The slot with that number, null when none (or out of range).
  Slot* Get(int number) const;
  std::size_t Count() const { return live.size(); }

 private:
  Slots();
  ~Slots() override;

  void CmdQuery();
  void CmdCreate(int number, LGCP::CreateParams const& params);
  void CmdConnect(int number, int target);
  void CmdDisconnect(int number);
  void CmdDestroy(int number);
  void Answer(bool ok, LGCP::ErrorCause::NamedNumber cause);
  // Disconnects the slot from its source and from every receiver.
  void Unlink(Slot* slot);
  // Removes the slot from the live list and the table and deletes it.
  void int_destroy(Slot* slot);

  Slot* table[table_size];
  std::list<Slot*> live;  // creation order
};
