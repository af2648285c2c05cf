#include "core/async/context.h"

#include <glib.h>

namespace dorvik::async {

GMainContext* currentContext() {
  GMainContext* ctx = g_main_context_get_thread_default();
  return ctx ? ctx : g_main_context_default();
}

void post(GMainContext* ctx, std::function<void()> fn) {
  auto* job = new std::function<void()>(std::move(fn));
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      job, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  g_source_attach(source, ctx ? ctx : g_main_context_default());
  g_source_unref(source);
}

}  // namespace dorvik::async
