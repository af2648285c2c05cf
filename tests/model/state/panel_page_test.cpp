#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/panel_page.h"

using namespace dorvik;

TEST(PanelPage, TwentyThreePagesInSidebarOrderWithUniqueKeys) {
  const auto& pages = allPanelPages();
  ASSERT_EQ(pages.size(), 23u);
  EXPECT_EQ(pages.front(), PanelPage::planning);
  EXPECT_EQ(pages.back(), PanelPage::help);
  std::set<std::string_view> keys;
  for (PanelPage page : pages) {
    keys.insert(rawValue(page));
    EXPECT_EQ(panelPageFromRawValue(rawValue(page)), page) << rawValue(page);
    EXPECT_FALSE(title(page).empty());
    EXPECT_FALSE(symbol(page).empty());
  }
  EXPECT_EQ(keys.size(), 23u);
}

TEST(PanelPage, KeysMatchExactlyOnly) {
  EXPECT_EQ(panelPageFromRawValue("monitorMap"), PanelPage::monitorMap);
  EXPECT_EQ(panelPageFromRawValue("MonitorMap"), std::nullopt);
  EXPECT_EQ(panelPageFromRawValue("monitormap"), std::nullopt);
  EXPECT_EQ(panelPageFromRawValue(" monitorMap"), std::nullopt);
  EXPECT_EQ(panelPageFromRawValue(""), std::nullopt);
}

TEST(PanelPage, TitlesAndSymbols) {
  EXPECT_EQ(title(PanelPage::planning), "Новое планирование");
  EXPECT_EQ(title(PanelPage::appSettings), "Настройки приложения");
  EXPECT_EQ(symbol(PanelPage::live), "point.topleft.down.to.point.bottomright.curvepath");
  // Two pages share a title and differ in symbol.
  EXPECT_EQ(title(PanelPage::vehicles), "Курьеры");
  EXPECT_EQ(title(PanelPage::crew), "Курьеры");
  EXPECT_NE(symbol(PanelPage::vehicles), symbol(PanelPage::crew));
}
