// The bundle's script components with a fault of the planner added, in force while the object lives: every engine
// created meanwhile evaluates them from a copy of the core bundle (DORVIK_RESOURCES_DIR).
#pragma once

#include <filesystem>
#include <string>

namespace dorvik::testing {

class FaultyComponents {
 public:
  // Script text appended to PlannerCore.js.
  explicit FaultyComponents(const std::string& script);
  ~FaultyComponents();
  FaultyComponents(const FaultyComponents&) = delete;
  FaultyComponents& operator=(const FaultyComponents&) = delete;

  // "load" answers an empty plan for every stored plan that has orders, as a component whose reading of such plans
  // broke would if it took the failure for an empty plan.
  static FaultyComponents losingStoredPlans();
  // The component's own reading fails for every plan "load" is given that meets `condition`, a script expression
  // over `payload` (an object).
  static FaultyComponents unreadable(const std::string& condition);

 private:
  std::filesystem::path folder_;
};

}  // namespace dorvik::testing
