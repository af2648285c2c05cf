#include "admin/integrations_view.h"

#include <adwaita.h>

#include "admin/view_parts.h"
#include "shell/sheet.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

constexpr int kFormWidth = 850;

const std::vector<FieldSpec> kDadataField = {{"dadataToken", "Новый ключ DaData", FieldSpec::Kind::secret, false}};
const std::vector<FieldSpec> kTwoGisFields = {
    {"routingKey", "Новый ключ маршрутизации", FieldSpec::Kind::secret, false},
    {"mapKey", "Новый ключ карты", FieldSpec::Kind::secret, false},
    {"styleId", "Стиль карты", FieldSpec::Kind::text, false},
};

AdwPreferencesGroup* group(const char* title) {
  auto* made = ADW_PREFERENCES_GROUP(adw_preferences_group_new());
  adw_preferences_group_set_title(made, title);
  return made;
}

// A line under a group's rows; secondary lines are dimmed.
void addLine(AdwPreferencesGroup* to, Gtk::Label& label, bool secondary) {
  label.set_wrap(true);
  label.set_xalign(0);
  label.set_margin_top(6);
  label.set_margin_start(6);
  label.set_margin_end(6);
  if (secondary) label.add_css_class("dim-label");
  adw_preferences_group_add(to, GTK_WIDGET(label.gobj()));
}

// Option labels shown whole; in the open list the chosen option carries a check mark.
GtkListItemFactory* wholeLabels(bool marked) {
  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", callback([](GtkSignalListItemFactory*, GtkListItem* item, gpointer marked) {
                     GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
                     GtkWidget* label = gtk_label_new(nullptr);
                     gtk_label_set_xalign(GTK_LABEL(label), 0);
                     gtk_widget_set_hexpand(label, TRUE);
                     gtk_box_append(GTK_BOX(box), label);
                     if (marked) {
                       GtkWidget* check = gtk_image_new_from_icon_name("object-select-symbolic");
                       g_object_bind_property(item, "selected", check, "visible", G_BINDING_SYNC_CREATE);
                       gtk_box_append(GTK_BOX(box), check);
                     }
                     gtk_list_item_set_child(item, box);
                   }),
                   GINT_TO_POINTER(marked));
  g_signal_connect(factory, "bind", callback([](GtkSignalListItemFactory*, GtkListItem* item) {
                     auto* option = GTK_STRING_OBJECT(gtk_list_item_get_item(item));
                     GtkWidget* label = gtk_widget_get_first_child(gtk_list_item_get_child(item));
                     gtk_label_set_text(GTK_LABEL(label), option ? gtk_string_object_get_string(option) : "");
                   }),
                   nullptr);
  return factory;
}

}  // namespace

IntegrationsView::IntegrationsView(const ShellContext& context)
    : IntegrationsView(context, integrationsGateway(context.model)) {}

IntegrationsView::IntegrationsView(const ShellContext& context, IntegrationsGateway gateway)
    : Gtk::Box(Gtk::Orientation::VERTICAL), context_(context) {
  controller_ = IntegrationsController::create(std::move(gateway));

  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 24);
  gtk_box_append(content->gobj(), buildGeocoding());
  gtk_box_append(content->gobj(), buildTwoGis());
  content->append(buildFooter());

  // The form keeps to the leading edge and grows no wider than its maximum.
  GtkWidget* clamp = adw_clamp_new();
  adw_clamp_set_maximum_size(ADW_CLAMP(clamp), kFormWidth);
  adw_clamp_set_tightening_threshold(ADW_CLAMP(clamp), kFormWidth);
  adw_clamp_set_child(ADW_CLAMP(clamp), GTK_WIDGET(content->gobj()));
  gtk_widget_set_halign(clamp, GTK_ALIGN_START);
  gtk_widget_set_margin_top(clamp, 24);
  gtk_widget_set_margin_bottom(clamp, 24);
  gtk_widget_set_margin_start(clamp, 24);
  gtk_widget_set_margin_end(clamp, 24);

  auto* scrolled = Gtk::make_managed<Gtk::ScrolledWindow>();
  scrolled->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scrolled->set_vexpand(true);
  gtk_scrolled_window_set_child(scrolled->gobj(), clamp);
  append(*scrolled);

  controllerConnection_ = controller_->observe([this](IntegrationsController::Change change) {
    switch (change) {
      case IntegrationsController::Change::data:
        showData();
        break;
      case IntegrationsController::Change::value:
        showValue();
        break;
      default:
        break;
    }
    showState();
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::generation) controller_->follow();
    if (property == AppModel::Property::catalogCount) catalog_.set_text(catalogText(context_.model->catalogCount()));
    if (changesServerWrites(property))
      showState();
  });
  fields_ = dadataRow_.widgets();
  for (GtkWidget* field : twoGisRows_.widgets()) fields_.push_back(field);
  fields_.push_back(geocoder_);
  fields_.push_back(demoRow_);
  showData();
  showValue();
  showState();
  controller_->follow();
}

IntegrationsView::~IntegrationsView() {
  controllerConnection_.disconnect();
  modelConnection_.disconnect();
  controller_->close();
}

GtkWidget* IntegrationsView::buildGeocoding() {
  AdwPreferencesGroup* section = group("Геокодирование");
  geocoder_ = adw_combo_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(geocoder_), "Поиск адресов");
  GtkStringList* options = gtk_string_list_new(nullptr);
  for (const GeocoderOption& option : kGeocoderOptions) gtk_string_list_append(options, option.title);
  adw_combo_row_set_model(ADW_COMBO_ROW(geocoder_), G_LIST_MODEL(options));
  g_object_unref(options);
  // The options are long: the row's own labels would cut them at a few words, here and in the list.
  GtkListItemFactory* shown = wholeLabels(false);
  adw_combo_row_set_factory(ADW_COMBO_ROW(geocoder_), shown);
  g_object_unref(shown);
  GtkListItemFactory* listed = wholeLabels(true);
  adw_combo_row_set_list_factory(ADW_COMBO_ROW(geocoder_), listed);
  g_object_unref(listed);
  g_signal_connect(geocoder_, "notify::selected", callback([](GObject* row, GParamSpec*, gpointer data) {
                     auto* view = static_cast<IntegrationsView*>(data);
                     if (view->syncing_) return;
                     const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
                     if (selected != GTK_INVALID_LIST_POSITION) view->controller_->chooseGeocoder(selected);
                   }),
                   this);
  adw_preferences_group_add(section, geocoder_);
  dadataRow_ = addValueFields(section, kDadataField, controller_->value());
  addLine(section, dadataStatus_, true);
  catalog_.set_text(catalogText(context_.model->catalogCount()));
  addLine(section, catalog_, false);
  return GTK_WIDGET(section);
}

GtkWidget* IntegrationsView::buildTwoGis() {
  AdwPreferencesGroup* section = group("Маршруты и карта 2ГИС");
  twoGisRows_ = addValueFields(section, kTwoGisFields, controller_->value());

  demoRow_ = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(demoRow_), "Демо-ключ: учитывать локальный лимит обращений");
  demo_.set_valign(Gtk::Align::CENTER);
  adw_action_row_add_suffix(ADW_ACTION_ROW(demoRow_), GTK_WIDGET(demo_.gobj()));
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(demoRow_), GTK_WIDGET(demo_.gobj()));
  adw_preferences_group_add(section, demoRow_);
  demo_.property_active().signal_changed().connect([this] {
    if (!syncing_) controller_->setDemoKey(demo_.get_active());
  });

  addLine(section, mapStatus_, true);
  addLine(section, routingStatus_, true);
  auto* hint = Gtk::make_managed<Gtk::Label>(
      "Пустое поле ключа оставляет сохранённый ключ. Карта на компьютере использует 2ГИС и стиль вашего склада.");
  addLine(section, *hint, true);
  test_.set_halign(Gtk::Align::START);
  test_.set_margin_top(12);
  test_.signal_clicked().connect([this] { controller_->testRoutingKey(); });
  adw_preferences_group_add(section, GTK_WIDGET(test_.gobj()));
  return GTK_WIDGET(section);
}

Gtk::Widget& IntegrationsView::buildFooter() {
  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
  issue_.add_css_class("error");
  issue_.set_wrap(true);
  issue_.set_xalign(0);
  issue_.set_selectable(true);
  issue_.set_visible(false);
  footer->append(issue_);

  auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  save_.add_css_class("suggested-action");
  clear_.add_css_class("destructive-action");
  buttons->append(save_);
  buttons->append(clear_);
  footer->append(*buttons);
  save_.signal_clicked().connect([this] { controller_->save(); });
  clear_.signal_clicked().connect([this] { askClearing(); });
  return *footer;
}

void IntegrationsView::askClearing() {
  std::weak_ptr<IntegrationsController> weak = controller_;
  confirm(*this, "Очистить ключи этого склада?", "Если на сервере настроены общие ключи, склад вернётся к ним.",
          "Очистить", true, [weak] {
            if (auto controller = weak.lock()) controller->clearKeys();
          });
}

void IntegrationsView::showData() {
  dadataStatus_.set_text(controller_->status(IntegrationKey::dadata));
  mapStatus_.set_text(controller_->status(IntegrationKey::map));
  routingStatus_.set_text(controller_->status(IntegrationKey::routing));
}

void IntegrationsView::showValue() {
  // Showing the edited settings must not write them back: an unknown lookup order stays as it came.
  syncing_ = true;
  const std::optional<std::size_t> choice = controller_->geocoder();
  adw_combo_row_set_selected(ADW_COMBO_ROW(geocoder_),
                             choice ? static_cast<guint>(*choice) : GTK_INVALID_LIST_POSITION);
  demo_.set_active(controller_->demoKey());
  const JSONValue& value = *controller_->value();
  dadataRow_.refresh(value, "dadataToken");
  for (const FieldSpec& field : kTwoGisFields) twoGisRows_.refresh(value, field.key);
  syncing_ = false;
}

void IntegrationsView::showState() {
  issue_.set_text(controller_->issue().value_or(""));
  issue_.set_visible(controller_->issue().has_value());
  const bool mayWrite = controller_->mayWrite();
  offerWrite(save_, controller_->canWrite(), mayWrite);
  offerWrite(clear_, controller_->canWrite(), mayWrite);
  for (GtkWidget* field : fields_) offerWrite(field, mayWrite, mayWrite);
  test_.set_sensitive(controller_->canTest());
}

Gtk::Widget* makeIntegrationsView(const ShellContext& context) { return Gtk::make_managed<IntegrationsView>(context); }

}  // namespace dorvik::admin
