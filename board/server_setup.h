#pragma once
// The server's start-up bindings, in one place so that every program that
// stands in for the server (the control server's fuzz target) binds the
// same slot kinds and services in the same order.
namespace ServerSetup {

// Builds the slot factories and the switch. Each factory built goes to the
// head of the factory list, so they are asked newest first; the E1 and BRI
// trunk factories are static objects, built before main, and asked last.
void CreateSlotFactories();

// Binds the control services to the control server. Bind order is the order
// in which commands are offered and connects and disconnects announced:
// heartbeat, slots, bus test, bus clock, E1 control, SPI control,
// monitoring.
void BindControlServices();

}  // namespace ServerSetup
