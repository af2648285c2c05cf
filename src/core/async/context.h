// Main-context plumbing for the coroutines: where a task runs, and how work is handed back to it.
#pragma once

#include <functional>

typedef struct _GMainContext GMainContext;

namespace dorvik::async {

// The context of the calling thread: its thread-default context, or the global default one.
GMainContext* currentContext();

// Runs fn on ctx's loop through an idle source: always deferred, never inline, even when called on that loop's
// own thread. Safe to call from any thread.
void post(GMainContext* ctx, std::function<void()> fn);

}  // namespace dorvik::async
