#pragma once
// The completion handlers of the asynchronous operations (ASync::Connect,
// ASync::Copy): an object's member function, called with the outcome, held
// and owned by the operation.
#include <utility>

namespace ASync {

template <class... Args>
class HandlerOf {
 public:
  virtual ~HandlerOf() = default;
  virtual void Invoke(Args... args) = 0;
};

template <class T, class... Args>
class THandlerOf : public HandlerOf<Args...> {
 public:
  typedef void (T::*Action)(Args...);
  THandlerOf(Action action, T* obj) : action_(action), obj_(obj) {}
  void Invoke(Args... args) override {
    if (action_) (obj_->*action_)(args...);
  }

 private:
  Action action_;
  T* obj_;
};

// The handler an operation holds: deleted with it or when another is bound.
template <class... Args>
class HandlerHolder {
 public:
  HandlerHolder() = default;
  ~HandlerHolder() { delete handler_; }
  HandlerHolder(const HandlerHolder&) = delete;
  HandlerHolder& operator=(const HandlerHolder&) = delete;

  void Bind(HandlerOf<Args...>* handler) {
    HandlerOf<Args...>* old = handler_;
    handler_ = handler;
    if (old != handler) delete old;
  }
  // The handler may destroy the holder's owner: nothing is touched after it.
  // The arguments are passed on as given (no extra copy of a descriptor).
  template <class... Given>
  void Invoke(Given&&... args) {
    if (handler_) handler_->Invoke(std::forward<Given>(args)...);
  }

 private:
  HandlerOf<Args...>* handler_ = nullptr;
};

}  // namespace ASync
