#pragma once

#include <condition_variable>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "Platform/Error.h"
#include "Platform/ErrorException.h"
#include "Platform/Fatal.h"
#include "Platform/UnfairLock.h"

namespace tolvane::platform {

// A one-shot hand-over from asynchronous code to a blocked caller. The caller creates it
// naming the operation, passes resumer() to the code that completes later, and blocks in
// wait(). Exactly one resume(value) or resume(error) must happen across all copies of the
// resumer: wait() then returns the value or throws the error (as its own type when it is a
// throwable error type, else as ForwardedError; catch ErrorException to get any of them).
//
// Resuming twice, or the last resumer copy going away without resuming (including a
// continuation that never handed one out), is a programming error: the process stops with
// a fixed message naming the operation.
//
// Thread-safe: resumers may be used on any thread; wait() is called once, by one thread.
template <typename T>
class CheckedContinuation {
 public:
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

 private:
  struct State {
    explicit State(std::string name) : operation(std::move(name)) {}
    const std::string operation;
    UnfairLock lock;
    std::condition_variable resumedCondition;
    std::optional<std::variant<Value, ErrorPtr>> outcome TOLVANE_GUARDED_BY(lock);
    bool resumed TOLVANE_GUARDED_BY(lock) = false;
  };

  [[noreturn]] static void stop(const State& state, const char* what) {
    fatalError("tolvane: continuation of '" + state.operation + "' " + what);
  }

  // Shared by every copy of one resumer; destroyed with the last copy, which is when a
  // missing resume is detected.
  struct Guard {
    explicit Guard(std::shared_ptr<State> s) : state(std::move(s)) {}
    ~Guard() {
      UnfairLock::Locker locker(state->lock);
      if (!state->resumed) stop(*state, "was dropped without being resumed");
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    std::shared_ptr<State> state;
  };

 public:
  class Resumer {
   public:
    void resume(Value value) requires(!std::is_void_v<T>) {
      complete(std::variant<Value, ErrorPtr>(std::in_place_index<0>, std::move(value)));
    }

    void resume() requires std::is_void_v<T> {
      complete(std::variant<Value, ErrorPtr>(std::in_place_index<0>));
    }

    void resume(ErrorPtr error) {
      if (!error) stop(*guard_->state, "was resumed with a null error");
      complete(std::variant<Value, ErrorPtr>(std::in_place_index<1>, std::move(error)));
    }

   private:
    friend class CheckedContinuation;
    explicit Resumer(std::shared_ptr<Guard> guard) : guard_(std::move(guard)) {}

    void complete(std::variant<Value, ErrorPtr> outcome) {
      State& state = *guard_->state;
      {
        UnfairLock::Locker locker(state.lock);
        if (state.resumed) stop(state, "was resumed more than once");
        state.resumed = true;
        state.outcome = std::move(outcome);
      }
      state.resumedCondition.notify_all();
    }

    std::shared_ptr<Guard> guard_;
  };

  explicit CheckedContinuation(std::string operation)
      : state_(std::make_shared<State>(std::move(operation))),
        guard_(std::make_shared<Guard>(state_)) {}

  CheckedContinuation(const CheckedContinuation&) = delete;
  CheckedContinuation& operator=(const CheckedContinuation&) = delete;

  // A handle that resumes this continuation; copies share the one-resume budget.
  [[nodiscard]] Resumer resumer() const {
    if (!guard_) throw std::logic_error("CheckedContinuation::resumer after wait");
    return Resumer(guard_);
  }

  // Blocks until resumed; returns the value or throws the error.
  T wait() {
    if (!guard_) throw std::logic_error("CheckedContinuation::wait called twice");
    // From here on only the handed-out resumers keep the guard alive.
    guard_.reset();
    State& state = *state_;
    UnfairLock::Locker locker(state.lock);
    while (!state.outcome.has_value()) state.lock.wait(state.resumedCondition);
    auto outcome = std::move(*state.outcome);
    state.outcome.reset();
    locker.unlock();
    if (outcome.index() == 1) throwError(std::get<1>(outcome));
    if constexpr (!std::is_void_v<T>) {
      return std::move(std::get<0>(outcome));
    }
  }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<Guard> guard_;  // ours until wait() starts
};

}  // namespace tolvane::platform
