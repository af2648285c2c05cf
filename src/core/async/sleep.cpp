#include "core/async/sleep.h"

#include <glib.h>

namespace dorvik::async {

struct SleepAwaitable::State : detail::Handoff<void> {
  GSource* source = nullptr;
  ~State() {
    if (source) {
      g_source_destroy(source);
      g_source_unref(source);
    }
  }
};

void SleepAwaitable::await_suspend(std::coroutine_handle<> h) {
  auto state = detail::Handoff<void>::make<State>(h, env_);
  state_ = state;
  if (!detail::Handoff<void>::watch(state, env_.token)) return;

  auto wait = std::chrono::ceil<std::chrono::milliseconds>(until_ - Clock::now()).count();
  if (wait < 0) wait = 0;
  state->source = g_timeout_source_new(static_cast<guint>(wait));
  auto* weak = new std::weak_ptr<State>(state);
  g_source_set_callback(
      state->source,
      [](gpointer data) -> gboolean {
        if (auto s = static_cast<std::weak_ptr<State>*>(data)->lock()) {
          if (s->claim()) {
            s->result.setValue();
            s->handle.resume();  // already running from this context's loop: deferred by the timer itself
          }
        }
        return G_SOURCE_REMOVE;
      },
      weak, [](gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); });
  g_source_attach(state->source, state->context);
}

void SleepAwaitable::await_resume() {
  auto state = std::move(state_);
  state->take(env_.token);
}

}  // namespace dorvik::async
