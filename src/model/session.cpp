// Launch: the planner engine with its catalogue, then either the demo workspace (the "--preview" argument) or
// the way to the server.
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "core/api/failure.h"

namespace dorvik {

async::Task<void> AppModel::start(LaunchOptions options) {
  auto self = shared_from_this();
  std::exception_ptr failure;
  try {
    std::shared_ptr<PlannerEngine> engine = co_await PlannerEngine::create(options.catalogPath);
    setEngine(engine);
    const int count = co_await engine->catalogCount();
    setCatalogCount(count);
    // The demo consults neither the server address nor a saved session.
    if (options.preview) co_await loadPreview();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
  }
}

}  // namespace dorvik
