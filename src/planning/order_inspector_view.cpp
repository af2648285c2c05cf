// The order inspector of the planner screen's properties pane: the first selected order of the plan, its delivery
// data, its coordinates with their source, "Найти адрес" and the order editor.
#include <adwaita.h>

#include "planning/logic/order_details.h"
#include "planning/planner_pieces.h"
#include "shell/toolkit/symbols.h"

namespace dorvik::planning {

namespace {

Gtk::Label* valueLabel() {
  auto* label = Gtk::make_managed<Gtk::Label>();
  label->set_selectable(true);
  label->set_wrap(true);
  label->set_xalign(1);
  label->set_justify(Gtk::Justification::RIGHT);
  label->set_max_width_chars(24);
  return label;
}

class OrderInspectorView : public Gtk::Stack {
 public:
  explicit OrderInspectorView(PlannerFrame frame) : frame_(std::move(frame)) {
    GtkWidget* empty = adw_status_page_new();
    adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty), std::string(symbolIcon("cursorarrow")).c_str());
    adw_status_page_set_title(ADW_STATUS_PAGE(empty), kInspectorEmptyTitle);
    adw_status_page_set_description(ADW_STATUS_PAGE(empty), kInspectorEmptyText);
    gtk_widget_add_css_class(empty, "compact");
    add(*Glib::wrap(empty), "empty");

    auto* form = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 18);
    form->set_margin(16);
    heading_.add_css_class("title-3");
    heading_.set_wrap(true);
    heading_.set_xalign(0);
    heading_.set_selectable(true);
    address_.set_wrap(true);
    address_.set_xalign(0);
    address_.set_selectable(true);
    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    top->append(heading_);
    top->append(address_);
    form->append(*top);

    GtkWidget* delivery = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(delivery), "Доставка");
    for (auto& [title, label] :
         {std::pair{"Номер", &number_}, std::pair{"Окно", &window_}, std::pair{"Курьер", &courier_},
          std::pair{"Прибытие", &arrival_}, std::pair{"Телефон", &phone_}}) {
      *label = valueLabel();
      addRow(delivery, title, *label);
    }
    arrival_->add_css_class("numeric");
    comments_ = Gtk::make_managed<Gtk::Label>();
    comments_->set_wrap(true);
    comments_->set_xalign(0);
    comments_->set_selectable(true);
    comments_->set_margin(12);
    commentsRow_ = Gtk::make_managed<Gtk::ListBoxRow>();
    commentsRow_->set_activatable(false);
    commentsRow_->set_child(*comments_);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(delivery), GTK_WIDGET(commentsRow_->gobj()));
    form->append(*Glib::wrap(delivery));

    GtkWidget* coordinates = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(coordinates), "Координаты");
    auto* point = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    point->set_margin(12);
    coordinates_.add_css_class("numeric");
    coordinates_.set_selectable(true);
    coordinates_.set_xalign(0);
    source_.add_css_class("dim-label");
    source_.set_xalign(0);
    point->append(coordinates_);
    point->append(source_);
    find_.set_label("Найти адрес");
    find_.set_halign(Gtk::Align::START);
    find_.set_margin_top(6);
    find_.signal_clicked().connect([this] {
      if (id_.empty()) return;
      frame_.screen->geocode(std::vector<std::string>{id_});
    });
    point->append(find_);
    auto* pointRow = Gtk::make_managed<Gtk::ListBoxRow>();
    pointRow->set_activatable(false);
    pointRow->set_child(*point);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(coordinates), GTK_WIDGET(pointRow->gobj()));
    form->append(*Glib::wrap(coordinates));

    // The pane is narrow: the title wraps rather than widening it.
    auto* editTitle = Gtk::make_managed<Gtk::Label>("Изменить заказ и координаты");
    editTitle->set_wrap(true);
    editTitle->set_justify(Gtk::Justification::CENTER);
    edit_.set_child(*editTitle);
    edit_.set_halign(Gtk::Align::START);
    edit_.signal_clicked().connect([this] {
      // The editor works on the order as it is now.
      if (order_) frame_.sheets->editOrder(*order_);
    });
    form->append(edit_);

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_child(*form);
    add(*scroller, "order");

    connection_ = frame_.context.model->observe([this](AppModel::Property property) {
      using P = AppModel::Property;
      if (property == P::planner || property == P::selectedOrders || property == P::geocoding) show();
    });
    show();
  }
  ~OrderInspectorView() override { connection_.disconnect(); }

 private:
  static void addRow(GtkWidget* group, const char* title, Gtk::Label* value) {
    GtkWidget* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title);
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), GTK_WIDGET(value->gobj()));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), row);
  }

  void show() {
    const std::shared_ptr<AppModel>& model = frame_.context.model;
    order_ = inspectedOrder(model->planner(), model->selectedOrders());
    if (!order_) {
      id_.clear();
      set_visible_child("empty");
      return;
    }
    const InspectorText text = inspectorText(*order_);
    id_ = (*order_)["_nativeID"].string();
    heading_.set_text(text.heading);
    address_.set_text(text.address);
    number_->set_text(text.number);
    window_->set_text(text.window);
    courier_->set_text(text.courier);
    arrival_->set_text(text.arrival);
    phone_->set_text(text.phone);
    comments_->set_text(text.comments);
    commentsRow_->set_visible(!text.comments.empty());
    coordinates_.set_text(text.coordinates);
    source_.set_text(text.source);
    find_.set_sensitive(!model->geocoding());
    set_visible_child("order");
  }

  PlannerFrame frame_;
  std::optional<JSONValue> order_;
  std::string id_;
  Gtk::Label heading_, address_;
  Gtk::Label *number_ = nullptr, *window_ = nullptr, *courier_ = nullptr, *arrival_ = nullptr, *phone_ = nullptr;
  Gtk::Label* comments_ = nullptr;
  Gtk::ListBoxRow* commentsRow_ = nullptr;
  Gtk::Label coordinates_, source_;
  Gtk::Button find_, edit_;
  AppModel::Connection connection_;
};

}  // namespace

Gtk::Widget* makeOrderInspector(const PlannerFrame& frame) { return Gtk::make_managed<OrderInspectorView>(frame); }

}  // namespace dorvik::planning
