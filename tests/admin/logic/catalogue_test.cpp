// The data screens' catalogue and the per-page rules beside it.
#include <gtest/gtest.h>

#include "admin/logic/catalogue.h"

using namespace dorvik;
using namespace dorvik::admin;

TEST(Catalogue, EndpointsCollectionsAndShapeOfEveryPage) {
  struct Case {
    PanelPage page;
    std::string day;
    std::string endpoint;
    std::string collection;
    std::size_t columns, fields;
    bool writable;
  };
  const Case cases[] = {
      {PanelPage::vehicles, "2026-03-05", "/admin/couriers", "couriers", 5, 5, true},
      {PanelPage::vehicles, "", "/admin/couriers", "couriers", 5, 5, true},
      {PanelPage::live, "2026-03-05", "/monitoring/routes?date=2026-03-05", "routes", 6, 0, false},
      {PanelPage::orders, "", "/monitoring/orders?date=", "orders", 6, 0, false},
      {PanelPage::trackers, "2026-03-05", "/monitoring/trackers?date=2026-03-05", "trackers", 5, 0, false},
      {PanelPage::reports, "2026-03-05", "/reports/summary?from=2026-03-05&to=2026-03-05", "couriers", 5, 0, false},
      {PanelPage::shifts, "2026-03-05", "/panel/shifts?month=2026-03", "rows", 4, 0, false},
      {PanelPage::shifts, "", "/panel/shifts?month=", "rows", 4, 0, false},
      {PanelPage::shifts, "2026", "/panel/shifts?month=2026", "rows", 4, 0, false},
      {PanelPage::clients, "x", "/panel/clients", "clients", 4, 2, true},
      {PanelPage::addresses, "x", "/panel/addresses?limit=20000", "addresses", 5, 3, true},
      {PanelPage::zones, "x", "/panel/zones", "zones", 4, 4, true},
      {PanelPage::documents, "x", "/admin/documents", "documents", 5, 4, true},
      {PanelPage::companies, "x", "/staff/companies", "companies", 5, 4, true},
      {PanelPage::planning, "2026-03-05", "/integrations/settings", "", 0, 0, false},
      {PanelPage::integrations, "2026-03-05", "/integrations/settings", "", 0, 0, false},
      {PanelPage::help, "", "/integrations/settings", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    const DataScreen screen = DataScreen::configuration(c.page, c.day);
    SCOPED_TRACE(std::string(rawValue(c.page)) + " " + c.day);
    EXPECT_EQ(screen.endpoint, c.endpoint);
    EXPECT_EQ(screen.collection, c.collection);
    EXPECT_EQ(screen.columns.size(), c.columns);
    EXPECT_EQ(screen.fields.size(), c.fields);
    EXPECT_EQ(screen.writable, c.writable);
  }
  // Field titles are the form's own, apart from the column titles of the same key.
  const DataScreen clients = DataScreen::configuration(PanelPage::clients, "");
  EXPECT_EQ(clients.columns[0].title, "Клиент");
  EXPECT_EQ(clients.fields[0].title, "Название");
  EXPECT_EQ(DataScreen::configuration(PanelPage::trackers, "").columns[4].key, "lastPing.accuracy");
  const DataScreen couriers = DataScreen::configuration(PanelPage::vehicles, "");
  EXPECT_EQ(couriers.fields[3].kind, FieldSpec::Kind::secret);
  EXPECT_FALSE(couriers.fields[3].required);
}

TEST(Catalogue, ColumnWidthsByTheWholeKey) {
  const std::pair<const char*, int> widths[] = {
      {"address", 220},   {"note", 220},        {"courier.name", 150},    {"title", 150},  {"phones", 130},
      {"updatedAt", 130}, {"lat", 100},         {"externalRouteId", 100}, {"Address", 85}, {"lastPing.accuracy", 85},
      {"", 85},           {"courier.Name", 85},
  };
  for (const auto& [key, width] : widths) EXPECT_EQ((DataColumn{key, ""}.minimumWidth()), width) << key;
  EXPECT_EQ((DataColumn{"address", ""}.idealWidth()), 320);
  EXPECT_EQ((DataColumn{"login", ""}.idealWidth()), 120);
}

TEST(Catalogue, PageRules) {
  EXPECT_TRUE(isDated(PanelPage::live));
  EXPECT_TRUE(isDated(PanelPage::trackers));
  EXPECT_FALSE(isDated(PanelPage::vehicles));
  EXPECT_FALSE(isDated(PanelPage::help));

  EXPECT_EQ(detailKind(PanelPage::orders), DetailKind::routeDetail);
  EXPECT_EQ(detailKind(PanelPage::trackers), DetailKind::routeTrack);
  EXPECT_EQ(detailKind(PanelPage::vehicles), DetailKind::courierFiles);
  EXPECT_EQ(detailKind(PanelPage::documents), DetailKind::documentDetails);
  for (PanelPage page : {PanelPage::clients, PanelPage::addresses, PanelPage::zones, PanelPage::companies})
    EXPECT_EQ(detailKind(page), DetailKind::readable);

  EXPECT_TRUE(activationEdits(PanelPage::clients));
  EXPECT_FALSE(activationEdits(PanelPage::documents));
  EXPECT_FALSE(activationEdits(PanelPage::live));

  EXPECT_STREQ(selectionAction(PanelPage::vehicles)->title, "Файлы курьера");
  EXPECT_STREQ(selectionAction(PanelPage::documents)->title, "Ознакомление");
  EXPECT_FALSE(selectionAction(PanelPage::clients));

  // Add: the address memory works offline; the demo shows the editor.
  EXPECT_FALSE(canAdd(PanelPage::zones, true, false));
  EXPECT_TRUE(canAdd(PanelPage::zones, true, true));
  EXPECT_TRUE(canAdd(PanelPage::addresses, true, false));
  EXPECT_TRUE(canAdd(PanelPage::zones, false, false));

  EXPECT_FALSE(deletable(PanelPage::addresses));
  EXPECT_FALSE(deletable(PanelPage::companies));
  EXPECT_TRUE(deletable(PanelPage::zones));

  // Save busy: the demo on every page; offline (no server to write) on every page but addresses.
  for (PanelPage page : {PanelPage::addresses, PanelPage::clients}) EXPECT_TRUE(editorBusy(page, false, true, false));
  EXPECT_FALSE(editorBusy(PanelPage::addresses, false, false, false));
  EXPECT_TRUE(editorBusy(PanelPage::zones, false, false, false));
  EXPECT_TRUE(editorBusy(PanelPage::zones, true, false, true));
  EXPECT_FALSE(editorBusy(PanelPage::zones, false, false, true));
}
