#pragma once
// Protocol stacks. A ProtocolsList owns an ordered list of layers (head =
// bottom, tail = top) and deletes them, top first, when it is destroyed. A
// ProtocolsFamily is a stack that is itself a layer: messages given to it go
// to its top layer, data it receives goes to its bottom layer, and what
// leaves its bottom or top continues in the stack that owns the family.
#include "control/protocol.h"

class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
 public:
  ProtocolsList() = default;
  // Deletes every layer, top first.
  ~ProtocolsList() override;

  // The top layer has become active.
  virtual void on_activated(Protocol* p);
  // A layer reports the end of a deactivation, orderly or by failure.
  virtual void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status);
  // Put the layer at the bottom / on top of the stack, which takes it over
  // (leaving any stack it was in).
  virtual Protocol* add_protocol_head(Protocol* p);
  virtual Protocol* add_protocol_tail(Protocol* p);

  // The first layer, bottom up, whose compare_name accepts the name.
  Protocol* search(const Protocol_name& name) const;

  Protocol* bottom() const { return get_head(); }
  Protocol* top() const { return get_tail(); }
  std::uint32_t layers() const { return count(); }

 private:
  friend class Protocol;
  void unlink(Protocol* p);
};

class ProtocolsFamily : public ProtocolsList {
 public:
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Smart_pointer<Internal_protocol_status> local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  int message(Packet& p) override;
  int receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override;
};
