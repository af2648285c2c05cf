// CancelToken: a shared cancellation flag (a GCancellable underneath, so GIO calls can take it directly).
// Copies share one flag. A task hands its token to every task it awaits. Two tokens can be linked into a third
// that either of them cancels: a workflow's own token and the token of the workspace it works in.
#pragma once

#include <functional>
#include <memory>

typedef struct _GCancellable GCancellable;

namespace dorvik::async {

class CancelToken {
 public:
  // A new token, not cancelled.
  CancelToken();
  // A token that is never cancelled and allocates nothing.
  static CancelToken none() { return CancelToken(nullptr); }

  void cancel() const;
  bool isCancelled() const;
  // The underlying GCancellable for GIO calls; null for none().
  GCancellable* cancellable() const;
  // Throws CancelledError when cancelled.
  void throwIfCancelled() const;

  // A token cancelled as soon as this one or `other` is (at once when either already is). It is this token
  // itself when `other` is none, is this token, or is one this token already follows; `other` when this one is
  // none. The link holds neither token alive.
  CancelToken linkedWith(const CancelToken& other) const;
  // True when cancelling `other` cancels this token: the same token, or one it was linked with.
  bool follows(const CancelToken& other) const;

  // A registration of a callback; disconnects when destroyed.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();
    void reset();

   private:
    friend class CancelToken;
    std::shared_ptr<struct CancelState> state_;
    unsigned long handler_ = 0;
  };

  // Calls fn once when the token is cancelled, on the thread that cancels it; at once when it already is.
  // fn must not disconnect its own subscription.
  [[nodiscard]] Subscription onCancel(std::function<void()> fn) const;

  friend bool operator==(const CancelToken& a, const CancelToken& b) { return a.state_ == b.state_; }

 private:
  explicit CancelToken(std::nullptr_t) {}
  std::shared_ptr<struct CancelState> state_;
};

}  // namespace dorvik::async
