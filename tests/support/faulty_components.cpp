#include "support/faulty_components.h"

#include <glib.h>

#include <fstream>

#include "core/engine/planner_engine.h"

namespace dorvik::testing {

FaultyComponents::FaultyComponents(const std::string& script) {
  gchar* folder = g_dir_make_tmp("dorvik-components-XXXXXX", nullptr);
  folder_ = folder;
  g_free(folder);
  std::filesystem::copy(PlannerEngine::bundleResources().value(), folder_,
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  std::ofstream(folder_ / "PlannerCore.js", std::ios::app) << "\n" << script << "\n";
  g_setenv("DORVIK_RESOURCES_DIR", folder_.c_str(), TRUE);
}

FaultyComponents::~FaultyComponents() {
  g_unsetenv("DORVIK_RESOURCES_DIR");
  std::filesystem::remove_all(folder_);
}

FaultyComponents FaultyComponents::losingStoredPlans() {
  return FaultyComponents(R"JS(
    (function () {
      const load = PlannerCore.actions.load;
      PlannerCore.actions.load = function (payload) {
        const stored = payload !== null && typeof payload === "object" && Array.isArray(payload.orders);
        return load(stored && payload.orders.length > 0 ? { routeDate: payload.routeDate } : payload);
      };
    })();
  )JS");
}

FaultyComponents FaultyComponents::unreadable(const std::string& condition) {
  return FaultyComponents(R"JS(
    (function () {
      const load = PlannerCore.actions.load;
      PlannerCore.actions.load = function (payload) {
        if (payload !== null && typeof payload === "object" && ()JS" +
                          condition + R"JS()) {
          Object.defineProperty(payload, "orders", { get: function () { throw new Error("сбой чтения"); } });
        }
        return load(payload);
      };
    })();
  )JS");
}

}  // namespace dorvik::testing
