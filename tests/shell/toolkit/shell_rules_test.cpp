#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <set>
#include <utility>
#include <vector>

#include "shell/toolkit/shell_rules.h"
#include "core/settings/user_defaults.h"

using namespace dorvik;

TEST(Sidebar, TheDorvikSectionIsForSuperadministratorsOnly) {
  auto admin = sidebarSections(JSONValue::object({{"role", "admin"}}));
  ASSERT_EQ(admin.size(), 6u);
  EXPECT_EQ(admin.back().title, "Параметры");
  auto super = sidebarSections(JSONValue::object({{"role", "superadmin"}}));
  ASSERT_EQ(super.size(), 7u);
  EXPECT_EQ(super[5].title, "Dorvik");
  EXPECT_EQ(super[4].title, "Приложение");
  EXPECT_EQ(sidebarSections(JSONValue::object({{"role", "Superadmin"}})).size(), 6u);
  std::size_t pages = 0;
  for (const auto& section : super) pages += section.pages.size();
  EXPECT_EQ(pages, 23u);
}

TEST(Sidebar, EveryPageHasAnIconOfItsOwnFromTheTheme) {
  std::set<std::string> icons;
  for (PanelPage page : allPanelPages()) {
    const std::string icon(iconName(page));
    EXPECT_NE(icon, "image-missing-symbolic") << rawValue(page);
    EXPECT_EQ(icon.find("media-"), std::string::npos) << rawValue(page) << " has a playback icon";
    EXPECT_TRUE(icons.insert(icon).second) << rawValue(page) << " shares " << icon;
  }
}

TEST(StatusStrip, Texts) {
  EXPECT_EQ(statusText(""), "Готово к работе");
  EXPECT_EQ(statusText("Читаем Excel…"), "Читаем Excel…");
  EXPECT_EQ(pendingText(0), "");
  EXPECT_EQ(pendingText(3), "Исправлений к отправке: 3");
  EXPECT_EQ(sourceText(true, "https://depot.example/api"), "Локальные данные");
  // The host the client speaks to, with its port unless the scheme's own.
  for (const auto& [url, shown] :
       std::vector<std::pair<std::string, std::string>>{{"https://depot.example/api", "depot.example"},
                                                        {"https://depot.example:8443/api", "depot.example:8443"},
                                                        {"http://127.0.0.1:38211", "127.0.0.1:38211"},
                                                        {"http://[::1]:8080/api", "[::1]:8080"},
                                                        {"", kDefaultServerHost},
                                                        {"не адрес", kDefaultServerHost}})
    EXPECT_EQ(sourceText(false, url), shown) << url;
  EXPECT_EQ(connectionText(true, true), "Просмотр примера");
  EXPECT_EQ(connectionText(false, true), "Нет соединения");
  EXPECT_EQ(connectionText(false, false), "Подключено");
}

TEST(SignIn, FieldsAreTestedAsTyped) {
  EXPECT_TRUE(canSignIn("   ", "x", false));
  EXPECT_FALSE(canSignIn("", "x", false));
  EXPECT_FALSE(canSignIn("a", "", false));
  EXPECT_FALSE(canSignIn("a", "x", true));
}

TEST(RequiredPassword, CountsCharactersAndComparesCanonically) {
  EXPECT_FALSE(canSavePassword("1234567", "1234567", false));
  EXPECT_TRUE(canSavePassword("12345678", "12345678", false));
  EXPECT_FALSE(canSavePassword("Password", "password", false));
  EXPECT_FALSE(canSavePassword("password", "password ", false));
  EXPECT_TRUE(canSavePassword("пароль12", "пароль12", false));
  // "й" composed and decomposed: one character each, and equal.
  EXPECT_TRUE(canSavePassword("\u0439\u0439\u0439\u0439abcd", "\u0438\u0306\u0439\u0439\u0439abcd", false));
  EXPECT_FALSE(canSavePassword("\u0438\u0306abcdef", "\u0438\u0306abcdef", false));  // 7 characters
  EXPECT_FALSE(canSavePassword("12345678", "12345678", true));
}

TEST(Accent, UnknownKeysReadOrangeAndNameThemselves) {
  EXPECT_EQ(accentName("green"), "Зелёный");
  EXPECT_EQ(accentName("purple"), "purple");
  EXPECT_EQ(accentColor("purple", false), accentColor("orange", false));
}

TEST(Appearance, TheTextSizeScalesEveryTextStyleOfTheMainWindowAndItsSheets) {
  struct Case {
    double size;
    const char* window;
    const char* heading;
    const char* caption;
  };
  for (const Case& c :
       {Case{13, "100%", "11pt", "9pt"}, Case{17, "130.77%", "14.38pt", "11.77pt"}, Case{-1, "100%", "11pt", "9pt"}}) {
    const std::string css = shellStyleSheet("blue", c.size, false);
    const auto rule = [](const std::string& style, const char* size) {
      return "window.dorvik-main" + style + ", window.dorvik-sheet" + style + " { font-size: " + size + ";";
    };
    for (const std::string& line : {rule("", c.window), rule(" .heading", c.heading), rule(" .caption", c.caption)})
      EXPECT_NE(css.find(line), std::string::npos) << line << "\n" << css;
  }
}

TEST(UserDefaults, ReadsDefaultsWritesAndReloads) {
  char folder[] = "/tmp/dorvik-defaults-XXXXXX";
  ASSERT_NE(g_mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/dorvik/settings.ini";
  {
    UserDefaults defaults(path);
    // A first launch: system colour scheme, orange accent, 13-point text, extra motion, the production server.
    EXPECT_EQ(defaults.get(Settings::appearance), "system");
    EXPECT_EQ(defaults.get(Settings::accent), "orange");
    EXPECT_EQ(defaults.get(Settings::textSize), 13);
    EXPECT_TRUE(defaults.get(Settings::extraMotion));
    EXPECT_EQ(defaults.get(Settings::serverURL), kDefaultServerURL);
    std::string seen;
    defaults.observe([&](const std::string& key) { seen = key; });
    EXPECT_TRUE(defaults.set(Settings::textSize, 15.5));
    EXPECT_EQ(seen, "textSize");
    EXPECT_TRUE(defaults.set(Settings::serverURL, ""));
    EXPECT_TRUE(defaults.set(Settings::extraMotion, false));
  }
  UserDefaults again(path);
  EXPECT_EQ(again.get(Settings::textSize), 15.5);
  EXPECT_EQ(again.get(Settings::serverURL), "");  // cleared, not absent
  EXPECT_FALSE(again.get(Settings::extraMotion));
  EXPECT_EQ(again.number("textSize", 13), 15.5);  // the file keeps the key as written
  g_unlink(path.c_str());
  g_rmdir((std::string(folder) + "/dorvik").c_str());
  g_rmdir(folder);
}
