#include "shell/toolkit/workspace_settings.h"

#include "build_info.h"
#include "core/base/errors.h"
#include "planning_parameters.h"

namespace dorvik::WorkspaceSettings {

const std::vector<FieldSpec>& planningFields() {
  static const std::vector<FieldSpec> fields = [] {
    std::vector<FieldSpec> out;
    for (const PlanningParameters::Parameter& parameter : PlanningParameters::kParameters)
      out.push_back({parameter.key, parameter.title, FieldSpec::Kind::number, true});
    return out;
  }();
  return fields;
}

JSONValue checked(const JSONValue& config) {
  JSONValue value = validated(config, planningFields(), false);
  for (const PlanningParameters::Parameter& parameter : PlanningParameters::kParameters) {
    const JSONValue& member = value[parameter.key];
    const bool inRange =
        member.isNumber() && *member.doubleValue() >= parameter.low && *member.doubleValue() <= parameter.high;
    if (!inRange) throw DorvikError(PlanningParameters::kRangeMessage);
  }
  return value;
}

bool canSwitchDepot(const std::string& chosen, const JSONValue& user, bool busy, bool geocoding, bool canWriteServer) {
  return !chosen.empty() && chosen != user["depotId"].string() && !busy && !geocoding && canWriteServer;
}

bool canRefreshReferenceData(bool preview, bool busy) { return !preview && !busy; }

bool canApply(bool busy, bool geocoding) { return !busy && !geocoding; }

std::string buildText() {
  std::string build = BuildInfo::kBuildNumber;
  return build.empty() ? "Разработка" : build;
}

}  // namespace dorvik::WorkspaceSettings
