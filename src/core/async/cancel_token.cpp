#include "core/async/cancel_token.h"

#include <gio/gio.h>

#include "core/base/errors.h"

namespace dorvik::async {

struct CancelState {
  GCancellable* cancellable = g_cancellable_new();
  ~CancelState() { g_object_unref(cancellable); }
};

CancelToken::CancelToken() : state_(std::make_shared<CancelState>()) {}

void CancelToken::cancel() const {
  if (state_) g_cancellable_cancel(state_->cancellable);
}

bool CancelToken::isCancelled() const { return state_ && g_cancellable_is_cancelled(state_->cancellable); }

GCancellable* CancelToken::cancellable() const { return state_ ? state_->cancellable : nullptr; }

void CancelToken::throwIfCancelled() const {
  if (isCancelled()) throw CancelledError();
}

CancelToken::Subscription CancelToken::onCancel(std::function<void()> fn) const {
  Subscription sub;
  if (!state_) return sub;
  auto* data = new std::function<void()>(std::move(fn));
  gulong id = g_cancellable_connect(
      state_->cancellable, G_CALLBACK(+[](GCancellable*, gpointer d) { (*static_cast<std::function<void()>*>(d))(); }),
      data, [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
  // id 0: the token was already cancelled, the callback has run and the data is freed.
  if (id != 0) {
    sub.state_ = state_;
    sub.handler_ = id;
  }
  return sub;
}

CancelToken::Subscription::Subscription(Subscription&& other) noexcept
    : state_(std::move(other.state_)), handler_(other.handler_) {
  other.handler_ = 0;
}

CancelToken::Subscription& CancelToken::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
    handler_ = other.handler_;
    other.handler_ = 0;
  }
  return *this;
}

CancelToken::Subscription::~Subscription() { reset(); }

void CancelToken::Subscription::reset() {
  if (state_ && handler_ != 0) g_cancellable_disconnect(state_->cancellable, handler_);
  state_.reset();
  handler_ = 0;
}

}  // namespace dorvik::async
