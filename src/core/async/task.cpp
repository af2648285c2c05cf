#include "core/async/task.h"

#include <glib.h>

namespace dorvik::async {

void spawn(Task<void> task, CancelToken token) {
  std::move(task).startDetached(Env{currentContext(), std::move(token)}, [](std::exception_ptr error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (const CancelledError&) {
    } catch (const std::exception& e) {
      g_warning("Unhandled failure of a background task: %s", e.what());
    } catch (...) {
      g_warning("Unhandled failure of a background task");
    }
  });
}

namespace detail {
void iterateUntil(GMainContext* ctx, const std::function<bool()>& done) {
  while (!done()) g_main_context_iteration(ctx, TRUE);
}
}  // namespace detail

}  // namespace dorvik::async
