#pragma once
// T.38 fax slots: the gateway does no T.38 work itself. Each slot allocates
// an MCC data channel and runs one "/usr/local/sbin/t38" process with that
// channel as its standard input and the remote address on its command line;
// the process's end is reported to the controller as the slot's abort.
#include "runtime/child_wait.h"
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <ostream>

class T38SoftSlot : public Slot {
 public:
  T38SoftSlot(int pid, int timeslot);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  // The channel lives in the program: once it has ended, the switch channel
  // is the driver's again and may go to a newer channel. It is no longer
  // this slot's to connect or to cut.
  bool IOnOutputStream() override { return pid >= 1; }
  bool IOnInputStream() override { return pid >= 1; }
  int IGetTransmitChannel() override { return pid >= 1 ? timeslot : -1; }
  int IGetReceiveChannel() override { return pid >= 1 ? timeslot : -1; }
  const char* GetName() const override { return "t38 soft"; }
  std::ostream& PutHeader(std::ostream& os) const;

  void OnT38Terminate(int status);

 private:
  std::int32_t pid;
  std::int32_t timeslot;
  ChildWait wait;
};

// The program of a destroyed slot after its SIGTERM: the slot goes at once,
// the program gets a while to end and is killed if it has not, so that no
// program keeps its channel past its slot.
class T38Lingering {
 public:
  static constexpr unsigned int kill_after_ms = 5000;
  // At the end of the run, what all programs still watched get together.
  static constexpr unsigned int exit_grace_ms = 1000;

  explicit T38Lingering(int pid);
  T38Lingering(const T38Lingering&) = delete;
  T38Lingering& operator=(const T38Lingering&) = delete;

  // Without the loop (the run is over): waits for the program up to the
  // deadline (steady clock), kills it if it has not ended, and reaps it.
  void EndBy(std::chrono::steady_clock::time_point deadline);

 private:
  void OnEnd(int status);
  void OnTimeOut();
  void Kill();

  std::int32_t pid;
  ChildWait wait;
  Timer timer;
};

class T38SoftFactory : public SlotFactory {
 public:
  static T38SoftFactory& instance();

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;

  // What "t38 --num-of-instances" prints; 0 when it cannot tell.
  int QueryNumOfInstances();
  // The count query holds the whole loop: the program gets this long to
  // print its line and end, and is killed (with what it started) past it.
  static constexpr int count_wait_ms = 1000;

  std::ostream& PutHeader(std::ostream& os) const { return os << "t38soft: "; }

  // Watches the program of a destroyed slot until it ends or is killed.
  void Linger(int pid);
  // Drops (and deletes) a program's watch; nothing of it is touched after.
  void Forget(const T38Lingering* l);

 private:
  T38SoftFactory() = default;
  // The run is over: the programs still watched end now, by SIGKILL if
  // need be, rather than outlive the server with their channels.
  ~T38SoftFactory() override;

  std::list<std::unique_ptr<T38Lingering>> lingering;
};
