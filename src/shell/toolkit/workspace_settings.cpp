#include "shell/toolkit/workspace_settings.h"

#include "core/base/errors.h"

#ifndef DORVIK_BUILD_NUMBER
#define DORVIK_BUILD_NUMBER ""
#endif

namespace dorvik::WorkspaceSettings {

const std::vector<FieldSpec>& planningFields() {
  static const std::vector<FieldSpec> fields{
      {"CITY_KMH", "Средняя скорость, км/ч", FieldSpec::Kind::number, true},
      {"ROAD_FACTOR", "Коэффициент дорог", FieldSpec::Kind::number, true},
      {"SERVICE_MIN", "Обслуживание точки, минут", FieldSpec::Kind::number, true},
      {"LATE_TOL_MIN", "Допуск опоздания, минут", FieldSpec::Kind::number, true},
  };
  return fields;
}

JSONValue checked(const JSONValue& config) {
  JSONValue value = validated(config, planningFields(), false);
  struct Range {
    const char* key;
    double low, high;
  };
  static constexpr Range kRanges[] = {
      {"CITY_KMH", 1, 200}, {"ROAD_FACTOR", 1, 5}, {"SERVICE_MIN", 0, 240}, {"LATE_TOL_MIN", 0, 240}};
  for (const Range& range : kRanges) {
    const JSONValue& member = value[range.key];
    if (!member.isNumber()) throw DorvikError("Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут.");
    double number = *member.doubleValue();
    if (!(number >= range.low && number <= range.high))
      throw DorvikError("Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут.");
  }
  return value;
}

bool canSwitchDepot(const std::string& chosen, const JSONValue& user, bool busy, bool geocoding, bool canWriteServer) {
  return !chosen.empty() && chosen != user["depotId"].string() && !busy && !geocoding && canWriteServer;
}

bool canRefreshReferenceData(bool preview, bool busy) { return !preview && !busy; }

bool canApply(bool busy, bool geocoding) { return !busy && !geocoding; }

std::string buildText() {
  std::string build = DORVIK_BUILD_NUMBER;
  return build.empty() ? "Разработка" : build;
}

}  // namespace dorvik::WorkspaceSettings
