#include "shell/preferences.h"

#include <adwaita.h>

#include <charconv>

#include "build_info.h"
#include "shell/gtk_helpers.h"
#include "shell/sign_in_views.h"
#include "shell/toolkit/shell_rules.h"
#include "shell/toolkit/workspace_settings.h"

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

GtkWidget* valueRow(const char* title, GtkWidget** valueLabel) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title);
  *valueLabel = gtk_label_new("");
  adw_action_row_add_suffix(ADW_ACTION_ROW(row), *valueLabel);
  return row;
}

// Connects a notify::selected handler that stores the chosen option's value.
template <class F>
void onSelected(GtkWidget* row, F handler) {
  auto* f = new F(std::move(handler));
  g_signal_connect_data(
      row, "notify::selected", callback([](GObject* object, GParamSpec*, gpointer data) {
        guint index = adw_combo_row_get_selected(ADW_COMBO_ROW(object));
        if (index != GTK_INVALID_LIST_POSITION) (*static_cast<F*>(data))(index);
      }),
      f, +[](gpointer data, GClosure*) { delete static_cast<F*>(data); }, GConnectFlags(0));
}

}  // namespace

void showPreferences(const ShellContext& context, Gtk::Window* parent) {
  if (openWindow) {
    gtk_window_present(openWindow);
    return;
  }
  UserDefaults& defaults = *context.defaults;
  GtkWidget* window = adw_preferences_window_new();
  gtk_window_set_title(GTK_WINDOW(window), "Настройки");
  gtk_window_set_default_size(GTK_WINDOW(window), 560, 480);
  adw_preferences_window_set_search_enabled(ADW_PREFERENCES_WINDOW(window), FALSE);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(window), parent->gobj());
  auto* state = new PreferencesState();
  state->context = context;

  // Appearance.
  GtkWidget* look = adw_preferences_page_new();
  adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(look), "Оформление");
  adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(look), "applications-graphics-symbolic");
  GtkWidget* outer = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(outer), "Внешний вид");
  static const std::vector<std::string> appearanceKeys{"system", "light", "dark"};
  std::string appearance = defaults.get(Settings::appearance);
  guint appearanceIndex = 0;
  bool appearanceKnown = false;
  for (guint i = 0; i < appearanceKeys.size(); ++i)
    if (appearanceKeys[i] == appearance) appearanceIndex = i, appearanceKnown = true;
  GtkWidget* appearanceRow =
      combo("Оформление", {"Как в системе", "Светлое", "Тёмное"}, appearanceIndex, !appearanceKnown);
  onSelected(appearanceRow, [defaults = context.defaults](guint i) {
    if (i < appearanceKeys.size()) defaults->set(Settings::appearance, appearanceKeys[i]);
  });
  std::vector<std::string> accentLabels;
  std::string accent = defaults.get(Settings::accent);
  guint accentIndex = 0;
  bool accentKnown = false;
  for (guint i = 0; i < accentKeys().size(); ++i) {
    accentLabels.push_back(accentName(accentKeys()[i]));
    if (accentKeys()[i] == accent) accentIndex = i, accentKnown = true;
  }
  GtkWidget* accentRow = combo("Акцентный цвет", accentLabels, accentIndex, !accentKnown);
  onSelected(accentRow, [defaults = context.defaults](guint i) {
    if (i < accentKeys().size()) defaults->set(Settings::accent, accentKeys()[i]);
  });
  static const std::vector<double> sizes{13, 15, 17};
  double size = defaults.get(Settings::textSize);
  guint sizeIndex = 0;
  bool sizeKnown = false;
  for (guint i = 0; i < sizes.size(); ++i)
    if (sizes[i] == size) sizeIndex = i, sizeKnown = true;
  GtkWidget* sizeRow = combo("Размер текста", {"Стандартный", "Средний", "Крупный"}, sizeIndex, !sizeKnown);
  onSelected(sizeRow, [defaults = context.defaults](guint i) {
    if (i < sizes.size()) defaults->set(Settings::textSize, sizes[i]);
  });
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(outer), appearanceRow);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(outer), accentRow);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(outer), sizeRow);
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(look), ADW_PREFERENCES_GROUP(outer));

  GtkWidget* access = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(access), "Доступность");
  GtkWidget* motionRow = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(motionRow), "Дополнительная анимация");
  GtkWidget* motion = gtk_switch_new();
  gtk_widget_set_valign(motion, GTK_ALIGN_CENTER);
  gtk_switch_set_active(GTK_SWITCH(motion), defaults.get(Settings::extraMotion));
  gboolean animations = TRUE;
  g_object_get(gtk_settings_get_default(), "gtk-enable-animations", &animations, nullptr);
  gtk_widget_set_sensitive(motion, animations);  // the system's reduce-motion setting wins
  adw_action_row_add_suffix(ADW_ACTION_ROW(motionRow), motion);
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(motionRow), motion);
  auto* motionDefaults = new std::shared_ptr<UserDefaults>(context.defaults);
  g_signal_connect_data(
      motion, "notify::active", callback([](GObject* object, GParamSpec*, gpointer data) {
        (*static_cast<std::shared_ptr<UserDefaults>*>(data))
            ->set(Settings::extraMotion, gtk_switch_get_active(GTK_SWITCH(object)) != FALSE);
      }),
      motionDefaults, +[](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<UserDefaults>*>(data); },
      GConnectFlags(0));
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(access), motionRow);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(access),
                            note("Системные настройки уменьшения движения и прозрачности имеют приоритет."));
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(look), ADW_PREFERENCES_GROUP(access));
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(look));

  // Connection.
  GtkWidget* connection = adw_preferences_page_new();
  adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(connection), "Подключение");
  adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(connection), "network-workgroup-symbolic");
  GtkWidget* server = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(server), "Сервер");
  GtkWidget* url = adw_entry_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(url), "Адрес API");
  gtk_editable_set_text(GTK_EDITABLE(url), defaults.get(Settings::serverURL).c_str());
  auto* urlDefaults = new std::shared_ptr<UserDefaults>(context.defaults);
  g_signal_connect_data(
      url, "changed", callback([](GtkEditable* editable, gpointer data) {
        (*static_cast<std::shared_ptr<UserDefaults>*>(data))->set(Settings::serverURL, gtk_editable_get_text(editable));
      }),
      urlDefaults, +[](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<UserDefaults>*>(data); },
      GConnectFlags(0));
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(server), url);
  adw_preferences_group_add(
      ADW_PREFERENCES_GROUP(server),
      note(std::string("Изменение подключения применяется после перезапуска. Рабочий сервер: ") + kDefaultServerURL));
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(connection), ADW_PREFERENCES_GROUP(server));

  GtkWidget* local = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(local), "Локальные адреса");
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(local), valueRow("Каталог OpenStreetMap", &state->catalogLabel));
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(local),
                            note("Москва и ближайшие районы. За пределами каталога нужен серверный геокодер или "
                                 "вручную указанные координаты.",
                                 nullptr));
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(local),
                            valueRow("Исправления к синхронизации", &state->pendingLabel));
  state->retryButton = gtk_button_new_with_label("Повторить синхронизацию");
  gtk_widget_set_halign(state->retryButton, GTK_ALIGN_START);
  gtk_widget_set_margin_top(state->retryButton, 6);
  g_signal_connect(state->retryButton, "clicked", callback([](GtkButton*, gpointer data) {
                     startDetached(static_cast<PreferencesState*>(data)->context.workflows->refreshReferenceData());
                   }),
                   state);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(local), state->retryButton);
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(connection), ADW_PREFERENCES_GROUP(local));
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(connection));

  // About.
  GtkWidget* about = adw_preferences_page_new();
  adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(about), "О программе");
  adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(about), "help-about-symbolic");
  GtkWidget* aboutGroup = adw_preferences_group_new();
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
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(aboutGroup), box);
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(about), ADW_PREFERENCES_GROUP(aboutGroup));
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(about));

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
