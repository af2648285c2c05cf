#include <glib.h>

#include "core/base/errors.h"
#include "shell/shell_context.h"

namespace dorvik {

namespace {
async::Task<void> guarded(async::Task<void> task) {
  try {
    co_await std::move(task);
  } catch (const CancelledError&) {
  } catch (const std::exception& e) {
    g_warning("Task ended with an error: %s", e.what());
  }
}
}  // namespace

void startDetached(async::Task<void> task) { async::spawn(guarded(std::move(task))); }

}  // namespace dorvik
