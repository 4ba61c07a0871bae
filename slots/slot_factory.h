#pragma once
// SlotFactory: base of the slot factories. Each factory recognises its
// alternative of LGCP::CreateParams, allocates what its slots need and
// builds them. Building a factory links it at the head of the registry
// (`firstFactory`), so the factories are asked newest first; factories live
// until the process ends and never leave the registry.
#include "schema/lgcp/LGCP.h"

#include <vector>

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;
  // Frees the slot list; the factory stays linked (it lives to the end).
  virtual ~SlotFactory();

  virtual const char* GetName() const = 0;
  // A new slot when the parameters are this factory's kind and its
  // resources allow, else null.
  virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
  // Adds this factory's resources to the report.
  virtual void Query(LGCP::Resources& res) = 0;
  // A trunk status signal of another service; the base does nothing.
  virtual void SelfSignal(LGCP::Signal const& sig);

  // INewSlot, then the slot is marked as this factory's and listed.
  Slot* NewSlot(LGCP::CreateParams const& params);
  // Removes every occurrence of the slot from the list.
  void Remove(Slot* slot);

  SlotFactory* GetNext() const { return next; }
  const std::vector<Slot*>& GetSlots() const { return slots; }

 protected:
  std::vector<Slot*> slots;

 private:
  SlotFactory* next;
};

// The newest factory; null before the first is built.
extern SlotFactory* firstFactory;
