// Task<T>: a lazy coroutine that runs on the main context it was started from.
//
//  - Lazy: nothing runs until the task is awaited (co_await) or started with spawn().
//  - A task awaited by another inherits its context and its cancellation token.
//  - Whatever a task awaits (a worker job, a sleep, a shared task, a slot of a group, another task) resumes it on
//    its own context through an idle source: always deferred, never inline.
//  - Cancellation: when the token is cancelled, every awaitable of this library that is waiting resumes at once
//    with CancelledError; work already handed to a worker thread still finishes there and its result is dropped.
//    A task whose token was cancelled after the value it awaited had been posted ends by CancelledError too
//    when it resumes: a stale continuation never runs on. (A failure is passed on as it is: it is no result.)
//
// A coroutine does not keep its object alive: capture shared_from_this() or a weak reference in the coroutine's
// arguments, never a raw pointer to something that may go away while it waits.
//
// How a workflow of the application model is written:
//
//   async::Task<void> AppModel::saveSomething() {
//     auto self = shared_from_this();
//     co_await workspaceScope();                      // a workspace change ends this task from here on
//     auto busy = hold(Property::busy);               // cleared however this ends
//     auto saved = co_await async::attempt(cache->write(value, "name"));
//     if (reportIfFailed(saved)) co_return;           // its Russian text on the error line
//     setStatus("Сохранено.");                        // reached only while the workspace is the same
//   }
//
//  - workspaceScope() links the task's token with the token of the current workspace, which the model cancels
//    when the workspace changes: the task then ends at its next await, and nothing written after an await can
//    reach the next workspace. It ends by CancelledError, or with workspaceScope(async::ScopeEnd::quiet) as if
//    it had returned an empty value (nothing, false, none) there. Only a workflow that changes the workspace
//    itself enters the new one's scope after the change.
//  - A flag the workflow sets (busy, ...) is held by a local that releases it however the workflow ends.
//  - attempt() turns a failure into a value; a cancellation still ends the task.
//  - Work that must not be cut short (a write the user would miss) is awaited through shielded().
//  - A task nobody awaits is started with spawn(); it reports nothing but a stray failure, so it handles its own.
#pragma once

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "core/async/cancel_token.h"
#include "core/async/context.h"
#include "core/base/errors.h"

namespace dorvik::async {

// Where a coroutine runs and what cancels it.
struct Env {
  GMainContext* context = nullptr;
  CancelToken token = CancelToken::none();
};

namespace detail {

template <class T>
class Result {
 public:
  void setValue(T value) { v_.template emplace<1>(std::move(value)); }
  void setError(std::exception_ptr e) { v_.template emplace<2>(std::move(e)); }
  bool ready() const { return v_.index() != 0; }
  bool failed() const { return v_.index() == 2; }
  std::exception_ptr error() const { return v_.index() == 2 ? std::get<2>(v_) : nullptr; }
  T take() {
    if (v_.index() == 2) std::rethrow_exception(std::get<2>(v_));
    return std::move(std::get<1>(v_));
  }
  const T& peek() const {
    if (v_.index() == 2) std::rethrow_exception(std::get<2>(v_));
    return std::get<1>(v_);
  }

 private:
  std::variant<std::monostate, T, std::exception_ptr> v_;
};

template <>
class Result<void> {
 public:
  void setValue() { done_ = true; }
  void setError(std::exception_ptr e) {
    error_ = std::move(e);
    done_ = true;
  }
  bool ready() const { return done_; }
  bool failed() const { return error_ != nullptr; }
  std::exception_ptr error() const { return error_; }
  void take() {
    if (error_) std::rethrow_exception(error_);
  }
  void peek() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  bool done_ = false;
  std::exception_ptr error_;
};

// Awaitables of this library learn the awaiting coroutine's context and token through bindEnv(); the one that
// changes them (entering a scope) is handed the coroutine's promise through enter().
template <class A>
concept EnvAware = requires(A& a, const Env& env) {
  a.bindEnv(env);
};
struct PromiseBase;
template <class A>
concept ScopeEntering = requires(A& a, PromiseBase& promise) {
  a.enter(promise);
};

// Shared state of one suspension that may end in two ways (completion or cancellation), possibly on two threads.
// Whoever claims it first decides the outcome and posts the resumption to the coroutine's context; the other
// side finds it claimed and does nothing, so a completion arriving after cancellation (or after the owner is
// gone) is harmless.
template <class T>
struct Handoff {
  std::atomic<bool> claimed{false};
  std::coroutine_handle<> handle;
  GMainContext* context = nullptr;
  Result<T> result;
  CancelToken::Subscription cancelSubscription;

  bool claim() { return !claimed.exchange(true, std::memory_order_acq_rel); }

  // Posts the resumption; the handoff stays alive until the coroutine has resumed.
  static void resume(const std::shared_ptr<Handoff>& self) {
    post(self->context, [self] { self->handle.resume(); });
  }
  // Resumes with a value, unless the suspension was claimed first (by a cancellation); false then.
  template <class... V>
  static bool succeed(const std::shared_ptr<Handoff>& self, V&&... value) {
    if (!self->claim()) return false;
    self->result.setValue(std::forward<V>(value)...);
    resume(self);
    return true;
  }
  static void cancelled(const std::shared_ptr<Handoff>& self) {
    if (!self->claim()) return;
    self->result.setError(std::make_exception_ptr(CancelledError()));
    resume(self);
  }
  // A suspension of `h`, to resume on env's context (the calling thread's when it has none).
  template <class H = Handoff>
  static std::shared_ptr<H> make(std::coroutine_handle<> h, const Env& env) {
    auto handoff = std::make_shared<H>();
    handoff->handle = h;
    handoff->context = env.context ? env.context : currentContext();
    return handoff;
  }
  // Watches the token; resumes with CancelledError when it is cancelled first. False when it already is: the
  // resumption is then on its way, and nothing else should start.
  static bool watch(const std::shared_ptr<Handoff>& self, const CancelToken& token) {
    std::weak_ptr<Handoff> weak = self;
    self->cancelSubscription = token.onCancel([weak] {
      if (auto s = weak.lock()) cancelled(s);
    });
    return !self->claimed.load(std::memory_order_acquire);
  }
  // On resumption: the failure, or the value unless the token was cancelled meanwhile (even after the value
  // had been posted): then CancelledError.
  T take(const CancelToken& token) {
    cancelSubscription.reset();
    if (!result.failed()) token.throwIfCancelled();
    return result.take();
  }
};

struct PromiseBase {
  Env env;
  std::coroutine_handle<> continuation;
  bool detached = false;
  std::function<void(std::exception_ptr)> onDetachedDone;
  // The scope the task entered last, the token it had before, and how the scope's end ends it (see JoinScope).
  CancelToken scope = CancelToken::none();
  CancelToken outerToken = CancelToken::none();
  bool quietScopeEnd = false;

  std::suspend_always initial_suspend() noexcept { return {}; }

  template <class A>
  decltype(auto) await_transform(A&& awaitable) {
    if constexpr (ScopeEntering<std::remove_reference_t<A>>) {
      awaitable.enter(*this);
    } else if constexpr (EnvAware<std::remove_reference_t<A>>) {
      awaitable.bindEnv(env);
    }
    return std::forward<A>(awaitable);
  }

  // For unhandled_exception(): whatever ends a task after the end of its scope (and not of its own token) is
  // that end, also a failure that arrived meanwhile (such as a transfer the scope's end cut off).
  bool endedByScope() const { return scope.isCancelled() && !outerToken.isCancelled(); }
  std::exception_ptr failureOrScopeEnd() const {
    return endedByScope() ? std::make_exception_ptr(CancelledError()) : std::current_exception();
  }
};

template <class P>
struct FinalAwaiter {
  bool await_ready() noexcept { return false; }
  void await_suspend(std::coroutine_handle<P> h) noexcept {
    P& promise = h.promise();
    if (promise.detached) {
      auto done = std::move(promise.onDetachedDone);
      std::exception_ptr error = promise.result.error();
      h.destroy();
      if (done) done(error);
      return;
    }
    // Resume the awaiting coroutine later, on its context; this frame stays until its Task is destroyed.
    if (promise.continuation) {
      std::coroutine_handle<> next = promise.continuation;
      post(promise.env.context, [next] { next.resume(); });
    }
  }
  void await_resume() noexcept {}
};

}  // namespace detail

template <class T = void>
class Task;
template <class T>
Task<T> shielded(Task<T> task, CancelToken token = CancelToken::none());

template <class T>
class [[nodiscard]] Task {
 public:
  struct promise_type;
  using Handle = std::coroutine_handle<promise_type>;

  struct promise_type : detail::PromiseBase {
    detail::Result<T> result;
    Task get_return_object() { return Task(Handle::from_promise(*this)); }
    detail::FinalAwaiter<promise_type> final_suspend() noexcept { return {}; }
    void unhandled_exception() {
      if constexpr (std::is_default_constructible_v<T>) {
        if (quietScopeEnd && endedByScope()) return result.setValue(T{});
      }
      result.setError(failureOrScopeEnd());
    }
    template <class U>
    requires std::is_convertible_v<U&&, T>
    void return_value(U&& value) { result.setValue(T(std::forward<U>(value))); }
  };

  Task() = default;
  Task(Task&& other) noexcept
      : handle_(std::exchange(other.handle_, {})),
        shielded_(other.shielded_),
        shieldToken_(std::move(other.shieldToken_)),
        awaiterToken_(std::move(other.awaiterToken_)) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      destroy();
      handle_ = std::exchange(other.handle_, {});
      shielded_ = other.shielded_;
      shieldToken_ = std::move(other.shieldToken_);
      awaiterToken_ = std::move(other.awaiterToken_);
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { destroy(); }

  bool valid() const { return static_cast<bool>(handle_); }

  // Awaiting: the child starts at once with the parent's context and token; the parent resumes (deferred) when
  // the child has finished, with its exception, or with its value unless its own token was cancelled
  // meanwhile (then CancelledError). A shielded child runs under its own token only (see shielded()).
  void bindEnv(const Env& env) {
    handle_.promise().env = env;
    if (shielded_) handle_.promise().env.token = shieldToken_;
    awaiterToken_ = env.token;
  }
  auto operator co_await() && {
    struct Awaiter {
      Handle child;
      CancelToken parentToken;
      bool await_ready() const noexcept { return false; }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<> parent) noexcept {
        child.promise().continuation = parent;
        if (!child.promise().env.context) child.promise().env.context = currentContext();
        return child;
      }
      T await_resume() {
        if (!child.promise().result.failed()) parentToken.throwIfCancelled();
        return child.promise().result.take();
      }
    };
    return Awaiter{handle_, awaiterToken_};
  }

  // Starts the task detached on env's context (the calling thread's context when none). The frame frees itself
  // when done; onDone (optional) receives its exception, or null.
  void startDetached(Env env, std::function<void(std::exception_ptr)> onDone = {}) && {
    Handle h = std::exchange(handle_, {});
    if (!env.context) env.context = currentContext();
    h.promise().env = std::move(env);
    h.promise().detached = true;
    h.promise().onDetachedDone = std::move(onDone);
    h.resume();
  }

 private:
  template <class U>
  friend Task<U> shielded(Task<U> task, CancelToken token);
  explicit Task(Handle h) : handle_(h) {}
  void destroy() {
    if (handle_) handle_.destroy();
    handle_ = {};
  }
  Handle handle_;
  bool shielded_ = false;
  CancelToken shieldToken_ = CancelToken::none();
  CancelToken awaiterToken_ = CancelToken::none();
};

// The task, to be awaited to its end whatever happens to the awaiting coroutine's token: it runs under `token`
// alone, none by default (work the user would miss if it were cut short, such as a write). The awaiting
// coroutine still ends by CancelledError on resuming with a value when its own token was cancelled meanwhile.
template <class T>
Task<T> shielded(Task<T> task, CancelToken token) {
  task.shielded_ = true;
  task.shieldToken_ = std::move(token);
  return task;
}

template <>
struct Task<void>::promise_type : detail::PromiseBase {
  detail::Result<void> result;
  Task get_return_object() { return Task(Handle::from_promise(*this)); }
  detail::FinalAwaiter<promise_type> final_suspend() noexcept { return {}; }
  void unhandled_exception() {
    if (quietScopeEnd && endedByScope()) return result.setValue();
    result.setError(failureOrScopeEnd());
  }
  void return_void() { result.setValue(); }
};

// Starts a task detached on the calling thread's context. An exception other than cancellation that escapes it
// is reported through g_warning; handle failures inside the task.
void spawn(Task<void> task, CancelToken token = CancelToken::none());

// Gives the awaiting coroutine's token: `CancelToken t = co_await currentToken();`
struct CurrentToken {
  CancelToken token = CancelToken::none();
  void bindEnv(const Env& env) { token = env.token; }
  bool await_ready() const noexcept { return true; }
  void await_suspend(std::coroutine_handle<>) const noexcept {}
  CancelToken await_resume() const { return token; }
};
inline CurrentToken currentToken() { return {}; }

// How a task that entered a scope ends when the scope ends: by CancelledError, or quietly, as if it had returned
// an empty value (nothing, false, none) at that point.
enum class ScopeEnd { cancellation, quiet };

// Enters a scope: `co_await joinScope(token);` links the awaiting coroutine's token with `token`, so that from
// then on cancelling either ends the coroutine at its next await (and every task it awaits with it). The end of
// the scope ends it by CancelledError, or quietly for ScopeEnd::quiet, whatever exception carried it out (a
// transfer cut off ends with the transport's own error); the end of the coroutine's own token stays what it was.
// Ends it at once when the scope has already ended.
class JoinScope {
 public:
  JoinScope(CancelToken scope, ScopeEnd end) : scope_(std::move(scope)), end_(end) {}
  void enter(detail::PromiseBase& promise) {
    promise.scope = scope_;
    promise.outerToken = promise.env.token;
    promise.quietScopeEnd = end_ == ScopeEnd::quiet;
    promise.env.token = promise.env.token.linkedWith(scope_);
    token_ = promise.env.token;
  }
  bool await_ready() const noexcept { return true; }
  void await_suspend(std::coroutine_handle<>) const noexcept {}
  void await_resume() const { token_.throwIfCancelled(); }

 private:
  CancelToken scope_;
  ScopeEnd end_;
  CancelToken token_ = CancelToken::none();
};
inline JoinScope joinScope(CancelToken scope, ScopeEnd end = ScopeEnd::cancellation) {
  return JoinScope(std::move(scope), end);
}

// Awaits a task inside a scope without the awaiting coroutine entering it: the scope's end ends the task (and
// so the await) by CancelledError. For a workflow that is about to change the scope itself.
template <class T>
Task<T> within(CancelToken scope, Task<T> task) {
  co_await joinScope(std::move(scope));
  co_return co_await std::move(task);
}

// Suspends once and resumes through the idle queue (lets other posted work run first).
struct Yield {
  Env env;
  void bindEnv(const Env& e) { env = e; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) const {
    post(env.context ? env.context : currentContext(), [h] { h.resume(); });
  }
  void await_resume() const { env.token.throwIfCancelled(); }
};
inline Yield yield() { return {}; }

namespace detail {
template <class T>
Task<void> captureInto(Task<T> task, std::shared_ptr<Result<T>> out) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(task);
      out->setValue();
    } else {
      out->setValue(co_await std::move(task));
    }
  } catch (...) {
    out->setError(std::current_exception());
  }
}
void iterateUntil(GMainContext* ctx, const std::function<bool()>& done);
}  // namespace detail

// Runs a task to its end by iterating the calling thread's context. For tests, benchmarks and tools only: the
// application never blocks its main loop this way.
template <class T>
T runBlocking(Task<T> task, CancelToken token = CancelToken::none()) {
  auto out = std::make_shared<detail::Result<T>>();
  GMainContext* ctx = currentContext();
  detail::captureInto(std::move(task), out).startDetached(Env{ctx, std::move(token)});
  detail::iterateUntil(ctx, [&] { return out->ready(); });
  return out->take();
}

}  // namespace dorvik::async
