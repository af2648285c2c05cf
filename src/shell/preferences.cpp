#include "shell/preferences.h"

#include <adwaita.h>

#include "build_info.h"
#include "shell/form_widgets.h"
#include "shell/sign_in_views.h"
#include "shell/toolkit/shell_rules.h"
#include "shell/toolkit/workspace_settings.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {

GtkWindow* openWindow = nullptr;

// Live state of the window: what it observes, released with the window.
struct PreferencesState {
  ShellContext context;
  GtkWidget* catalogLabel = nullptr;
  GtkWidget* pendingLabel = nullptr;
  GtkWidget* retryButton = nullptr;
  AppModel::Connection connection;

  void update() {
    const AppModel& model = *context.model;
    gtk_label_set_text(GTK_LABEL(catalogLabel), (std::to_string(model.catalogCount()) + " адресов").c_str());
    gtk_label_set_text(GTK_LABEL(pendingLabel), std::to_string(model.pendingAddresses().size()).c_str());
    gtk_widget_set_sensitive(retryButton, !model.user().isNull() && !model.preview());
  }
};

GtkWidget* combo(const char* title, const std::vector<std::string>& labels, guint selected, bool noneSelected) {
  GtkWidget* row = adw_combo_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title);
  GtkStringList* list = gtk_string_list_new(nullptr);
  for (const std::string& label : labels) gtk_string_list_append(list, label.c_str());
  adw_combo_row_set_model(ADW_COMBO_ROW(row), G_LIST_MODEL(list));
  g_object_unref(list);
  adw_combo_row_set_selected(ADW_COMBO_ROW(row), noneSelected ? GTK_INVALID_LIST_POSITION : selected);
  return row;
}

GtkWidget* note(const std::string& text, const char* cssClass = "dim-label") {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_LEFT);
  gtk_widget_set_margin_top(label, 6);
  if (cssClass) gtk_widget_add_css_class(label, cssClass);
  return label;
}

// Calls `handler()` at each emission of `signal` (one without a return value) on `widget`; the handler lives as
// long as the connection.
template <class F>
void connect(GtkWidget* widget, const char* signal, F handler) {
  g_signal_connect_data(
      widget, signal, callback([](gpointer data) { (*static_cast<F*>(data))(); }), new F(std::move(handler)),
      +[](gpointer data, GClosure*) { delete static_cast<F*>(data); }, G_CONNECT_SWAPPED);
}

// A combo row over a fixed list of values of `setting`: the stored value selected (none when it is not one of
// them), the chosen one stored.
template <class T, class V>
GtkWidget* settingCombo(const char* title, const std::shared_ptr<UserDefaults>& defaults, Setting<T> setting,
                        const std::vector<std::string>& labels, const std::vector<V>& values) {
  const V current = defaults->get(setting);
  guint index = 0;
  bool known = false;
  for (guint i = 0; i < values.size(); ++i)
    if (values[i] == current) index = i, known = true;
  GtkWidget* row = combo(title, labels, index, !known);
  connect(row, "notify::selected", [row, defaults, setting, values] {
    guint i = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
    if (i < values.size()) defaults->set(setting, values[i]);
  });
  return row;
}

GtkWidget* group(const char* title) {
  GtkWidget* group = adw_preferences_group_new();
  if (title) adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), title);
  return group;
}

void add(GtkWidget* group, GtkWidget* child) { adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), child); }

// Adds a page of `groups` to the preferences window.
void addPage(GtkWidget* window, const char* name, const char* title, const char* iconName,
             std::initializer_list<GtkWidget*> groups) {
  GtkWidget* page = adw_preferences_page_new();
  adw_preferences_page_set_name(ADW_PREFERENCES_PAGE(page), name);
  adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(page), title);
  adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(page), iconName);
  for (GtkWidget* group : groups) adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(group));
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(page));
}

// "Внешний вид": colour scheme, accent colour and text size.
GtkWidget* appearanceGroup(const std::shared_ptr<UserDefaults>& defaults) {
  std::vector<std::string> accentLabels;
  for (const std::string& key : accentKeys()) accentLabels.push_back(accentName(key));
  GtkWidget* outer = group("Внешний вид");
  add(outer, settingCombo("Оформление", defaults, Settings::appearance, {"Как в системе", "Светлое", "Тёмное"},
                          std::vector<std::string>{"system", "light", "dark"}));
  add(outer, settingCombo("Акцентный цвет", defaults, Settings::accent, accentLabels, accentKeys()));
  add(outer, settingCombo("Размер текста", defaults, Settings::textSize, {"Стандартный", "Средний", "Крупный"},
                          std::vector<double>{13, 15, 17}));
  return outer;
}

// "Доступность": the extra animations, unavailable while the system reduces motion.
GtkWidget* accessibilityGroup(const std::shared_ptr<UserDefaults>& defaults) {
  GtkWidget* access = group("Доступность");
  GtkWidget* motionRow = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(motionRow), "Дополнительная анимация");
  GtkWidget* motion = gtk_switch_new();
  gtk_widget_set_valign(motion, GTK_ALIGN_CENTER);
  gtk_switch_set_active(GTK_SWITCH(motion), defaults->get(Settings::extraMotion));
  // The system's reduce-motion setting wins, also when it changes while the window is open.
  auto followSystem = +[](GtkSettings* settings, GParamSpec*, GtkWidget* motion) {
    gboolean animations = TRUE;
    g_object_get(settings, "gtk-enable-animations", &animations, nullptr);
    gtk_widget_set_sensitive(motion, animations);
  };
  followSystem(gtk_settings_get_default(), nullptr, motion);
  g_signal_connect_object(gtk_settings_get_default(), "notify::gtk-enable-animations", G_CALLBACK(followSystem), motion,
                          GConnectFlags(0));
  adw_action_row_add_suffix(ADW_ACTION_ROW(motionRow), motion);
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(motionRow), motion);
  connect(motion, "notify::active", [motion, defaults] {
    defaults->set(Settings::extraMotion, gtk_switch_get_active(GTK_SWITCH(motion)) != FALSE);
  });
  add(access, motionRow);
  add(access, note("Системные настройки уменьшения движения и прозрачности имеют приоритет."));
  return access;
}

// "Сервер": the API address, stored at each change and used from the next sign-in (or launch) on.
GtkWidget* serverGroup(const std::shared_ptr<UserDefaults>& defaults) {
  GtkWidget* server = group("Сервер");
  GtkWidget* url = adw_entry_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(url), "Адрес API");
  gtk_editable_set_text(GTK_EDITABLE(url), defaults->get(Settings::serverURL).c_str());
  connect(url, "changed",
          [url, defaults] { defaults->set(Settings::serverURL, gtk_editable_get_text(GTK_EDITABLE(url))); });
  add(server, url);
  add(server, note(std::string("Новый адрес применяется при следующем входе в учётную запись. Рабочий сервер: ") +
                   Settings::serverURL.fallback));
  return server;
}

// "Локальные адреса": the catalogue's size, the address corrections waiting for upload and their retry.
GtkWidget* localAddressesGroup(PreferencesState* state) {
  GtkWidget* local = group("Локальные адреса");
  add(local, valueRow("Каталог OpenStreetMap", "", &state->catalogLabel));
  // A row, so that it stays under the catalogue's count (a group puts what is not a row below its rows).
  add(local, noteRow("Москва и ближайшие районы. За пределами каталога нужен серверный геокодер или вручную "
                     "указанные координаты.",
                     false));
  add(local, valueRow("Исправления к синхронизации", "", &state->pendingLabel));
  state->retryButton = gtk_button_new_with_label("Повторить синхронизацию");
  gtk_widget_set_halign(state->retryButton, GTK_ALIGN_START);
  gtk_widget_set_margin_top(state->retryButton, 6);
  g_signal_connect(state->retryButton, "clicked", callback([](GtkButton*, gpointer data) {
                     async::spawn(static_cast<PreferencesState*>(data)->context.workflows->refreshReferenceData());
                   }),
                   state);
  add(local, state->retryButton);
  return local;
}

// "О программе": the mark, the name, the version line and the credits.
GtkWidget* aboutGroup() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 16);
  gtk_widget_set_margin_top(box, 30);
  gtk_widget_set_margin_bottom(box, 30);
  gtk_widget_set_margin_start(box, 30);
  gtk_widget_set_margin_end(box, 30);
  gtk_box_append(GTK_BOX(box), makeBrandMark(72)->gobj());
  GtkWidget* name = gtk_label_new("Dorvik для Linux");
  gtk_widget_add_css_class(name, "title-2");
  gtk_box_append(GTK_BOX(box), name);
  std::string version =
      std::string("Версия ") + BuildInfo::kShortVersion + " · Сборка " + WorkspaceSettings::buildText() + " · Linux";
  GtkWidget* versionLabel = gtk_label_new(version.c_str());
  gtk_widget_add_css_class(versionLabel, "dim-label");
  gtk_box_append(GTK_BOX(box), versionLabel);
  gtk_box_append(GTK_BOX(box), gtk_label_new("© OpenStreetMap contributors · ODbL 1.0"));
  gtk_box_append(GTK_BOX(box),
                 gtk_link_button_new_with_label("https://www.openstreetmap.org/copyright", "Условия OpenStreetMap"));
  GtkWidget* sheet = gtk_label_new("Обработка Excel: SheetJS Community Edition 0.20.3, Apache License 2.0.");
  gtk_label_set_wrap(GTK_LABEL(sheet), TRUE);
  gtk_label_set_justify(GTK_LABEL(sheet), GTK_JUSTIFY_CENTER);
  gtk_widget_add_css_class(sheet, "caption");
  gtk_box_append(GTK_BOX(box), sheet);
  GtkWidget* about = group(nullptr);
  add(about, box);
  return about;
}

// The page name of each tab.
const char* pageName(PreferencesTab tab) {
  switch (tab) {
    case PreferencesTab::connection:
      return "connection";
    case PreferencesTab::about:
      return "about";
    case PreferencesTab::appearance:
      break;
  }
  return "appearance";
}

}  // namespace

void showPreferences(const ShellContext& context, Gtk::Window* parent, PreferencesTab tab) {
  if (openWindow) {
    adw_preferences_window_set_visible_page_name(ADW_PREFERENCES_WINDOW(openWindow), pageName(tab));
    gtk_window_present(openWindow);
    return;
  }
  GtkWidget* window = adw_preferences_window_new();
  gtk_window_set_title(GTK_WINDOW(window), "Настройки");
  gtk_window_set_default_size(GTK_WINDOW(window), 560, 480);
  adw_preferences_window_set_search_enabled(ADW_PREFERENCES_WINDOW(window), FALSE);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(window), parent->gobj());
  auto* state = new PreferencesState();
  state->context = context;

  addPage(window, "appearance", "Оформление", "applications-graphics-symbolic",
          {appearanceGroup(context.defaults), accessibilityGroup(context.defaults)});
  addPage(window, "connection", "Подключение", "network-workgroup-symbolic",
          {serverGroup(context.defaults), localAddressesGroup(state)});
  addPage(window, "about", "О программе", "help-about-symbolic", {aboutGroup()});
  adw_preferences_window_set_visible_page_name(ADW_PREFERENCES_WINDOW(window), pageName(tab));

  state->connection = context.model->observe([state](AppModel::Property) { state->update(); });
  state->update();
  g_object_set_data_full(
      G_OBJECT(window), "dorvik-preferences", state,
      +[](gpointer data) { delete static_cast<PreferencesState*>(data); });
  g_signal_connect(window, "destroy", callback([](GtkWidget*, gpointer) { openWindow = nullptr; }), nullptr);
  openWindow = GTK_WINDOW(window);
  gtk_window_present(GTK_WINDOW(window));
}

}  // namespace dorvik
