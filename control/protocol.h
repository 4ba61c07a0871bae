#pragma once
// Protocol: one layer of a protocol stack (see protocols_list.h for stacks).
//
// Within its stack a layer's previous list item is the layer below, the next
// item the layer above. Packets to send travel down (message -> transmit ->
// message of the layer below), received data travels up (receive ->
// on_message -> receive of the layer above). What leaves the bottom or the
// top of a stack goes on in the stack that owns it, so stacks nest.
//
// Activation runs from the bottom up and is reported upward with
// on_activate; an orderly stop runs from the top down (deactivate ->
// local_deactivate -> on_deactivate with a success status -> deactivate of
// the layer below); a failure (an error status) climbs to the top. Each step
// is a virtual call, so a layer that must wait (a socket, a link set-up)
// reports later.
#include "control/protocol_name.h"
#include "control/protocol_status.h"
#include "runtime/f_dual_list.h"
#include "runtime/packet.h"

#include <iosfwd>

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
 public:
  Protocol() = default;
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;
  // Leaves the owner's list.
  ~Protocol() override;

  // Header and trailer room this layer needs; the defaults reserve none (a
  // null packet still gets a pooled buffer).
  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Smart_pointer<Internal_protocol_status> local_initialize();
  // Starts this layer; the default reports on_activate() at once.
  virtual void local_activate();
  // Stops this layer; the default reports on_deactivate("success") at once.
  virtual void local_deactivate();

  // Down to the layer below, or out of the bottom of the stack into the
  // owner's transmit; 0 when there is neither.
  virtual int transmit(Packet& p);
  // Up to the layer above, or out of the top into the owner's on_message.
  virtual int on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Smart_pointer<Internal_protocol_status> status);
  virtual void on_status(Smart_pointer<Internal_protocol_status> status);

  // A packet to send, from above; the default drops it and returns 0.
  virtual int message(Packet& p);
  // Data received, from below; the default drops it and returns 0.
  virtual int receive(Packet& p);

  // Starts the stack from its bottom up to this layer.
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream& os) const;

  // Reserve room for every layer from the bottom up to this one.
  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  // Initialises from the bottom up; the first failure is returned at once.
  Smart_pointer<Internal_protocol_status> initialize();

  ProtocolsList* get_owner() const { return owner; }

 protected:
  Protocol* lower() const { return get_prev(); }
  Protocol* upper() const { return get_next(); }
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);

 private:
  friend class ProtocolsList;
  ProtocolsList* owner = nullptr;
};
