#pragma once
// A deferred call: while active, the loop runs it at both call points of
// every pass (after the due timers have fired, and right before poll).
// Active calls run in ascending order of the Dpc objects' addresses. A call
// may deactivate, rebind or destroy its own Dpc (and its owner; rebinding
// destroys the handler that is running, see Dpc::Bind), and
// activate or deactivate others: one deactivated before its turn at a call
// point does not run there; one activated joins at the next call point.
#include <memory>

class DpcHandler {
 public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler();
};

class DpcHandler1 : public DpcHandler {
 public:
  using Action = void (*)();
  explicit DpcHandler1(Action f) : func(f) {}
  void Invoke() override;

 private:
  Action func;
};

template <class T>
class TDpcHandler : public DpcHandler {
 public:
  using Action = void (T::*)();
  TDpcHandler(T* o, Action f) : obj(o), func(f) {}
  void Invoke() override {
    if (func) (obj->*func)();
  }

 private:
  T* obj;
  Action func;
};

class Dpc {
 public:
  Dpc() = default;
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  // Takes ownership of the handler and destroys the one bound before; the
  // active state is kept.
  void Bind(DpcHandler* h);
  void Bind(void (*f)());
  template <class T>
  void Bind(T* obj, void (T::*f)()) {
    Bind(new TDpcHandler<T>(obj, f));
  }

  void Activate();
  void Deactivate();
  bool IsActive() const { return active; }
  // Calls the bound handler, if any.
  void Invoke();

 private:
  std::unique_ptr<DpcHandler> handler;
  bool active = false;
};
