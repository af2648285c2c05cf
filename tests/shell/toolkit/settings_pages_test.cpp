#include <gtest/gtest.h>

#include "core/base/errors.h"
#include "shell/toolkit/form.h"
#include "shell/toolkit/courier_settings.h"
#include "shell/toolkit/workspace_settings.h"

using namespace dorvik;

namespace {
JSONValue config(JSONValue kmh, JSONValue road, JSONValue service, JSONValue late) {
  return JSONValue::object(
      {{"CITY_KMH", kmh}, {"ROAD_FACTOR", road}, {"SERVICE_MIN", service}, {"LATE_TOL_MIN", late}});
}
std::string failure(const JSONValue& value) {
  try {
    WorkspaceSettings::checked(value);
  } catch (const DorvikError& e) {
    return e.message();
  }
  return "(passed)";
}
const std::string kRange = "Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут.";
}  // namespace

TEST(WorkspaceSettings, BoundsAreIncluded) {
  EXPECT_EQ(WorkspaceSettings::checked(config(1, 1, 0, 0)), config(1, 1, 0, 0));
  EXPECT_EQ(WorkspaceSettings::checked(config("200", "5", "240", "240")), config(200, 5, 240, 240));
  JSONValue extra = config(30, 1.3, 10, 15);
  extra.set("OTHER", 1);
  EXPECT_EQ(WorkspaceSettings::checked(extra), config(30, 1.3, 10, 15));
}

TEST(WorkspaceSettings, AnyValueOutsideItsRangeGivesTheOneMessage) {
  EXPECT_EQ(failure(config(0.99, 1, 0, 0)), kRange);
  EXPECT_EQ(failure(config(200.01, 1, 0, 0)), kRange);
  EXPECT_EQ(failure(config(30, 0.99, 0, 0)), kRange);
  EXPECT_EQ(failure(config(30, 5.01, 0, 0)), kRange);
  EXPECT_EQ(failure(config(30, 2, -1, 0)), kRange);
  EXPECT_EQ(failure(config(30, 2, 0, 240.5)), kRange);
}

TEST(WorkspaceSettings, FormMessagesComeFirst) {
  EXPECT_EQ(failure(config("", 1, 0, 0)), "Заполните поле «Средняя скорость, км/ч».");
  EXPECT_EQ(failure(JSONValue()), "Заполните поле «Средняя скорость, км/ч».");
  EXPECT_EQ(failure(config(30, "быстро", 0, 0)), "«Коэффициент дорог» должно быть числом.");
  EXPECT_EQ(failure(config(30, 2, 0, "inf")), "«Допуск опоздания, минут» должно быть числом.");
}

TEST(WorkspaceSettings, DepotSwitchNeedsAnotherDepotAndAWritableServer) {
  JSONValue user = JSONValue::object({{"depotId", "d1"}});
  EXPECT_TRUE(WorkspaceSettings::canSwitchDepot("d2", user, false, false, true));
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("", user, false, false, true));
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("d1", user, false, false, true));
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("d2", user, true, false, true));
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("d2", user, false, true, true));
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("d2", user, false, false, false));
  JSONValue numeric = JSONValue::object({{"depotId", 7}});
  EXPECT_FALSE(WorkspaceSettings::canSwitchDepot("7", numeric, false, false, true));
  EXPECT_FALSE(WorkspaceSettings::canRefreshReferenceData(true, false));
  EXPECT_FALSE(WorkspaceSettings::canRefreshReferenceData(false, true));
  EXPECT_TRUE(WorkspaceSettings::canRefreshReferenceData(false, false));
}

TEST(CourierSettings, TheDepotIdIsEncodedWithTheOneIdEncoder) {
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", "abc123"}})), "/depots/abc123/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", "a/b?c#d"}})), "/depots/a%2Fb%3Fc%23d/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", "50% off"}})), "/depots/50%25%20off/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", "Склад-1"}})), "/depots/Склад%2D1/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", ".."}})), "/depots/%2E%2E/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({{"depotId", 42}})), "/depots/42/settings");
  EXPECT_EQ(CourierSettings::path(JSONValue::object({})), "");
  EXPECT_FALSE(CourierSettings::canRefresh(JSONValue::object({}), false));
}

TEST(CourierSettings, SaveOnlyWhenTheEditDiffersFromTheServer) {
  JSONValue loaded = JSONValue::object({{"name", "Склад"}});  // no photoProof: off
  JSONValue admin = JSONValue::object({{"role", "admin"}});
  EXPECT_FALSE(CourierSettings::canSave(loaded, false, true, admin, false));
  EXPECT_TRUE(CourierSettings::canSave(loaded, false, true, admin, true));
  EXPECT_FALSE(CourierSettings::canSave(loaded, true, true, admin, true));
  EXPECT_FALSE(CourierSettings::canSave(loaded, false, false, admin, true));
  EXPECT_FALSE(CourierSettings::canSave(JSONValue(), false, true, admin, true));
  EXPECT_FALSE(CourierSettings::canToggle(loaded, true, false, true, admin));
  EXPECT_TRUE(CourierSettings::canToggle(loaded, false, false, true, admin));
  EXPECT_EQ(CourierSettings::body(true), JSONValue::object({{"photoProof", true}}));
}

// The server takes the change only from the depot's administrators: a logist (or a profile without a role) can
// neither tick the setting nor save it, whatever else holds.
TEST(CourierSettings, OnlyAdministratorsMayChangeThePhotoSetting) {
  JSONValue loaded = JSONValue::object({{"name", "Склад"}, {"photoProof", false}});
  for (const char* role : {"admin", "superadmin", "logist", "", "Admin"}) {
    JSONValue user = JSONValue::object({{"role", role}, {"depotId", "d1"}});
    const bool administrator = std::string(role) == "admin" || std::string(role) == "superadmin";
    EXPECT_EQ(CourierSettings::canToggle(loaded, false, false, true, user), administrator) << role;
    EXPECT_EQ(CourierSettings::canSave(loaded, false, true, user, true), administrator) << role;
  }
}

// The planning parameters follow the model while the user has not touched them: data that arrives after the page
// opened fills the empty fields, a typed entry stays, and an entry equal to the new value is in step again.
TEST(WorkspaceSettings, UntouchedFieldsFollowTheModelAndTypedOnesStay) {
  const auto& fields = WorkspaceSettings::planningFields();
  JSONValue edited;  // the page opened before the planning document was there
  JSONValue shown;
  JSONValue fresh = config(25, 1.3, 10, 15);
  EXPECT_EQ(ValueFields::follow(edited, shown, fresh, fields),
            (std::vector<std::string>{"CITY_KMH", "ROAD_FACTOR", "SERVICE_MIN", "LATE_TOL_MIN"}));
  EXPECT_EQ(WorkspaceSettings::checked(edited), fresh);

  shown = fresh;
  edited.set("CITY_KMH", "40");     // typed
  edited.set("ROAD_FACTOR", "1,3"); // typed, but the same number as shown
  JSONValue next = config(30, 1.5, 12, 15);
  EXPECT_EQ(ValueFields::follow(edited, shown, next, fields),
            (std::vector<std::string>{"ROAD_FACTOR", "SERVICE_MIN"}));
  EXPECT_EQ(WorkspaceSettings::checked(edited), config(40, 1.5, 12, 15));

  // The typed speed reaches the model (applied): from then on the field follows again.
  shown = next;
  JSONValue applied = config(40, 1.5, 12, 15);
  EXPECT_TRUE(ValueFields::follow(edited, shown, applied, fields).empty());
  shown = applied;
  EXPECT_EQ(ValueFields::follow(edited, shown, config(50, 1.5, 12, 15), fields),
            std::vector<std::string>{"CITY_KMH"});
  EXPECT_EQ(edited["CITY_KMH"], JSONValue(50));
}
