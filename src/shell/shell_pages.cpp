#include "shell/shell_pages.h"

#include <adwaita.h>

#include "core/api/failure.h"
#include "shell/form_widgets.h"
#include "shell/screen_notice.h"
#include "shell/toolkit/courier_settings.h"
#include "shell/toolkit/form.h"
#include "shell/toolkit/shell_rules.h"
#include "shell/toolkit/workspace_settings.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {

// A scrollable grouped form: a preferences page whose groups are added by the screen.
struct Form {
  Gtk::Box* root = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  AdwPreferencesPage* page = ADW_PREFERENCES_PAGE(adw_preferences_page_new());
  Form() {
    gtk_widget_set_vexpand(GTK_WIDGET(page), TRUE);
    gtk_box_append(root->gobj(), GTK_WIDGET(page));
  }
  AdwPreferencesGroup* group(const char* title) {
    auto* g = ADW_PREFERENCES_GROUP(adw_preferences_group_new());
    if (title) adw_preferences_group_set_title(g, title);
    adw_preferences_page_add(page, g);
    return g;
  }
};

void add(AdwPreferencesGroup* group, Gtk::Widget& widget) { adw_preferences_group_add(group, widget.gobj()); }
void add(AdwPreferencesGroup* group, GtkWidget* widget) { adw_preferences_group_add(group, widget); }

Gtk::Button* buttonRow(AdwPreferencesGroup* group, const char* title) {
  auto* button = Gtk::make_managed<Gtk::Button>(title);
  button->set_halign(Gtk::Align::START);
  button->set_margin_top(6);
  add(group, *button);
  return button;
}

// The workspace settings page. It follows the model: the depot list, the current depot, the account and the
// planning parameters fill in as the workspace loads or changes, except what the user has changed on the page.
class WorkspaceSettingsView : public Gtk::Box {
 public:
  explicit WorkspaceSettingsView(ShellContext context)
      : Gtk::Box(Gtk::Orientation::VERTICAL), context_(std::move(context)) {
    Form form;
    append(*form.root);
    form.root->set_vexpand(true);

    AdwPreferencesGroup* depotGroup = form.group("Рабочий склад");
    depotRow_ = adw_combo_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(depotRow_), "Склад");
    g_signal_connect(depotRow_, "notify::selected", callback([](GObject* row, GParamSpec*, gpointer self) {
                       auto* view = static_cast<WorkspaceSettingsView*>(self);
                       if (view->fillingDepots_) return;
                       guint index = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
                       view->depot_ = index < view->depotIds_.size() ? view->depotIds_[index] : "";
                       view->update();
                     }),
                     this);
    add(depotGroup, depotRow_);
    switchButton_ = buttonRow(depotGroup, "Переключить склад");
    add(depotGroup, noteLabel("Планирование, адреса и история сохраняются отдельно для каждого склада."));
    refreshButton_ = buttonRow(depotGroup, "Обновить справочники");

    AdwPreferencesGroup* routing = form.group("Расчёт маршрутов");
    configRows_ = addValueFields(routing, WorkspaceSettings::planningFields(), config_);
    applyButton_ = buttonRow(routing, "Применить к планированию");

    AdwPreferencesGroup* look = form.group("Оформление и подключение");
    add(look, linkRow("Цвета, размер текста и адрес сервера", "applications-graphics-symbolic", [this] {
          if (context_.openPreferences) context_.openPreferences(PreferencesTab::appearance);
        }));
    add(look, linkRow("Карты и геокодирование", "", [this] { context_.model->setPage(PanelPage::integrations); }));
    add(look, valueRow("Аккаунт", "", &account_));
    add(look, valueRow("Сборка", WorkspaceSettings::buildText()));

    // The red line closes the form, inside its scrolled area, so it never lies over a row or a button.
    issueGroup_ = GTK_WIDGET(form.group(nullptr));
    issue_.add_css_class("error");
    issue_.set_wrap(true);
    issue_.set_xalign(0);
    issue_.set_selectable(true);
    add(ADW_PREFERENCES_GROUP(issueGroup_), issue_);
    gtk_widget_set_visible(issueGroup_, FALSE);

    switchButton_->signal_clicked().connect([this] { async::spawn(runSwitch(link_.weak(), context_, depot_)); });
    refreshButton_->signal_clicked().connect([this] { async::spawn(context_.workflows->refreshReferenceData()); });
    applyButton_->signal_clicked().connect([this] { apply(); });
    connection_ = context_.model->observe([this](AppModel::Property p) { modelChanged(p); });
    followUser();
    followPlanner();
    update();
  }

 private:
  void modelChanged(AppModel::Property p) {
    using P = AppModel::Property;
    if (p == P::user) followUser();
    if (p == P::depots) fillDepots();
    if (p == P::planner) followPlanner();
    update();
  }

  // The picker starts on the user's depot and moves with it until the user picks another one.
  void followUser() {
    const JSONValue& user = context_.model->user();
    const std::string fresh = user["depotId"].string();
    if (depot_ == shownDepot_ || depot_ == fresh) depot_ = fresh;
    shownDepot_ = fresh;
    gtk_label_set_text(GTK_LABEL(account_), user["fullName"].string().c_str());
    fillDepots();
  }

  // The options of the picker from the model's depot list, the chosen depot selected when it is among them.
  void fillDepots() {
    GtkStringList* names = gtk_string_list_new(nullptr);
    gtk_string_list_append(names, "Выберите склад");
    depotIds_.assign(1, "");
    guint selected = 0;
    for (const Record& record : context_.model->depots()) {
      gtk_string_list_append(names, record.value["name"].string().c_str());
      depotIds_.push_back(record.id());
      if (!depot_.empty() && record.id() == depot_) selected = static_cast<guint>(depotIds_.size() - 1);
    }
    // A picked depot that left the list is no longer a choice; the user's own depot is kept for when it arrives.
    if (selected == 0 && depot_ != shownDepot_) depot_.clear();
    fillingDepots_ = true;
    adw_combo_row_set_model(ADW_COMBO_ROW(depotRow_), G_LIST_MODEL(names));
    adw_combo_row_set_selected(ADW_COMBO_ROW(depotRow_), selected);
    fillingDepots_ = false;
    g_object_unref(names);
  }

  void followPlanner() {
    const JSONValue& fresh = context_.model->planner()["config"];
    for (const std::string& key :
         ValueFields::follow(*config_, shownConfig_, fresh, WorkspaceSettings::planningFields()))
      configRows_.refresh(*config_, key);
    shownConfig_ = fresh;
  }

  void update() {
    const AppModel& model = *context_.model;
    switchButton_->set_sensitive(WorkspaceSettings::canSwitchDepot(depot_, model.user(), model.busy(),
                                                                   model.geocoding(), model.canWriteServer()));
    refreshButton_->set_sensitive(WorkspaceSettings::canRefreshReferenceData(model.preview(), model.busy()));
    applyButton_->set_sensitive(WorkspaceSettings::canApply(model.busy(), model.geocoding()));
  }

  void showIssue(std::optional<std::string> text) {
    issue_.set_text(text.value_or(""));
    gtk_widget_set_visible(issueGroup_, text.has_value());
    if (text) scrollIntoView(issueGroup_);
  }

  void apply() {
    JSONValue value;
    try {
      value = WorkspaceSettings::checked(*config_);
    } catch (...) {
      showIssue(failureText(std::current_exception()));
      return;
    }
    async::spawn(runApply(context_, std::move(value)));
    showIssue(std::nullopt);
  }

  static async::Task<void> runApply(ShellContext context, JSONValue value) {
    bool applied = co_await context.workflows->mutate("config", std::move(value));
    if (applied) context.model->setStatus("Параметры сохранены. Пересчитайте маршруты.");
  }

  static async::Task<void> runSwitch(std::weak_ptr<WorkspaceSettingsView*> view, ShellContext context,
                                     std::string depot) {
    std::optional<std::string> failure;
    try {
      co_await context.workflows->switchDepot(std::move(depot));
    } catch (...) {
      failure = failureText(std::current_exception());
    }
    if (auto* self = lockView(view)) self->showIssue(failure);
  }

  ShellContext context_;
  std::string depot_;       // the picker's value
  std::string shownDepot_;  // the user's depot when the picker last followed it
  std::vector<std::string> depotIds_;
  bool fillingDepots_ = false;
  std::shared_ptr<JSONValue> config_ = std::make_shared<JSONValue>();
  JSONValue shownConfig_;  // the model's parameters when the fields last followed them
  ValueFieldRows configRows_;
  GtkWidget* depotRow_ = nullptr;
  GtkWidget* account_ = nullptr;
  Gtk::Button* switchButton_ = nullptr;
  Gtk::Button* refreshButton_ = nullptr;
  Gtk::Button* applyButton_ = nullptr;
  GtkWidget* issueGroup_ = nullptr;
  Gtk::Label issue_;
  AppModel::Connection connection_;
  ViewLink<WorkspaceSettingsView> link_{this};
};

// The courier application settings page. Whether the user has a working depot is read on every change of the
// model, so a page shown before the profile arrived fills in with it.
class CourierAppSettingsView : public Gtk::Box {
 public:
  explicit CourierAppSettingsView(ShellContext context)
      : Gtk::Box(Gtk::Orientation::VERTICAL), context_(std::move(context)) {
    Form form;
    append(*form.root);
    form.root->set_vexpand(true);
    AdwPreferencesGroup* group = form.group("Фото доставки");
    noDepot_ = noteLabel("Сначала выберите рабочий склад в настройках.");
    add(group, noDepot_);
    depotRow_ = valueRow("Склад", "", &depotName_);
    add(group, depotRow_);
    add(group, toggle_);
    // The server takes the change only from an administrator: a logist reads why the setting cannot be ticked.
    adminOnly_ = noteLabel("Настройку может изменить администратор склада.");
    add(group, adminOnly_);
    hint_ = noteLabel("При включении курьер должен приложить фото для статусов «Доставлено» и «Часть мест».");
    add(group, hint_);
    save_ = buttonRow(group, "Сохранить настройку");
    auto* notice = Gtk::make_managed<ScreenNotice>(state_);
    add(group, *notice);
    refresh_ = buttonRow(group, "Обновить");

    toggle_.set_label("Обязательное фото каждого доставленного заказа");
    toggle_.signal_toggled().connect([this] {
      photoProof_ = toggle_.get_active();
      update();
    });
    save_->signal_clicked().connect([this] { async::spawn(runSave(link_.weak(), context_, state_, photoProof_)); });
    refresh_->signal_clicked().connect([this] { async::spawn(runLoad(link_.weak(), context_, state_)); });
    stateConnection_ = state_->observe([this](ScreenData::Property) { update(); });
    connection_ = context_.model->observe([this](AppModel::Property p) {
      if (p == AppModel::Property::generation || p == AppModel::Property::user) reload();
      update();
    });
    update();
    reload();
  }
  ~CourierAppSettingsView() override { loadToken_.cancel(); }

 private:
  // The load keyed by the depot path and the workspace: a new key cancels the previous run.
  void reload() {
    std::string key = CourierSettings::path(context_.model->user()) + context_.model->generation();
    if (key == loadKey_) return;
    loadKey_ = key;
    loadToken_.cancel();
    loadToken_ = async::CancelToken();
    async::spawn(runLoad(link_.weak(), context_, state_), loadToken_);
  }

  void update() {
    const AppModel& model = *context_.model;
    const JSONValue& loaded = state_->value();
    const bool hasDepot = CourierSettings::hasDepot(model.user());
    gtk_widget_set_visible(noDepot_, !hasDepot);
    for (GtkWidget* row : {depotRow_, hint_, GTK_WIDGET(toggle_.gobj()), GTK_WIDGET(save_->gobj())})
      gtk_widget_set_visible(row, hasDepot);
    gtk_label_set_text(GTK_LABEL(depotName_), loaded["name"].string().c_str());
    toggle_.set_sensitive(CourierSettings::canToggle(loaded, state_->loading(), state_->saving(),
                                                     model.canWriteServer(), model.user()));
    gtk_widget_set_visible(adminOnly_, hasDepot && !CourierSettings::mayChange(model.user()));
    save_->set_sensitive(
        CourierSettings::canSave(loaded, state_->saving(), model.canWriteServer(), model.user(), photoProof_));
    refresh_->set_sensitive(CourierSettings::canRefresh(model.user(), state_->loading()));
  }

  static async::Task<void> runLoad(std::weak_ptr<CourierAppSettingsView*> view, ShellContext context,
                                   std::shared_ptr<ScreenData> state) {
    std::string path = CourierSettings::path(context.model->user());
    if (path.empty()) co_return;
    co_await state->load(path, context.screenSource());
    if (state->value().isNull()) co_return;
    if (auto* self = lockView(view)) {
      self->photoProof_ = state->value()["photoProof"].boolValue();
      self->toggle_.set_active(self->photoProof_);
      self->update();
    }
  }

  static async::Task<void> runSave(std::weak_ptr<CourierAppSettingsView*> view, ShellContext context,
                                   std::shared_ptr<ScreenData> state, bool photoProof) {
    std::string path = CourierSettings::path(context.model->user());
    bool saved = co_await state->write(path, "PATCH", CourierSettings::body(photoProof), context.screenSource());
    if (saved) co_await runLoad(view, context, state);
  }

  ShellContext context_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  bool photoProof_ = false;
  GtkWidget* noDepot_ = nullptr;
  GtkWidget* depotRow_ = nullptr;
  GtkWidget* depotName_ = nullptr;  // the value label of the "Склад" row
  GtkWidget* hint_ = nullptr;
  GtkWidget* adminOnly_ = nullptr;
  Gtk::CheckButton toggle_;
  Gtk::Button* save_ = nullptr;
  Gtk::Button* refresh_ = nullptr;
  std::string loadKey_ = "\x01";
  async::CancelToken loadToken_;
  ScreenData::Connection stateConnection_;
  AppModel::Connection connection_;
  ViewLink<CourierAppSettingsView> link_{this};
};

}  // namespace

Gtk::Widget* makeHelpPage(const ShellContext& context) {
  Form form;
  AdwPreferencesGroup* planning = form.group("Планирование");
  for (const char* text : {"1. Откройте Excel или добавьте заказы и транспорт вручную.",
                           "2. Укажите дату и склад. Найдите адреса и проверьте точки на карте.",
                           "3. Рассчитайте маршруты. Проверьте окна, опоздания и неназначенные заказы.",
                           "4. Отправьте план курьерам. Отправленные маршруты появятся в мониторинге."})
    add(planning, noteRow(text, false));
  auto* open = buttonRow(planning, "Открыть планирование");
  std::weak_ptr<AppModel> weakModel = context.model;
  open->signal_clicked().connect([weakModel] {
    if (auto model = weakModel.lock()) model->setPage(PanelPage::planning);
  });
  AdwPreferencesGroup* fixes = form.group("Исправление адреса");
  for (const char* text :
       {"«Геокодирование» показывает число проверенных заказов. Одинаковые адреса проверяются один раз. "
        "«Остановить» прекращает поиск и сохраняет уже найденные координаты на компьютере. Синхронизация "
        "справочника выполняется отдельно; при недоступной сети остаются локальные результаты.",
        "На карте планирования выберите «Исправить координаты» и перетащите точку на нужное здание. Меняются "
        "координаты адреса; назначение курьера остаётся прежним. Esc отменяет перенос, Ctrl+Z отменяет "
        "сохранённое исправление.",
        "Чтобы передать существующие заказы, выберите на карте «Передать курьеру». Нажмите одну или несколько "
        "точек и перетащите их на точку другого курьера. Можно также выбрать получателя в меню «Назначить "
        "курьеру». Координаты сохраняются. «Отменить перенос» восстанавливает предыдущий порядок до следующего "
        "изменения плана; снимок также доступен в истории. Для публикации нажмите «Отправить курьерам».",
        "Выбор точек и изменение маршрутов сохраняют масштаб и положение карты. «Все точки» подбирает масштаб по "
        "вашему нажатию. Кнопка «Свойства» открывает данные выбранного заказа."})
    add(fixes, noteRow(text, false));
  AdwPreferencesGroup* offline = form.group("Работа без соединения");
  add(offline, noteRow("Доступны сохранённое планирование, ручные исправления и встроенный каталог адресов Москвы. "
                       "Для карт 2ГИС, отправки маршрутов и изменений на сервере нужен интернет.",
                       false));
  AdwPreferencesGroup* web = form.group("Разделы веб-панели");
  add(web, noteRow("Библиотека, адреса, геозоны, учётные записи, смены, документы и интеграции используют тот же "
                   "сервер. История планирования хранится локально и не переносится из браузера автоматически.",
                   false));
  add(web, noteRow("Склады, компании и доступы Dorvik видны только суперадминистратору.", false));
  return form.root;
}

Gtk::Widget* makeWorkspaceSettingsPage(const ShellContext& context) {
  return Gtk::make_managed<WorkspaceSettingsView>(context);
}

Gtk::Widget* makeCourierAppSettingsPage(const ShellContext& context) {
  return Gtk::make_managed<CourierAppSettingsView>(context);
}

}  // namespace dorvik
