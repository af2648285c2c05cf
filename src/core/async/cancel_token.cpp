#include "core/async/cancel_token.h"

#include <gio/gio.h>

#include <vector>

#include "core/base/errors.h"

namespace dorvik::async {

struct CancelState {
  GCancellable* cancellable = g_cancellable_new();
  // The tokens this one was linked from, each with the handler that passes its cancellation on. The handler's
  // data is a weak reference to this state, so a source never keeps a linked token alive.
  struct Source {
    std::weak_ptr<CancelState> state;
    GCancellable* cancellable = nullptr;  // a reference of its own, for the disconnection
    gulong handler = 0;
  };
  std::vector<Source> sources;

  ~CancelState() {
    for (Source& source : sources) {
      // A cancelled source has run (or is running) its handlers, which find this state gone. Disconnecting then
      // could wait for the very handler that released this state.
      if (!g_cancellable_is_cancelled(source.cancellable)) g_cancellable_disconnect(source.cancellable, source.handler);
      g_object_unref(source.cancellable);
    }
    g_object_unref(cancellable);
  }
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

bool CancelToken::follows(const CancelToken& other) const {
  if (!other.state_ || !state_) return false;
  if (state_ == other.state_) return true;
  for (const CancelState::Source& source : state_->sources) {
    CancelToken from(nullptr);
    from.state_ = source.state.lock();
    if (from.follows(other)) return true;
  }
  return false;
}

CancelToken CancelToken::linkedWith(const CancelToken& other) const {
  if (!other.state_ || follows(other)) return *this;
  if (!state_ || other.follows(*this)) return other;
  CancelToken linked;
  if (isCancelled() || other.isCancelled()) {
    linked.cancel();
    return linked;
  }
  for (const CancelToken* from : {this, &other}) {
    CancelState::Source source;
    source.state = from->state_;
    source.cancellable = G_CANCELLABLE(g_object_ref(from->state_->cancellable));
    source.handler = g_cancellable_connect(source.cancellable, G_CALLBACK(+[](GCancellable*, gpointer data) {
                                             if (auto state = static_cast<std::weak_ptr<CancelState>*>(data)->lock()) {
                                               g_cancellable_cancel(state->cancellable);
                                             }
                                           }),
                                           new std::weak_ptr<CancelState>(linked.state_), [](gpointer data) {
                                             delete static_cast<std::weak_ptr<CancelState>*>(data);
                                           });
    linked.state_->sources.push_back(std::move(source));
  }
  // A source cancelled on another thread between the check above and its connection has cancelled the link at
  // once (the handler runs inside the connection); the link is complete either way.
  return linked;
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
