// The main window under a display: the demo workspace page by page (a PNG of each in build/screens/), the error
// alert, signing in and the required password change, with the model's workflows played by a scripted stand-in.
#include <adwaita.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <set>

#include "app/page_catalogue.h"
#include "core/async/sleep.h"
#include "core/base/errors.h"
#include "shell/application.h"
#include "shell/form_widgets.h"
#include "shell/preferences.h"
#include "shell/root_window.h"
#include "shell/secret_field.h"
#include "shell/sheet.h"
#include "shell/toolkit/shell_rules.h"
#include "core/store/secure_store.h"
#include "support/async_helpers.h"
#include "support/session_paths.h"
#include "support/stand_in_server.h"
#include "support/ui_helpers.h"

using namespace dorvik;
using namespace std::chrono_literals;

namespace {

class ScriptedWorkflows final : public Workflows {
 public:
  explicit ScriptedWorkflows(std::shared_ptr<AppModel> model) : model_(std::move(model)) {}
  std::vector<std::string> calls;
  JSONValue lastPayload;

  async::Task<void> start(AppModel::LaunchOptions) override { co_return; }
  async::Task<void> login(std::string identity, std::string password) override {
    calls.push_back("login " + identity);
    if (password == "temporary") {
      model_->replaceGeneration();
      model_->setPasswordChangeProfile(
          JSONValue::object({{"id", "u2"}, {"fullName", "Новый Логист"}, {"mustChangePassword", true}}));
    } else if (password == "secret") {
      model_->replaceGeneration();
      model_->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
    } else {
      model_->setError(std::string("Неверный логин или пароль."));
    }
    co_return;
  }
  async::Task<void> changeRequiredPassword(std::string password) override {
    calls.push_back("password " + password);
    model_->setPasswordChangeProfile(JSONValue());
    model_->setStatus("Пароль изменён. Войдите с новым паролем.");
    co_return;
  }
  async::Task<void> loadPreview() override {
    model_->replaceGeneration();
    model_->setPreview(true);
    model_->setOffline(true);
    model_->setUser(JSONValue::object(
        {{"id", "demo"}, {"fullName", "Демо Администратор"}, {"role", "superadmin"}, {"depotId", "demo-1"}}));
    model_->setDepots(JSONValue::records(
        JSONValue::array({JSONValue::object({{"id", "demo-1"}, {"name", "Склад Пример"}})}).array()));
    model_->setPlanner(JSONValue::object(
        {{"config",
          JSONValue::object({{"CITY_KMH", 25}, {"ROAD_FACTOR", 1.3}, {"SERVICE_MIN", 10}, {"LATE_TOL_MIN", 15}})},
         {"orders", JSONValue::array({})}}));
    model_->setStatus("Пример. Эти заказы не отправляются курьерам.");
    co_return;
  }
  async::Task<void> logout() override {
    model_->replaceGeneration();
    model_->setUser(JSONValue());
    model_->setPasswordChangeProfile(JSONValue());
    model_->setPreview(false);
    co_return;
  }
  async::Task<void> switchDepot(std::string) override { co_return; }
  async::Task<void> refreshReferenceData() override { co_return; }
  async::Task<JSONValue> fetch(std::string path, std::string method, std::optional<JSONValue>) override {
    calls.push_back(method + " " + path);
    if (method != "GET") throw DorvikError("Пример доступен только для просмотра.");
    if (path == "/depots/demo%2D1/settings")
      co_return JSONValue::object({{"name", "Склад Пример"}, {"photoProof", true}});
    if (path == "/depots/d1/settings") co_return JSONValue::object({{"name", "Склад Север"}, {"photoProof", false}});
    throw DorvikError("Нет данных.", 404);
  }
  async::Task<bool> mutate(std::string action, JSONValue payload) override {
    calls.push_back("mutate " + action);
    lastPayload = std::move(payload);
    co_return true;
  }
  async::Task<void> importWorkbook() override { co_return; }
  async::Task<void> exportWorkbook(std::string) override { co_return; }

 private:
  std::shared_ptr<AppModel> model_;
};

using dorvik::testing::findButton;
using dorvik::testing::findLabel;
using dorvik::testing::savePNG;
using dorvik::testing::spin;
GtkWidget* find(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
  return dorvik::testing::findWidget(root, match);
}

// The preferences window of the run, when shown.
GtkWidget* preferencesWindow() {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l; l = l->next)
    if (ADW_IS_PREFERENCES_WINDOW(l->data)) found = GTK_WIDGET(l->data);
  g_list_free(windows);
  return found;
}

// The main window over a fresh model, with the workflows a suite chooses.
class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dorvik::testing::initDisplay(); }
  virtual std::shared_ptr<Workflows> workflowsFor(std::shared_ptr<AppModel> model) = 0;

  void SetUp() override {
    char folder[] = "/tmp/dorvik-ui-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    context_.model = AppModel::create();
    context_.workflows = workflowsFor(context_.model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    context_.screens = makePanelContent;
    context_.openPreferences = [this](PreferencesTab tab) { showPreferences(context_, window_, tab); };
    window_ = new RootWindow(context_);
    window_->set_default_size(1280, 800);
    window_->present();
    spin();
  }
  void TearDown() override {
    delete window_;
    spin(50ms);
    std::filesystem::remove_all(folder_);
  }
  GtkWidget* root() { return GTK_WIDGET(window_->gobj()); }

  std::string folder_;
  ShellContext context_;
  RootWindow* window_ = nullptr;
};

class ShellWindow : public WindowTest {
 protected:
  std::shared_ptr<Workflows> workflowsFor(std::shared_ptr<AppModel> model) override {
    workflows_ = std::make_shared<ScriptedWorkflows>(std::move(model));
    return workflows_;
  }

  void run(async::Task<void> task) {
    auto outcome = dorvik::testing::start(std::move(task));
    ASSERT_TRUE(dorvik::testing::spinUntil([&] { return outcome->done; }));
    outcome->rethrow();
    spin();
  }
  void returnIn(GtkWidget* field) { ASSERT_TRUE(dorvik::testing::pressReturnIn(field)); }
  void click(const std::string& text) {
    GtkWidget* button = findButton(root(), text);
    ASSERT_NE(button, nullptr) << text;
    ASSERT_TRUE(gtk_widget_is_sensitive(button)) << text;
    g_signal_emit_by_name(button, "clicked");
    spin();
  }

  std::shared_ptr<ScriptedWorkflows> workflows_;
};

}  // namespace

TEST_F(ShellWindow, DemoWorkspaceShowsEveryPageWithoutAnError) {
  EXPECT_EQ(window_->screenKind(), 0);
  savePNG(root(), "sign-in");
  run(workflows_->loadPreview());
  ASSERT_EQ(window_->screenKind(), 2);
  EXPECT_NE(findLabel(root(), "Просмотр примера"), nullptr);
  EXPECT_NE(findLabel(root(), "Локальные данные"), nullptr);
  EXPECT_NE(findLabel(root(), "Пример. Эти заказы не отправляются курьерам."), nullptr);

  for (PanelPage page : allPanelPages()) {
    const std::string raw(rawValue(page));
    // Choose the page through its sidebar row.
    GtkWidget* row =
        find(root(), [&](GtkWidget* w) { return GTK_IS_LIST_BOX_ROW(w) && raw == gtk_widget_get_name(w); });
    ASSERT_NE(row, nullptr) << raw;
    g_signal_emit_by_name(row, "activate");  // a click or Return on the row
    spin(page == PanelPage::appSettings ? 300ms : 150ms);
    EXPECT_EQ(context_.model->page(), page);
    EXPECT_EQ(std::string(window_->get_title()), std::string(title(page)));
    EXPECT_EQ(window_->alert(), nullptr) << raw << ": " << context_.model->error().value_or("");
    EXPECT_FALSE(context_.model->error()) << raw;
    savePNG(root(), raw);
  }
}

TEST_F(ShellWindow, PagesReadTheirDataAndFollowTheirRules) {
  run(workflows_->loadPreview());
  context_.model->setPage(PanelPage::appSettings);
  spin(300ms);
  EXPECT_NE(findLabel(root(), "Склад Пример"), nullptr);
  GtkWidget* toggle = find(root(), [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(gtk_check_button_get_active(GTK_CHECK_BUTTON(toggle)));
  EXPECT_FALSE(gtk_widget_is_sensitive(toggle));  // the demo cannot write
  EXPECT_EQ(std::count(workflows_->calls.begin(), workflows_->calls.end(), "GET /depots/demo%2D1/settings"), 1);

  context_.model->setPage(PanelPage::settings);
  spin();
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Переключить склад")));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Обновить справочники")));
  click("Применить к планированию");
  EXPECT_EQ(workflows_->calls.back(), "mutate config");
  EXPECT_EQ(context_.model->status(), "Параметры сохранены. Пересчитайте маршруты.");
  // The last section's rows in their order: the settings link, the maps, the account and the build.
  double above = -1;
  for (const char* title : {"Цвета, размер текста и адрес сервера", "Карты и геокодирование", "Аккаунт", "Сборка"}) {
    const double top = dorvik::testing::topIn(dorvik::testing::formRow(root(), title), root());
    EXPECT_GT(top, above) << title;
    above = top;
  }
  ASSERT_TRUE(dorvik::testing::activateRow(root(), "Карты и геокодирование"));
  EXPECT_EQ(context_.model->page(), PanelPage::integrations);

  context_.model->setPage(PanelPage::help);
  spin();
  click("Открыть планирование");
  EXPECT_EQ(context_.model->page(), PanelPage::planning);

  // An ordinary administrator has no "Dorvik" section.
  context_.model->setUser(JSONValue::object({{"fullName", "Админ"}, {"role", "admin"}}));
  spin();
  EXPECT_EQ(findLabel(root(), "Dorvik"), nullptr);
  EXPECT_EQ(find(root(), [](GtkWidget* w) { return std::string("people") == gtk_widget_get_name(w); }), nullptr);

  context_.openPreferences(PreferencesTab::appearance);
  spin(300ms);
  GtkWidget* preferences = preferencesWindow();
  ASSERT_NE(preferences, nullptr);
  EXPECT_NE(findLabel(preferences, "Оранжевый"), nullptr);
  savePNG(preferences, "preferences");

  // Every row stores its own setting.
  auto row = [&](const char* title) {
    return find(preferences, [&](GtkWidget* w) {
      return ADW_IS_PREFERENCES_ROW(w) && std::string(title) == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
    });
  };
  adw_combo_row_set_selected(ADW_COMBO_ROW(row("Оформление")), 2);
  adw_combo_row_set_selected(ADW_COMBO_ROW(row("Размер текста")), 1);
  gtk_editable_set_text(GTK_EDITABLE(row("Адрес API")), "https://depot.example/api");
  GtkWidget* motion = find(preferences, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
  ASSERT_NE(motion, nullptr);
  gtk_switch_set_active(GTK_SWITCH(motion), FALSE);
  UserDefaults stored(context_.defaults->path());
  EXPECT_EQ(stored.get(Settings::appearance), "dark");
  EXPECT_EQ(stored.get(Settings::accent), "orange");  // untouched, so never written
  EXPECT_EQ(stored.get(Settings::textSize), 15);
  EXPECT_EQ(stored.get(Settings::serverURL), "https://depot.example/api");
  EXPECT_FALSE(stored.get(Settings::extraMotion));

  // The application's icon marks the workspace footer and the about page, above the version line.
  auto isMark = [](GtkWidget* w) {
    return GTK_IS_IMAGE(w) && gtk_image_get_icon_name(GTK_IMAGE(w)) &&
           std::string(gtk_image_get_icon_name(GTK_IMAGE(w))) == "ru.dorvik.Dorvik";
  };
  EXPECT_NE(find(root(), isMark), nullptr);
  EXPECT_NE(find(preferences, isMark), nullptr);
  EXPECT_NE(findLabel(preferences, "Версия 1.0 · Сборка Разработка · Linux"), nullptr);
  gtk_window_destroy(GTK_WINDOW(preferences));
}

TEST_F(ShellWindow, TheErrorAlertFollowsTheModel) {
  context_.model->setError(std::string("Проверьте адрес сервера в настройках."));
  spin();
  ASSERT_NE(window_->alert(), nullptr);
  EXPECT_STREQ(adw_message_dialog_get_heading(window_->alert()), "Не удалось завершить действие");
  EXPECT_STREQ(adw_message_dialog_get_body(window_->alert()), "Проверьте адрес сервера в настройках.");
  EXPECT_STREQ(adw_message_dialog_get_response_label(window_->alert(), "close"), "Понятно");
  context_.model->setError(std::string("Другая ошибка."));
  spin();
  EXPECT_STREQ(adw_message_dialog_get_body(window_->alert()), "Другая ошибка.");
  adw_message_dialog_response(window_->alert(), "close");
  spin();
  EXPECT_FALSE(context_.model->error());
  EXPECT_EQ(window_->alert(), nullptr);
  // Cleared by the model: the alert goes away too.
  context_.model->setError(std::string("Ошибка"));
  spin();
  ASSERT_NE(window_->alert(), nullptr);
  context_.model->setError(std::nullopt);
  spin();
  EXPECT_EQ(window_->alert(), nullptr);
}

TEST_F(ShellWindow, SignInAndTheRequiredPasswordChange) {
  GtkWidget* login = find(root(), [](GtkWidget* w) { return GTK_IS_ENTRY(w); });
  GtkWidget* password = find(root(), [](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w); });
  ASSERT_TRUE(login && password);
  const int fieldWidth = gtk_widget_get_width(password);
  GtkWidget* signIn = findButton(root(), "Войти");
  ASSERT_NE(signIn, nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(signIn));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Посмотреть пример")));  // no planner engine yet
  EXPECT_THAT(dorvik::testing::namelessControls(root()), ::testing::IsEmpty());
  // "Войти" is the window's default: Return in either field presses it, and does nothing while it is disabled.
  returnIn(password);
  gtk_editable_set_text(GTK_EDITABLE(login), " logist ");
  returnIn(login);
  EXPECT_TRUE(workflows_->calls.empty());
  gtk_editable_set_text(GTK_EDITABLE(password), "wrong");
  EXPECT_TRUE(gtk_widget_is_sensitive(signIn));
  returnIn(login);
  ASSERT_EQ(workflows_->calls.size(), 1u) << "one sign-in for one Return";
  EXPECT_EQ(workflows_->calls.back(), "login  logist ");  // handed on as typed
  ASSERT_NE(window_->alert(), nullptr);
  adw_message_dialog_response(window_->alert(), "close");
  spin();
  EXPECT_EQ(secretText(password), "wrong");  // kept after a failure

  gtk_editable_set_text(GTK_EDITABLE(password), "temporary");
  click("Войти");
  ASSERT_EQ(window_->screenKind(), 1);
  savePNG(root(), "required-password");
  EXPECT_THAT(dorvik::testing::namelessControls(root()), ::testing::IsEmpty());
  GtkWidget* first = find(root(), [](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w); });
  GtkWidget* second = find(root(), [&](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w) && w != first; });
  ASSERT_TRUE(first && second);
  // As wide as the sign-in fields.
  EXPECT_EQ(gtk_widget_get_width(first), fieldWidth);
  EXPECT_EQ(gtk_widget_get_width(second), fieldWidth);
  GtkWidget* save = findButton(root(), "Сохранить пароль");
  gtk_editable_set_text(GTK_EDITABLE(first), "пароль1");
  gtk_editable_set_text(GTK_EDITABLE(second), "пароль1");
  EXPECT_FALSE(gtk_widget_is_sensitive(save));  // seven characters
  gtk_editable_set_text(GTK_EDITABLE(first), "пароль12");
  gtk_editable_set_text(GTK_EDITABLE(second), "Пароль12");
  EXPECT_FALSE(gtk_widget_is_sensitive(save));  // differs in case
  gtk_editable_set_text(GTK_EDITABLE(second), "пароль12");
  EXPECT_TRUE(gtk_widget_is_sensitive(save));
  returnIn(first);  // "Сохранить пароль" is the default too
  EXPECT_EQ(workflows_->calls.back(), "password пароль12");
  ASSERT_EQ(window_->screenKind(), 0);
  EXPECT_NE(findLabel(root(), "Пароль изменён. Войдите с новым паролем."), nullptr);

  login = find(root(), [](GtkWidget* w) { return GTK_IS_ENTRY(w); });
  password = find(root(), [](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w); });
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(login)), "");  // the screen is built afresh
  gtk_editable_set_text(GTK_EDITABLE(login), "logist");
  gtk_editable_set_text(GTK_EDITABLE(password), "secret");
  click("Войти");
  ASSERT_EQ(window_->screenKind(), 2);
  EXPECT_NE(findLabel(root(), "Анна Логист"), nullptr);
  EXPECT_NE(findLabel(root(), kDefaultServerHost), nullptr);
  EXPECT_NE(findLabel(root(), "Подключено"), nullptr);
  GtkWidget* logout = find(root(), [](GtkWidget* w) {
    const char* tip = gtk_widget_get_tooltip_text(w);
    return GTK_IS_BUTTON(w) && tip && std::string(tip) == "Выйти";
  });
  ASSERT_NE(logout, nullptr);
  g_signal_emit_by_name(logout, "clicked");
  spin();
  EXPECT_EQ(window_->screenKind(), 0);
}

TEST_F(ShellWindow, TheSignInScreenOpensTheConnectionSettings) {
  click("Настройки подключения");
  spin(300ms);
  GtkWidget* preferences = preferencesWindow();
  ASSERT_NE(preferences, nullptr);
  EXPECT_STREQ(adw_preferences_window_get_visible_page_name(ADW_PREFERENCES_WINDOW(preferences)), "connection");
  // The note says when a new address takes effect: at the next sign-in, not after a restart.
  GtkWidget* note = find(preferences, [](GtkWidget* w) {
    return GTK_IS_LABEL(w) && std::string(gtk_label_get_text(GTK_LABEL(w))).find("Рабочий сервер") != std::string::npos;
  });
  ASSERT_NE(note, nullptr);
  const std::string text = gtk_label_get_text(GTK_LABEL(note));
  EXPECT_TRUE(text.find("при следующем входе") != std::string::npos && text.find("перезапуск") == std::string::npos)
      << text;
  savePNG(preferences, "preferences-connection");
  // The catalogue's note stands under the catalogue, above the corrections.
  GtkWidget* catalogueNote = find(preferences, [](GtkWidget* w) {
    return GTK_IS_LABEL(w) && std::string(gtk_label_get_text(GTK_LABEL(w))).rfind("Москва и ближайшие", 0) == 0;
  });
  const double noteTop = dorvik::testing::topIn(catalogueNote, preferences);
  EXPECT_GT(noteTop, dorvik::testing::topIn(dorvik::testing::formRow(preferences, "Каталог OpenStreetMap"), preferences));
  EXPECT_LT(noteTop,
            dorvik::testing::topIn(dorvik::testing::formRow(preferences, "Исправления к синхронизации"), preferences));
  EXPECT_THAT(dorvik::testing::namelessControls(preferences), ::testing::IsEmpty());

  // The extra animation follows the system's reduce-motion setting while the window is open.
  adw_preferences_window_set_visible_page_name(ADW_PREFERENCES_WINDOW(preferences), "appearance");
  GtkWidget* motion = find(preferences, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
  ASSERT_NE(motion, nullptr);
  for (bool animations : {false, true}) {
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", gboolean(animations), nullptr);
    EXPECT_EQ(gtk_widget_get_sensitive(motion) != FALSE, animations);
  }
  gtk_window_destroy(GTK_WINDOW(preferences));
  spin();
}

TEST_F(ShellWindow, LargeTextScalesTheWholeWindowAndTheSidebarKeepsTheChosenRowInView) {
  window_->set_default_size(1440, 900);
  run(workflows_->loadPreview());  // a superadministrator: every section
  Appearance appearance(context_.defaults);
  // Every page's icon is one of the theme's.
  auto theme = Gtk::IconTheme::get_for_display(Gdk::Display::get_default());
  for (PanelPage page : allPanelPages()) EXPECT_TRUE(theme->has_icon(std::string(iconName(page)))) << rawValue(page);

  // The size of each kind of text the window shows: plain, heading, caption, section heading; and of the plain and
  // heading text of a sheet opened over it. It is the size each label lays its text out at, so it does not depend
  // on which fonts the machine has.
  GtkWidget* plain = findLabel(root(), "Новое планирование");
  GtkWidget* heading = findLabel(root(), "Демо Администратор");
  GtkWidget* caption = findLabel(root(), "Пример. Эти заказы не отправляются курьерам.");
  GtkWidget* section = findLabel(root(), "Мониторинг");
  ASSERT_TRUE(plain && heading && caption && section);
  Sheet* sheet = Sheet::open(*window_, "Лист", 400, 200);
  auto* sheetBox = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  auto* sheetPlain = Gtk::make_managed<Gtk::Label>("Текст листа");
  auto* sheetHeading = Gtk::make_managed<Gtk::Label>("Заголовок листа");
  sheetHeading->add_css_class("heading");
  sheetBox->append(*sheetHeading);
  sheetBox->append(*sheetPlain);
  sheet->setContent(*sheetBox);
  sheet->present();
  auto textSizes = [&] {
    std::vector<int> sizes;
    for (GtkWidget* label :
         {plain, heading, caption, section, GTK_WIDGET(sheetPlain->gobj()), GTK_WIDGET(sheetHeading->gobj())})
      sizes.push_back(
          pango_font_description_get_size(pango_context_get_font_description(gtk_widget_get_pango_context(label))));
    return sizes;
  };
  spin();
  const std::vector<int> standard = textSizes();
  // "Крупный" is 17 against the standard 13: every text grows by that factor. Each window restyles at its next
  // frame, which on a busy machine comes late: wait for it rather than for a fixed time.
  const auto scaled = [&](const std::vector<int>& sizes) {
    for (std::size_t i = 0; i < sizes.size(); ++i)
      if (std::abs(sizes[i] * 13.0 - standard[i] * 17.0) > standard[i] * 0.2) return false;
    return true;
  };
  std::vector<int> large;
  ASSERT_TRUE(context_.defaults->set(Settings::textSize, 17.0));
  dorvik::testing::spinUntil([&] { return scaled(large = textSizes()); }, 10s);
  for (std::size_t i = 0; i < standard.size(); ++i)
    EXPECT_NEAR(large[i] * 13.0 / standard[i], 17.0, 0.2) << "text " << i << ": " << standard[i] << " → " << large[i];
  sheet->dismiss();
  spin();

  // The last page, chosen by the model, is scrolled into view (over the frames that follow: wait for them).
  context_.model->setPage(PanelPage::help);
  spin();
  GtkWidget* row = find(
      root(), [](GtkWidget* w) { return GTK_IS_LIST_BOX_ROW(w) && std::string("help") == gtk_widget_get_name(w); });
  ASSERT_NE(row, nullptr);
  GtkWidget* scroller = gtk_widget_get_ancestor(row, GTK_TYPE_SCROLLED_WINDOW);
  ASSERT_NE(scroller, nullptr);
  graphene_rect_t bounds;
  dorvik::testing::spinUntil(
      [&] {
        return gtk_widget_compute_bounds(row, scroller, &bounds) && bounds.origin.y >= 0 &&
               bounds.origin.y + bounds.size.height <= gtk_widget_get_height(scroller);
      },
      10s);
  ASSERT_TRUE(gtk_widget_compute_bounds(row, scroller, &bounds));
  EXPECT_GE(bounds.origin.y, 0);
  EXPECT_LE(bounds.origin.y + bounds.size.height, gtk_widget_get_height(scroller));
  savePNG(root(), "large-text-help");
  ASSERT_TRUE(context_.defaults->set(Settings::textSize, 13.0));
  spin();
}

TEST_F(ShellWindow, EditorFooterAndValueFieldsBindTheEditedObject) {
  auto value = std::make_shared<JSONValue>(JSONValue::object({{"name", "Склад"}, {"hidden", 1}, {"on", true}}));
  GtkWidget* group = adw_preferences_group_new();
  addValueFields(ADW_PREFERENCES_GROUP(group),
                 {{"name", "Название", FieldSpec::Kind::text, true},
                  {"note", "Заметка", FieldSpec::Kind::longText, false},
                  {"on", "Активен", FieldSpec::Kind::toggle, false}},
                 value);
  int saves = 0, dismissals = 0;
  auto* footer = Gtk::make_managed<EditorFooter>(
      "Сохранить", [&] { ++saves; }, [&] { ++dismissals; });
  auto* sheet = new Gtk::Window();
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  gtk_box_append(box->gobj(), group);
  box->append(*footer);
  sheet->set_child(*box);
  sheet->present();
  spin();
  GtkWidget* name = find(GTK_WIDGET(sheet->gobj()), [](GtkWidget* w) { return ADW_IS_ENTRY_ROW(w); });
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(name)), "Склад");
  gtk_editable_set_text(GTK_EDITABLE(name), "Склад 2");
  GtkWidget* note = find(GTK_WIDGET(sheet->gobj()), [](GtkWidget* w) { return GTK_IS_TEXT_VIEW(w); });
  ASSERT_NE(note, nullptr);
  EXPECT_FALSE(gtk_text_view_get_accepts_tab(GTK_TEXT_VIEW(note))) << "Tab moves the focus on, types no tab";
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(note)), "строка 1\nстрока 2", -1);
  GtkWidget* toggle = find(GTK_WIDGET(sheet->gobj()), [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(gtk_check_button_get_active(GTK_CHECK_BUTTON(toggle)));
  gtk_check_button_set_active(GTK_CHECK_BUTTON(toggle), FALSE);
  EXPECT_EQ(*value,
            JSONValue::object({{"name", "Склад 2"}, {"hidden", 1}, {"on", false}, {"note", "строка 1\nстрока 2"}}));

  GtkWidget* save = findButton(GTK_WIDGET(sheet->gobj()), "Сохранить");
  g_signal_emit_by_name(save, "clicked");
  footer->setBusy(true);
  EXPECT_FALSE(gtk_widget_is_sensitive(save));
  g_signal_emit_by_name(save, "clicked");
  g_signal_emit_by_name(findButton(GTK_WIDGET(sheet->gobj()), "Отмена"), "clicked");
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(dismissals, 1);
  delete sheet;
  spin(50ms);
}

namespace {
// Closes every window of the application and says how many there were. Closing a window takes it out of the
// application's own list, so the list is copied (each window held) before any of them is closed.
int closeApplicationWindows(GtkApplication* app) {
  GList* windows = g_list_copy_deep(
      gtk_application_get_windows(app),
      [](gconstpointer window, gpointer) -> gpointer { return g_object_ref(const_cast<gpointer>(window)); }, nullptr);
  const int count = static_cast<int>(g_list_length(windows));
  for (GList* l = windows; l; l = l->next) gtk_window_close(GTK_WINDOW(l->data));
  g_list_free_full(windows, g_object_unref);
  return count;
}

// Records how the application starts its model, then ends the run.
class StartRecorder : public Workflows {
 public:
  std::optional<bool> preview;
  std::vector<std::string> openAccels, saveAccels, preferencesAccels;
  int windows = 0;

  async::Task<void> start(AppModel::LaunchOptions options) override {
    preview = options.preview;
    GtkApplication* app = GTK_APPLICATION(g_application_get_default());
    auto read = [&](const char* action, std::vector<std::string>& out) {
      gchar** accels = gtk_application_get_accels_for_action(app, action);
      for (gchar** a = accels; a && *a; ++a) out.push_back(*a);
      g_strfreev(accels);
    };
    read("win.open-orders", openAccels);
    read("win.save-excel", saveAccels);
    read("win.preferences", preferencesAccels);
    windows = closeApplicationWindows(app);
    co_return;
  }
  async::Task<void> login(std::string, std::string) override { co_return; }
  async::Task<void> changeRequiredPassword(std::string) override { co_return; }
  async::Task<void> loadPreview() override { co_return; }
  async::Task<void> logout() override { co_return; }
  async::Task<void> switchDepot(std::string) override { co_return; }
  async::Task<void> refreshReferenceData() override { co_return; }
  async::Task<JSONValue> fetch(std::string, std::string, std::optional<JSONValue>) override { co_return JSONValue(); }
  async::Task<bool> mutate(std::string, JSONValue) override { co_return false; }
  async::Task<void> importWorkbook() override { co_return; }
  async::Task<void> exportWorkbook(std::string) override { co_return; }
};

// An application id of this test's own: applications of tests running side by side never meet on the bus.
std::string testApplicationId() {
  std::string id = "ru.dorvik.Test.";
  for (char c : randomUUID())
    if (c != '-') id.push_back(c);
  id.insert(id.size() - 32, "T");  // an element of an id may not begin with a digit
  return id;
}

// The first instance: while it runs, the test binary is launched again with the same application id.
class SecondLaunch final : public StartRecorder {
 public:
  explicit SecondLaunch(std::string id) : id_(std::move(id)) {}
  int starts = 0;
  int activations = 0;
  int exitStatus = -1;
  std::string childOutput;

  async::Task<void> start(AppModel::LaunchOptions) override {
    ++starts;
    GApplication* app = g_application_get_default();
    const gulong counting = g_signal_connect(
        app, "activate", G_CALLBACK(+[](GApplication*, gpointer count) { ++*static_cast<int*>(count); }), &activations);
    g_autofree gchar* self = g_file_read_link("/proc/self/exe", nullptr);
    const gchar* argv[] = {self, "--gtest_filter=ShellApplication.SecondLaunchChild", nullptr};
    gchar** env = g_environ_setenv(g_get_environ(), "DORVIK_SECOND_LAUNCH_ID", id_.c_str(), TRUE);
    GPid pid = 0;
    gint out = -1;
    const bool spawned = g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_DO_NOT_REAP_CHILD,
                                                  nullptr, nullptr, &pid, nullptr, &out, nullptr, nullptr);
    g_strfreev(env);
    if (spawned) {
      g_child_watch_add(
          pid,
          [](GPid child, gint status, gpointer self) {
            static_cast<SecondLaunch*>(self)->exitStatus = status;
            g_spawn_close_pid(child);
          },
          this);
      const auto until = async::Clock::now() + 60s;
      while ((exitStatus < 0 || activations < 1) && async::Clock::now() < until) co_await async::sleepFor(20ms);
      char buffer[4096];
      for (ssize_t got; (got = ::read(out, buffer, sizeof buffer)) > 0;) childOutput.append(buffer, got);
      ::close(out);
    }
    g_signal_handler_disconnect(app, counting);
    windows = closeApplicationWindows(GTK_APPLICATION(app));
  }

 private:
  std::string id_;
};
// A start that cannot make the planner engine the first time: the window is then shown again (as a second launch
// does) and the start runs again.
class FailingFirstStart final : public StartRecorder {
 public:
  int starts = 0;
  guint fallback = 0;

  async::Task<void> start(AppModel::LaunchOptions) override {
    GtkApplication* app = GTK_APPLICATION(g_application_get_default());
    if (++starts > 1) {
      windows = closeApplicationWindows(app);
      co_return;
    }
    // Shown again once this start has ended; should no start follow, the run still ends.
    g_timeout_add_once(50, [](gpointer app) { g_application_activate(G_APPLICATION(app)); }, app);
    fallback = g_timeout_add_once(
        3000, [](gpointer app) { closeApplicationWindows(GTK_APPLICATION(app)); }, app);
    co_return;
  }
};
}  // namespace

// The second launch of ASecondLaunchRaisesTheFirstWindowAndEnds: ends at once, without a model or a window.
TEST(ShellApplication, SecondLaunchChild) {
  const char* id = g_getenv("DORVIK_SECOND_LAUNCH_ID");
  if (!id) GTEST_SKIP() << "runs only as the child of ASecondLaunchRaisesTheFirstWindowAndEnds";
  auto recorder = std::make_shared<StartRecorder>();
  DorvikApp app(makePanelContent, false, recorder, id);
  char name[] = "dorvik";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(app.run(1, argv), 0);
  EXPECT_FALSE(recorder->preview) << "the second launch started a model of its own";
}

TEST(ShellApplication, ASecondLaunchRaisesTheFirstWindowAndEnds) {
  const std::string id = testApplicationId();
  auto first = std::make_shared<SecondLaunch>(id);
  DorvikApp app(makePanelContent, false, first, id);
  char name[] = "dorvik";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(app.run(1, argv), 0);
  EXPECT_EQ(first->starts, 1);
  EXPECT_TRUE(g_spawn_check_wait_status(first->exitStatus, nullptr)) << first->childOutput;
  EXPECT_NE(first->childOutput.find("[  PASSED  ] 1 test"), std::string::npos) << first->childOutput;
  EXPECT_EQ(first->activations, 1) << "the second launch reached the first instance";
  EXPECT_EQ(first->windows, 1) << "its window raised, no second one";
}

TEST(ShellApplication, AStartWithoutAnEngineRunsAgainWhenTheWindowIsShownAgain) {
  auto recorder = std::make_shared<FailingFirstStart>();
  DorvikApp app(makePanelContent, false, recorder, testApplicationId());
  char name[] = "dorvik";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(app.run(1, argv), 0);
  if (g_main_context_find_source_by_id(nullptr, recorder->fallback)) g_source_remove(recorder->fallback);
  EXPECT_EQ(recorder->starts, 2);
}

TEST(ShellApplication, StartsTheModelOnceWithThePreviewFlagAndBindsTheShortcuts) {
  auto recorder = std::make_shared<StartRecorder>();
  DorvikApp app(makePanelContent, true, recorder, testApplicationId());
  char name[] = "dorvik";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(app.run(1, argv), 0);
  ASSERT_TRUE(recorder->preview);
  EXPECT_TRUE(*recorder->preview);
  EXPECT_EQ(recorder->windows, 1);
  EXPECT_EQ(recorder->openAccels, std::vector<std::string>{"<Control>o"});
  EXPECT_EQ(recorder->saveAccels, std::vector<std::string>{"<Control>s"});
  EXPECT_EQ(recorder->preferencesAccels, std::vector<std::string>{"<Control>comma"});
}

// The window over the model's own workflows: the real demo workspace (engine, calculated sample plan, demo data)
// opens every page without an alert, and the courier application settings come from the demo data through the
// model's gateway.
class ShellOverTheModel : public WindowTest {
 protected:
  std::shared_ptr<Workflows> workflowsFor(std::shared_ptr<AppModel> model) override {
    return modelWorkflows(std::move(model));
  }
  void launch(bool preview) {
    AppModel::LaunchOptions options;
    options.preview = preview;
    options.settingsPath = context_.defaults->path();
    auto outcome = dorvik::testing::start(context_.workflows->start(options));
    ASSERT_TRUE(dorvik::testing::spinUntil([&] { return outcome->done; }, 60s));
    spin();
  }
  // Types into the entries of the current screen (text entries first, then password entries) and presses a button.
  void fill(const std::vector<std::string>& texts, const std::string& button) {
    std::vector<GtkWidget*> entries;
    find(root(), [&](GtkWidget* w) {
      if (GTK_IS_ENTRY(w) && gtk_widget_is_visible(w)) entries.push_back(w);
      return false;
    });
    find(root(), [&](GtkWidget* w) {
      if (GTK_IS_PASSWORD_ENTRY(w) && gtk_widget_is_visible(w)) entries.push_back(w);
      return false;
    });
    ASSERT_EQ(entries.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) gtk_editable_set_text(GTK_EDITABLE(entries[i]), texts[i].c_str());
    GtkWidget* widget = findButton(root(), button);
    ASSERT_NE(widget, nullptr) << button;
    ASSERT_TRUE(gtk_widget_is_sensitive(widget)) << button;
    g_signal_emit_by_name(widget, "clicked");
  }
  bool reaches(int screen) {
    const bool reached =
        dorvik::testing::spinUntil([&] { return window_->screenKind() == screen && !context_.model->busy(); }, 60s);
    spin();  // laid out and drawn
    return reached;
  }
};

TEST_F(ShellOverTheModel, TheDemoWorkspaceShowsEveryPageWithoutAnError) {
  launch(true);
  ASSERT_EQ(window_->screenKind(), 2);
  EXPECT_TRUE(context_.model->preview());
  EXPECT_FALSE(context_.model->orders().empty());
  for (PanelPage page : allPanelPages()) {
    context_.model->setPage(page);
    spin(page == PanelPage::appSettings ? 300ms : 100ms);
    EXPECT_EQ(window_->alert(), nullptr) << rawValue(page) << ": " << context_.model->error().value_or("");
    // A screen reader names every control of the page.
    EXPECT_THAT(dorvik::testing::namelessControls(root()), ::testing::IsEmpty()) << rawValue(page);
    if (page == PanelPage::appSettings) {
      GtkWidget* toggle = find(root(), [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
      ASSERT_NE(toggle, nullptr);
      EXPECT_FALSE(gtk_widget_is_sensitive(toggle));
      savePNG(root(), "model-appSettings");
    }
  }
}

// Sign-in against the stand-in server with a profile that must replace its password: the required-password screen,
// the change sent to the server, the sign-in screen again, the workspace after signing in with the new password, and
// its status strip through a lost and a restored connection.
TEST_F(ShellOverTheModel, SignInThroughTheRequiredPasswordChangeIntoTheWorkspace) {
  dorvik::testing::StandInServer server;
  JSONValue profile = JSONValue::object({{"id", 11},
                                         {"companyId", randomUUID()},
                                         {"depotId", "d1"},
                                         {"fullName", "Ирина Логист"},
                                         {"role", "logist"},
                                         {"mustChangePassword", true}});
  dorvik::testing::SessionServer session(server, profile);
  async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server.url()));
  async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server.url()));
  ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server.url()));

  launch(false);
  ASSERT_EQ(window_->screenKind(), 0);
  ASSERT_TRUE(context_.model->api());
  fill({" logist ", "времянка-1"}, "Войти");
  ASSERT_TRUE(reaches(1)) << context_.model->error().value_or("");
  EXPECT_EQ(server.hitsOn("/auth/login").at(0).json()["login"].string(), "logist");
  savePNG(root(), "model-required-password");

  fill({"новый-пароль", "новый-пароль"}, "Сохранить пароль");
  ASSERT_TRUE(reaches(0)) << context_.model->error().value_or("");
  ASSERT_EQ(server.hits("POST", "/me/password"), 1u);
  EXPECT_EQ(server.hitsOn("/me/password").at(0).json(), JSONValue::object({{"next", "новый-пароль"}}));
  EXPECT_NE(findLabel(root(), "Пароль изменён. Войдите с новым паролем."), nullptr);

  fill({"logist", "новый-пароль"}, "Войти");
  ASSERT_TRUE(reaches(2)) << context_.model->error().value_or("");
  EXPECT_EQ(window_->alert(), nullptr) << context_.model->error().value_or("");
  EXPECT_EQ(context_.model->user()["fullName"].string(), "Ирина Логист");
  EXPECT_FALSE(context_.model->offline());
  // The strip tells the workspace just opened (not the password change before it) and the server it speaks to.
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  GtkWidget* opened = findLabel(root(), "Рабочий день открыт.");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(findLabel(root(), "Пароль изменён. Войдите с новым паролем."), nullptr);
  EXPECT_NE(findLabel(root(), host), nullptr);
  savePNG(root(), "model-signed-in");
  savePNG(gtk_widget_get_parent(opened), "status-strip");

  // The server stops answering, then answers again: the strip and the footer tell each state, never the lost
  // connection beside "Подключено".
  auto refresh = [&] {
    auto done = dorvik::testing::start(context_.workflows->refreshReferenceData());
    ASSERT_TRUE(dorvik::testing::spinUntil([&] { return done->done; }, 30s));
    spin();
  };
  server.on("GET", "/depots", dorvik::testing::Answer::dropped());
  refresh();
  ASSERT_TRUE(context_.model->offline());
  EXPECT_TRUE(findLabel(root(), "Локальные данные") && findLabel(root(), "Нет соединения"));
  const JSONValue none(JSONArray{});
  dorvik::testing::scriptReferenceLists(server, none, none, none);
  refresh();
  ASSERT_FALSE(context_.model->offline());
  EXPECT_TRUE(findLabel(root(), "Связь с сервером восстановлена.") && findLabel(root(), "Подключено"));
  EXPECT_EQ(findLabel(root(), "Локальные данные"), nullptr);
  ASSERT_NE(findLabel(root(), host), nullptr);
  savePNG(gtk_widget_get_parent(findLabel(root(), host)), "status-strip-reconnected");

  const std::size_t signOuts = server.hits("POST", "/auth/logout");  // the password change signed out once
  auto outcome = dorvik::testing::start(context_.workflows->logout());
  ASSERT_TRUE(dorvik::testing::spinUntil([&] { return outcome->done; }));
  ASSERT_TRUE(reaches(0));
  EXPECT_EQ(server.hits("POST", "/auth/logout"), signOuts + 1);
}


namespace {
// A widget's rectangle in the coordinates of `root`.
graphene_rect_t boundsIn(GtkWidget* widget, GtkWidget* root) {
  double x = 0, y = 0;
  gtk_widget_translate_coordinates(widget, root, 0, 0, &x, &y);
  graphene_rect_t rect;
  graphene_rect_init(&rect, float(x), float(y), float(gtk_widget_get_width(widget)),
                     float(gtk_widget_get_height(widget)));
  return rect;
}
GtkWidget* entryRow(GtkWidget* root, const std::string& title) {
  return find(root, [&](GtkWidget* w) {
    return ADW_IS_ENTRY_ROW(w) && title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
  });
}
std::string entryText(GtkWidget* root, const std::string& title) {
  GtkWidget* row = entryRow(root, title);
  return row ? gtk_editable_get_text(GTK_EDITABLE(row)) : "(no row)";
}
}  // namespace

// The application reopens on the settings page while the workspace is still loading: the page fills in as the
// depots and the planning document arrive, keeps what the user typed meanwhile, and applies the whole set. The
// courier application page does the same with a profile that gains its depot, and lets only an administrator
// change the photo setting, which the server refuses from a logist.
TEST_F(ShellWindow, SettingsPagesFollowTheWorkspaceAsItLoads) {
  context_.model->replaceGeneration();
  context_.model->setUser(
      JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}, {"depotId", "d1"}}));
  context_.model->setPage(PanelPage::settings);
  spin();
  gtk_editable_set_text(GTK_EDITABLE(entryRow(root(), "Допуск опоздания, минут")), "20");
  savePNG(root(), "settings-loading");

  JSONValue depots = JSONValue::array(
      {JSONValue::object({{"id", "d0"}, {"name", "Юг"}}), JSONValue::object({{"id", "d1"}, {"name", "Север"}})});
  context_.model->setDepots(JSONValue::records(depots.array()));
  context_.model->setPlanner(JSONValue::object(
      {{"config",
        JSONValue::object({{"CITY_KMH", 25}, {"ROAD_FACTOR", 1.3}, {"SERVICE_MIN", 10}, {"LATE_TOL_MIN", 15}})}}));
  spin();
  savePNG(root(), "settings-loaded");
  click("Применить к планированию");  // the typed entry stays, the rest came from the model
  EXPECT_EQ(workflows_->lastPayload,
            JSONValue::object({{"CITY_KMH", 25}, {"ROAD_FACTOR", 1.3}, {"SERVICE_MIN", 10}, {"LATE_TOL_MIN", 20}}));

  // A depot picked by the user stays picked when the list comes again.
  GtkWidget* picker = find(root(), [](GtkWidget* w) { return ADW_IS_COMBO_ROW(w); });
  adw_combo_row_set_selected(ADW_COMBO_ROW(picker), 1);
  context_.model->setDepots(JSONValue::records(depots.array()));
  spin();
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(picker)), 1u);

  // The courier application page, first for a profile without a depot, then with the depot.
  context_.model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  context_.model->setPage(PanelPage::appSettings);
  spin();
  EXPECT_NE(findLabel(root(), "Сначала выберите рабочий склад в настройках."), nullptr);
  context_.model->setUser(
      JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}, {"depotId", "d1"}}));
  spin(300ms);
  EXPECT_NE(findLabel(root(), "Склад Север"), nullptr);
  EXPECT_EQ(std::count(workflows_->calls.begin(), workflows_->calls.end(), "GET /depots/d1/settings"), 1);
  GtkWidget* toggle = find(root(), [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
  ASSERT_NE(toggle, nullptr);
  const std::string adminOnly = "Настройку может изменить администратор склада.";
  EXPECT_FALSE(gtk_widget_is_sensitive(toggle));  // a logist cannot change it, and reads why
  EXPECT_NE(findLabel(root(), adminOnly), nullptr);
  savePNG(root(), "appSettings-logist");
  context_.model->setUser(
      JSONValue::object({{"id", "u3"}, {"fullName", "Ольга Админ"}, {"role", "admin"}, {"depotId", "d1"}}));
  spin(300ms);
  EXPECT_EQ(findLabel(root(), adminOnly), nullptr);
  gtk_check_button_set_active(GTK_CHECK_BUTTON(toggle), TRUE);
  spin();
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(root(), "Сохранить настройку")));
}

// The red line of the settings page closes the scrolled form: pressing "Применить к планированию" with an empty
// field brings the message into view without covering that button or any other, at 1440×900 and at the window's
// minimum size.
TEST_F(ShellWindow, TheSettingsMessageCoversNoButton) {
  run(workflows_->loadPreview());
  context_.model->setPage(PanelPage::settings);
  spin();
  gtk_editable_set_text(GTK_EDITABLE(entryRow(root(), "Средняя скорость, км/ч")), "");
  const std::string message = "Заполните поле «Средняя скорость, км/ч».";
  for (auto [width, height] : {std::pair{1440, 900}, std::pair{960, 640}}) {
    window_->set_default_size(width, height);
    spin(300ms);
    click("Применить к планированию");
    spin(300ms);  // laid out and scrolled over the next frames
    GtkWidget* label = findLabel(root(), message);
    ASSERT_NE(label, nullptr) << width;
    GtkWidget* scroller = gtk_widget_get_ancestor(label, GTK_TYPE_SCROLLED_WINDOW);
    ASSERT_NE(scroller, nullptr) << "the message scrolls with the form";
    graphene_rect_t shown = boundsIn(label, root());
    graphene_rect_t view = boundsIn(scroller, root());
    EXPECT_TRUE(graphene_rect_contains_rect(&view, &shown)) << width << ": the message is in view";
    find(root(), [&](GtkWidget* w) {
      if (GTK_IS_BUTTON(w) && gtk_widget_is_drawable(w)) {
        graphene_rect_t button = boundsIn(w, root());
        EXPECT_FALSE(graphene_rect_intersection(&button, &shown, nullptr))
            << width << ": " << gtk_widget_get_name(w) << " under the message";
      }
      return false;
    });
    savePNG(root(), "settings-message-" + std::to_string(width));
  }
}

// The settings page open while a signed-in workspace opens over the real model: the depot list, held back by the
// server, arrives after the page is on screen, and the page then shows the user's depot and the planning parameters,
// which apply without a message.
// "Переключить склад" on the settings page: the window keeps the workspace, busy, while the new depot opens; when the
// server accepted the switch but the new depot's workspace cannot be opened, the sign-in screen says why.
TEST_F(ShellOverTheModel, ADepotSwitchKeepsTheWorkspaceAndAFailedOneSaysWhy) {
  dorvik::testing::StandInServer server;
  JSONValue profile = JSONValue::object(
      {{"id", 13}, {"companyId", randomUUID()}, {"depotId", "d1"}, {"fullName", "Ирина Логист"}, {"role", "logist"}});
  dorvik::testing::SessionServer session(server, profile);
  const JSONValue depots = JSONValue::array({JSONValue::object({{"id", "d1"}, {"name", "Север"}}),
                                             JSONValue::object({{"id", "d2"}, {"name", "Юг"}})});
  dorvik::testing::scriptReferenceLists(server, depots, JSONValue(JSONArray{}), JSONValue(JSONArray{}));
  async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server.url()));
  async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server.url()));
  ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server.url()));
  launch(false);
  context_.model->setPage(PanelPage::settings);
  fill({"logist", "пароль-логиста"}, "Войти");
  ASSERT_TRUE(dorvik::testing::spinUntil([&] { return context_.model->depots().size() == 2; }, 30s));
  spin();

  // Picks a depot and presses the button; answers the screens the window showed until the switch ended.
  auto switchTo = [&](guint position) {
    GtkWidget* picker = find(root(), [](GtkWidget* w) { return ADW_IS_COMBO_ROW(w); });
    EXPECT_NE(picker, nullptr);
    adw_combo_row_set_selected(ADW_COMBO_ROW(picker), position);
    spin();
    const std::size_t switches = server.hits("POST", "/auth/depot");
    g_signal_emit_by_name(findButton(root(), "Переключить склад"), "clicked");
    std::set<int> shown;
    EXPECT_TRUE(dorvik::testing::spinUntil(
        [&] {
          shown.insert(window_->screenKind());
          return server.hits("POST", "/auth/depot") > switches && !context_.model->busy();
        },
        30s));
    spin();
    return shown;
  };
  EXPECT_EQ(switchTo(2), std::set<int>{2});
  EXPECT_EQ(context_.model->user()["depotId"].string(), "d2");
  EXPECT_EQ(window_->alert(), nullptr) << context_.model->error().value_or("");

  server.on("POST", "/auth/refresh", dorvik::testing::Answer::error(503, "Сервер на обслуживании."));
  switchTo(1);
  ASSERT_TRUE(reaches(0));
  ASSERT_NE(window_->alert(), nullptr);
  EXPECT_STREQ(adw_message_dialog_get_body(window_->alert()), "Сервер на обслуживании.");
  savePNG(GTK_WIDGET(window_->alert()), "depot-switch-failed");
}

TEST_F(ShellOverTheModel, TheSettingsPageFillsInWhenTheWorkspaceArrivesLater) {
  dorvik::testing::StandInServer server;
  JSONValue profile = JSONValue::object(
      {{"id", 12}, {"companyId", randomUUID()}, {"depotId", "d1"}, {"fullName", "Ирина Логист"}, {"role", "logist"}});
  dorvik::testing::SessionServer session(server, profile);
  server.on("GET", "/depots",
            dorvik::testing::Answer::json(
                JSONValue::object({{"depots", JSONValue::array({JSONValue::object({{"id", "d0"}, {"name", "Юг"}}),
                                                                JSONValue::object({{"id", "d1"}, {"name", "Север"}})})}}))
                .held());
  async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server.url()));
  async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server.url()));
  ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server.url()));

  launch(false);
  ASSERT_EQ(window_->screenKind(), 0);
  context_.model->setPage(PanelPage::settings);  // the page the application reopens on
  fill({"logist", "пароль-логиста"}, "Войти");
  ASSERT_TRUE(dorvik::testing::spinUntil([&] { return server.held("/depots") > 0 && window_->screenKind() == 2; },
                                         30s));
  spin();
  GtkWidget* picker = find(root(), [](GtkWidget* w) { return ADW_IS_COMBO_ROW(w); });
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(picker)), 0u);  // no depots yet

  server.release("/depots");
  ASSERT_TRUE(dorvik::testing::spinUntil([&] { return context_.model->depots().size() == 2; }, 30s));
  spin();
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(picker)), 2u);
  const JSONValue& config = context_.model->planner()["config"];
  ASSERT_FALSE(config["CITY_KMH"].string().empty());
  EXPECT_EQ(entryText(root(), "Средняя скорость, км/ч"), config["CITY_KMH"].string());
  GtkWidget* apply = findButton(root(), "Применить к планированию");
  ASSERT_TRUE(dorvik::testing::spinUntil([&] { return gtk_widget_is_sensitive(apply); }, 30s));
  g_signal_emit_by_name(apply, "clicked");
  ASSERT_TRUE(dorvik::testing::spinUntil(
      [&] { return context_.model->status() == "Параметры сохранены. Пересчитайте маршруты."; }, 10s))
      << context_.model->status();
  EXPECT_EQ(window_->alert(), nullptr) << context_.model->error().value_or("");
  savePNG(root(), "model-settings-after-load");
}
